// The extraction engine: three building blocks (single value, region, list) on byte text.

#include "rules/rules.h"

#include "core/core.h"
#include "rules/internal/pattern_matcher.h"

#include <map>

namespace velunor {

using internal::MatchAll;
using internal::MatchFirst;
using internal::MatchGroups;
using internal::RemoveMatches;
using internal::SplitByPattern;

namespace {

// The list delimiter as a pattern: one "|".
constexpr std::string_view kAlternativeDelimiter = "\\|";

// Lower-case img tags and their source; the lazy ".*?" may run past a tag to the next "src=".
constexpr std::string_view kImageSourcePattern =
    "<img.*?src=[\\'\\\"]?([^\\'\\\"]*)[\\'\\\"]?.*?(?:>|\\/>)";

std::vector<std::string> Alternatives(std::u16string_view patterns) {
    std::vector<std::string> alternatives;
    SplitByPattern(WideToAnsi(patterns), kAlternativeDelimiter, alternatives);
    return alternatives;
}

// Group 1 of the first alternative that matches with a group 1; false when none does.
bool FindSingleValue(const std::string& text, std::u16string_view patterns, std::string& value) {
    MatchGroups groups;
    for (const std::string& alternative : Alternatives(patterns)) {
        if (MatchFirst(text, alternative, groups) && groups.TookPart(1)) {
            value = groups[1];
            return true;
        }
    }
    return false;
}

std::u16string SingleValue(const std::string& text, std::u16string_view patterns) {
    std::string value;
    if (!FindSingleValue(text, patterns, value)) {
        return {};
    }
    return AnsiToWide(value);
}

// Narrows `text` to the region the patterns pick out; leaves it whole when none matches.
void NarrowToRegion(std::string& text, std::u16string_view patterns) {
    std::string region;
    if (FindSingleValue(text, patterns, region)) {
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
// did not take part still adds an empty entry, so that parallel lists stay aligned.
void AppendList(const std::string& text, std::u16string_view patterns,
                std::vector<std::u16string>& list) {
    std::map<int, MatchGroups> matches;
    for (const std::string& alternative : Alternatives(patterns)) {
        if (!MatchAll(text, alternative, matches) || !AnyGroupOne(matches)) {
            continue;
        }
        for (const auto& [number, groups] : matches) {
            list.push_back(groups.TookPart(1) ? AnsiToWide(groups[1]) : std::u16string());
        }
        return;
    }
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

int32_t ExtractSearchResults(const SearchPageRule& rule, std::u16string_view page,
                             SearchResultSet& results) {
    results.count = 0;
    std::string text = WideToAnsi(page);
    NarrowToRegion(text, rule.SearcResultRegional);
    AppendList(text, rule.NovelName, results.NovelName);
    AppendList(text, rule.NovelAuthor, results.NovelAuthor);
    AppendList(text, rule.LatestChapter, results.LatestChapter);
    AppendList(text, rule.NovelInfoPageUrl, results.NovelInfoPageUrl);
    size_t names = results.NovelName.size();
    if (SameSize(names, {results.NovelAuthor.size(), results.LatestChapter.size(),
                         results.NovelInfoPageUrl.size()})) {
        results.count = static_cast<int32_t>(names);
    }
    return results.count;
}

void ExtractNovelInfo(const InfoPageRule& rule, std::u16string_view page, NovelInfo& info) {
    std::string text = WideToAnsi(page);
    info.NovelSort = SingleValue(text, rule.NovelSort);
    info.NovelName = SingleValue(text, rule.NovelName);
    info.NovelAuthor = SingleValue(text, rule.NovelAuthor);
    info.NovelState = SingleValue(text, rule.NovelState);
    info.NovelIntro = SingleValue(text, rule.NovelIntro);
    info.LatestChapter = SingleValue(text, rule.LatestChapter);
    info.ContentsUrl = SingleValue(text, rule.ContentsUrl);
}

int32_t ExtractChapterList(const ContentsPageRule& rule, std::u16string_view page,
                           ChapterList& chapters) {
    chapters.count = 0;
    std::string text = WideToAnsi(page);
    NarrowToRegion(text, rule.ContentsRegional);
    AppendList(text, rule.ChapterName, chapters.ChapterName);
    AppendList(text, rule.ChapterUrl, chapters.ChapterUrl);
    if (chapters.ChapterName.size() == chapters.ChapterUrl.size()) {
        chapters.count = static_cast<int32_t>(chapters.ChapterName.size());
    }
    return chapters.count;
}

std::u16string ExtractField(std::u16string_view patterns, std::u16string_view text) {
    return SingleValue(WideToAnsi(text), patterns);
}

std::u16string ApplyReplaceRule(std::u16string_view rule, std::u16string_view text) {
    std::string bytes = WideToAnsi(text);
    for (const std::string& piece : Alternatives(rule)) {
        bytes = RemoveMatches(bytes, piece);
    }
    return AnsiToWide(bytes);
}

int32_t ExtractImageSources(std::u16string_view text, std::vector<std::u16string>& sources) {
    std::map<int, MatchGroups> matches;
    if (!MatchAll(WideToAnsi(text), kImageSourcePattern, matches)) {
        return 0;
    }
    for (const auto& [number, groups] : matches) {
        sources.push_back(groups.TookPart(1) ? AnsiToWide(groups[1]) : std::u16string());
    }
    return static_cast<int32_t>(matches.size());
}

} // namespace velunor
