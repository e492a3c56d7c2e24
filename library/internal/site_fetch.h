#pragma once
// How the library asks a novel site for a page or an image: with the request settings the
// site's rule gives (SiteFetchSettings: its header lines, its pacing, its retries, redirects
// followed), a Referer naming the page the address was found on, and a page that refuses access
// taken for a failed fetch rather than for content.

#include "net/fetcher.h"
#include "net/site_settings.h"
#include "rules/site_rule.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace velunor::internal {

/// A site as the library's jobs fetch from it: its rule and the settings made from it once.
/// Shared, read-only, by every fetch of a job.
struct SiteAccess {
    CSiteRule Rule;
    FetchSettings Settings;
};

/// The site of `rule`, its settings made with SiteFetchSettings.
SiteAccess MakeSiteAccess(const CSiteRule& rule);

/// One page fetched from a site.
struct SitePage {
    /// The HTTP status of the final answer, -1 when the transfer failed.
    std::int32_t StatusCode = 0;
    /// True when the site answered with a page refusing access; its text is never kept.
    bool Blocked = false;
    /// The address the page came from once every redirect was followed; links on the page are
    /// completed against it. The address asked for when the fetch failed.
    std::u16string Url;
    /// The page decoded in the site's charset; empty unless Ok().
    std::u16string Text;

    bool Ok() const {
        return StatusCode == 200 && !Blocked;
    }
};

/// Fetches `url` from `site`, sending `referer` (when not empty) as the Referer unless the rule's
/// header lines name one. Blocks on the network, and on the site's pacing.
SitePage FetchSitePage(const SiteAccess& site, std::u16string_view url,
                       std::u16string_view referer);

/// The settings of one request to `site` with `referer` as its Referer (none when empty).
FetchSettings RequestSettings(const SiteAccess& site, std::u16string_view referer);

} // namespace velunor::internal
