// Request settings from a site's rule file.

#include "net/site_settings.h"

#include "core/core.h"
#include "rules/rules.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace velunor {
namespace {

// A rule asking for more retries than this would keep a failing chapter busy for an hour.
constexpr int kMostRetries = 10;

// The decimal number a rule file gives; `fallback` for an empty or malformed text.
int RuleNumber(std::u16string_view text, int fallback) {
    std::string digits = WideToUtf8(TrimSearchText(text));
    int value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        value < 0) {
        return fallback;
    }
    return value;
}

} // namespace

FetchSettings SiteFetchSettings(const CSiteRule& rule) {
    FetchSettings settings;
    settings.Headers = RequestHeaderLines(rule.RequestHeaders);
    settings.FollowRedirects = true;
    settings.RequestInterval = std::chrono::milliseconds(RuleNumber(rule.RequestInterval, 0));
    settings.MaxConnections = RuleNumber(rule.MaxConnections, 5);
    settings.RetryCount = std::min(RuleNumber(rule.RetryCount, 0), kMostRetries);
    settings.IsBlocked = [rule](std::string_view body) {
        return IsBlockedPage(rule, DecodeSitePage(rule, AnsiToWide(body)));
    };
    return settings;
}

std::u16string BlockedSiteMessage(const CSiteRule& rule) {
    return u"目标站 <" + rule.SiteName + u"> 拒绝了访问（访问过快或需要验证），请稍后再试。";
}

} // namespace velunor
