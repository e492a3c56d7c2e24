#pragma once
// A UTF-16 text parsed by gumbo, with the way back from gumbo's byte offsets to offsets in the
// text. Only the html module includes this header.

#include "html/html.h"

#include <gumbo.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velunor::html::internal {

class ParsedHtml {
  public:
    /// Parses `text` followed by the bytes `ending` (ASCII, added after the text so that a tag
    /// the text cuts off ends; offsets inside them map to the end of the text).
    explicit ParsedHtml(std::u16string_view text, std::string_view ending = {});

    /// The document node; never null.
    const GumboNode* Document() const;
    /// The offset in the text of gumbo's byte offset `offset`.
    size_t TextOffset(size_t offset) const;
    /// The offset in the text of the byte that `at` points to inside the parsed bytes.
    size_t TextOffset(const char* at) const;
    /// The size of the parsed bytes, `ending` left out.
    size_t TextBytes() const;

  private:
    struct OutputDeleter {
        void operator()(GumboOutput* output) const;
    };

    std::string bytes_;
    // The text offset of each byte of bytes_, and one past the end.
    std::vector<std::uint32_t> offsets_;
    size_t textBytes_ = 0;
    std::unique_ptr<GumboOutput, OutputDeleter> output_;
};

/// The element of `node`, or null when it is no element (text, comment, the document).
const GumboElement* ElementOf(const GumboNode* node);

/// The decoded value of `element`'s attribute `name` (lower case); null when it has none.
const GumboAttribute* FindAttribute(const GumboElement& element, const char* name);

/// The text of gumbo's UTF-8 `text` as UTF-16.
std::u16string Wide(const char* text);

/// Visits the element nodes under `root` (itself included) in document order, without recursion
/// (a page may nest elements thousands deep). `enter` returns false to skip what an element
/// holds; `leave` (may be empty) is called after what an entered element holds; `text` gets each
/// text, white space and CDATA node.
struct TreeVisitor {
    std::function<bool(const GumboNode&)> enter;
    std::function<void(const GumboNode&)> leave;
    std::function<void(const GumboNode&)> text;
};
void VisitTree(const GumboNode* root, const TreeVisitor& visitor);

/// Attributes in which lazy-loading scripts keep an image's real address while src shows a
/// placeholder, in the order they are looked at.
inline constexpr const char* kLazyAddressAttributes[] = {"data-original", "data-src", "data-echo"};

/// The page tree of `parsed` (see ReadPageTree), and in `nodes` the gumbo node of each of its
/// elements.
PageTree ReadTree(const ParsedHtml& parsed, std::vector<const GumboNode*>& nodes);

/// True when a reader sees `element` and what it holds (see html.h).
bool IsVisible(const GumboElement& element);

/// True when `element` stands on lines of its own.
bool IsBlock(const GumboElement& element);

} // namespace velunor::html::internal
