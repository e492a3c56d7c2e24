// Searching one site: the request a search sends (a GET of the search address or a form POST,
// the key encoded as the site's own form would send it, in the search host's charset) and the
// hits read from its answer.

#include "core/core.h"
#include "site/site.h"

namespace velunor {

std::u16string SearchRequest(const CSiteRule& rule, std::u16string_view text,
                             FetchSettings& settings) {
    std::u16string key = EncodeSearchKey(rule, text);
    std::u16string searchUrl = rule.SearchPage.SearchPageUrlFormat;
    ReplaceAll(searchUrl, u"{KEY}", key);
    if (!rule.SearchPage.SearchPostData.empty()) {
        std::u16string body = rule.SearchPage.SearchPostData;
        ReplaceAll(body, u"{KEY}", key);
        settings.PostBody = EncodeInCharset(SearchKeyCharset(rule), body);
    }
    return searchUrl;
}

namespace {

// The hits of a result list `page` that came from `pageUrl`, their information pages completed
// against it. Empty when the lists disagree in length or a limit was hit; `lists` and `problem`
// receive what the extraction found.
std::vector<SearchHit> ListedHits(const CSiteRule& rule, const std::u16string& ruleFile,
                                  const std::u16string& pageUrl, std::u16string_view page,
                                  SearchResultSet& lists, ExtractionProblem& problem) {
    SearchResultSet results;
    int32_t count = ExtractSearchResults(rule.SearchPage, page, results, &problem);
    std::vector<SearchHit> hits;
    for (size_t k = 0; k < static_cast<size_t>(count); ++k) {
        std::u16string link = results.NovelInfoPageUrl[k];
        CompleteUrl(pageUrl, link);
        hits.push_back({rule.SiteName, ruleFile, results.NovelName[k], results.NovelAuthor[k],
                        results.LatestChapter[k], std::move(link)});
    }
    lists = std::move(results);
    return hits;
}

std::vector<SearchHit> NovelPageHit(const CSiteRule& rule, const std::u16string& ruleFile,
                                    const std::u16string& pageUrl, std::u16string_view page) {
    NovelInfo info;
    ExtractNovelInfo(rule.InfoPage, page, info);
    if (info.NovelName.empty()) {
        return {};
    }
    return {
        {rule.SiteName, ruleFile, info.NovelName, info.NovelAuthor, info.LatestChapter, pageUrl}};
}

} // namespace

SiteSearchAnswer SearchSite(const Site& site, std::u16string_view text,
                            const CancelTest& cancelled) {
    SiteSearchAnswer answer;
    const CSiteRule& rule = site.Rule();
    FetchSettings settings = site.RequestSettings(u"", cancelled);
    answer.RequestUrl = SearchRequest(rule, text, settings);
    answer.PostBody = settings.PostBody;
    answer.Page = site.FetchPage(answer.RequestUrl, settings, rule.SearchPage.SearchCharset);
    const SitePage& page = answer.Page;
    if (!page.Ok()) {
        answer.Error = page.Error;
        return answer;
    }
    // Relative links are relative to the page that was answered, after any redirect.
    answer.Hits =
        ListedHits(rule, site.RuleFile(), page.Url, page.Text, answer.Lists, answer.Problem);
    // A site that knows the novel by its exact name may send the search straight to its page.
    if (answer.Hits.empty() && page.RedirectCount > 0) {
        answer.Hits = NovelPageHit(rule, site.RuleFile(), page.Url, page.Text);
    }
    return answer;
}

} // namespace velunor
