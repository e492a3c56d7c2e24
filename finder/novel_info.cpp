// A novel's name and author from the meta tags sites write for sharing, or from the page text.

#include "finder/finder.h"
#include "finder/internal/page_reading.h"

#include <algorithm>
#include <array>

namespace velunor::finder {
namespace {

std::u16string FirstHeading(const html::PageTree& tree) {
    for (size_t i = 0; i < tree.Elements.size(); ++i) {
        if (tree.Elements[i].Tag == "h1" && tree.Elements[i].Visible) {
            std::u16string_view text = html::TrimmedCaption(tree.TextOf(i));
            if (!text.empty()) {
                return std::u16string(text);
            }
        }
    }
    return {};
}

// The name after the first "作者：" in the page text, up to the end of its line or a space.
std::u16string AuthorInText(std::u16string_view text) {
    for (std::u16string_view label : {u"作者：", u"作者:", u"作\u3000者："}) {
        size_t at = text.find(label);
        if (at == std::u16string_view::npos) {
            continue;
        }
        std::u16string_view rest = text.substr(at + label.size());
        while (!rest.empty() && rest.front() == u' ') {
            rest.remove_prefix(1);
        }
        std::u16string_view name = html::TrimmedCaption(rest.substr(0, rest.find_first_of(u" \n")));
        if (!name.empty()) {
            return std::u16string(name);
        }
    }
    return {};
}

// What a link to a novel's whole contents is captioned with, besides "目录" alone.
constexpr std::array<std::u16string_view, 14> kContentsCaptions = {
    u"完整目录", u"全部章节", u"章节目录", u"查看目录", u"全部目录", u"章节列表", u"更多章节",
    u"所有章节", u"阅读目录", u"完整目錄", u"全部章節", u"章節目錄", u"章節列表", u"所有章節"};

// The longest caption read as a link to the contents; a longer text is a chapter's name or a
// sentence that happens to name the contents.
constexpr size_t kLongestContentsCaption = 12;

bool IsContentsCaption(std::u16string_view text) {
    std::u16string_view caption = html::TrimmedCaption(text);
    if (caption.size() > kLongestContentsCaption || caption.find(u"最新") != caption.npos) {
        return false;
    }
    return caption == u"目录" || caption == u"目錄" ||
           std::any_of(
               kContentsCaptions.begin(), kContentsCaptions.end(),
               [&](std::u16string_view mark) { return caption.find(mark) != caption.npos; });
}

// The first link on the page's site, to another page, captioned as the novel's contents.
std::u16string ContentsLink(const internal::WeighedPage& page, std::u16string_view url) {
    for (size_t i = 0; i < page.LinkAddress.size(); ++i) {
        const std::u16string& address = page.LinkAddress[i];
        if (!address.empty() && address != url && IsContentsCaption(page.Tree.TextOf(i))) {
            return address;
        }
    }
    return {};
}

// True when the page's own chapter list is the whole list rather than a block of the latest
// chapters: longer than such a block shows, or starting at the novel's first chapter.
bool ShowsWholeList(const internal::WeighedPage& page, std::u16string_view url) {
    ChapterList list = internal::BestChapterList(page, url, kMinChapters).Chapters;
    if (list.count == 0) {
        return false;
    }
    return list.ChapterUrl.size() > kLatestChaptersShown ||
           internal::IsOpeningChapterName(list.ChapterName.front());
}

} // namespace

FoundNovelInfo FindNovelInfo(std::u16string_view page, std::u16string_view url) {
    internal::WeighedPage weighed = internal::WeighPage(page, url);
    const html::PageTree& tree = weighed.Tree;
    FoundNovelInfo info;
    info.Name = internal::MetaContent(tree, {u"og:novel:book_name", u"og:title"});
    if (info.Name.empty()) {
        info.Name = FirstHeading(tree);
    }
    info.Author = internal::MetaContent(tree, {u"og:novel:author"});
    if (info.Author.empty()) {
        info.Author = AuthorInText(tree.Text);
    }
    std::u16string contents = ContentsLink(weighed, url);
    if (!contents.empty() && !ShowsWholeList(weighed, url)) {
        info.ContentsUrl = std::move(contents);
    }
    return info;
}

} // namespace velunor::finder
