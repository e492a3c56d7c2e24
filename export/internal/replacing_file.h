#pragma once
// A file that replaces its target only once it is whole: it is written under a temporary name
// in the target's folder and renamed onto the target at the end, so that a failure at any point
// leaves the target as it was and no partial file behind.

#include <string>
#include <string_view>

namespace velunor::internal {

class CReplacingFile {
  public:
    CReplacingFile() = default;
    /// Removes the temporary file unless Commit renamed it.
    ~CReplacingFile();
    CReplacingFile(const CReplacingFile&) = delete;
    CReplacingFile& operator=(const CReplacingFile&) = delete;

    /// Creates the temporary file beside `target`; false, with `error` saying why in the words
    /// of the status line, when the target's folder cannot take it or the target is a folder.
    bool Open(const std::u16string& target, std::u16string& error);
    /// Appends `bytes`; false, with `error`, when the disk refuses them.
    bool Write(std::string_view bytes, std::u16string& error);
    /// Flushes the file to the disk and renames it onto the target (an existing target keeps its
    /// permissions); false, with `error`, when that fails, and the temporary file is gone.
    bool Commit(std::u16string& error);

    /// The temporary file's path while it exists; empty otherwise.
    const std::string& TemporaryPath() const {
        return temporary_;
    }

  private:
    void Discard();

    int fd_ = -1;
    std::string temporary_;
    std::string target_;
    std::u16string wideTarget_;
};

/// Why a file operation failed, for the status line: the system's error `code` in words.
std::u16string FileErrorText(int code);

} // namespace velunor::internal
