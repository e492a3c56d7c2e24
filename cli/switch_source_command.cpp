// velunor-cli switch-source: another site for a novel of the bookshelf.

#include "cli/switch_source_command.h"

#include "cli/cli_support.h"
#include "cli/console_port.h"
#include "core/core.h"
#include "library/library.h"

#include <cstring>
#include <string>

namespace velunor::cli {
namespace {

constexpr std::u16string_view kUsage =
    u"usage: velunor-cli switch-source N [--site NAME [--from K]]";

struct SwitchArguments {
    int Novel = -1;
    std::u16string Site;
    int FromChapter = 0;
};

// Reads the command line into `arguments`; false, having printed the usage, when it is wrong.
bool ParseArguments(int argc, char** argv, const CBookShelfModel& model,
                    SwitchArguments& arguments) {
    bool good = argc >= 3;
    for (int i = 3; good && i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--site") == 0) {
            arguments.Site = Wide(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--from") == 0) {
            // A chapter number from 1 up to any the novel may have.
            arguments.FromChapter = ParseItemIndex(argv[i + 1], 1000000) + 1;
            good = arguments.FromChapter > 0;
        } else {
            good = false;
        }
    }
    good = good && argc % 2 == 1 && (arguments.FromChapter == 0 || !arguments.Site.empty());
    if (!good) {
        PrintError(kUsage);
        return false;
    }
    arguments.Novel = ParseItemIndex(argv[2], model.ItemCount());
    if (arguments.Novel < 0) {
        PrintError(u"\"" + Wide(argv[2]) +
                   u"\" is not a novel of the bookshelf (see velunor-cli shelf)");
    }
    return arguments.Novel >= 0;
}

// One line of the list: the site, the novel there and its latest chapter, or why it failed.
std::u16string SourceLine(size_t number, const OtherSource& source) {
    std::u16string line = DecimalText(static_cast<long long>(number)) + u". " + source.SiteName;
    if (!source.Ok()) {
        return line + u"：失败（" + ReaderReason(source.Error) + u"）";
    }
    return line + u"：" + source.NovelName + u"（" + source.NovelAuthor + u"），共 " +
           DecimalText(static_cast<long long>(source.Chapters.ChapterName.size())) +
           u" 章，最新：" + source.LatestChapter();
}

} // namespace

int RunSwitchSource(int argc, char** argv) {
    CBookShelfModel model(GetProgramFolder());
    model.LoadBookShelf();
    SwitchArguments arguments;
    if (!ParseArguments(argc, argv, model, arguments)) {
        return 2;
    }
    std::u16string folder = model.NovelFolder(arguments.Novel);
    SourceSearch search = FindOtherSources(
        GetProgramFolder(), folder, [](int answered, int asked, const std::u16string& site) {
            PrintLine(u"[正在搜索其他网站 " + DecimalText(answered) + u"/" + DecimalText(asked) +
                      u"：" + site + u"]");
        });
    if (!search.Refusal.empty()) {
        PrintLine(search.Refusal);
        return 1;
    }
    const OtherSource* chosen = nullptr;
    bool listed = false;
    for (size_t i = 0; i < search.Sources.size(); ++i) {
        const OtherSource& source = search.Sources[i];
        PrintLine(SourceLine(i + 1, source));
        listed = listed || source.Ok();
        if (source.Ok() && source.SiteName == arguments.Site) {
            chosen = &source;
        }
    }
    if (!listed) {
        PrintLine(u"所选的其他网站都没有找到本书。");
    }
    if (arguments.Site.empty()) {
        return listed ? 0 : 1;
    }
    if (chosen == nullptr) {
        PrintError(u"\"" + arguments.Site + u"\" is not a site listed above as having the novel");
        return 1;
    }
    ConsolePort window;
    SourceSwitchOutcome outcome =
        SwitchSource(window, GetProgramFolder(), folder, *chosen, arguments.FromChapter);
    for (const ChapterFailure& failure : outcome.Failures) {
        PrintLine(u"失败：" + failure.Name + u"：" + TechnicalReason(failure.Error));
    }
    return outcome.Ran && outcome.Failures.empty() ? 0 : 1;
}

} // namespace velunor::cli
