#pragma once
// The temporary file that a save writes beside its target and then renames over it, and the
// removal of those that interrupted saves left behind.

#include <string>

namespace velunor::internal {

/// A temporary file "<target>.tmp-<pid>-<n>" beside the target of a save, <n> counting the
/// saves of the process. From before it is created until it is renamed over the target or
/// removed it counts as a running save of this process, so that RemoveStaleTemporaries in
/// another thread leaves it alone. The destructor removes a file that was not renamed. One
/// thread uses an object.
class TemporaryFile {
  public:
    TemporaryFile() = default;
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    /// Creates the file beside `target`, with the target's permissions when it exists, and
    /// returns its open descriptor, which the caller closes; -1 with errno set when it cannot.
    /// An existing target that may not be written gives EACCES: replacing it by rename would
    /// bypass its write protection. Call once.
    int Create(const std::string& target);
    /// Renames the file over `target`; false, with errno set, when that fails.
    bool CommitTo(const std::string& target);
    /// The file's path; empty before Create and after CommitTo.
    const std::string& Path() const {
        return path_;
    }

  private:
    std::string path_;
    unsigned number_ = 0;
    bool running_ = false;
};

/// Removes the temporary files of `target` that belong to no running save: those of processes
/// that are gone, and those of this process that no TemporaryFile holds. The temporary files
/// of live processes (which may be saving the same file at this moment), other names, folders
/// and links stay. Errors are ignored. Costs one read of the target's folder.
void RemoveStaleTemporaries(const std::string& target);

} // namespace velunor::internal
