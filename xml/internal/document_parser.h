#pragma once
// Builds the element index of a document text in one forward scan, tolerating start tags that
// are never closed, end tags that close nothing and several root elements.

#include "xml/internal/element_index.h"
#include "xml/internal/xml_tokenizer.h"

#include <string>
#include <string_view>
#include <vector>

namespace velunor::internal {

class DocumentParser {
  public:
    /// Parses `text` into `index`, which must have been reset; entries go into `log`.
    DocumentParser(std::u16string_view text, ElementIndex& index, std::u16string* log);

    /// Runs the parse; true when the document is well-formed.
    bool Run();

  private:
    // An open element and where its name lies in the text.
    struct OpenTag {
        uint32_t element;
        uint32_t nameStart;
        uint32_t nameLength;
    };

    void OpenElement(const XmlNode& node);
    void CloseElement(const XmlNode& node);
    void MarkError();
    void LogLoneEndTag(const XmlNode& node, std::u16string_view name);
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
    uint32_t root_ = 0;
};

} // namespace velunor::internal
