// Reference resolution: the address a reference names when it is read on a given page, the way
// browsers and HTTP redirects read it. libcurl's URL API does the merging and the removal of
// "." and ".." segments; this file carries wide text to it and back without changing a
// character that is not part of the address's structure.

#include "core/core.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>

namespace velunor {
namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const {
        curl_url_cleanup(url);
    }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

struct CurlTextDeleter {
    void operator()(char* text) const {
        curl_free(text);
    }
};
using CurlText = std::unique_ptr<char, CurlTextDeleter>;

// libcurl percent-encodes spaces and bytes outside ASCII in a relative reference, in whatever
// byte encoding it is handed. Sites' links keep their characters as written (the fetcher
// decides how they travel), so every code unit libcurl would touch goes to it as "%u" and four
// hex digits, and "%" itself as "%25"; both forms come back unchanged and are turned back here.
std::string ToUrlText(std::u16string_view wide) {
    std::string text;
    text.reserve(wide.size());
    for (char16_t unit : wide) {
        if (unit == u'%') {
            text += "%25";
        } else if (unit > 0x20 && unit < 0x7F) {
            text += static_cast<char>(unit);
        } else {
            char escape[7];
            std::snprintf(escape, sizeof escape, "%%u%04x", static_cast<unsigned>(unit));
            text += escape;
        }
    }
    return text;
}

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    return -1;
}

// The code unit of a "%uXXXX" escape at the start of `text`, or -1 when it is not one.
long EscapedUnit(std::string_view text) {
    if (text.size() < 6 || text[0] != '%' || text[1] != 'u') {
        return -1;
    }
    long unit = 0;
    for (char digit : text.substr(2, 4)) {
        int value = HexValue(digit);
        if (value < 0) {
            return -1;
        }
        unit = unit * 16 + value;
    }
    return unit;
}

std::u16string FromUrlText(std::string_view text) {
    std::u16string wide;
    wide.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        long unit = EscapedUnit(text.substr(i));
        if (unit >= 0) {
            wide += static_cast<char16_t>(unit);
            i += 6;
        } else if (text.substr(i, 3) == "%25") {
            wide += u'%';
            i += 3;
        } else {
            // Anything else is ASCII: the escapes above left libcurl no other byte.
            wide += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
            ++i;
        }
    }
    return wide;
}

CurlText GetPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK) {
        return nullptr;
    }
    return CurlText(text);
}

// A host written outside ASCII reaches libcurl as escapes that name no host; an address
// without a host (file:///x) is whole as it is.
bool HasReadableHost(CURLU* url) {
    CurlText host = GetPart(url, CURLUPART_HOST);
    return host == nullptr || std::string_view(host.get()).find('%') == std::string_view::npos;
}

// The base's fragment takes no part in resolving, but libcurl keeps it in front of a reference
// that is only a query; and it drops the base's last segment and query when the reference is
// only a fragment. So the fragment goes first, and an empty or fragment-only reference is not
// handed to libcurl as a URL.
bool ApplyReference(CURLU* url, std::u16string_view reference) {
    if (curl_url_set(url, CURLUPART_FRAGMENT, nullptr, 0) != CURLUE_OK) {
        return false;
    }
    if (reference.empty()) {
        return true;
    }
    if (reference.front() == u'#') {
        std::string fragment = ToUrlText(reference.substr(1));
        return curl_url_set(url, CURLUPART_FRAGMENT, fragment.c_str(), 0) == CURLUE_OK;
    }
    std::string text = ToUrlText(reference);
    return curl_url_set(url, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK;
}

} // namespace

std::u16string ResolveReference(std::u16string_view base, std::u16string_view reference) {
    UrlHandle url(curl_url());
    if (url == nullptr) {
        return {};
    }
    std::string baseText = ToUrlText(base);
    if (curl_url_set(url.get(), CURLUPART_URL, baseText.c_str(), 0) != CURLUE_OK) {
        return {};
    }
    if (!ApplyReference(url.get(), reference) || !HasReadableHost(url.get())) {
        return {};
    }
    CurlText resolved = GetPart(url.get(), CURLUPART_URL);
    if (resolved == nullptr) {
        return {};
    }
    return FromUrlText(resolved.get());
}

std::u16string_view AddressOrigin(std::u16string_view url) {
    size_t scheme = url.find(u"://");
    if (scheme == std::u16string_view::npos) {
        return {};
    }
    return url.substr(0, url.find_first_of(u"/?#", scheme + 3));
}

std::u16string_view AddressFolder(std::u16string_view url) {
    size_t slash = url.substr(0, url.find_first_of(u"?#")).rfind(u'/');
    return slash == std::u16string_view::npos ? std::u16string_view() : url.substr(0, slash + 1);
}

std::u16string_view AddressFileName(std::u16string_view url) {
    std::u16string_view path = url.substr(0, url.find_first_of(u"?#"));
    size_t slash = path.rfind(u'/');
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

} // namespace velunor
