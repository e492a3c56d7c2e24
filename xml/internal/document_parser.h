#pragma once
// Builds the element index of a document text in one forward scan, tolerating start tags that
// are never closed, end tags that close nothing and several root elements.

#include "xml/internal/element_index.h"
#include "xml/internal/xml_tokenizer.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velunor::internal {

class DocumentParser {
  public:
    /// Parses `text` into `index`, which must have been reset; entries go into `log`.
    DocumentParser(std::u16string_view text, ElementIndex& index, std::u16string* log);

    /// Runs the parse; true when the document is well-formed.
    bool Run();

  private:
    // An open element and where its name lies in the text. Once the tag is in the name
    // index, sameNameBelow is the stack position of the next open tag down with the same name.
    struct OpenTag {
        uint32_t element;
        uint32_t nameStart;
        uint32_t nameLength;
        uint32_t sameNameBelow;
    };

    void OpenElement(const XmlNode& node);
    void CloseElement(const XmlNode& node);
    void MarkError();
    void LogLoneEndTag(const XmlNode& node, std::u16string_view name);
    size_t FindOpenTag(std::u16string_view name);
    void IndexOpenTags();
    void PopOpenTags(size_t keep);
    void UnendAbove(size_t keep, size_t offset2);
    uint32_t FlattenChildren(uint32_t element, uint32_t newParent, uint32_t depth,
                             uint32_t nextUnended);
    void SetSubtreeDepth(uint32_t element, uint32_t depth);
    uint32_t CurrentOpen() const;
    std::u16string_view NameOf(const OpenTag& tag) const;

    std::u16string_view text_;
    ElementIndex& index_;
    std::u16string* log_;
    std::vector<OpenTag> openTags_;
    // The innermost open tag of each name, for the first indexedTags_ entries of openTags_;
    // built only when an end tag has to look deeper than the top of the stack.
    std::unordered_map<std::u16string_view, uint32_t> innermostByName_;
    size_t indexedTags_ = 0;
    // Set when subtrees moved under a new parent still carry their old depths.
    bool depthsStale_ = false;
    uint32_t root_ = 0;
};

} // namespace velunor::internal
