// Fetching from a novel site with the manners its rule asks for.

#include "library/internal/site_fetch.h"

#include "core/core.h"
#include "rules/rules.h"

#include <memory>

namespace velunor::internal {
namespace {

constexpr long kDefaultInterval = 0;
constexpr long kMostInterval = 60000;
constexpr long kDefaultConnections = 5;
constexpr long kMostConnections = 100;
constexpr long kDefaultRetries = 0;
constexpr long kMostRetries = 10;

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// The number a rule field holds: plain decimal digits, white space around them allowed, from
// `least` to `most`; `fallback` for anything else, so that a typing error in a rule file slows
// or speeds nothing beyond what the site was given before.
long RuleNumber(std::u16string_view text, long least, long most, long fallback) {
    while (!text.empty() && IsSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsSpace(text.back())) {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        return fallback;
    }
    long value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') {
            return fallback;
        }
        value = value * 10 + (c - u'0');
        if (value > most) {
            return fallback;
        }
    }
    return value < least ? fallback : value;
}

} // namespace

FetchSettings SiteFetchSettings(const CSiteRule& rule) {
    FetchSettings settings;
    settings.Headers = RequestHeaderLines(rule.RequestHeaders);
    settings.FollowRedirects = true;
    settings.RequestInterval = std::chrono::milliseconds(
        RuleNumber(rule.RequestInterval, 0, kMostInterval, kDefaultInterval));
    settings.MaxConnections =
        static_cast<int>(RuleNumber(rule.MaxConnections, 1, kMostConnections, kDefaultConnections));
    settings.RetryCount =
        static_cast<int>(RuleNumber(rule.RetryCount, 0, kMostRetries, kDefaultRetries));
    // The test outlives the call and is copied with the settings, so it holds its own rule.
    auto blockedRule = std::make_shared<const CSiteRule>(rule);
    settings.IsBlocked = [blockedRule](std::string_view body) {
        return IsBlockedPage(*blockedRule, DecodeSitePage(*blockedRule, AnsiToWide(body)));
    };
    return settings;
}

SiteAccess MakeSiteAccess(const CSiteRule& rule) {
    return {rule, SiteFetchSettings(rule)};
}

FetchSettings RequestSettings(const SiteAccess& site, std::u16string_view referer) {
    FetchSettings settings = site.Settings;
    // Addresses travel as the fetcher sends them: in the ANSI code page.
    settings.Referer = WideToAnsi(referer);
    return settings;
}

SitePage FetchSitePage(const SiteAccess& site, std::u16string_view url,
                       std::u16string_view referer) {
    SitePage page;
    FetchResult result;
    std::u16string text = FetchPage(result, url, RequestSettings(site, referer));
    page.StatusCode = result.StatusCode;
    page.Blocked = result.Blocked;
    page.Url = result.EffectiveUrl.empty() ? std::u16string(url) : result.EffectiveUrl;
    if (page.Ok()) {
        page.Text = DecodeSitePage(site.Rule, text);
    }
    return page;
}

std::u16string BlockedSiteMessage(const CSiteRule& rule) {
    return u"目标站 " + rule.SiteName + u" 拒绝了访问（访问过快或需要验证），请稍后再试。";
}

} // namespace velunor::internal
