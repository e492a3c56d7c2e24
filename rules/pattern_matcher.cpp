// Rule patterns on PCRE2 (8-bit code units, no UTF mode, the library's default character tables,
// so letters, digits and spaces are ASCII and every byte of a double-byte character is "other").

#define PCRE2_CODE_UNIT_WIDTH 8
#include "rules/internal/pattern_matcher.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <pcre2.h>

namespace velunor::internal {
namespace {

// Room for 4000 captured substrings per match.
constexpr uint32_t kOffsetPairs = 4000;
constexpr uint32_t kMultiLineDotAll = PCRE2_MULTILINE | PCRE2_DOTALL;

// Steps one match attempt may take: the matcher's usual limit, or more on a long subject, since
// a lazy capture such as "(.*?)</div>" takes about one step per byte it covers.
constexpr uint32_t kMinAttemptSteps = 10000000;
constexpr size_t kAttemptStepsPerByte = 4;

// A callout at the start of the pattern runs before every match attempt.
constexpr std::string_view kAttemptCallout = "(?C)";

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
struct MatchContextDeleter {
    void operator()(pcre2_match_context* context) const {
        pcre2_match_context_free(context);
    }
};

std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// True for the name of a start-of-pattern setting such as "UTF" or "LIMIT_MATCH=5".
bool IsSettingName(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    for (char c : name) {
        bool letter = (c >= 'A' && c <= 'Z') || c == '_';
        bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '=') {
            return false;
        }
    }
    return true;
}

// Length of the "(*...)" settings at the start of `pattern`, which only count there.
size_t LeadingSettingsLength(std::string_view pattern) {
    size_t at = 0;
    while (pattern.substr(at, 2) == "(*") {
        size_t close = pattern.find(')', at);
        if (close == std::string_view::npos ||
            !IsSettingName(pattern.substr(at + 2, close - at - 2))) {
            break;
        }
        at = close + 1;
    }
    return at;
}

// `pattern` with a callout in front of its first item, after any start-of-pattern settings.
std::string WithAttemptCallout(std::string_view pattern) {
    size_t settings = LeadingSettingsLength(pattern);
    std::string text(pattern.substr(0, settings));
    text += kAttemptCallout;
    text += pattern.substr(settings);
    return text;
}

// Called by the matcher at the start of every attempt; a negative answer ends the whole
// search at once with that answer as its result.
int BeforeAttempt(pcre2_callout_block*, void* budget) {
    return static_cast<MatchBudget*>(budget)->AllowAttempt() ? 0 : PCRE2_ERROR_CALLOUT;
}

// One compiled pattern and the room for its match offsets, released together. With a budget,
// every attempt asks it first and every capture must fit it.
class CompiledPattern {
  public:
    CompiledPattern(std::string_view pattern, uint32_t options, MatchBudget* budget)
        : budget_(budget) {
        pattern = UpToNul(pattern);
        std::string withCallout;
        if (budget_) {
            withCallout = WithAttemptCallout(pattern);
            pattern = withCallout;
        }
        int errorCode = 0;
        PCRE2_SIZE errorOffset = 0;
        code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                  options, &errorCode, &errorOffset, nullptr));
        if (code_) {
            matchData_.reset(pcre2_match_data_create(kOffsetPairs, nullptr));
            context_.reset(pcre2_match_context_create(nullptr));
        }
        if (context_ && budget_) {
            pcre2_set_callout(context_.get(), BeforeAttempt, budget_);
        }
    }

    bool IsValid() const {
        return code_ && matchData_ && context_;
    }

    /// True when the budget, if any, was exhausted by now.
    bool OutOfBudget() const {
        return budget_ && budget_->Exhausted();
    }

    /// Lets every attempt on `subject`, or on any part of it, take the steps its length allows.
    void AllowStepsFor(std::string_view subject) {
        size_t steps = std::max<size_t>(kMinAttemptSteps, kAttemptStepsPerByte * subject.size());
        steps = std::min<size_t>(steps, std::numeric_limits<uint32_t>::max());
        pcre2_set_match_limit(context_.get(), static_cast<uint32_t>(steps));
    }

    /// Runs the pattern on `subject` as a subject of its own; returns the library's result.
    int Execute(std::string_view subject) const {
        return pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()),
                           subject.size(), 0, 0, matchData_.get(), context_.get());
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

    /// The groups of the last match; false, with the budget ended, when one is too long for it.
    bool Groups(std::string_view subject, int result, MatchGroups& groups) const {
        const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(matchData_.get());
        uint32_t count = GroupCount(result);
        groups.Reserve(count);
        for (uint32_t group = 0; group < count; ++group) {
            PCRE2_SIZE begin = offsets[2 * group];
            PCRE2_SIZE end = offsets[2 * group + 1];
            if (begin == PCRE2_UNSET || end < begin) {
                groups.Add(std::string(), false);
                continue;
            }
            if (budget_ && !budget_->AllowCapture(end - begin)) {
                return false;
            }
            groups.Add(std::string(subject.substr(begin, end - begin)), true);
        }
        return true;
    }

  private:
    MatchBudget* budget_;
    std::unique_ptr<pcre2_code, CodeDeleter> code_;
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> matchData_;
    std::unique_ptr<pcre2_match_context, MatchContextDeleter> context_;
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

