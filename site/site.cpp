// A site: its rule, its request settings, and pages fetched and decoded with them.

#include "site/site.h"

#include "core/core.h"
#include "net/cookie_jar.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

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

// The scheme and host of an address: "http://127.0.0.1:8808" of "http://127.0.0.1:8808/a/".
std::u16string_view AddressOrigin(std::u16string_view url) {
    size_t scheme = url.find(u"://");
    if (scheme == std::u16string_view::npos) {
        return url;
    }
    return url.substr(0, url.find_first_of(u"/?#", scheme + 3));
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

FetchSettings Site::RequestSettings(std::u16string_view referer,
                                    const CancelTest& cancelled) const {
    FetchSettings settings = settings_;
    // Addresses travel as the fetcher sends them: in the ANSI code page.
    settings.Referer = WideToAnsi(referer);
    settings.Cancelled = cancelled;
    return settings;
}

SitePage Site::FetchPage(std::u16string_view url, std::u16string_view referer,
                         const CancelTest& cancelled) const {
    return FetchPage(url, RequestSettings(referer, cancelled));
}

SitePage Site::FetchPage(std::u16string_view url, const FetchSettings& settings,
                         std::u16string_view searchCharset) const {
    SitePage page;
    FetchResult result;
    std::string bytes = FetchBytes(result, url, settings);
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

std::u16string Site::BlockedMessage() const {
    return u"目标站 <" + rule_.SiteName + u"> 拒绝了访问（访问过快或需要验证），请稍后再试。";
}

} // namespace velunor
