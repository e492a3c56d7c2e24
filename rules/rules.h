#pragma once
// Site rules and extraction: the collection-rule record, the loader that reads rule files, and
// the engine that applies a rule's patterns to the text of a fetched page.
//
// Pattern lists are split at every "|" and their alternatives tried in order; the first one
// that matches with a capture group 1 gives the value. All matching runs on the page converted
// to the ANSI code page, and values come back exactly as captured: not trimmed, not decoded, and
// links not made absolute. Nothing here reports an error or keeps state, and only the loader
// touches the disk; every function may be called from any thread.

#include "rules/site_rule.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velunor {

/// The hits of a search result page; entry i of each list belongs to hit i.
struct SearchResultSet {
    int32_t count = 0;
    std::vector<std::u16string> NovelInfoPageUrl;
    std::vector<std::u16string> NovelName;
    std::vector<std::u16string> NovelAuthor;
    std::vector<std::u16string> LatestChapter;
};

/// The chapters of a contents page; entry i of each list belongs to chapter i.
struct ChapterList {
    int32_t count = 0;
    std::vector<std::u16string> ChapterName;
    std::vector<std::u16string> ChapterUrl;
};

/// Reads the rule file at `path`. Never fails: whatever cannot be read (a missing file, a root
/// that is not "Channel", a missing element) stays empty.
CSiteRule LoadSiteRule(std::u16string_view path);

/// Full paths of the rule files ("*.xml" in any letter case) in `programFolder` (ending in "/")
/// + "Rule/", sorted by file name; sub-folders are skipped, a link counts as what it points to.
/// Empty when the folder is missing or `programFolder` is empty.
std::vector<std::u16string> EnumerateRuleFiles(const std::u16string& programFolder);

/// Fills `results` (supplied empty) with the hits inside the result region of `page`. Returns
/// the hit count: 0 when nothing was found or the four lists differ in length (the lists then
/// keep what they found).
int32_t ExtractSearchResults(const SearchPageRule& rule, std::u16string_view page,
                             SearchResultSet& results);

/// Fills `info` (supplied empty) with the single value of each field's patterns on the whole
/// page; a field whose patterns find nothing stays empty.
void ExtractNovelInfo(const InfoPageRule& rule, std::u16string_view page, NovelInfo& info);

/// Fills `chapters` (supplied empty) from the chapter region of `page`. Returns the chapter
/// count: 0 when nothing was found or names and links differ in number.
int32_t ExtractChapterList(const ContentsPageRule& rule, std::u16string_view page,
                           ChapterList& chapters);

/// The single value of `patterns` on `text`; empty when no alternative matched.
std::u16string ExtractField(std::u16string_view patterns, std::u16string_view text);

/// `text` with every match of every pattern of `rule` deleted, pattern by pattern in order.
std::u16string ApplyReplaceRule(std::u16string_view rule, std::u16string_view text);

/// Appends the source of every lower-case img tag in `text` to `sources`; returns how many.
int32_t ExtractImageSources(std::u16string_view text, std::vector<std::u16string>& sources);

} // namespace velunor
