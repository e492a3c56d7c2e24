// Searching one site: the request a search sends (a GET of the search address or a form POST,
// the key encoded as the site's own form would send it, in the search host's charset) and the
// hits read from its answer.

#include "core/core.h"
#include "site/site.h"

namespace velunor {

namespace {

// `text` as a JavaScript string literal that means exactly `text`, fit to stand anywhere in a
// script, a script element of a page included.
std::u16string JavaScriptString(std::u16string_view text) {
    static constexpr char16_t kHex[] = u"0123456789abcdef";
    std::u16string literal = u"\"";
    for (char16_t c : text) {
        bool escaped = c < 0x20 || c == u'"' || c == u'\\' || c == u'<' || c == u'>' ||
                       c == u'\u2028' || c == u'\u2029' || (c >= 0xD800 && c <= 0xDFFF);
        if (!escaped) {
            literal += c;
            continue;
        }
        literal += u"\\u";
        for (int shift = 12; shift >= 0; shift -= 4) {
            literal += kHex[(c >> shift) & 0xF];
        }
    }
    literal += u'"';
    return literal;
}

} // namespace

std::u16string SearchScriptFor(const CSiteRule& rule, std::u16string_view text) {
    std::u16string script(TrimSearchText(rule.SearchPage.SearchScript));
    ReplaceAll(script, u"{KEY}", JavaScriptString(TrimSearchText(text)));
    return script;
}

std::u16string SearchRequest(const CSiteRule& rule, std::u16string_view text,
                             FetchSettings& settings) {
    if (!TrimSearchText(rule.SearchPage.SearchScript).empty()) {
        // The page's own script searches: the page is loaded as it is, without the key.
        std::u16string searchPage = rule.SearchPage.SearchPageUrlFormat;
        ReplaceAll(searchPage, u"{KEY}", u"");
        return TrimSearchText(searchPage).empty() ? rule.SiteUrl : searchPage;
    }
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
    std::u16string script = SearchScriptFor(rule, text);
    answer.Page = script.empty() ? site.FetchPage(RulePage::Search, answer.RequestUrl, settings,
                                                  rule.SearchPage.SearchCharset)
                                 : site.RenderPage(answer.RequestUrl, settings, script);
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
