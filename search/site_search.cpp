// The search request of one site and the hits of its answer.

#include "search/site_search.h"

#include "core/core.h"

namespace velunor {

std::u16string SearchRequest(const CSiteRule& rule, std::u16string_view text,
                             FetchSettings& settings) {
    std::u16string key = EncodeSearchKey(rule, text);
    std::u16string searchUrl = rule.SearchPage.SearchPageUrlFormat;
    ReplaceAll(searchUrl, u"{KEY}", key);
    if (!rule.SearchPage.SearchPostData.empty()) {
        std::u16string body = rule.SearchPage.SearchPostData;
        ReplaceAll(body, u"{KEY}", key);
        settings.PostBody = EncodeForSite(rule, body);
    }
    return searchUrl;
}

std::vector<SearchHit> ListedHits(const CSiteRule& rule, const std::u16string& ruleFile,
                                  const std::u16string& pageUrl, std::u16string_view page,
                                  SearchResultSet* lists, ExtractionProblem* problem) {
    SearchResultSet results;
    int32_t count = ExtractSearchResults(rule.SearchPage, page, results, problem);
    std::vector<SearchHit> hits;
    for (size_t k = 0; k < static_cast<size_t>(count); ++k) {
        std::u16string link = results.NovelInfoPageUrl[k];
        CompleteUrl(pageUrl, link);
        hits.push_back({rule.SiteName, ruleFile, results.NovelName[k], results.NovelAuthor[k],
                        results.LatestChapter[k], std::move(link)});
    }
    if (lists != nullptr) {
        *lists = std::move(results);
    }
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

} // namespace velunor
