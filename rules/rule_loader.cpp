// Reading rule files, and listing them from the rule folders of the program's layout.

#include "rules/rules.h"

#include "core/core.h"
#include "core/folder_layout.h"
#include "xml/xml_document.h"

#include <array>
#include <iterator>
#include <map>
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

// The elements a rule file may add to the original format. Rule authors put them wherever they
// like among their parent's children, so they are looked up by name, not in file order.
struct OptionalElement {
    const char16_t* parent;
    const char16_t* name;
    std::u16string CSiteRule::*channelField;
    std::u16string SearchPageRule::*searchField;
    std::u16string ContentsPageRule::*contentsField;
};

constexpr OptionalElement kOptionalElements[] = {
    {u"Channel", u"RequestHeaders", &CSiteRule::RequestHeaders, nullptr, nullptr},
    {u"Channel", u"RequestInterval", &CSiteRule::RequestInterval, nullptr, nullptr},
    {u"Channel", u"MaxConnections", &CSiteRule::MaxConnections, nullptr, nullptr},
    {u"Channel", u"RetryCount", &CSiteRule::RetryCount, nullptr, nullptr},
    {u"Channel", u"RequestTimeout", &CSiteRule::RequestTimeout, nullptr, nullptr},
    {u"Channel", u"BlockedPagePattern", &CSiteRule::BlockedPagePattern, nullptr, nullptr},
    {u"SearchPage", u"SearchPostData", nullptr, &SearchPageRule::SearchPostData, nullptr},
    {u"SearchPage", u"SearchCharset", nullptr, &SearchPageRule::SearchCharset, nullptr},
    {u"ContentsPage", u"ContentsNextPageUrl", nullptr, nullptr,
     &ContentsPageRule::ContentsNextPageUrl},
    {u"ContentsPage", u"VolumeName", nullptr, nullptr, &ContentsPageRule::VolumeName},
    {u"ContentPage", u"ChapterNextPageUrl", &CSiteRule::ChapterNextPageUrl, nullptr, nullptr},
    {u"Channel", u"UseBrowser", &CSiteRule::UseBrowser, nullptr, nullptr},
    {u"Channel", u"BrowserTimeout", &CSiteRule::BrowserTimeout, nullptr, nullptr},
    {u"SearchPage", u"UseBrowser", &CSiteRule::SearchPageUseBrowser, nullptr, nullptr},
    {u"SearchPage", u"SearchScript", nullptr, &SearchPageRule::SearchScript, nullptr},
    {u"InfoPage", u"UseBrowser", &CSiteRule::InfoPageUseBrowser, nullptr, nullptr},
    {u"ContentsPage", u"UseBrowser", &CSiteRule::ContentsPageUseBrowser, nullptr, nullptr},
    {u"ContentPage", u"UseBrowser", &CSiteRule::ContentPageUseBrowser, nullptr, nullptr},
};

constexpr size_t kOptionalElementCount = std::size(kOptionalElements);

// The entry of kOptionalElements for `name` under `parent`; kOptionalElementCount when none.
size_t FindOptionalElement(std::u16string_view parent, std::u16string_view name) {
    for (size_t i = 0; i < kOptionalElementCount; ++i) {
        if (parent == kOptionalElements[i].parent && name == kOptionalElements[i].name) {
            return i;
        }
    }
    return kOptionalElementCount;
}

std::u16string& OptionalField(CSiteRule& rule, const OptionalElement& element) {
    if (element.searchField != nullptr) {
        return rule.SearchPage.*element.searchField;
    }
    if (element.contentsField != nullptr) {
        return rule.ContentsPage.*element.contentsField;
    }
    return rule.*element.channelField;
}

bool IsGroupElement(std::u16string_view name) {
    return name == u"SearchPage" || name == u"InfoPage" || name == u"ContentsPage" ||
           name == u"ContentPage";
}

// Reads the optional elements among the children of the current element `parent`, the first of
// each name winning, and descends into the groups that may hold some.
void ReadOptionalChildren(CXmlDocument& document, std::u16string_view parent, CSiteRule& rule,
                          std::array<bool, kOptionalElementCount>& seen) {
    while (document.FindElement()) {
        std::u16string name = document.ReadTagName(document.Position().current);
        size_t found = FindOptionalElement(parent, name);
        if (found < kOptionalElementCount) {
            if (!seen[found]) {
                seen[found] = true;
                OptionalField(rule, kOptionalElements[found]) = document.GetElementText();
            }
            continue;
        }
        if (parent == u"Channel" && IsGroupElement(name) && document.EnterElement()) {
            ReadOptionalChildren(document, name, rule, seen);
            document.LeaveElement();
        }
    }
}

void ReadOptionalElements(CXmlDocument& document, CSiteRule& rule) {
    document.ResetPosition();
    if (!document.FindElement(u"Channel") || !document.EnterElement()) {
        return;
    }
    std::array<bool, kOptionalElementCount> seen{};
    ReadOptionalChildren(document, u"Channel", rule, seen);
}

} // namespace

CSiteRule LoadSiteRule(std::u16string_view path) {
    CSiteRule rule;
    CXmlDocument document;
    // A rule file is small: anything larger, or a FIFO or device named as one, is refused unread.
    document.LoadFile(std::u16string(path), kRuleFileLimit);
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
    ReadOptionalElements(document, rule);
    return rule;
}

std::vector<std::u16string> EnumerateRuleFiles(const std::u16string& programFolder) {
    // Without a program folder the path would be relative and the current directory would decide
    // which rules exist.
    if (programFolder.empty()) {
        return {};
    }
    // Name -> the folder it is taken from; the first folder holding a name wins.
    std::map<std::string, std::string> found;
    for (const std::u16string& wideFolder : FolderLayoutFor(programFolder).RuleFolders) {
        std::string folder = NativePath(wideFolder);
        for (const DirectoryEntry& entry : ListFolder(folder)) {
            if (!HasXmlExtension(entry.Name) || found.count(entry.Name) != 0) {
                continue;
            }
            // A link counts as the file it points to, so a rule file may be kept elsewhere.
            if (entry.Kind == EntryKind::File ||
                (entry.Kind == EntryKind::Link && IsRegularFile(folder + entry.Name))) {
                found.emplace(entry.Name, folder);
            }
        }
    }
    // Sites are stored by their position in this list, so the order must not depend on the
    // file system: the map keeps the names sorted.
    std::vector<std::u16string> paths;
    for (const auto& [name, folder] : found) {
        paths.push_back(Utf8ToWide(folder + name));
    }
    return paths;
}

} // namespace velunor
