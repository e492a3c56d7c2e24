// A novel's name and author from the meta tags sites write for sharing, or from the page text.

#include "finder/finder.h"
#include "finder/internal/page_reading.h"

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

} // namespace

FoundNovelInfo FindNovelInfo(std::u16string_view page, std::u16string_view /*url*/) {
    html::PageTree tree = html::ReadPageTree(page);
    FoundNovelInfo info;
    info.Name = internal::MetaContent(tree, {u"og:novel:book_name", u"og:title"});
    if (info.Name.empty()) {
        info.Name = FirstHeading(tree);
    }
    info.Author = internal::MetaContent(tree, {u"og:novel:author"});
    if (info.Author.empty()) {
        info.Author = AuthorInText(tree.Text);
    }
    return info;
}

} // namespace velunor::finder
