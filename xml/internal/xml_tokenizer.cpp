#include "xml/internal/xml_tokenizer.h"

#include "xml/internal/result_log_writer.h"
#include "xml/internal/xml_chars.h"

namespace velunor::internal {

XmlTokenizer::XmlTokenizer(std::u16string_view text, std::u16string* log)
    : text_(text), log_(log) {}

bool XmlTokenizer::Next(XmlNode& node) {
    if (offset_ >= text_.size()) {
        return false;
    }
    if (text_[offset_] == u'<') {
        node = ScanMarkup(offset_);
    } else {
        node = ScanText(offset_);
    }
    offset_ = node.start + node.length;
    return true;
}

XmlNode XmlTokenizer::ScanText(size_t start) const {
    size_t end = text_.find(u'<', start);
    if (end == std::u16string_view::npos) {
        end = text_.size();
    }
    return {XmlNodeKind::Text, start, end - start};
}

XmlNode XmlTokenizer::ScanMarkup(size_t start) {
    if (start + 1 >= text_.size()) {
        return Unterminated(u"tag", start);
    }
    char16_t second = text_[start + 1];
    if (second == u'/') {
        return ScanUntil(XmlNodeKind::EndTag, start, start + 2, u">", u"end_tag");
    }
    if (second == u'?') {
        return ScanUntil(XmlNodeKind::ProcessingInstruction, start, start + 2, u"?>",
                         u"processing_instruction");
    }
    if (second == u'!') {
        return ScanExclamation(start);
    }
    if (CanStartTag(second)) {
        return ScanStartTag(start);
    }
    return SyntaxError(u"first_tag_syntax", start, start + 1);
}

XmlNode XmlTokenizer::ScanExclamation(size_t start) {
    // "<!" needs a third character, and "<!-" and "<![" a fourth, before the kind is known.
    size_t third = start + 2;
    if (third >= text_.size()) {
        return Unterminated(u"tag", start);
    }
    char16_t kind = text_[third];
    if (kind == u'D') {
        return ScanDocumentType(start);
    }
    if (kind != u'-' && kind != u'[') {
        return SyntaxError(u"exclamation_tag_syntax", start, start + 1);
    }
    if (third + 1 >= text_.size()) {
        return Unterminated(u"tag", start);
    }
    char16_t fourth = text_[third + 1];
    if (kind == u'-') {
        if (fourth != u'-') {
            return SyntaxError(u"comment_tag_syntax", start, start + 1);
        }
        return ScanUntil(XmlNodeKind::Comment, start, start + 4, u"-->", u"comment");
    }
    if (fourth != u'C') {
        return SyntaxError(u"cdata_section_syntax", start, start + 1);
    }
    return ScanUntil(XmlNodeKind::CDataSection, start, start + 4, u"]]>", u"cdata_section");
}

// A document type declaration ends at the first ">" outside quotes and outside the nested
// declarations <!ATTLIST, <!ELEMENT, <!ENTITY and <!NOTATION of its internal subset.
XmlNode XmlTokenizer::ScanDocumentType(size_t start) {
    char16_t quote = 0;
    bool nested = false;
    for (size_t i = start + 3; i < text_.size(); ++i) {
        char16_t c = text_[i];
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
            continue;
        }
        if (c == u'"' || c == u'\'') {
            quote = c;
            continue;
        }
        if (c == u'>') {
            if (!nested) {
                return {XmlNodeKind::DocumentType, start, i + 1 - start};
            }
            nested = false;
            continue;
        }
        if (c != u'<' || i + 1 >= text_.size() || text_[i + 1] != u'!') {
            continue;
        }
        if (i + 2 >= text_.size()) {
            break;
        }
        char16_t declaration = text_[i + 2];
        if (declaration != u'A' && declaration != u'E' && declaration != u'N') {
            return SyntaxError(u"doctype_tag_syntax", start, i + 1);
        }
        nested = true;
        i += 2;
    }
    return Unterminated(u"document_type", start);
}

// A quote opens a value only after "="; an unquoted value runs to whitespace or the final ">",
// and a "/" that ends such a value belongs to it rather than making the tag empty.
XmlNode XmlTokenizer::ScanStartTag(size_t start) {
    bool expectValue = false;
    bool inUnquotedValue = false;
    size_t i = start + 1;
    while (i < text_.size()) {
        char16_t c = text_[i];
        if (c == u'>') {
            bool empty = text_[i - 1] == u'/' && !inUnquotedValue;
            XmlNodeKind kind = empty ? XmlNodeKind::EmptyElementTag : XmlNodeKind::StartTag;
            return {kind, start, i + 1 - start};
        }
        if (inUnquotedValue) {
            inUnquotedValue = !IsXmlWhitespace(c);
            ++i;
            continue;
        }
        if (expectValue && !IsXmlWhitespace(c)) {
            expectValue = false;
            if (c == u'"' || c == u'\'') {
                size_t closing = text_.find(c, i + 1);
                if (closing == std::u16string_view::npos) {
                    break;
                }
                i = closing + 1;
                continue;
            }
            inUnquotedValue = true;
        }
        if (c == u'=') {
            expectValue = true;
        }
        ++i;
    }
    return Unterminated(u"start_tag", start);
}

XmlNode XmlTokenizer::ScanUntil(XmlNodeKind kind, size_t start, size_t from,
                                std::u16string_view terminator, std::u16string_view type) {
    size_t found = text_.find(terminator, from);
    if (found == std::u16string_view::npos) {
        return Unterminated(type, start);
    }
    return {kind, start, found + terminator.size() - start};
}

// The faulty node runs to the next ">" (included) or the next "<" (not included).
XmlNode XmlTokenizer::SyntaxError(std::u16string_view entry, size_t start, size_t searchFrom) {
    AppendLogEntry(log_, entry, {LogNumber(u"offset", start)});
    size_t end = text_.find_first_of(u"<>", searchFrom);
    if (end == std::u16string_view::npos) {
        return Unterminated(u"tag", start);
    }
    if (text_[end] == u'>') {
        ++end;
    }
    return {XmlNodeKind::Error, start, end - start};
}

XmlNode XmlTokenizer::Unterminated(std::u16string_view type, size_t start) {
    AppendLogEntry(log_, u"unterminated_tag_syntax",
                   {LogText(u"type", type), LogNumber(u"offset", start)});
    return {XmlNodeKind::Error, start, text_.size() - start};
}

bool IsWhitespaceOnly(std::u16string_view text) {
    for (char16_t c : text) {
        if (!IsXmlWhitespace(c)) {
            return false;
        }
    }
    return true;
}

} // namespace velunor::internal
