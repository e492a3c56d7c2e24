// A page read once into its elements, with their visible text and where they stand.

#include "core/core.h"
#include "html/html.h"
#include "html/internal/parsed_html.h"

#include <algorithm>
#include <cstring>

namespace velunor::html {
namespace {

using internal::ParsedHtml;

std::string TagName(const GumboElement& element) {
    std::string name;
    if (element.tag != GUMBO_TAG_UNKNOWN) {
        name = gumbo_normalized_tagname(element.tag);
    } else {
        GumboStringPiece piece = element.original_tag;
        gumbo_tag_from_original_text(&piece);
        name.assign(piece.data, piece.length);
    }
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return name;
}

// The length of the end tag gumbo recorded for `element` when it is the element's own: an
// element the parser closed (a "<p>" ended by "</div>") is given the end tag that closed it.
size_t OwnEndTagLength(const GumboElement& element, const std::string& name) {
    std::string_view tag(element.original_end_tag.data, element.original_end_tag.length);
    if (tag.size() < name.size() + 2 || !tag.starts_with("</")) {
        return 0;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        char c = tag[2 + i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != name[i]) {
            return 0;
        }
    }
    char after = tag[2 + name.size()];
    return IsAsciiLetter(after) || (after >= '0' && after <= '9') ? 0 : tag.size();
}

// Where `element` and what it holds stand in the text.
void PlaceInSource(const ParsedHtml& parsed, const GumboElement& element, PageElement& placed,
                   const std::string& name) {
    if (element.original_tag.length == 0) {
        return;
    }
    size_t start = parsed.TextOffset(element.start_pos.offset);
    size_t innerStart = parsed.TextOffset(element.original_tag.data + element.original_tag.length);
    size_t innerEnd = std::max(innerStart, parsed.TextOffset(element.end_pos.offset));
    size_t end = std::max(
        innerEnd, parsed.TextOffset(element.end_pos.offset + OwnEndTagLength(element, name)));
    placed.Source = {start, end - start};
    placed.Inner = {innerStart, innerEnd - innerStart};
}

// Builds the visible text line by line, white space collapsed as a browser shows it.
class TextBuilder {
  public:
    explicit TextBuilder(std::u16string& text) : text_(text) {}

    void Add(std::u16string_view piece) {
        for (char16_t c : piece) {
            if (IsAsciiSpace(c)) {
                pendingSpace_ = true;
                continue;
            }
            if (pendingSpace_ && !text_.empty() && text_.back() != u'\n') {
                text_.push_back(u' ');
            }
            pendingSpace_ = false;
            text_.push_back(c);
        }
    }

    void Break() {
        if (!text_.empty() && text_.back() != u'\n') {
            text_.push_back(u'\n');
        }
        pendingSpace_ = false;
    }

  private:
    std::u16string& text_;
    bool pendingSpace_ = false;
};

// Gives an element the source never wrote (an implied body) the span of what it holds.
void PlaceImpliedElements(PageTree& tree) {
    for (size_t i = tree.Elements.size(); i-- > 0;) {
        PageElement& element = tree.Elements[i];
        if (element.Source.Length != 0 || element.Children.empty()) {
            continue;
        }
        const SourceSpan& first = tree.Elements[element.Children.front()].Source;
        const SourceSpan& last = tree.Elements[element.Children.back()].Source;
        size_t end = std::max(first.Start, last.Start + last.Length);
        element.Inner = {first.Start, end - first.Start};
        element.Source = element.Inner;
    }
}

} // namespace

std::u16string_view PageElement::Attribute(std::string_view name) const {
    for (const auto& [key, value] : Attributes) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

std::u16string_view PageTree::TextOf(size_t index) const {
    const SourceSpan& span = Elements[index].Text;
    std::u16string_view text = std::u16string_view(Text).substr(span.Start, span.Length);
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\n')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\n')) {
        text.remove_suffix(1);
    }
    return text;
}

PageTree ReadPageTree(std::u16string_view page) {
    std::vector<const GumboNode*> nodes;
    return internal::ReadTree(ParsedHtml(page), nodes);
}

PageTree internal::ReadTree(const ParsedHtml& parsed, std::vector<const GumboNode*>& nodes) {
    PageTree tree;
    TextBuilder text(tree.Text);
    std::vector<size_t> open;
    internal::TreeVisitor visitor;
    visitor.enter = [&](const GumboNode& node) {
        const GumboElement& element = node.v.element;
        PageElement placed;
        placed.Tag = TagName(element);
        for (unsigned i = 0; i < element.attributes.length; ++i) {
            const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
            placed.Attributes.emplace_back(attribute->name, internal::Wide(attribute->value));
        }
        placed.Parent = open.empty() ? kNoElement : open.back();
        bool parentVisible = open.empty() || tree.Elements[open.back()].Visible;
        placed.Visible = parentVisible && internal::IsVisible(element);
        placed.Block = internal::IsBlock(element);
        PlaceInSource(parsed, element, placed, placed.Tag);
        if (placed.Visible && placed.Block) {
            text.Break();
        }
        placed.Text.Start = tree.Text.size();
        size_t index = tree.Elements.size();
        if (!open.empty()) {
            tree.Elements[open.back()].Children.push_back(index);
        }
        tree.Elements.push_back(std::move(placed));
        nodes.push_back(&node);
        open.push_back(index);
        return true;
    };
    visitor.leave = [&](const GumboNode&) {
        PageElement& element = tree.Elements[open.back()];
        open.pop_back();
        if (element.Visible && element.Block) {
            text.Break();
        }
        element.Text.Length = element.Visible ? tree.Text.size() - element.Text.Start : 0;
    };
    visitor.text = [&](const GumboNode& node) {
        if (!open.empty() && tree.Elements[open.back()].Visible) {
            text.Add(internal::Wide(node.v.text.text));
        }
    };
    internal::VisitTree(parsed.Document(), visitor);
    PlaceImpliedElements(tree);
    return tree;
}

} // namespace velunor::html
