#pragma once
// Walks the attributes of one start tag or processing instruction, with the quoting rules of
// the tokenizer: a quote opens a value only after "=", an unquoted value runs to whitespace.

#include <cstddef>
#include <optional>
#include <string_view>

namespace velunor::internal {

/// One attribute, as offsets into the tag text.
struct AttributeSpan {
    size_t nameStart = 0;
    size_t nameLength = 0;
    size_t valueStart = 0;  ///< the value including its quotes; equal to end when there is none
    size_t valueLength = 0; ///< 0 for an attribute without "="
    bool quoted = false;
    size_t end = 0; ///< just after the value (or the name)

    /// The value without its quotes.
    std::u16string_view Value(std::u16string_view tag) const;
};

class AttributeScanner {
  public:
    /// Scans `tag` (the whole tag from "<") after its name.
    explicit AttributeScanner(std::u16string_view tag);

    /// The next attribute; false after the last.
    bool Next(AttributeSpan& attribute);
    /// Just after the tag name or the last attribute returned.
    size_t LastEnd() const {
        return lastEnd_;
    }

  private:
    bool AtClosing(size_t at) const;
    void ReadValue(AttributeSpan& attribute, size_t at);

    std::u16string_view tag_;
    size_t offset_ = 0;
    size_t lastEnd_ = 0;
};

/// The value of the first attribute named `name` (ASCII case ignored when `ignoreCase`);
/// nothing when the tag has no such attribute.
std::optional<std::u16string_view> FindAttributeValue(std::u16string_view tag,
                                                      std::u16string_view name, bool ignoreCase);

} // namespace velunor::internal
