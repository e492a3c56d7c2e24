// The name a site goes by, for a site that has no rule file to name it.

#include "finder/finder.h"
#include "finder/internal/page_reading.h"

#include "core/core.h"

#include <vector>

namespace velunor::finder {
namespace {

// Words that title segments of novel pages are made of rather than a site's name.
constexpr std::u16string_view kPageWords[] = {u"最新章节", u"全文阅读", u"免费阅读", u"无弹窗",
                                              u"在线阅读", u"小说",     u"目录",     u"章节列表",
                                              u"txt下载",  u"全本",     u"首页"};

// The longest a site's name is; a longer segment is a sentence of keywords.
constexpr size_t kLongestSiteName = 12;

bool IsTitleSeparator(char16_t c) {
    return c == u'_' || c == u'-' || c == u'|' || c == u'\u2014' || c == u'\u2013' ||
           c == u'\uFF5C' || c == u'\uFF0D' || c == u',' || c == u'\uFF0C';
}

std::vector<std::u16string_view> TitleSegments(std::u16string_view title) {
    std::vector<std::u16string_view> segments;
    size_t start = 0;
    for (size_t i = 0; i <= title.size(); ++i) {
        if (i == title.size() || IsTitleSeparator(title[i])) {
            std::u16string_view segment = html::TrimmedCaption(title.substr(start, i - start));
            if (!segment.empty()) {
                segments.push_back(segment);
            }
            start = i + 1;
        }
    }
    return segments;
}

bool NamesPageRatherThanSite(std::u16string_view segment) {
    for (std::u16string_view word : kPageWords) {
        if (segment.find(word) != std::u16string_view::npos) {
            return true;
        }
    }
    return segment.size() > kLongestSiteName;
}

// The host of `url` without a leading "www.": "xs.example.com" of "https://www.xs.example.com/1".
std::u16string HostName(std::u16string_view url) {
    std::u16string_view origin = AddressOrigin(url);
    size_t slashes = origin.find(u"//");
    std::u16string_view host =
        slashes == std::u16string_view::npos ? origin : origin.substr(slashes + 2);
    if (host.starts_with(u"www.")) {
        host.remove_prefix(4);
    }
    return std::u16string(host);
}

} // namespace

std::u16string FindSiteName(std::u16string_view page, std::u16string_view url) {
    html::PageTree tree = html::ReadPageTree(page);
    std::u16string named = internal::MetaContent(tree, {u"og:site_name", u"application-name"});
    if (!named.empty() && !NamesPageRatherThanSite(named)) {
        return named;
    }
    // Sites end their titles with their own name: "书名最新章节_书名全文阅读 - 某某书屋".
    std::u16string title = html::PageTitle(page);
    std::vector<std::u16string_view> segments = TitleSegments(title);
    if (segments.size() > 1 && !NamesPageRatherThanSite(segments.back())) {
        return std::u16string(segments.back());
    }
    return HostName(url);
}

} // namespace velunor::finder
