// Rule patterns on PCRE2 (8-bit code units, no UTF mode, the library's default character tables,
// so letters, digits and spaces are ASCII and every byte of a double-byte character is "other").

#define PCRE2_CODE_UNIT_WIDTH 8
#include "rules/internal/pattern_matcher.h"

#include <memory>
#include <pcre2.h>

namespace velunor::internal {
namespace {

// Room for 4000 captured substrings per match.
constexpr uint32_t kOffsetPairs = 4000;
constexpr uint32_t kMultiLineDotAll = PCRE2_MULTILINE | PCRE2_DOTALL;

struct CodeDeleter {
    void operator()(pcre2_code* code) const {
        pcre2_code_free(code);
    }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const {
        pcre2_match_data_free(data);
    }
};

std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// One compiled pattern and the room for its match offsets, released together.
class CompiledPattern {
  public:
    CompiledPattern(std::string_view pattern, uint32_t options) {
        pattern = UpToNul(pattern);
        int errorCode = 0;
        PCRE2_SIZE errorOffset = 0;
        code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                  options, &errorCode, &errorOffset, nullptr));
        if (code_) {
            matchData_.reset(pcre2_match_data_create(kOffsetPairs, nullptr));
        }
    }

    bool IsValid() const {
        return code_ && matchData_;
    }

    /// Runs the pattern on `subject` as a subject of its own; returns the library's result.
    int Execute(std::string_view subject) const {
        return pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()),
                           subject.size(), 0, 0, matchData_.get(), nullptr);
    }

    /// Number of groups the last result reports, whole match included.
    static uint32_t GroupCount(int result) {
        return result == 0 ? kOffsetPairs : static_cast<uint32_t>(result);
    }

    size_t MatchStart() const {
        return pcre2_get_ovector_pointer(matchData_.get())[0];
    }
    size_t MatchEnd() const {
        return pcre2_get_ovector_pointer(matchData_.get())[1];
    }

    MatchGroups Groups(std::string_view subject, int result) const {
        const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(matchData_.get());
        MatchGroups groups;
        uint32_t count = GroupCount(result);
        groups.Reserve(count);
        for (uint32_t group = 0; group < count; ++group) {
            PCRE2_SIZE begin = offsets[2 * group];
            PCRE2_SIZE end = offsets[2 * group + 1];
            if (begin == PCRE2_UNSET || end < begin) {
                groups.Add(std::string(), false);
                continue;
            }
            size_t length = std::min<size_t>(end - begin, kMaxCaptureBytes);
            groups.Add(std::string(subject.substr(begin, length)), true);
        }
        return groups;
    }

  private:
    std::unique_ptr<pcre2_code, CodeDeleter> code_;
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> matchData_;
};

// Where the next search starts after a match: at its end, or one byte past an empty match so
// that a pattern matching nothing cannot hold the iteration in place.
size_t NextStart(size_t start, const CompiledPattern& compiled) {
    size_t end = start + compiled.MatchEnd();
    if (compiled.MatchEnd() == compiled.MatchStart()) {
        return end + 1;
    }
    return end;
}

} // namespace

bool MatchFirst(std::string_view subject, std::string_view pattern, MatchGroups& groups) {
    groups = MatchGroups();
    CompiledPattern compiled(pattern, kMultiLineDotAll);
    if (!compiled.IsValid()) {
        return false;
    }
    subject = UpToNul(subject);
    int result = compiled.Execute(subject);
    if (result == PCRE2_ERROR_NOMATCH) {
        return false;
    }
    if (result >= 0) {
        groups = compiled.Groups(subject, result);
    }
    return true;
}

bool MatchAll(std::string_view subject, std::string_view pattern,
              std::map<int, MatchGroups>& matches) {
    matches.clear();
    CompiledPattern compiled(pattern, kMultiLineDotAll);
    if (!compiled.IsValid()) {
        return false;
    }
    subject = UpToNul(subject);
    size_t start = 0;
    int matchNumber = 0;
    while (start <= subject.size()) {
        std::string_view rest = subject.substr(start);
        int result = compiled.Execute(rest);
        // No match, or a matcher error such as the match limit: either way the list ends here.
        if (result < 0) {
            break;
        }
        matches[matchNumber] = compiled.Groups(rest, result);
        ++matchNumber;
        start = NextStart(start, compiled);
    }
    return !matches.empty();
}

bool SplitByPattern(std::string_view subject, std::string_view pattern,
                    std::vector<std::string>& pieces) {
    pieces.clear();
    CompiledPattern compiled(pattern, 0);
    if (!compiled.IsValid()) {
        return false;
    }
    subject = UpToNul(subject);
    bool found = false;
    size_t pieceStart = 0;
    size_t searchStart = 0;
    while (searchStart <= subject.size()) {
        int result = compiled.Execute(subject.substr(searchStart));
        if (result < 0) {
            break;
        }
        size_t matchStart = searchStart + compiled.MatchStart();
        size_t matchEnd = searchStart + compiled.MatchEnd();
        if (matchEnd == matchStart) {
            searchStart = matchEnd + 1;
            continue;
        }
        pieces.emplace_back(subject.substr(pieceStart, matchStart - pieceStart));
        pieceStart = matchEnd;
        searchStart = matchEnd;
        found = true;
    }
    if (pieceStart < subject.size()) {
        pieces.emplace_back(subject.substr(pieceStart));
        found = true;
    }
    return found;
}

std::string RemoveMatches(std::string_view subject, std::string_view pattern) {
    std::vector<std::string> pieces;
    if (!SplitByPattern(subject, pattern, pieces)) {
        return std::string(subject);
    }
    std::string joined;
    joined.reserve(subject.size());
    for (const std::string& piece : pieces) {
        joined += piece;
    }
    return joined;
}

} // namespace velunor::internal
