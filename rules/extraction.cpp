// The extraction engine: three building blocks (single value, region, list) on byte text.

#include "rules/rules.h"

#include "core/core.h"
#include "html/html.h"
#include "rules/internal/match_budget.h"
#include "rules/internal/pattern_matcher.h"

#include <algorithm>
#include <chrono>
#include <map>

namespace velunor {

using internal::MatchAll;
using internal::MatchBudget;
using internal::MatchFirst;
using internal::MatchGroups;
using internal::MatchProblem;
using internal::RemoveMatches;
using internal::SplitByPattern;

namespace {

// The matching time of a page. A pattern that scans the page once takes a few hundredths of a
// microsecond per byte, so a rule's patterns fit in this many times over on a page of any size;
// only a pattern that backtracks far beyond the page's length runs out of it.
constexpr std::chrono::nanoseconds kPageMatchTime = std::chrono::seconds(1);
constexpr std::chrono::nanoseconds kPageMatchTimePerByte = std::chrono::microseconds(2);

// The list delimiter as a pattern: one "|".
constexpr std::string_view kAlternativeDelimiter = "\\|";

// The budget all the matching for one page draws on.
MatchBudget PageBudget(const std::string& text) {
    auto perByte = kPageMatchTimePerByte * static_cast<std::chrono::nanoseconds::rep>(text.size());
    return MatchBudget(kPageMatchTime + perByte, kMaxValueBytes);
}

ExtractionProblem ProblemOf(const MatchBudget& budget) {
    switch (budget.Problem()) {
    case MatchProblem::None:
        return ExtractionProblem::None;
    case MatchProblem::CaptureTooLarge:
        return ExtractionProblem::ValueTooLarge;
    case MatchProblem::OutOfTime:
        return ExtractionProblem::TooSlow;
    case MatchProblem::TooManyMatches:
        return ExtractionProblem::TooManyEntries;
    }
    return ExtractionProblem::None;
}

// Tells the caller, when it asked, what stopped the page; true when something did.
bool PageFailed(const MatchBudget& budget, ExtractionProblem* problem) {
    if (problem) {
        *problem = ProblemOf(budget);
    }
    return budget.Exhausted();
}

std::vector<std::string> Alternatives(std::u16string_view patterns) {
    std::vector<std::string> alternatives;
    SplitByPattern(WideToAnsi(patterns), kAlternativeDelimiter, alternatives);
    return alternatives;
}

// Group 1 of the first alternative that matches with a group 1; false when none does.
bool FindSingleValue(const std::string& text, std::u16string_view patterns, std::string& value,
                     MatchBudget& budget) {
    MatchGroups groups;
    for (const std::string& alternative : Alternatives(patterns)) {
        if (MatchFirst(text, alternative, groups, &budget) && groups.TookPart(1)) {
            value = groups[1];
            return true;
        }
    }
    return false;
}

std::u16string SingleValue(const std::string& text, std::u16string_view patterns,
                           MatchBudget& budget) {
    std::string value;
    if (!FindSingleValue(text, patterns, value, budget)) {
        return {};
    }
    return AnsiToWide(value);
}

// Narrows `text` to the region the patterns pick out; leaves it whole when none matches.
void NarrowToRegion(std::string& text, std::u16string_view patterns, MatchBudget& budget) {
    std::string region;
    if (FindSingleValue(text, patterns, region, budget)) {
        text = std::move(region);
    }
}

bool AnyGroupOne(const std::map<int, MatchGroups>& matches) {
    for (const auto& [number, groups] : matches) {
        if (groups.TookPart(1)) {
            return true;
        }
    }
    return false;
}

// Appends group 1 of every match of the first alternative that yields one. A match whose group 1
// did not take part still adds an empty entry, so that parallel lists stay aligned. A list
// longer than kMaxListEntries ends the page's budget instead; matching stops one entry past the
// limit, so a pattern such as "()" cannot first make an entry of every byte. An alternative
// without a group 1 in that many matches counts as having none.
// When `starts` is given, it receives where each entry's match starts in `text`.
void AppendList(const std::string& text, std::u16string_view patterns,
                std::vector<std::u16string>& list, MatchBudget& budget,
                std::vector<size_t>* starts = nullptr) {
    constexpr size_t kMaxEntries = static_cast<size_t>(kMaxListEntries);
    std::map<int, MatchGroups> matches;
    for (const std::string& alternative : Alternatives(patterns)) {
        if (!MatchAll(text, alternative, matches, &budget, kMaxEntries + 1) ||
            !AnyGroupOne(matches)) {
            continue;
        }
        if (matches.size() > kMaxEntries) {
            budget.Stop(MatchProblem::TooManyMatches);
            return;
        }
        for (const auto& [number, groups] : matches) {
            list.push_back(groups.TookPart(1) ? AnsiToWide(groups[1]) : std::u16string());
            if (starts) {
                starts->push_back(groups.Start());
            }
        }
        return;
    }
}

// Where each chapter stands in the region: where its name or its link was matched, whichever
// comes first. Both lists run down the page, so the places do too.
std::vector<size_t> ChapterPlaces(const std::vector<size_t>& nameStarts,
                                  const std::vector<size_t>& urlStarts) {
    std::vector<size_t> places(nameStarts.size());
    for (size_t i = 0; i < places.size(); ++i) {
        places[i] = std::min(nameStarts[i], urlStarts[i]);
    }
    return places;
}

// Appends the volume headings of `text`, each before the first chapter that stands after it.
void AppendVolumeHeadings(const std::string& text, std::u16string_view patterns,
                          const std::vector<size_t>& chapterPlaces, VolumeHeadings& volumes,
                          MatchBudget& budget) {
    std::vector<std::u16string> names;
    std::vector<size_t> starts;
    AppendList(text, patterns, names, budget, &starts);
    for (size_t k = 0; k < names.size(); ++k) {
        if (names[k].empty()) {
            continue;
        }
        auto after = std::lower_bound(chapterPlaces.begin(), chapterPlaces.end(), starts[k]);
        volumes.push_back(
            {static_cast<size_t>(after - chapterPlaces.begin()), std::move(names[k])});
    }
}

bool Matches(const std::string& bytes, std::string_view pattern) {
    MatchGroups groups;
    return MatchFirst(bytes, pattern, groups) && !groups.empty();
}

// The page's own title says it is a browser check.
bool IsBrowserCheck(const std::string& bytes) {
    return Matches(bytes, "(?i)<title>\\s*Just a moment\\.\\.\\.");
}

// A script that moves the browser on, sets the cookie the next request must carry, or submits
// a form by itself: what a challenge does, however many other scripts the page holds.
bool RunsChallengeScript(const std::string& bytes) {
    return Matches(bytes, "(?i)<script\\b[^>]*>(?:(?!</script).)*?"
                          "(?:\\blocation(?:\\.href)?\\s*=(?!=)"
                          "|\\blocation\\.(?:replace|assign|reload)\\s*\\("
                          "|\\bdocument\\.cookie\\s*=(?!=)"
                          "|\\.submit\\s*\\(\\s*\\))");
}

// A <meta> refresh that asks the same site again with a token in the query: the address is
// relative or on the rule's own site, and has a query part. A refresh to another page without
// one is a moved page, not a challenge.
bool RefreshesWithToken(const std::string& bytes, const CSiteRule& rule) {
    MatchGroups groups;
    if (!MatchFirst(bytes,
                    "(?i)<meta\\b(?=[^>]*http-equiv\\s*=\\s*[\"']?refresh)[^>]*?"
                    "\\bcontent\\s*=\\s*[\"'][^\"'>]*?url\\s*=\\s*'?([^\"'>\\s]*)",
                    groups) ||
        !groups.TookPart(1)) {
        return false;
    }
    const std::string& target = groups[1];
    size_t query = target.find('?');
    if (query == std::string::npos || query + 1 == target.size()) {
        return false;
    }
    std::u16string address = AnsiToWide(target);
    std::u16string_view origin = AddressOrigin(address);
    bool relative = origin.empty() && target.rfind("//", 0) != 0;
    return relative || (!origin.empty() && origin == AddressOrigin(rule.SiteUrl));
}

// The most visible characters (white space not counted) a challenge may show, such as
// "请稍候..." or "Checking your browser"; a chapter, however short, shows more.
constexpr size_t kChallengeTextLength = 48;

bool ShowsLittleText(std::u16string_view page) {
    std::u16string text = html::VisibleText(page);
    size_t shown = std::count_if(text.begin(), text.end(), [](char16_t c) {
        return c != u' ' && c != u'\n' && c != u'\u00a0' && c != u'\u3000';
    });
    return shown <= kChallengeTextLength;
}

// A page that shows next to nothing and passes the reader's browser on by itself: a challenge
// the browser answers without the reader noticing.
bool IsSilentChallenge(const CSiteRule& rule, const std::string& bytes, std::u16string_view page) {
    return (RunsChallengeScript(bytes) || RefreshesWithToken(bytes, rule)) && ShowsLittleText(page);
}

bool MatchesAnyEntry(const std::string& bytes, std::u16string_view patterns) {
    for (const std::string& alternative : Alternatives(patterns)) {
        if (!alternative.empty() && Matches(bytes, alternative)) {
            return true;
        }
    }
    return false;
}

bool SameSize(size_t first, std::initializer_list<size_t> others) {
    for (size_t size : others) {
        if (size != first) {
            return false;
        }
    }
    return true;
}

} // namespace

size_t VolumeEnd(const VolumeHeadings& volumes, size_t k, size_t count) {
    return k + 1 < volumes.size() ? volumes[k + 1].Before : count;
}

void ForEachContentsEntry(const VolumeHeadings& volumes, size_t count,
                          const std::function<void(size_t)>& heading,
                          const std::function<void(size_t)>& chapter) {
    size_t k = 0;
    for (size_t i = 0; i <= count; ++i) {
        for (; k < volumes.size() && volumes[k].Before <= i; ++k) {
            heading(k);
        }
        if (i < count) {
            chapter(i);
        }
    }
}

int32_t ExtractSearchResults(const SearchPageRule& rule, std::u16string_view page,
                             SearchResultSet& results, ExtractionProblem* problem) {
    results.count = 0;
    std::string text = WideToAnsi(page);
    MatchBudget budget = PageBudget(text);
    NarrowToRegion(text, rule.SearcResultRegional, budget);
    AppendList(text, rule.NovelName, results.NovelName, budget);
    AppendList(text, rule.NovelAuthor, results.NovelAuthor, budget);
    AppendList(text, rule.LatestChapter, results.LatestChapter, budget);
    AppendList(text, rule.NovelInfoPageUrl, results.NovelInfoPageUrl, budget);
    if (PageFailed(budget, problem)) {
        results = SearchResultSet();
        return 0;
    }
    size_t names = results.NovelName.size();
    if (SameSize(names, {results.NovelAuthor.size(), results.LatestChapter.size(),
                         results.NovelInfoPageUrl.size()})) {
        results.count = static_cast<int32_t>(names);
    }
    return results.count;
}

void ExtractNovelInfo(const InfoPageRule& rule, std::u16string_view page, NovelInfo& info,
                      ExtractionProblem* problem) {
    std::string text = WideToAnsi(page);
    MatchBudget budget = PageBudget(text);
    info.NovelSort = SingleValue(text, rule.NovelSort, budget);
    info.NovelName = SingleValue(text, rule.NovelName, budget);
    info.NovelAuthor = SingleValue(text, rule.NovelAuthor, budget);
    info.NovelState = SingleValue(text, rule.NovelState, budget);
    info.NovelIntro = SingleValue(text, rule.NovelIntro, budget);
    info.LatestChapter = SingleValue(text, rule.LatestChapter, budget);
    info.ContentsUrl = SingleValue(text, rule.ContentsUrl, budget);
    if (PageFailed(budget, problem)) {
        info = NovelInfo();
    }
}

int32_t ExtractChapterList(const ContentsPageRule& rule, std::u16string_view page,
                           ChapterList& chapters, ExtractionProblem* problem) {
    chapters.count = 0;
    std::string text = WideToAnsi(page);
    MatchBudget budget = PageBudget(text);
    NarrowToRegion(text, rule.ContentsRegional, budget);
    std::vector<size_t> nameStarts;
    std::vector<size_t> urlStarts;
    AppendList(text, rule.ChapterName, chapters.ChapterName, budget, &nameStarts);
    AppendList(text, rule.ChapterUrl, chapters.ChapterUrl, budget, &urlStarts);
    bool aligned = chapters.ChapterName.size() == chapters.ChapterUrl.size();
    if (aligned && !chapters.ChapterName.empty()) {
        AppendVolumeHeadings(text, rule.VolumeName, ChapterPlaces(nameStarts, urlStarts),
                             chapters.Volumes, budget);
    }
    if (PageFailed(budget, problem)) {
        chapters = ChapterList();
        return 0;
    }
    if (aligned) {
        chapters.count = static_cast<int32_t>(chapters.ChapterName.size());
    }
    return chapters.count;
}

std::u16string ExtractField(std::u16string_view patterns, std::u16string_view text,
                            ExtractionProblem* problem) {
    std::string bytes = WideToAnsi(text);
    MatchBudget budget = PageBudget(bytes);
    std::u16string value = SingleValue(bytes, patterns, budget);
    if (PageFailed(budget, problem)) {
        return {};
    }
    return value;
}

std::u16string ApplyReplaceRule(std::u16string_view rule, std::u16string_view text,
                                ExtractionProblem* problem) {
    std::string bytes = WideToAnsi(text);
    MatchBudget budget = PageBudget(bytes);
    for (const std::string& piece : Alternatives(rule)) {
        bytes = RemoveMatches(bytes, piece, &budget);
    }
    if (PageFailed(budget, problem)) {
        return std::u16string(text);
    }
    return AnsiToWide(bytes);
}

bool IsBlockedPage(const CSiteRule& rule, std::u16string_view page) {
    std::string bytes = WideToAnsi(page);
    return MatchesAnyEntry(bytes, rule.BlockedPagePattern) || IsBrowserCheck(bytes) ||
           IsSilentChallenge(rule, bytes, page);
}

} // namespace velunor
