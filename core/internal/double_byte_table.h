#pragma once
// The two-byte sequences of code page 936 (read as GB18030) and their characters, looked up
// directly instead of through iconv: pages are decoded and pattern subjects encoded in this code
// page all the time, and a table lookup is many times faster than iconv's per-character path.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velunor::internal {

class DoubleByteTable {
  public:
    /// The process's table, built from iconv on first use; any thread may call it.
    static const DoubleByteTable& Instance();

    /// The character of the pair, or 0 when the pair is not one the table holds.
    char16_t Decode(unsigned char lead, unsigned char trail) const {
        return toWide_[static_cast<size_t>(lead) << 8 | trail];
    }

    /// The pair of `character` as lead << 8 | trail, or 0 when it has none in the table.
    uint16_t Encode(char16_t character) const {
        return toBytes_[character];
    }

  private:
    DoubleByteTable();

    std::vector<char16_t> toWide_;
    std::vector<uint16_t> toBytes_;
};

} // namespace velunor::internal
