#pragma once
// The requests Velunor sends to one site, as the site's rule file describes them: its own
// header lines, its manners (the least time between requests, the most at once, how often a
// failed request is tried again), redirects followed as browsers do, and the test that tells a
// page refusing access from content. The search, the download, the chapter tasks and the
// on-demand fetch all take their settings from here, so every request to a site keeps the same
// manners.

#include "net/fetcher.h"
#include "rules/site_rule.h"

namespace velunor {

/// The settings for fetching pages of the site `rule` describes. A manner the rule leaves out or
/// gives as anything but a decimal number keeps its default: no pause between requests, five
/// at once, no retries; at most ten retries are made whatever the rule says. Any thread.
FetchSettings SiteFetchSettings(const CSiteRule& rule);

/// The status line that tells the user a site refused access.
std::u16string BlockedSiteMessage(const CSiteRule& rule);

} // namespace velunor
