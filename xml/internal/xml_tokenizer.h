#pragma once
// Cuts a text into nodes (text, tags, comments, sections, declarations, error nodes), scanning
// forward from the start; syntax errors go into a result log when one is given.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velunor::internal {

enum class XmlNodeKind : uint8_t {
    Text, ///< text up to the next "<"; whitespace-only text included
    StartTag,
    EmptyElementTag,
    EndTag,
    ProcessingInstruction,
    Comment,
    CDataSection,
    DocumentType,
    Error, ///< markup with a syntax error, or markup cut off by the end of the text
};

struct XmlNode {
    XmlNodeKind kind = XmlNodeKind::Text;
    size_t start = 0;
    size_t length = 0;
};

class XmlTokenizer {
  public:
    /// Scans `text` (which must outlive the tokenizer); errors are logged into `log` when it is
    /// not null, with offsets into `text`.
    XmlTokenizer(std::u16string_view text, std::u16string* log);

    /// The next node; false at the end of the text.
    bool Next(XmlNode& node);

  private:
    XmlNode ScanText(size_t start) const;
    XmlNode ScanMarkup(size_t start);
    XmlNode ScanExclamation(size_t start);
    XmlNode ScanDocumentType(size_t start);
    XmlNode ScanStartTag(size_t start);
    XmlNode ScanUntil(XmlNodeKind kind, size_t start, size_t from, std::u16string_view terminator,
                      std::u16string_view type);
    XmlNode SyntaxError(std::u16string_view entry, size_t start, size_t searchFrom);
    XmlNode Unterminated(std::u16string_view type, size_t start);

    std::u16string_view text_;
    std::u16string* log_;
    size_t offset_ = 0;
};

/// True when `text` holds only whitespace (or nothing).
bool IsWhitespaceOnly(std::u16string_view text);

} // namespace velunor::internal
