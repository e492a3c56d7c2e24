#pragma once
// Byte-level regular-expression matching for the extraction engine, on PCRE2.
//
// Subjects and patterns are ANSI byte text, used up to their first NUL; "." matches one byte.
// Every call compiles its own pattern and frees it before returning, so the functions keep no
// state and may run on many threads at once. A pattern that does not compile finds nothing.
//
// Each match attempt may take a number of steps in proportion to the subject's length (and at
// least the matcher's usual ten million); an attempt that needs more ends the search as a matcher
// error. Every function may draw on a budget (see MatchBudget): every attempt then counts
// against its time and every capture must fit its size, and a call made with a budget that is,
// or becomes, exhausted finds nothing. Without a budget the time is not bounded and captures
// are copied whole.

#include "rules/internal/match_budget.h"
#include "rules/internal/match_groups.h"

#include <cstddef>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace velunor::internal {

/// As many matches as the subject has.
inline constexpr size_t kEveryMatch = std::numeric_limits<size_t>::max();

/// Groups of the first match (multi-line, dot matches all). True when the matcher reported
/// anything but no-match; a matcher error gives true with no groups.
bool MatchFirst(std::string_view subject, std::string_view pattern, MatchGroups& groups,
                MatchBudget* budget = nullptr);

/// Groups of every successive match, numbered from 0 (multi-line, dot matches all), stopping
/// once there are `maxMatches`. Each search starts afresh where the previous match ended; an
/// empty match moves on by one byte; a matcher error ends the list. True when at least one
/// match was found.
bool MatchAll(std::string_view subject, std::string_view pattern,
              std::map<int, MatchGroups>& matches, MatchBudget* budget = nullptr,
              size_t maxMatches = kEveryMatch);

/// The pieces between matches (no compile options). An empty match splits nothing. True when
/// there was at least one match or a non-empty piece.
bool SplitByPattern(std::string_view subject, std::string_view pattern,
                    std::vector<std::string>& pieces, MatchBudget* budget = nullptr);

/// The subject with every match deleted; unchanged when nothing matched.
std::string RemoveMatches(std::string_view subject, std::string_view pattern,
                          MatchBudget* budget = nullptr);

} // namespace velunor::internal
