#pragma once
// The page renderer: a real browser that loads a site's page with its scripts on.
//
// Some sites answer a plain request with a challenge page whose script computes a token or a
// cookie and then reloads, and some build their search with scripts; only a browser gets past
// them. The core has no browser of its own: the program that has one installs a renderer at
// start (the desktop program renders in its own process, velunor-cli through a renderer program
// it starts), and the site layer asks it for the pages of the rules that need one. Without an
// installed renderer such a page fails with a reason that says so.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velunor {

/// The longest a browser load may take unless the rule gives its own BrowserTimeout.
inline constexpr std::chrono::milliseconds kDefaultBrowserTimeout{20000};

/// One page to load in the browser.
struct RenderRequest {
    /// An http or https address.
    std::u16string Url;
    /// Header lines "Name: value" sent with every request of the load to the page's host;
    /// a User-Agent line becomes the browser's User-Agent.
    std::vector<std::string> Headers;
    /// Sent as the first request's Referer; empty: none.
    std::string Referer;
    /// When set, the first request is a form POST of these bytes (already encoded).
    std::optional<std::string> PostBody;
    /// The longest the load may take, scripts and reloads included.
    std::chrono::milliseconds Timeout = kDefaultBrowserTimeout;
    /// JavaScript run once in the loaded page (a search filled in and submitted); the page it
    /// leads to is the answer. Empty: none.
    std::u16string Script;
    /// The cookies the browser starts with, as lines of the Netscape cookie file.
    std::vector<std::string> Cookies;
    /// What tells a challenge page from the page itself, as the rule gives it: the load goes on
    /// while the document is one (see IsBlockedPage).
    std::u16string SiteUrl;
    std::u16string BlockedPagePattern;
};

/// Why a browser load gave no page.
enum class RenderFailure {
    None,
    /// No renderer is installed, or it could not be started or ended unexpectedly.
    Unavailable,
    /// The load did not end, or its document was still a challenge, when its time was up.
    TimedOut,
    /// The caller's cancel test turned true.
    Cancelled,
    /// Not an http or https address.
    BadAddress,
    /// The browser could not load the page (no connection, no such host, ...).
    LoadFailed,
};

/// What a browser load gave.
struct RenderedPage {
    /// The address of the document in the end, after every redirect and reload.
    std::u16string Url;
    /// The document as the page's scripts left it (its outer HTML); empty on failure.
    std::u16string Html;
    /// The first document of the load when it was a challenge page, so that tools can show what
    /// was passed (or, on a time-out, what was not); empty when the first document was the page.
    std::u16string Challenge;
    /// Every cookie the browser holds for the load's sites in the end, as Netscape cookie lines.
    std::vector<std::string> Cookies;
    RenderFailure Failure = RenderFailure::None;
    /// The browser's or the renderer's own words for a failure; empty otherwise.
    std::string Detail;

    bool Ok() const {
        return Failure == RenderFailure::None;
    }
};

/// A browser that loads pages on request.
class PageRenderer {
  public:
    virtual ~PageRenderer() = default;
    /// Loads the page `request` names and waits for it: until it has finished loading and its
    /// document is no challenge page, it failed, its time was up, or `cancelled` (asked at least
    /// every 100 ms when given) turned true, which ends it within half a second. Any thread;
    /// several loads may run at once. Blocks.
    virtual RenderedPage Render(const RenderRequest& request,
                                const std::function<bool()>& cancelled) = 0;
};

/// Makes `renderer` the one the site layer asks from now on (none: an empty pointer). Any
/// thread; loads that already asked the one before go on with it.
void InstallPageRenderer(std::shared_ptr<PageRenderer> renderer);

/// The renderer installed last; empty when none is.
std::shared_ptr<PageRenderer> InstalledPageRenderer();

} // namespace velunor
