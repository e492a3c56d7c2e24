#include "rules/site_rule.h"

#include "core/core.h"

#include <algorithm>

namespace velunor {
namespace {

constexpr char kAnsiEncoding[] = "GB18030";

bool SameName(std::u16string_view name, std::u16string_view wanted) {
    if (name.size() != wanted.size()) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t a = name[i];
        char16_t b = wanted[i];
        if (a >= u'a' && a <= u'z') {
            a = static_cast<char16_t>(a - u'a' + u'A');
        }
        if (a != b) {
            return false;
        }
    }
    return true;
}

bool IsOneOf(std::u16string_view name, std::initializer_list<std::u16string_view> names) {
    for (std::u16string_view wanted : names) {
        if (SameName(name, wanted)) {
            return true;
        }
    }
    return false;
}

// Whether iconv on this system can decode `name`.
bool IconvKnows(const std::string& name) {
    std::u16string ignored;
    return DecodeCharset("a", name.c_str(), ignored);
}

} // namespace

std::string CharsetEncodingName(std::u16string_view charset) {
    // Browsers read every name of the GB family as GBK, whose superset GB18030 is.
    if (charset.empty() ||
        IsOneOf(charset, {u"GB2312", u"GBK", u"GB18030", u"X-GBK", u"CP936", u"MS936",
                          u"WINDOWS-936", u"GB_2312", u"GB_2312-80", u"CSGB2312", u"CHINESE",
                          u"ISO-IR-58", u"CSISO58GB231280", u"EUC-CN", u"X-EUC-CN"})) {
        return kAnsiEncoding;
    }
    if (IsOneOf(charset, {u"UTF-8", u"UTF8", u"UNICODE-1-1-UTF-8", u"UNICODE11UTF8",
                          u"UNICODE20UTF8", u"X-UNICODE20UTF8"})) {
        return "UTF-8";
    }
    if (IsOneOf(charset, {u"BIG5", u"BIG5-HKSCS", u"CN-BIG5", u"CSBIG5", u"X-X-BIG5"})) {
        return "BIG5-HKSCS";
    }
    // Without a byte-order mark, browsers take UTF-16 for little-endian; iconv for big-endian.
    if (IsOneOf(charset, {u"UTF-16", u"UTF16"})) {
        return "UTF-16LE";
    }
    std::string name = WideToUtf8(charset);
    for (char c : name) {
        // iconv takes option suffixes after "/"; a rule file has no business passing any.
        if (c == '/' || static_cast<unsigned char>(c) < 0x21 ||
            static_cast<unsigned char>(c) > 0x7E) {
            return {};
        }
    }
    return IconvKnows(name) ? name : std::string();
}

bool IsKnownCharset(std::u16string_view charset) {
    return !CharsetEncodingName(charset).empty();
}

std::u16string DecodeSitePage(std::u16string_view charset, std::string_view bytes) {
    std::string encoding = CharsetEncodingName(charset);
    std::u16string page;
    if (encoding.empty() || !DecodeCharset(bytes, encoding.c_str(), page)) {
        DecodeCharset(bytes, kAnsiEncoding, page);
    }
    // A NUL would end the text for whatever reads it as a C string, and a control character or
    // a noncharacter would leave the files that list a name unreadable as XML; the text around
    // them is still the site's. A byte the charset cannot read stays, as the decoding keeps it.
    std::erase_if(page, [](char16_t c) { return !IsXmlChar(c); });
    return page;
}

std::u16string_view TrimSearchText(std::u16string_view text) {
    auto isSpace = [](char16_t c) {
        return IsAsciiSpace(c) || c == u'\v' || c == u'\u3000' || c == u'\u00A0';
    };
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::u16string_view SearchKeyCharset(const CSiteRule& rule) {
    const std::u16string& search = rule.SearchPage.SearchCharset;
    return !search.empty() && IsKnownCharset(search) ? search : rule.Charset;
}

std::string EncodeInCharset(std::u16string_view charset, std::u16string_view text) {
    std::string encoding = CharsetEncodingName(charset);
    std::string bytes;
    if (encoding.empty() || encoding == kAnsiEncoding ||
        !EncodeCharset(text, encoding.c_str(), bytes)) {
        return WideToAnsi(text);
    }
    return bytes;
}

std::u16string EncodeSearchKey(const CSiteRule& rule, std::u16string_view text) {
    std::string bytes = EncodeInCharset(SearchKeyCharset(rule), TrimSearchText(text));
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::u16string encoded;
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                          (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' ||
                          byte == '.' || byte == '~';
        if (unreserved) {
            encoded += static_cast<char16_t>(byte);
        } else {
            encoded += u'%';
            encoded += static_cast<char16_t>(kHex[byte >> 4]);
            encoded += static_cast<char16_t>(kHex[byte & 0x0F]);
        }
    }
    return encoded;
}

bool IsUtf8Site(const CSiteRule& rule) {
    return CharsetEncodingName(rule.Charset) == "UTF-8";
}

namespace {

const std::u16string& PageOwnBrowserUse(const CSiteRule& rule, RulePage page) {
    switch (page) {
    case RulePage::Search:
        return rule.SearchPageUseBrowser;
    case RulePage::Info:
        return rule.InfoPageUseBrowser;
    case RulePage::Contents:
        return rule.ContentsPageUseBrowser;
    case RulePage::Content:
        return rule.ContentPageUseBrowser;
    }
    return rule.UseBrowser;
}

BrowserUse BrowserUseOf(std::u16string_view value) {
    value = TrimSearchText(value);
    if (value == u"1") {
        return BrowserUse::Always;
    }
    if (value == u"2") {
        return BrowserUse::WhenChallenged;
    }
    return BrowserUse::Never;
}

} // namespace

BrowserUse PageBrowserUse(const CSiteRule& rule, RulePage page) {
    if (page == RulePage::Search && !TrimSearchText(rule.SearchPage.SearchScript).empty()) {
        return BrowserUse::Always;
    }
    const std::u16string& own = PageOwnBrowserUse(rule, page);
    return BrowserUseOf(TrimSearchText(own).empty() ? rule.UseBrowser : own);
}

} // namespace velunor
