#pragma once
// Velunor's one HTML reader: pages and chapter texts read as a browser builds them, by the HTML
// tree rules (implied end tags, misnested tags, references decoded), with one rule for what a
// reader sees, and with where each tag and value stands in the source, so that a page can be
// changed in place. It is built on the gumbo parser, which keeps those source positions;
// libxml2's HTML parser does not follow the HTML5 tree rules and loses the source offsets.
//
// Text goes in and comes out as UTF-16; every offset and length counts UTF-16 code units of the
// text given. A lone surrogate reads as U+FFFD; control characters other than white space and
// noncharacters (U+FFFE, U+FDD0, ...) read as nothing. Every function parses the text it is given,
// keeps nothing, never fails (any text is some HTML) and may be called from any thread.
//
// What a reader sees: not the content of script, style, noscript, template, iframe, noembed,
// noframes or title elements, nor anything in the head; not an element with the hidden
// attribute or with "display:none" or "visibility:hidden" in its style, nor what it holds; not
// comments, nor control characters.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velunor::html {

/// Where a part of the text stands.
struct SourceSpan {
    size_t Start = 0;
    size_t Length = 0;
};

/// The text a reader sees of `page`, one line per block: block elements, <br> and runs of two or
/// more no-break or ideographic spaces (the indent of sites that write no line breaks) end a line;
/// any other run of white space is one space; no line is empty. Lines end with "\n" between them,
/// not after the last. Empty when nothing shows.
std::u16string VisibleText(std::u16string_view page);

/// The text of `page`'s title element, white space collapsed and trimmed; empty without one.
std::u16string PageTitle(std::u16string_view page);

/// One block of a chapter text.
struct ChapterBlock {
    enum class Kind { Paragraph, Image };
    Kind BlockKind = Kind::Paragraph;
    /// A paragraph's text (a line of VisibleText), or an image's src value with references
    /// decoded and the spaces around it left out.
    std::u16string Text;

    bool operator==(const ChapterBlock&) const = default;
};

/// The paragraphs and images of the chapter text `text`, in order: what VisibleText shows, less
/// what belongs to the site rather than the novel: nav, select, button, textarea, object and svg
/// elements, elements whose class or id has a word starting or ending in "nav", and links whose
/// whole text IsNavigationText. Images without a src value are left out.
std::vector<ChapterBlock> ChapterBlocks(std::u16string_view text);

/// ChapterBlocks with each image named by the address it is fetched from (ImageSource::Address:
/// a lazy-loading tag's real one) rather than by its src, as the library stores it.
std::vector<ChapterBlock> FetchedChapterBlocks(std::u16string_view text);

/// True when `text` is only the caption of a link between chapters or to the contents
/// ("上一章", "【返回目录】"), in either form of characters.
bool IsNavigationText(std::u16string_view text);

/// `text` without the spaces, brackets and arrows that decorate a caption ("【下一页】→").
std::u16string_view TrimmedCaption(std::u16string_view text);

/// Where one img element names its image.
struct ImageSource {
    /// The address to fetch: the value of data-original, data-src or data-echo, the first that
    /// holds an address (where a lazy-loading tag keeps its real one), else of src.
    SourceSpan Address;
    /// The src value that shows the image: Address itself or the placeholder of a lazy-loading
    /// tag. When the tag has no src, or an empty one, a span of length 0 right after the tag
    /// name, where a src attribute can be written that browsers read before any other.
    SourceSpan Shown;
};

/// Where the image of each img element of `text` is named, in order of Address, values without
/// the spaces around them. An element without an address gives nothing, and so does one whose
/// only address is a data: image (an inline image, or a placeholder without a real address),
/// which needs no fetch; so does an img tag inside a comment or a script. Hidden images count:
/// browsers load them too. A tag cut off by the end of the text counts as if it ended there (a
/// chapter text is a piece cut out of a page).
std::vector<ImageSource> ImageSources(std::u16string_view text);

/// The inner HTML of the first element of `page` whose id is `id`, as the source has it: from the
/// end of its start tag to the start of its end tag, or to where the parser closed it. Empty when
/// there is no such element, or when the text ends before the element does (a page cut short).
std::u16string ElementInnerHtml(std::u16string_view page, std::u16string_view id);

/// Where the charset names declared by the meta elements in `page`'s head stand, in order, in
/// either form: charset="gbk" and content="text/html; charset=gbk". Markup in the body (a
/// chapter's text) declares nothing.
std::vector<SourceSpan> DeclaredCharsets(std::u16string_view page);

/// No element: the parent of the root, a missing element.
inline constexpr size_t kNoElement = static_cast<size_t>(-1);

/// One element of a page tree.
struct PageElement {
    /// The tag name in lower case ("div", "a").
    std::string Tag;
    /// The attributes in source order: names in lower case, values with references decoded.
    std::vector<std::pair<std::string, std::u16string>> Attributes;
    /// The index of the parent element; kNoElement for the root.
    size_t Parent = kNoElement;
    /// The indexes of the child elements, in order.
    std::vector<size_t> Children;
    /// True when a reader sees the element (and so every element around it).
    bool Visible = true;
    /// True when the element stands on lines of its own (p, div, li, br, ...).
    bool Block = false;
    /// Where the element's visible text stands in PageTree::Text; length 0 when it shows none.
    SourceSpan Text;
    /// Where the element stands in the page, from its start tag to the end of its end tag or to
    /// where the parser closed it. An element the source does not write (an implied body) stands
    /// from its first child element's start to its last one's end; one without children has
    /// length 0.
    SourceSpan Source;
    /// Where what the element holds stands in the page: between its start and end tags (for an
    /// element the source does not write, as Source).
    SourceSpan Inner;

    /// The value of attribute `name` (lower case); empty when the element has none.
    std::u16string_view Attribute(std::string_view name) const;
};

/// A page read once into its elements, for code that weighs a page's parts against each other.
struct PageTree {
    /// The elements in document order; the root (html) is element 0.
    std::vector<PageElement> Elements;
    /// What a reader sees of the page: white space runs collapsed to one space, a line break
    /// where a block starts or ends, no empty line.
    std::u16string Text;

    /// The visible text of element `index`, lines joined by "\n", without spaces around it.
    std::u16string_view TextOf(size_t index) const;
};

/// The elements of `page` as a browser builds them, with their visible text and where they
/// stand. Comments and text nodes are not elements; the text of a text node counts in the
/// visible text of the elements around it.
PageTree ReadPageTree(std::u16string_view page);

/// Which part of a page holds a chapter text, by the indexes of its page tree.
struct ChapterTextChoice {
    /// The element whose content is the text; kNoElement for none.
    size_t Element = kNoElement;
    /// Elements inside it that belong to the site, left out with what they hold.
    std::vector<size_t> LeftOut;
};

/// Reads `page` once for a caller that finds the chapter text on its tree: gives `choose` the
/// tree as ReadPageTree reads it (`choose` may move it away) and returns what the chosen element
/// holds, read as ChapterBlocks reads a text (the chosen element's own tag and class aside),
/// without the left-out elements, and with each image named by the address it is fetched from
/// (ImageSource::Address: a lazy-loading tag's real one) rather than by its src. Empty when
/// `choose` chooses no element.
std::vector<ChapterBlock>
ChosenChapterBlocks(std::u16string_view page,
                    const std::function<ChapterTextChoice(PageTree&)>& choose);

} // namespace velunor::html
