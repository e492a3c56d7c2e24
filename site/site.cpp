// A site: its rule, its request settings, and pages fetched and decoded with them.

#include "site/site.h"

#include "core/core.h"
#include "net/cookie_jar.h"
#include "site/page_renderer.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

#include <strings.h>

namespace velunor {
namespace {

// A rule asking for more retries than this would keep a failing chapter busy for an hour.
constexpr int kMostRetries = 10;
// A site may be slow, but a request that waits longer than ten minutes for a byte waits for
// nothing.
constexpr int kLongestTimeout = 600;

// An image may be larger and slower than a page, but not without end: a site must neither fill
// the disk nor hold a chapter task for hours.
constexpr std::uint64_t kImageSizeLimit = 20u * 1024u * 1024u;
constexpr std::chrono::minutes kImageTimeLimit{10};

// A plain request that the browser may get past: a refusal page, or an answer that sites give
// their challenge pages (401, 403, 429, 503).
bool MayBeChallenge(const SiteError& error) {
    if (error.Kind == SiteErrorKind::Refused) {
        return true;
    }
    const std::int32_t status = error.HttpStatus;
    return error.Kind == SiteErrorKind::HttpStatus &&
           (status == 401 || status == 403 || status == 429 || status == 503);
}

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

// The image files being stored right now, by full path. Images are named after their chapter
// page, but two stores of one chapter (two jobs of the same novel, or a job and an on-demand
// fetch) may still aim at the same file; as FetchToFile appends, each store must have the file
// to itself.
class ImageFileClaims {
  public:
    void Claim(const std::u16string& path) {
        std::unique_lock lock(mutex_);
        released_.wait(lock, [&] { return paths_.count(path) == 0; });
        paths_.insert(path);
    }

