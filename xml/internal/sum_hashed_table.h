#pragma once
// A small read-only map from names to numbers, bucketed by the sum of each name's UTF-16 code
// units; used for the character-entity names and the charset names.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velunor::internal {

class SumHashedTable {
  public:
    explicit SumHashedTable(size_t bucketCount);

    /// Adds `name`; when it is already there, `replace` decides whether the new value wins.
    void Add(std::u16string_view name, int value, bool replace);
    /// The value stored for exactly `name`.
    std::optional<int> Find(std::u16string_view name) const;

  private:
    struct Entry {
        std::u16string name;
        int value;
    };
    size_t BucketIndex(std::u16string_view name) const;

    std::vector<std::vector<Entry>> buckets_;
};

} // namespace velunor::internal
