#pragma once
// A real folder under the system's temporary directory, removed with everything in it when the
// owner goes out of scope.

#include <string>

namespace velunor::testing {

/// All bytes of the file at `path`; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    /// The folder's path as UTF-8, without a trailing "/".
    const std::string& Path() const {
        return path_;
    }
    /// The folder's path as wide text, without a trailing "/".
    std::u16string WidePath() const;
    /// Path of `name` inside the folder, as UTF-8.
    std::string File(const std::string& name) const {
        return path_ + "/" + name;
    }
    /// Path of `name` inside the folder, as wide text.
    std::u16string WideFile(const std::string& name) const;
    /// Writes `bytes` to `name` inside the folder (created or replaced) and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const;
    /// Reads all bytes of `name` inside the folder; empty when it cannot be read.
    std::string Read(const std::string& name) const;

  private:
    std::string path_;
};

/// Makes a folder the current directory for as long as it lives, then goes back.
class ScopedCurrentDirectory {
  public:
    explicit ScopedCurrentDirectory(const std::string& folder);
    ~ScopedCurrentDirectory();
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

  private:
    std::string previous_;
};

} // namespace velunor::testing
