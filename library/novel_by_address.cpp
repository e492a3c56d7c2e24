// Downloading a novel by the address of one of its pages: with the rule of its site when Rule/
// holds one, else with the page finder.

#include "core/core.h"
#include "finder/finder.h"
#include "html/html.h"
#include "library/novel_download_job.h"
#include "net/cookie_jar.h"
#include "port/status_source.h"
#include "rules/rules.h"

#include <thread>

namespace velunor {
namespace {

// The host and port of an address, in lower case and without a leading "www.", so that
// "https://www.Example.com/" and "http://example.com/book/1" name one site.
std::u16string SiteHost(std::u16string_view url) {
    std::u16string_view origin = AddressOrigin(url);
    size_t slashes = origin.find(u"//");
    if (slashes == std::u16string_view::npos) {
        return {};
    }
    std::u16string host = AsciiLowered(origin.substr(slashes + 2));
    return host.starts_with(u"www.") ? host.substr(4) : host;
}

// The path of an address after its host, "/" when it has none.
std::u16string_view AddressPath(std::u16string_view url) {
    std::u16string_view rest = url.substr(AddressOrigin(url).size());
    return rest.empty() ? std::u16string_view(u"/") : rest;
}

// The rule file in Rule/ whose site holds `url`: its SiteUrl on the same host, and the address's
// path within the SiteUrl's (the longest such, for sites that share a host under different
// folders). Empty when none does.
std::u16string RuleFileForAddress(const std::u16string& programFolder, std::u16string_view url) {
    std::u16string host = SiteHost(url);
    std::u16string best;
    size_t bestLength = 0;
    for (const std::u16string& path : EnumerateRuleFiles(programFolder)) {
        CSiteRule rule = LoadSiteRule(path);
        std::u16string_view siteUrl = TrimSearchText(rule.SiteUrl);
        std::u16string_view sitePath = AddressPath(siteUrl);
        if (rule.ChapterContent.empty() || SiteHost(siteUrl) != host ||
            !AddressPath(url).starts_with(sitePath) || sitePath.size() < bestLength) {
            continue;
        }
        if (best.empty() || sitePath.size() > bestLength) {
            best = path;
            bestLength = sitePath.size();
        }
    }
    return best;
}

// The novel's name and author as the finder reads them on its page, the title standing in for
// a name it cannot find, so that the job can name the novel's folder whatever the rule reads.
void NameFromPage(const SitePage& page, SearchHit& hit) {
    finder::FoundNovelInfo found = finder::FindNovelInfo(page.Text, page.Url);
    hit.NovelName = found.Name.empty() ? html::PageTitle(page.Text) : found.Name;
    hit.NovelAuthor = found.Author;
}

} // namespace

bool IsPageAddress(std::u16string_view text) {
    std::u16string address = AsciiLowered(TrimSearchText(text));
    return (address.starts_with(u"http://") || address.starts_with(u"https://")) &&
           address.find_first_of(u" \t") == std::u16string::npos;
}

NovelJobOutcome DownloadNovelAtAddress(WindowPort& window, const std::u16string& programFolder,
                                       const std::u16string& url) {
    std::u16string address(TrimSearchText(url));
    if (!IsPageAddress(address) || SiteHost(address).empty()) {
        window.SetStatusText(std::u16string(kNotAnAddressMessage));
        window.SetViewMode(ViewMode::SearchResults);
        return {};
    }
    SearchHit hit;
    hit.InfoPageUrl = address;
    hit.RuleFile = RuleFileForAddress(programFolder, address);
    // The site's own rule reads the page as a search hit's; the page is read once first only to
    // name the site and the novel when no rule does.
    std::shared_ptr<const Site> site = hit.RuleFile.empty()
                                           ? Site::WithoutRule(SiteHost(address), address)
                                           : Site::FromRuleFile(hit.RuleFile);
    window.SetStatusText(u"正在读取网页 " + address + u" ……");
    SitePage page = site->FetchPage(RulePage::Info, address, u"");
    if (!page.Ok()) {
        window.SetStatusText(page.Error.Kind == SiteErrorKind::Refused
                                 ? site->BlockedMessage()
                                 : u"无法打开网页，下载中止！原因：" + ReaderReason(page.Error) +
                                       u"。");
        window.SetViewMode(ViewMode::SearchResults);
        NovelJobOutcome outcome;
        outcome.Error = page.Error;
        return outcome;
    }
    NameFromPage(page, hit);
    if (hit.RuleFile.empty()) {
        hit.TargetSite = finder::FindSiteName(page.Text, page.Url);
        site = Site::WithoutRule(hit.TargetSite, address);
    } else {
        hit.TargetSite = site->Rule().SiteName;
    }
    return DownloadNovelFromSite(window, programFolder, hit, std::move(site));
}

void StartAddressDownload(WindowPort& window, const std::u16string& programFolder,
                          const std::u16string& url) {
    window.ShowWaitPage();
    window.SetViewMode(ViewMode::Reading);
    std::thread([&window, programFolder, url] {
        CStatusSourceScope source;
        DownloadNovelAtAddress(window, programFolder, url);
        // A cookie a site set in the last seconds of the job goes to its file now.
        SaveCookieJars();
    }).detach();
}

} // namespace velunor
