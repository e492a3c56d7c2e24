// The charset a page is read in: what the page itself declares, as browsers find it, before
// what the rule says.

#include "core/core.h"
#include "html/html.h"
#include "rules/site_rule.h"

namespace velunor {
namespace {

struct ByteOrderMark {
    std::string_view bytes;
    const char* encoding;
};

constexpr ByteOrderMark kByteOrderMarks[] = {
    {"\xEF\xBB\xBF", "UTF-8"},
    {"\xFF\xFE", "UTF-16LE"},
    {"\xFE\xFF", "UTF-16BE"},
};

// The mark `bytes` starts with; null when none.
const ByteOrderMark* FindByteOrderMark(std::string_view bytes) {
    for (const ByteOrderMark& mark : kByteOrderMarks) {
        if (bytes.starts_with(mark.bytes)) {
            return &mark;
        }
    }
    return nullptr;
}

// Bytes as text, one character per byte: the names a page declares are ASCII, and the offsets
// found in the text stay offsets in the bytes.
std::u16string WidenBytes(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        text += static_cast<char16_t>(static_cast<unsigned char>(c));
    }
    return text;
}

// The value of the first charset parameter of a Content-Type value ("text/html; charset=gbk",
// "text/html;Charset=\"utf-8\""), read one character per byte; empty when there is none.
std::u16string HeaderCharset(std::string_view contentTypeBytes) {
    constexpr size_t npos = std::u16string_view::npos;
    std::u16string contentType = WidenBytes(contentTypeBytes);
    size_t at = contentType.find(u';');
    while (at != npos) {
        size_t equals = contentType.find_first_of(u"=;", at + 1);
        if (equals == npos || contentType[equals] == u';') {
            at = equals;
            continue;
        }
        std::u16string_view name =
            TrimSearchText(std::u16string_view(contentType).substr(at + 1, equals - at - 1));
        std::u16string_view value = std::u16string_view(contentType).substr(equals + 1);
        if (value.starts_with(u'"')) {
            value = value.substr(1, value.find(u'"', 1) - 1);
            at = contentType.find(u';', equals + 2 + value.size());
        } else {
            at = contentType.find(u';', equals + 1);
            value = TrimSearchText(value.substr(0, at == npos ? npos : at - equals - 1));
        }
        if (EqualsIgnoringAsciiCase(name, u"charset")) {
            return std::u16string(value);
        }
    }
    return {};
}

// The encoding of the first meta declaration in the head of the page's first bytes that names a
// known charset; empty when none does.
std::string MetaEncoding(std::string_view bytes) {
    std::u16string head = WidenBytes(bytes.substr(0, kMetaPrescanBytes));
    for (const html::SourceSpan& span : html::DeclaredCharsets(head)) {
        std::u16string_view name = std::u16string_view(head).substr(span.Start, span.Length);
        std::string encoding = CharsetEncodingName(name);
        // A page that could be read as ASCII far enough to find its meta is no UTF-16 page.
        if (encoding.starts_with("UTF-16")) {
            return "UTF-8";
        }
        if (!encoding.empty()) {
            return encoding;
        }
    }
    return {};
}

// The encoding a declared name names; empty for an empty or unknown name, which declares
// nothing (an empty rule Charset, by contrast, means code page 936).
std::string DeclaredEncoding(std::u16string_view name) {
    return name.empty() ? std::string() : CharsetEncodingName(name);
}

} // namespace

PageCharset FindPageCharset(std::string_view bytes, std::string_view contentType,
                            std::u16string_view ruleCharset, std::u16string_view overriding) {
    if (const ByteOrderMark* mark = FindByteOrderMark(bytes)) {
        return {mark->encoding, CharsetSource::ByteOrderMark};
    }
    std::string encoding = DeclaredEncoding(overriding);
    if (!encoding.empty()) {
        return {encoding, CharsetSource::SearchCharset};
    }
    encoding = DeclaredEncoding(HeaderCharset(contentType));
    if (!encoding.empty()) {
        return {encoding, CharsetSource::Header};
    }
    encoding = MetaEncoding(bytes);
    if (!encoding.empty()) {
        return {encoding, CharsetSource::Meta};
    }
    encoding = CharsetEncodingName(ruleCharset);
    if (encoding.empty()) {
        // An unknown rule Charset reads as an empty one: code page 936.
        encoding = CharsetEncodingName({});
    }
    return {encoding, CharsetSource::Rule};
}

std::u16string DecodeSitePage(const PageCharset& charset, std::string_view bytes) {
    if (charset.Source == CharsetSource::ByteOrderMark) {
        bytes.remove_prefix(FindByteOrderMark(bytes)->bytes.size());
    }
    return DecodeSitePage(Utf8ToWide(charset.Encoding), bytes);
}

std::u16string DecodeSitePage(const CSiteRule& rule, std::string_view bytes) {
    return DecodeSitePage(FindPageCharset(bytes, {}, rule.Charset), bytes);
}

} // namespace velunor