bool IsExhausted(const MatchBudget* budget) {
    return budget && budget->Exhausted();
}

} // namespace

bool MatchFirst(std::string_view subject, std::string_view pattern, MatchGroups& groups,
                MatchBudget* budget) {
    groups = MatchGroups();
    if (IsExhausted(budget)) {
        return false;
    }
    CompiledPattern compiled(pattern, kMultiLineDotAll, budget);
    if (!compiled.IsValid()) {
        return false;
    }
    subject = UpToNul(subject);
    compiled.AllowStepsFor(subject);
    int result = compiled.Execute(subject);
    if (result == PCRE2_ERROR_NOMATCH || compiled.OutOfBudget()) {
        return false;
    }
    if (result >= 0 && !compiled.Groups(subject, result, groups)) {
        groups = MatchGroups();
        return false;
    }
    return true;
}

bool MatchAll(std::string_view subject, std::string_view pattern,
              std::map<int, MatchGroups>& matches, MatchBudget* budget, size_t maxMatches) {
    matches.clear();
    if (IsExhausted(budget)) {
        return false;
    }
    CompiledPattern compiled(pattern, kMultiLineDotAll, budget);
    if (!compiled.IsValid()) {
        return false;
    }
    subject = UpToNul(subject);
    compiled.AllowStepsFor(subject);
    size_t start = 0;
    int matchNumber = 0;
    while (start <= subject.size() && matches.size() < maxMatches) {
        std::string_view rest = subject.substr(start);
        int result = compiled.Execute(rest);
        // No match, or a matcher error such as the step limit: either way the list ends here.
        MatchGroups groups;
        if (result < 0 || !compiled.Groups(rest, result, groups)) {
            break;
        }
        groups.SetStart(start + compiled.MatchStart());
        matches.emplace_hint(matches.end(), matchNumber, std::move(groups));
        ++matchNumber;
        start = NextStart(start, compiled);
    }
    // A list cut short by the budget would pass for a whole one.
    if (compiled.OutOfBudget()) {
        matches.clear();
        return false;
    }
    return !matches.empty();
}

bool SplitByPattern(std::string_view subject, std::string_view pattern,
                    std::vector<std::string>& pieces, MatchBudget* budget) {
    pieces.clear();
    if (IsExhausted(budget)) {
        return false;
    }
    CompiledPattern compiled(pattern, 0, budget);
    if (!compiled.IsValid()) {
        return false;
    }
    subject = UpToNul(subject);
    compiled.AllowStepsFor(subject);
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
    if (compiled.OutOfBudget()) {
        pieces.clear();
        return false;
    }
    if (pieceStart < subject.size()) {
        pieces.emplace_back(subject.substr(pieceStart));
        found = true;
    }
    return found;
}

std::string RemoveMatches(std::string_view subject, std::string_view pattern, MatchBudget* budget) {
    std::vector<std::string> pieces;
    if (!SplitByPattern(subject, pattern, pieces, budget)) {
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
