// velunor-cli cookies: what each site keeps in its cookie jar, and clearing it.

#include "cli/cookies_command.h"

#include "cli/cli_support.h"
#include "cli/rule_test_command.h"
#include "core/core.h"
#include "net/cookie_jar.h"

#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace velunor::cli {
namespace {

constexpr char16_t kUsage[] = u"usage: velunor-cli cookies [clear [SITE | RULE.xml]]";

// The expiry as the reader's clock shows it, or "session" for a cookie that ends with the
// program's session.
std::u16string ExpiryText(const CookieEntry& cookie) {
    if (cookie.Expires == 0) {
        return u"session";
    }
    std::time_t when = static_cast<std::time_t>(cookie.Expires);
    std::tm local{};
    char text[32] = {};
    if (localtime_r(&when, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
        return u"until " + DecimalText(cookie.Expires);
    }
    return u"until " + Wide(text);
}

// One cookie without its value: name, where it goes, until when, and its flags.
std::u16string CookieLine(const CookieEntry& cookie) {
    std::u16string line = u"  " + Wide(cookie.Name) + u"  " +
                          (cookie.IncludeSubdomains ? u"." : u"") + Wide(cookie.Domain) + u"  " +
                          Wide(cookie.Path) + u"  " + ExpiryText(cookie);
    if (cookie.Secure) {
        line += u"  Secure";
    }
    if (cookie.HttpOnly) {
        line += u"  HttpOnly";
    }
    return line;
}

int ListCookies() {
    std::vector<std::u16string> sites = SitesWithCookieFiles();
    if (sites.empty()) {
        PrintLine(u"no site keeps cookies");
        return 0;
    }
    for (const std::u16string& site : sites) {
        PrintLine(site);
        CCookieJar jar(CookieFilePath(CookieFolder(), site));
        std::vector<CookieEntry> cookies = jar.Cookies();
        if (cookies.empty()) {
            PrintLine(u"  (none)");
        }
        for (const CookieEntry& cookie : cookies) {
            PrintLine(CookieLine(cookie));
        }
    }
    return 0;
}

// The site an argument names: a rule file's SiteName when it is a file, else the name itself.
// False, having said why, when a rule file cannot be read or names no site.
bool SiteOfArgument(const char* argument, std::u16string& site) {
    std::u16string path = ResolveArgumentPath(argument);
    std::error_code error;
    bool isFile = std::filesystem::is_regular_file(NativePath(path), error);
    if (!isFile && !std::string_view(argument).ends_with(".xml")) {
        site = Wide(argument);
        return true;
    }
    CSiteRule rule;
    if (!ReadRuleFile(path, rule)) {
        return false;
    }
    if (rule.SiteName.empty()) {
        PrintError(u"the rule file " + path + u" names no site (SiteName is empty)");
        return false;
    }
    site = rule.SiteName;
    return true;
}

bool ClearOne(const std::u16string& site) {
    if (!ClearSiteCookies(site)) {
        PrintError(u"cannot remove " + CookieFilePath(CookieFolder(), site));
        return false;
    }
    PrintLine(u"cleared the cookies of " + site);
    return true;
}

// Without a site every jar is cleared: the sites set again what they need on the next visit,
// and a user who types "clear" alone means all of them, as a browser's "clear cookies" does.
int ClearCookies(const char* argument) {
    if (argument == nullptr) {
        bool cleared = true;
        for (const std::u16string& site : SitesWithCookieFiles()) {
            cleared = ClearOne(site) && cleared;
        }
        return cleared ? 0 : 1;
    }
    std::u16string site;
    if (!SiteOfArgument(argument, site)) {
        return 1;
    }
    std::error_code error;
    if (!std::filesystem::exists(NativePath(CookieFilePath(CookieFolder(), site)), error)) {
        PrintError(u"no cookies are kept for " + site);
        return 1;
    }
    return ClearOne(site) ? 0 : 1;
}

} // namespace

int RunCookies(int argc, char** argv) {
    if (argc == 2) {
        return ListCookies();
    }
    if (std::strcmp(argv[2], "clear") == 0 && argc <= 4) {
        return ClearCookies(argc == 4 ? argv[3] : nullptr);
    }
    PrintError(kUsage);
    return 2;
}

} // namespace velunor::cli
