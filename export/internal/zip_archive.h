#pragma once
// A zip archive made in memory with libzip.

#include <string>
#include <vector>

namespace velunor::internal {

/// One file of an archive.
struct ArchiveEntry {
    /// The path inside the archive, "/" between folders.
    std::string Name;
    std::string Data;
    /// Stored as it is rather than deflated.
    bool Stored = false;
};

/// The zip archive of `entries`, in their order; false, with `error` saying why, when libzip
/// could not make it.
bool ZipArchive(const std::vector<ArchiveEntry>& entries, std::string& bytes,
                std::u16string& error);

} // namespace velunor::internal
