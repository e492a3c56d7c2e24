#pragma once
// Byte-level regular-expression matching for the extraction engine, on PCRE2.
//
// Subjects and patterns are ANSI byte text, used up to their first NUL; "." matches one byte.
// Every call compiles its own pattern and frees it before returning, so the functions keep no
// state and may run on many threads at once. A pattern that does not compile finds nothing.

#include "rules/internal/match_groups.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace velunor::internal {

/// Longest capture copied out of a match, in bytes.
inline constexpr size_t kMaxCaptureBytes = 1023999;

/// Groups of the first match (multi-line, dot matches all). True when the matcher reported
/// anything but no-match; a matcher error gives true with no groups.
bool MatchFirst(std::string_view subject, std::string_view pattern, MatchGroups& groups);

/// Groups of every successive match, numbered from 0 (multi-line, dot matches all). Each search
/// starts afresh where the previous match ended; an empty match moves on by one byte. True when
/// at least one match was found.
bool MatchAll(std::string_view subject, std::string_view pattern,
              std::map<int, MatchGroups>& matches);

/// The pieces between matches (no compile options). An empty match splits nothing. True when
/// there was at least one match or a non-empty piece.
bool SplitByPattern(std::string_view subject, std::string_view pattern,
                    std::vector<std::string>& pieces);

/// The subject with every match deleted; unchanged when nothing matched.
std::string RemoveMatches(std::string_view subject, std::string_view pattern);

} // namespace velunor::internal
