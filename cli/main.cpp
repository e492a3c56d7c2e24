// velunor-cli: Velunor's jobs driven from a terminal.

#include "cli/cli_support.h"
#include "cli/library_commands.h"
#include "cli/rule_check_command.h"
#include "cli/rule_test_command.h"
#include "cli/search_commands.h"
#include "core/core.h"

#include <cstring>

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
    const char16_t* usage;
};

const Command kCommands[] = {
    {"rule-test", velunor::cli::RunRuleTest,
     u"  rule-test RULE.xml search|info|contents|chapter PAGE_FILE [--url PAGE_URL]\n"
     u"      apply a rule file to a saved page and print what it picks out, the next page of a\n"
     u"      contents list or chapter split over pages, and whether the page is a blocked page"},
    {"rule-check", velunor::cli::RunRuleCheck,
     u"  rule-check RULE.xml NAME [--hit N]\n"
     u"      search the rule's live site for NAME and fetch hit N (default 1): its information\n"
     u"      page, every contents page, the first, a middle and the last chapter; prints each\n"
     u"      step and 通过 or 失败：why; exits 0 only when every step passed"},
    {"sites", velunor::cli::RunSites,
     u"  sites\n      list the rule files with their index and whether each is selected"},
    {"select", velunor::cli::RunSelect,
     u"  select 0,2 | all | none\n      choose the sites a search asks"},
    {"search", velunor::cli::RunSearch,
     u"  search NAME\n      search the selected sites for a novel or an author; Ctrl-C stops"},
    {"download", velunor::cli::RunDownload,
     u"  download N\n      download the novel of row N of the last search into Novel/"},
    {"update", velunor::cli::RunUpdate,
     u"  update N\n      fetch the chapters that novel N of the bookshelf has gained, and those\n"
     u"      that failed or never finished"},
    {"retry", velunor::cli::RunRetry,
     u"  retry N\n      fetch again only the failed or unfinished chapters of novel N"},
    {"refetch", velunor::cli::RunRefetch,
     u"  refetch PAGE.html\n      fetch a downloaded chapter page again, as its reload link does"},
    {"shelf", velunor::cli::RunShelf,
     u"  shelf [open N | delete N]\n      list the bookshelf, show novel N's contents page, or "
     u"delete it"},
};

void PrintUsage() {
    velunor::cli::PrintLine(u"usage: velunor-cli COMMAND ...");
    for (const Command& command : kCommands) {
        velunor::cli::PrintLine(command.usage);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) {
        PrintUsage();
        return argc < 2 ? 2 : 0;
    }
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0) {
            // File arguments are resolved against the start folder; the jobs find Rule/ and
            // Config/ from the program folder.
            velunor::cli::RememberStartFolder();
            if (!velunor::EnterProgramFolder()) {
                velunor::cli::PrintError(u"cannot enter the program folder");
                return 1;
            }
            return command.run(argc, argv);
        }
    }
    velunor::cli::PrintError(u"unknown command \"" + velunor::cli::Wide(argv[1]) + u"\"");
    PrintUsage();
    return 2;
}
