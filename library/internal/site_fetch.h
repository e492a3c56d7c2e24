#pragma once
// How the library asks a novel site for a page or an image: with the request settings the
// site's rule gives (its header lines, its pacing, its retries), redirects followed, and a page
// that refuses access taken for a failed fetch rather than for content.

#include "net/fetcher.h"
#include "rules/site_rule.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace velunor::internal {

/// The request settings every fetch from the site of `rule` starts from: the rule's
/// RequestHeaders as header lines; RequestInterval (milliseconds, 0 to 60,000), MaxConnections
/// (1 to 100) and RetryCount (0 to 10) read from their decimal text, with 0, 5 and 0 for a value
/// that is missing, not a plain decimal number or out of its range; redirects followed; and a
/// body that IsBlockedPage takes for the site refusing access counts as blocked. No Referer.
/// Does not block.
FetchSettings SiteFetchSettings(const CSiteRule& rule);

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

/// The status line for a site that refused access: its rule's SiteName named.
std::u16string BlockedSiteMessage(const CSiteRule& rule);

} // namespace velunor::internal
