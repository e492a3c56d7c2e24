#include "xml/internal/sum_hashed_table.h"

namespace velunor::internal {

SumHashedTable::SumHashedTable(size_t bucketCount) : buckets_(bucketCount) {}

size_t SumHashedTable::BucketIndex(std::u16string_view name) const {
    size_t sum = 0;
    for (char16_t c : name) {
        sum += c;
    }
    return sum % buckets_.size();
}

void SumHashedTable::Add(std::u16string_view name, int value, bool replace) {
    std::vector<Entry>& bucket = buckets_[BucketIndex(name)];
    for (Entry& entry : bucket) {
        if (entry.name == name) {
            if (replace) {
                entry.value = value;
            }
            return;
        }
    }
    bucket.push_back({std::u16string(name), value});
}

std::optional<int> SumHashedTable::Find(std::u16string_view name) const {
    for (const Entry& entry : buckets_[BucketIndex(name)]) {
        if (entry.name == name) {
            return entry.value;
        }
    }
    return std::nullopt;
}

} // namespace velunor::internal
