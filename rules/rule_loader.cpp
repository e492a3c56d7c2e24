// Reading rule files from the Rule folder of the program folder.

#include "rules/rules.h"

#include "core/core.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <strings.h>
#include <sys/stat.h>

namespace velunor {
namespace {

template <typename Group, typename Read>
void ReadGroup(CXmlDocument& document, const char16_t* name, Group& group, Read read) {
    if (!document.FindElement(name) || !document.EnterElement()) {
        return;
    }
    read(group);
    document.LeaveElement();
}

bool HasXmlExtension(const std::string& name) {
    constexpr std::string_view kExtension = ".xml";
    return name.size() >= kExtension.size() &&
           strcasecmp(name.c_str() + name.size() - kExtension.size(), kExtension.data()) == 0;
}

bool IsRegularFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace

CSiteRule LoadSiteRule(std::u16string_view path) {
    CSiteRule rule;
    CXmlDocument document;
    document.LoadFile(std::u16string(path));
    if (!document.FindElement(u"Channel") || !document.EnterElement()) {
        return rule;
    }
    rule.SiteName = FindElementText(document, u"SiteName");
    rule.SiteUrl = FindElementText(document, u"SiteUrl");
    rule.Charset = FindElementText(document, u"Charset");
    rule.ReplaceRule = FindElementText(document, u"ReplaceRule");
    ReadGroup(document, u"SearchPage", rule.SearchPage, [&](SearchPageRule& search) {
        search.SearchPageUrlFormat = FindElementText(document, u"SearchPageUrlFormat");
        search.SearcResultRegional = FindElementText(document, u"SearcResultRegional");
        search.NovelInfoPageUrl = FindElementText(document, u"NovelInfoPageUrl");
        search.NovelName = FindElementText(document, u"NovelName");
        search.NovelAuthor = FindElementText(document, u"NovelAuthor");
        search.LatestChapter = FindElementText(document, u"LatestChapter");
    });
    ReadGroup(document, u"InfoPage", rule.InfoPage, [&](InfoPageRule& info) {
        info.NovelSort = FindElementText(document, u"NovelSort");
        info.NovelName = FindElementText(document, u"NovelName");
        info.NovelAuthor = FindElementText(document, u"NovelAuthor");
        info.NovelState = FindElementText(document, u"NovelState");
        info.NovelIntro = FindElementText(document, u"NovelIntro");
        info.LatestChapter = FindElementText(document, u"LatestChapter");
        info.ContentsUrl = FindElementText(document, u"ContentsUrl");
    });
    ReadGroup(document, u"ContentsPage", rule.ContentsPage, [&](ContentsPageRule& contents) {
        contents.ContentsRegional = FindElementText(document, u"ContentsRegional");
        contents.ChapterName = FindElementText(document, u"ChapterName");
        contents.ChapterUrl = FindElementText(document, u"ChapterUrl");
    });
    ReadGroup(document, u"ContentPage", rule.ChapterContent, [&](std::u16string& content) {
        content = FindElementText(document, u"ChapterContent");
    });
    return rule;
}

std::vector<std::u16string> EnumerateRuleFiles(const std::u16string& programFolder) {
    // Without a program folder the path would be relative and the current directory would decide
    // which rules exist.
    if (programFolder.empty()) {
        return {};
    }
    std::string folder = NativePath(programFolder + u"Rule/");
    std::vector<std::string> names;
    for (const DirectoryEntry& entry : ListFolder(folder)) {
        if (!HasXmlExtension(entry.Name)) {
            continue;
        }
        // A link counts as the file it points to, so a rule file may be kept elsewhere.
        if (entry.Kind == EntryKind::File ||
            (entry.Kind == EntryKind::Link && IsRegularFile(folder + entry.Name))) {
            names.push_back(entry.Name);
        }
    }
    // Sites are stored by their position in this list, so the order must not depend on the
    // file system.
    std::sort(names.begin(), names.end());
    std::vector<std::u16string> paths;
    for (const std::string& name : names) {
        paths.push_back(Utf8ToWide(folder + name));
    }
    return paths;
}

} // namespace velunor
