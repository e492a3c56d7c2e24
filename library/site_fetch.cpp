// Fetching from a novel site with the manners its rule asks for.

#include "library/internal/site_fetch.h"

#include "core/core.h"
#include "rules/rules.h"

namespace velunor::internal {

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

} // namespace velunor::internal
