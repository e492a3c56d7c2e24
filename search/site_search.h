#pragma once
// Asking one site for a novel: the request a search sends (a GET of the search address or a form
// POST, the key encoded as the site's own form would send it) and the hits read from its answer
// (a result list, or the novel's own page when the site redirected the search to it). The search
// job and the rule authors' live check both use these, so they ask and read a site alike.

#include "net/fetcher.h"
#include "results/search_result_file.h"
#include "rules/rules.h"

#include <string>
#include <string_view>
#include <vector>

namespace velunor {

/// The search address for `text` on the site of `rule`; for a form search also sets
/// `settings.PostBody`. Does not block.
std::u16string SearchRequest(const CSiteRule& rule, std::u16string_view text,
                             FetchSettings& settings);

/// The hits of a result list `page` (decoded) that came from `pageUrl`, their information pages
/// completed against it; `ruleFile` is stored with each. Empty when the lists disagree in length
/// or a limit was hit. `lists` and `problem` (optional) receive what the extraction found.
std::vector<SearchHit> ListedHits(const CSiteRule& rule, const std::u16string& ruleFile,
                                  const std::u16string& pageUrl, std::u16string_view page,
                                  SearchResultSet* lists = nullptr,
                                  ExtractionProblem* problem = nullptr);

/// The one hit of a novel's own `page` (decoded) at `pageUrl`, read with the information page's
/// patterns; empty when they find no name.
std::vector<SearchHit> NovelPageHit(const CSiteRule& rule, const std::u16string& ruleFile,
                                    const std::u16string& pageUrl, std::u16string_view page);

} // namespace velunor
