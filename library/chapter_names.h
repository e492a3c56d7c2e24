#pragma once
// Chapter names as two sites of the same novel write them: one site writes "第十二章 风雪", the
// other "第12章：风雪" or "第 12 章 风雪". Each name is made into a key under which such
// writings of one chapter compare equal, and the chapters of one list are matched to another's
// by their keys. Stateless; any thread.

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace velunor {

/// A chapter name made comparable.
struct ChapterNameKey {
    /// The name without spaces, punctuation and symbols, full-width letters and digits as
    /// half-width ones, ASCII letters in lower case, every run of Chinese numerals as its value
    /// in Arabic digits ("一百零五" and "105"; a run without 十, 百, 千, 万 or 亿 digit by digit,
    /// "二〇二三" as "2023"), and every run of Arabic digits without its leading zeros.
    std::u16string Text;
    /// The number of a leading "第…章" (or 回, 节); -1 when the name does not start with one.
    long long Number = -1;
    /// The name is that number and nothing else ("第十二章").
    bool NumberOnly = false;
};

/// The key of the chapter name `name`.
ChapterNameKey MakeChapterNameKey(std::u16string_view name);

/// True when `a` and `b` are the keys of one chapter's names: the same text, or the same
/// leading number where one of the two names is that number alone.
bool SameChapter(const ChapterNameKey& a, const ChapterNameKey& b);

/// What MatchChapterNames gives a name that no offered chapter matches.
inline constexpr size_t kNoChapterMatch = std::numeric_limits<size_t>::max();

/// For each name of `wanted`, the position in `offered` of the chapter it names (SameChapter),
/// or kNoChapterMatch: the first offered chapter of the same text not taken by an earlier
/// wanted name, else the first such one of the same leading number. Each offered chapter is
/// taken at most once, so that a name a novel repeats ("请假条") takes the repeats in order.
std::vector<size_t> MatchChapterNames(const std::vector<std::u16string>& wanted,
                                      const std::vector<std::u16string>& offered);

} // namespace velunor