    void Release(const std::u16string& path) {
        {
            std::lock_guard lock(mutex_);
            paths_.erase(path);
        }
        released_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    std::set<std::u16string> paths_;
};

ImageFileClaims& ProcessImageClaims() {
    static ImageFileClaims claims;
    return claims;
}

bool HasBytes(const std::string& file) {
    std::error_code error;
    std::uintmax_t size = std::filesystem::file_size(file, error);
    return !error && size > 0;
}

} // namespace

FetchSettings SiteFetchSettings(const CSiteRule& rule) {
    FetchSettings settings;
    settings.Headers = RequestHeaderLines(rule.RequestHeaders);
    settings.FollowRedirects = true;
    settings.RequestInterval = std::chrono::milliseconds(RuleNumber(rule.RequestInterval, 0));
    settings.MaxConnections = RuleNumber(rule.MaxConnections, 5);
    settings.RetryCount = std::min(RuleNumber(rule.RetryCount, 0), kMostRetries);
    // A site that sends a page without end must fail that page, not fill the memory.
    settings.BodyLimit = kPageFileLimit;
    int timeout = RuleNumber(rule.RequestTimeout, 0);
    if (timeout > 0) {
        settings.StallTimeout = std::chrono::seconds(std::min(timeout, kLongestTimeout));
    }
    settings.Cookies = SiteCookieJar(rule.SiteName);
    settings.IsBlocked = [rule](std::string_view body) {
        return IsBlockedPage(rule, DecodeSitePage(rule, body));
    };
    return settings;
}

Site::Site(CSiteRule rule, std::u16string ruleFile)
    : rule_(std::move(rule)), ruleFile_(std::move(ruleFile)), settings_(SiteFetchSettings(rule_)) {}

std::shared_ptr<const Site> Site::FromRuleFile(const std::u16string& path) {
    return std::make_shared<const Site>(LoadSiteRule(path), path);
}

std::shared_ptr<const Site> Site::WithoutRule(std::u16string siteName,
                                              std::u16string_view address) {
    CSiteRule rule;
    rule.SiteName = std::move(siteName);
    rule.SiteUrl = std::u16string(AddressOrigin(address)) + u"/";
    rule.RequestInterval = DecimalText(kFinderInterval);
    rule.MaxConnections = u"2";
    rule.RetryCount = u"2";
    auto site = std::make_shared<Site>(std::move(rule));
    site->usesFinder_ = true;
    return site;
}

FetchSettings Site::RequestSettings(std::u16string_view referer,
                                    const CancelTest& cancelled) const {
    FetchSettings settings = settings_;
    // Addresses travel as the fetcher sends them: in the ANSI code page.
    settings.Referer = WideToAnsi(referer);
    settings.Cancelled = cancelled;
    return settings;
}

SitePage Site::FetchPage(RulePage kind, std::u16string_view url, std::u16string_view referer,
                         const CancelTest& cancelled) const {
    return FetchPage(kind, url, RequestSettings(referer, cancelled));
}

SitePage Site::FetchPage(RulePage kind, std::u16string_view url, const FetchSettings& settings,
                         std::u16string_view searchCharset) const {
    BrowserUse use = PageBrowserUse(rule_, kind);
    if (use == BrowserUse::Always) {
        return RenderPage(url, settings);
    }
    SitePage page = FetchPlainPage(url, settings, searchCharset);
    if (use == BrowserUse::WhenChallenged && MayBeChallenge(page.Error)) {
        SitePage rendered = RenderPage(url, settings);
        if (rendered.Challenge.empty()) {
            rendered.Challenge = page.Challenge;
        }
        return rendered;
    }
    return page;
}

SitePage Site::FetchPlainPage(std::u16string_view url, const FetchSettings& settings,
                              std::u16string_view searchCharset) const {
    SitePage page;
    FetchResult result;
    // The refusal is kept as it came, for the tools to show what a plain request meets.
    FetchSettings plain = settings;
    plain.IsBlocked = [&](std::string_view body) {
        bool blocked = settings.IsBlocked && settings.IsBlocked(body);
        if (blocked) {
            page.Challenge = DecodeSitePage(rule_, body);
        }
        return blocked;
    };
    std::string bytes = FetchBytes(result, url, plain);
    page.Url = result.EffectiveUrl.empty() ? std::u16string(url) : result.EffectiveUrl;
    page.RedirectCount = result.RedirectCount;
    page.Error = FetchError(result, url);
    // A search host's charset says nothing of the site's own pages a search may be sent on to.
    if (!EqualsIgnoringAsciiCase(AddressOrigin(page.Url), AddressOrigin(url))) {
        searchCharset = {};
    }
    page.Charset = FindPageCharset(bytes, result.ContentType, rule_.Charset, searchCharset);
    if (page.Ok()) {
        page.Text = DecodeSitePage(page.Charset, bytes);
    }
    return page;
}

// Replaces the file at `path` by the body of `url`: an image downloaded again must not be
// appended to the copy from the first download. Only a 2xx answer with a body is an image; an
// error page, a refusal, an empty answer or a transfer that broke off or grew too large leaves
// no file behind, so that the name never holds anything but a whole image.
SiteError Site::FetchImage(const std::u16string& url, std::u16string_view pageUrl,
                           const std::u16string& path) const {
    FetchSettings settings = RequestSettings(pageUrl);
    settings.TotalTimeout = kImageTimeLimit;
    settings.BodyLimit = kImageSizeLimit;
    ImageFileClaims& claims = ProcessImageClaims();
    claims.Claim(path);
    std::string file = NativePath(path);
    std::remove(file.c_str());
    FetchResult result;
    bool completed = FetchToFile(result, url, path, settings);
    SiteError error = FetchError(result, url);
    if (completed && result.StatusCode >= 200 && result.StatusCode < 300) {
        // Any 2xx answer is an image, but only one with a body.
        error = HasBytes(file) ? SiteError{} : MakeSiteError(SiteErrorKind::NoMatch, url);
    }
    if (error.Failed()) {
        std::remove(file.c_str());
    }
    claims.Release(path);
    return error;
}

namespace {

// The header lines the browser sends: the rule's, and the fetcher's User-Agent when the rule
// names none, so that the site meets the same visitor either way.
std::vector<std::string> BrowserHeaders(const FetchSettings& settings) {
    std::vector<std::string> headers = settings.Headers;
    bool namesUserAgent = std::any_of(headers.begin(), headers.end(), [](const std::string& line) {
        return line.size() > 11 && strncasecmp(line.c_str(), "User-Agent:", 11) == 0;
    });
    if (!namesUserAgent) {
        headers.emplace_back(DefaultUserAgentLine());
    }
    return headers;
}

SiteError BrowserError(const RenderedPage& rendered, std::u16string_view url) {
    SiteError error;
    error.Url = url;
    error.CurlText = rendered.Detail;
    switch (rendered.Failure) {
    case RenderFailure::None:
        break;
    case RenderFailure::Unavailable:
        error.Kind = SiteErrorKind::NoBrowser;
        break;
    case RenderFailure::TimedOut:
        // A page that was still a challenge when its time was up is the site refusing access.
        error.Kind = rendered.Challenge.empty() ? SiteErrorKind::TimedOut : SiteErrorKind::Refused;
        break;
    case RenderFailure::Cancelled:
        error.Kind = SiteErrorKind::Cancelled;
        break;
    case RenderFailure::BadAddress:
        error.Kind = SiteErrorKind::BadAddress;
        break;
    case RenderFailure::LoadFailed:
        error.Kind = SiteErrorKind::CouldNotConnect;
        break;
    }
    return error;
}

bool WorthRenderingAgain(RenderFailure failure) {
    return failure == RenderFailure::TimedOut || failure == RenderFailure::LoadFailed;
}

} // namespace

SitePage Site::RenderPage(std::u16string_view url, const FetchSettings& settings,
                          std::u16string_view script) const {
    SitePage page;
    page.Url = url;
    page.ThroughBrowser = true;
    std::shared_ptr<PageRenderer> renderer = InstalledPageRenderer();
    if (!renderer) {
        RenderedPage none;
        none.Failure = RenderFailure::Unavailable;
        none.Detail = "本程序没有可用的浏览器";
        page.Error = BrowserError(none, url);
        return page;
    }
    RenderRequest request;
    request.Url = url;
    request.Headers = BrowserHeaders(settings);
    request.Referer = settings.Referer;
    request.PostBody = settings.PostBody;
    request.Script = script;
    request.SiteUrl = rule_.SiteUrl;
    request.BlockedPagePattern = rule_.BlockedPagePattern;
    int timeout = RuleNumber(rule_.BrowserTimeout, 0);
    if (timeout > 0) {
        request.Timeout = std::chrono::seconds(std::min(timeout, kLongestTimeout));
    }
    for (int attempt = 0;; ++attempt) {
        if (attempt > 0 && !WaitBeforeRetry(settings, attempt)) {
            page.Error = MakeSiteError(SiteErrorKind::Cancelled, url);
            return page;
        }
        // Each try starts with the cookies the site holds now: a try before may have set some.
        request.Cookies =
            settings.Cookies ? settings.Cookies->CookieLines() : std::vector<std::string>{};
        RenderedPage rendered;
        {
            CSiteTurn turn = WaitForSiteTurn(url, settings);
            if (!turn) {
                page.Error = MakeSiteError(SiteErrorKind::Cancelled, url);
                return page;
            }
            rendered = renderer->Render(request, settings.Cancelled);
        }
        if (settings.Cookies && !rendered.Cookies.empty()) {
            settings.Cookies->TakeCookieLines(rendered.Cookies);
        }
        SiteError error = BrowserError(rendered, url);
        if (!rendered.Challenge.empty()) {
            page.Challenge = std::move(rendered.Challenge);
        }
        if (rendered.Ok()) {
            page.Url = rendered.Url.empty() ? std::u16string(url) : rendered.Url;
            page.Text = std::move(rendered.Html);
            // What the browser's document holds goes where a decoded page goes: the same
            // characters are left out.
            std::erase_if(page.Text, [](char16_t c) { return !IsXmlChar(c); });
            page.Error = {};
            return page;
        }
        page.Error = std::move(error);
        if (!WorthRenderingAgain(rendered.Failure) || attempt >= settings.RetryCount) {
            return page;
        }
    }
}

std::u16string Site::BlockedMessage() const {
    std::u16string message =
        u"目标站 <" + rule_.SiteName + u"> 拒绝了访问（访问过快或需要验证），请稍后再试。";
    if (usesFinder_) {
        // The finder reads pages as they arrive and never runs their scripts: a site that
        // checks for a browser can only be read through a rule that asks for one.
        message += u"该站没有规则文件，自动识别不运行网页脚本；若该站需要浏览器验证，"
                   u"请为它编写规则文件并设置 UseBrowser。";
    }
    return message;
}

} // namespace velunor
