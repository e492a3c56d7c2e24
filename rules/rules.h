#pragma once
// Site rules and extraction: the collection-rule record, the loader that reads rule files, and
// the engine that applies a rule's patterns to the text of a fetched page.
//
// Pattern lists are split at every "|" and their alternatives tried in order; the first one
// that matches with a capture group 1 gives the value. All matching runs on the page converted
// to the ANSI code page, and values come back exactly as captured: not trimmed, not decoded, and
// links not made absolute. Nothing here keeps state, and only the loader touches the disk; every
// function may be called from any thread.
//
// One page gives all it holds or nothing: when the matching of a page runs into one of the
// limits below, every value and list of that call comes back empty, and the optional `problem`
// argument says which limit it was (None otherwise).

#include "rules/site_rule.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velunor {

/// Longest value, in bytes of the ANSI code page: as large as the largest page the fetcher
/// accepts, so that no chapter that could be fetched is refused.
inline constexpr size_t kMaxValueBytes = 256u * 1024u * 1024u;

/// Most entries one list of a page may have. A contents page with more comes from a list
/// pattern that matches almost anywhere (such as "()"), not from a novel.
inline constexpr int32_t kMaxListEntries = 50000;

/// Why an extraction gave nothing although the page may hold what the rule asks for.
enum class ExtractionProblem {
    None,
    /// A value, or the whole match it was found in, is longer than kMaxValueBytes.
    ValueTooLarge,
    /// The patterns used up the matching time the page is given: one of them backtracks too
    /// much. A page is given one second of processor time and two more per megabyte.
    TooSlow,
    /// A list pattern found more than kMaxListEntries entries.
    TooManyEntries,
};

/// The hits of a search result page; entry i of each list belongs to hit i.
struct SearchResultSet {
    int32_t count = 0;
    std::vector<std::u16string> NovelInfoPageUrl;
    std::vector<std::u16string> NovelName;
    std::vector<std::u16string> NovelAuthor;
    std::vector<std::u16string> LatestChapter;
};

/// A volume heading of a contents list ("第一卷 潜龙在渊"). It stands before chapter `Before`
/// (counted from 0; the chapter count for a heading below the last chapter), and the chapters
/// from there up to the next heading belong to its volume.
struct VolumeHeading {
    size_t Before = 0;
    std::u16string Name;

    bool operator==(const VolumeHeading&) const = default;
};

/// The volume headings of a chapter list, in its order; several may stand before one chapter
/// (a volume with no chapter of its own).
using VolumeHeadings = std::vector<VolumeHeading>;

/// Where the chapters of heading `k` end (one past the last) in a list of `count` chapters:
/// where the next heading stands, or `count`. A volume without chapters ends where it begins.
size_t VolumeEnd(const VolumeHeadings& volumes, size_t k, size_t count);

/// Calls `heading(k)` for heading k and `chapter(i)` for chapter i, for the `count` chapters
/// and the headings among them in the order a reader sees them.
void ForEachContentsEntry(const VolumeHeadings& volumes, size_t count,
                          const std::function<void(size_t)>& heading,
                          const std::function<void(size_t)>& chapter);

/// The chapters of a contents page; entry i of each list belongs to chapter i.
struct ChapterList {
    int32_t count = 0;
    std::vector<std::u16string> ChapterName;
    std::vector<std::u16string> ChapterUrl;
    /// The volume headings among the chapters; empty when the rule names none or the page
    /// has none.
    VolumeHeadings Volumes;
};

/// Reads the rule file at `path`. Never fails: whatever cannot be read (a missing file, a root
/// that is not "Channel", a missing element) stays empty.
CSiteRule LoadSiteRule(std::u16string_view path);

/// Full paths of the rule files ("*.xml" in any letter case) in the rule folders of the layout
/// of `programFolder` (ending in "/"; portable: its Rule/), sorted by file name; where two
/// folders hold the same name, the file of the first folder (the user's) is listed alone.
/// Sub-folders are skipped, a link counts as what it points to. Empty when no folder holds a
/// rule file or `programFolder` is empty.
std::vector<std::u16string> EnumerateRuleFiles(const std::u16string& programFolder);

/// Fills `results` (supplied empty) with the hits inside the result region of `page`. Returns
/// the hit count: 0 when nothing was found or the four lists differ in length (the lists then
/// keep what they found).
int32_t ExtractSearchResults(const SearchPageRule& rule, std::u16string_view page,
                             SearchResultSet& results, ExtractionProblem* problem = nullptr);

/// Fills `info` (supplied empty) with the single value of each field's patterns on the whole
/// page; a field whose patterns find nothing stays empty.
void ExtractNovelInfo(const InfoPageRule& rule, std::u16string_view page, NovelInfo& info,
                      ExtractionProblem* problem = nullptr);

/// Fills `chapters` (supplied empty) from the chapter region of `page`, with the volume
/// headings the rule's VolumeName finds there (a match whose group 1 is empty is none). Returns
/// the chapter count: 0 when nothing was found or names and links differ in number.
int32_t ExtractChapterList(const ContentsPageRule& rule, std::u16string_view page,
                           ChapterList& chapters, ExtractionProblem* problem = nullptr);

/// The single value of `patterns` on `text`; empty when no alternative matched.
std::u16string ExtractField(std::u16string_view patterns, std::u16string_view text,
                            ExtractionProblem* problem = nullptr);

/// `text` with every match of every pattern of `rule` deleted, pattern by pattern in order;
/// `text` as given when the matching ran into a limit.
std::u16string ApplyReplaceRule(std::u16string_view rule, std::u16string_view text,
                                ExtractionProblem* problem = nullptr);

/// True when `page` (decoded in the site's charset) is the site refusing access instead of
/// content: any entry of the rule's BlockedPagePattern matches it (group 1 is not needed), or
/// it is a well-known challenge page — a "Just a moment..." check, or a page under 2 KB whose
/// only content is a script that sends the browser elsewhere.
bool IsBlockedPage(const CSiteRule& rule, std::u16string_view page);

} // namespace velunor
