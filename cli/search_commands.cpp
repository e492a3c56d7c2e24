// The search commands of velunor-cli: list and choose target sites, run a search.

#include "cli/search_commands.h"

#include "cli/cli_support.h"
#include "cli/console_port.h"
#include "core/core.h"
#include "core/folder_layout.h"
#include "rules/rules.h"
#include "search/search.h"

#include <atomic>
#include <cstdlib>
#include <string>

namespace velunor::cli {
namespace {

std::u16string SelectionPath() {
    return SiteSelectionFilePath(GetProgramFolder());
}

// Parses "1,3,6" (site numbers from 1, as velunor-cli sites and the dialog show them; a
// trailing comma allowed) into check states for `rowCount` rows. False when an entry is not a
// site number or none is given.
bool ParseIndices(const std::string& text, size_t rowCount, std::vector<bool>& checked) {
    checked.assign(rowCount, false);
    bool any = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t comma = text.find(',', start);
        std::string entry =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? text.size() : comma + 1;
        if (entry.empty()) {
            continue;
        }
        int index = ParseItemIndex(entry, rowCount);
        if (index < 0) {
            return false;
        }
        checked[static_cast<size_t>(index)] = true;
        any = true;
    }
    return any;
}

} // namespace

int RunSites(int, char**) {
    CTargetSiteSelectModel model(GetProgramFolder());
    model.Load();
    if (model.Rows().empty()) {
        std::u16string folders;
        for (const std::u16string& folder : FolderLayoutFor(GetProgramFolder()).RuleFolders) {
            folders += (folders.empty() ? u"" : u" or ") + folder;
        }
        PrintLine(u"no rule files in " + folders);
        return 0;
    }
    for (size_t i = 0; i < model.Rows().size(); ++i) {
        const CTargetSiteSelectModel::Row& row = model.Rows()[i];
        PrintLine(row.number + u"  [" + (row.checked ? u"x" : u" ") + u"]  " + row.siteName +
                  u"  " + row.siteUrl);
    }
    return 0;
}

int RunSelect(int argc, char** argv) {
    if (argc != 3) {
        PrintError(u"usage: velunor-cli select 1,3 | all | none");
        return 2;
    }
    CTargetSiteSelectModel model(GetProgramFolder());
    model.Load();
    std::string choice = argv[2];
    if (choice == "all") {
        model.SelectAll();
    } else if (choice == "none") {
        for (size_t i = 0; i < model.Rows().size(); ++i) {
            model.SetChecked(i, false);
        }
    } else {
        std::vector<bool> checked;
        if (!ParseIndices(choice, model.Rows().size(), checked)) {
            PrintError(u"\"" + Wide(choice) + u"\" is not a list of site numbers from 1 to " +
                       DecimalText(static_cast<long long>(model.Rows().size())) +
                       u" (see velunor-cli sites; \"none\" unticks every site)");
            return 2;
        }
        for (size_t i = 0; i < checked.size(); ++i) {
            model.SetChecked(i, checked[i]);
        }
    }
    if (!model.Confirm()) {
        PrintError(u"cannot write " + SelectionPath());
        return 1;
    }
    if (!model.DamageNotice().empty()) {
        PrintLine(u"[" + model.DamageNotice() + u"]");
    }
    return RunSites(argc, argv);
}

int RunSearch(int argc, char** argv) {
    if (argc != 3) {
        PrintError(u"usage: velunor-cli search NAME");
        return 2;
    }
    ConsolePort window;
    window.SetSearchText(Wide(argv[2]));
    if (TrimSearchText(window.SearchText()).empty()) {
        window.ShowMessage(u"请在文本框中输入要搜索的小说名称或作者名称！",
                           MessageIcon::Information, MessageButtons::Ok);
        return 1;
    }
    SearchController search(window, GetProgramFolder());
    CatchInterrupt();
    search.RunCommand();
    // Until every search thread has ended: the window port lives on this stack. Ctrl-C is not
    // the stop button: it stops the search however soon after its start.
    window.WaitUntil(
        [&] {
            if (TakeInterrupt()) {
                search.Stop();
            }
            return search.IsIdle();
        },
        std::chrono::milliseconds(100));
    SearchOutcome outcome = search.LastOutcome();
    for (const SiteFailure& failure : outcome.Failures) {
        PrintLine(u"无法访问：" + failure.SiteName + u"：" + TechnicalReason(failure.Error));
    }
    return outcome.ResultFileFailed ? 1 : 0;
}

} // namespace velunor::cli
