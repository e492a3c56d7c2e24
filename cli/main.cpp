// velunor-cli: Velunor's jobs driven from a terminal.

#include "cli/child_page_renderer.h"
#include "cli/cli_support.h"
#include "cli/cookies_command.h"
#include "cli/export_command.h"
#include "cli/library_commands.h"
#include "cli/library_guard.h"
#include "cli/paths_command.h"
#include "cli/rule_check_command.h"
#include "cli/rule_draft_command.h"
#include "cli/rule_test_command.h"
#include "cli/search_commands.h"
#include "cli/switch_source_command.h"
#include "core/core.h"
#include "core/folder_layout.h"
#include "library/library.h"
#include "net/cookie_jar.h"
#include "net/fetcher.h"
#include "site/page_renderer.h"

#include <cstring>
#include <initializer_list>
#include <memory>

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
    const char16_t* usage;
};

// The reader's commands first, in the order of a first try; then the rule author's.
const Command kCommands[] = {
    {"search", velunor::cli::RunSearch,
     u"  search NAME\n      search the selected sites for a novel or an author; Ctrl-C stops\n"
     u"      example: velunor-cli search 春江夜话"},
    {"download", velunor::cli::RunDownload,
     u"  download N | URL\n      download the novel of row N of the last search into Novel/ (a "
     u"novel\n      on the bookshelf already is updated), or the novel whose information or\n"
     u"      contents page is at URL: read with its site's rule, or found on the pages when\n"
     u"      no rule file is for its site"},
    {"shelf", velunor::cli::RunShelf,
     u"  shelf [open N | delete N]\n      list the bookshelf, show novel N's contents page, or "
     u"delete it"},
    {"update", velunor::cli::RunUpdate,
     u"  update N | all\n      fetch the chapters that novel N of the bookshelf (or every novel) "
     u"has\n"
     u"      gained, and those that failed or never finished; all updates the sites side by\n"
     u"      side, each at its own pace, and Ctrl-C stops it"},
    {"retry", velunor::cli::RunRetry,
     u"  retry N\n      fetch again only the failed or unfinished chapters of novel N"},
    {"switch-source", velunor::cli::RunSwitchSource,
     u"  switch-source N [--site NAME [--from K]]\n      list the selected sites that have novel N "
     u"too; with --site take its\n      failed or unfinished chapters from site NAME, with --from "
     u"every chapter\n      from chapter K on, matched by chapter name"},
    {"refetch", velunor::cli::RunRefetch,
     u"  refetch PAGE.html\n      fetch a downloaded chapter page again, as its reload link does"},
    {"export", velunor::cli::RunExport,
     u"  export N --format epub|txt [--to FILE] [--convert s2t|t2s] [--encoding utf-8|gb18030]\n"
     u"      write novel N of the bookshelf as an EPUB book or a text file (default: the novel's\n"
     u"      name in the current folder); s2t and t2s convert 简→繁 and 繁→简"},
    {"cookies", velunor::cli::RunCookies,
     u"  cookies [clear [SITE | RULE.xml]]\n      list the cookies each site keeps (names, domain, "
     u"path, "
     u"expiry; never\n      values), or clear one site's, named by its name or rule file; clear "
     u"alone\n      clears every site's"},
    {"sites", velunor::cli::RunSites,
     u"  sites\n      list the rule files, numbered from 1, and whether each is selected"},
    {"select", velunor::cli::RunSelect,
     u"  select 1,3 | all | none\n      choose the sites a search asks, by their numbers in "
     u"velunor-cli sites"},
    {"paths", velunor::cli::RunPaths,
     u"  paths\n      show where the settings, the library, the rules, the cache and the cookies "
     u"are"},
    {"rule-test", velunor::cli::RunRuleTest,
     u"  rule-test RULE.xml search|info|contents|chapter PAGE_FILE [--url PAGE_URL]\n"
     u"      apply a rule file to a saved page and print what it picks out, the next page of a\n"
     u"      contents list or chapter split over pages, and whether the page is a blocked page"},
    {"rule-check", velunor::cli::RunRuleCheck,
     u"  rule-check RULE.xml NAME [--hit N] | RULE.xml --url INFO_URL\n"
     u"      search the rule's live site for NAME and fetch hit N (default 1), or start from the\n"
     u"      novel at INFO_URL: its information page, every contents page, the first, a middle\n"
     u"      and the last chapter; prints each step and 通过 or 失败：why; exits 0 only when\n"
     u"      every step passed"},
    {"rule-draft", velunor::cli::RunRuleDraft,
     u"  rule-draft URL [--search URL_WITH_{KEY}] [--out FILE]\n"
     u"      draft a rule file for the site of the novel at URL (the page with its chapter list)\n"
     u"      from what Velunor finds on its pages, with search patterns when a search address\n"
     u"      is given; checks the draft as rule-check does, marks what failed with comments,\n"
     u"      and writes it to FILE (default: the site's host and .xml here), never over an\n"
     u"      existing file; exits 0 only when the draft passed"},
};

void PrintUsage() {
    velunor::cli::PrintLine(u"usage: velunor-cli COMMAND ...   (help, --version)");
    for (const Command& command : kCommands) {
        velunor::cli::PrintLine(command.usage);
    }
}

bool IsOneOf(const char* argument, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (std::strcmp(argument, name) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || IsOneOf(argv[1], {"help", "--help", "-h"})) {
        PrintUsage();
        return argc < 2 ? 2 : 0;
    }
    if (IsOneOf(argv[1], {"--version", "version"})) {
        velunor::cli::PrintLine(u"velunor-cli " + velunor::cli::Wide(VELUNOR_VERSION));
        return 0;
    }
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0) {
            // File arguments are resolved against the start folder; the jobs find their
            // folders through the layout decided here, the same one the window decides.
            velunor::cli::RememberStartFolder();
            std::u16string programFolder = velunor::GetProgramFolder();
            velunor::FolderLayout layout =
                velunor::SetUpFolderLayout(programFolder, velunor::ReadLayoutEnvironment());
            std::u16string problem;
            if (command.run != velunor::cli::RunPaths &&
                !velunor::PrepareUserFolders(layout, problem)) {
                velunor::cli::PrintError(problem);
                return 1;
            }
            if (!velunor::EnterProgramFolder()) {
                velunor::cli::PrintError(u"cannot enter the program folder");
                return 1;
            }
            // A second process on the library writes there only when told to.
            if (int refused = velunor::cli::GuardLibrary(argc, argv); refused != 0) {
                return refused;
            }
            // Every job of the program keeps its sites' cookies in the layout's cookie folder, and
            // keeps each site's interval together with the program's other processes
            // (PacingFolderPath).
            velunor::SetCookieFolder(layout.CookieFolder);
            velunor::SetPacingFolder(velunor::PacingFolderPath(velunor::GetProgramFolder()));
            velunor::InstallPageRenderer(std::make_shared<velunor::cli::CChildPageRenderer>(
                velunor::WideToUtf8(programFolder) + velunor::cli::kRendererProgramName));
            int status = command.run(argc, argv);
            velunor::SaveCookieJars();
            return status;
        }
    }
    velunor::cli::PrintError(u"unknown command \"" + velunor::cli::Wide(argv[1]) + u"\"");
    PrintUsage();
    return 2;
}
