#pragma once
// The capture groups of one match of the pattern matcher.

#include <string>
#include <vector>

namespace velunor::internal {

/// Capture groups of one match; index = group number, 0 = the whole match. There are as many
/// entries as the highest group that took part, plus one. A lower group that did not take part
/// reads as an empty string; `TookPart` tells it from a group that captured nothing.
class MatchGroups {
  public:
    /// Makes room for `count` groups.
    void Reserve(size_t count) {
        texts_.reserve(count);
        tookPart_.reserve(count);
    }
    /// Appends the next group's text.
    void Add(std::string text, bool tookPart) {
        texts_.push_back(std::move(text));
        tookPart_.push_back(tookPart);
    }
    size_t size() const {
        return texts_.size();
    }
    bool empty() const {
        return texts_.empty();
    }
    const std::string& operator[](size_t group) const {
        return texts_[group];
    }
    /// Where the whole match starts in the subject, in bytes.
    size_t Start() const {
        return start_;
    }
    void SetStart(size_t start) {
        start_ = start;
    }
    /// True when `group` exists and took part in the match.
    bool TookPart(size_t group) const {
        return group < tookPart_.size() && tookPart_[group];
    }

  private:
    std::vector<std::string> texts_;
    std::vector<bool> tookPart_;
    size_t start_ = 0;
};

} // namespace velunor::internal
