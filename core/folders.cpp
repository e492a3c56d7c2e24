// Folder helpers for the on-disk library and the program folder.

#include "core/core.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace velunor {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const {
        closedir(dir);
    }
};

EntryKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return EntryKind::File;
    }
    if (S_ISDIR(mode)) {
        return EntryKind::Folder;
    }
    if (S_ISLNK(mode)) {
        return EntryKind::Link;
    }
    return EntryKind::Other;
}

// Entries of a folder cannot be unlinked while the folder itself is read-only, so the folder
// gets its owner's write and search rights back before it is emptied.
void MakeOwnerWritable(const std::string& nativePath) {
    struct stat status {};
    if (stat(nativePath.c_str(), &status) == 0) {
        chmod(nativePath.c_str(), status.st_mode | S_IRWXU);
    }
}

void DeleteNativeTree(const std::string& folder) {
    MakeOwnerWritable(folder);
    std::string prefix = folder;
    if (prefix.empty() || prefix.back() != '/') {
        prefix.push_back('/');
    }
    for (const DirectoryEntry& entry : ListFolder(folder)) {
        std::string child = prefix + entry.Name;
        // Symbolic links are removed, never followed: deleting a novel must not reach outside
        // its folder.
        if (entry.Kind == EntryKind::Folder) {
            DeleteNativeTree(child);
        } else {
            unlink(child.c_str());
        }
    }
    rmdir(folder.c_str());
}

} // namespace

std::vector<DirectoryEntry> ListFolder(const std::string& nativeFolder) {
    std::vector<DirectoryEntry> entries;
    std::unique_ptr<DIR, DirCloser> dir(opendir(nativeFolder.c_str()));
    if (!dir) {
        return entries;
    }
    while (dirent* entry = readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat status {};
        // An entry removed since the folder was read is left out.
        if (fstatat(dirfd(dir.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        entries.push_back(DirectoryEntry{std::move(name), KindOf(status.st_mode)});
    }
    return entries;
}

std::string NativePath(std::u16string_view path) {
    return WideToUtf8(path);
}

bool IsDirectory(std::u16string_view path) {
    struct stat status {};
    return stat(NativePath(path).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool CreateFolderPath(std::u16string_view path) {
    if (path.empty()) {
        return false;
    }
    if (path.size() > 1 && path.back() == u'/') {
        path.remove_suffix(1);
    }
    if (path == u"/" || IsDirectory(path)) {
        return IsDirectory(path);
    }
    size_t lastSlash = path.rfind(u'/');
    if (lastSlash == std::u16string_view::npos) {
        return false;
    }
    std::u16string_view parent =
        lastSlash == 0 ? std::u16string_view(u"/") : path.substr(0, lastSlash);
    if (!CreateFolderPath(parent)) {
        return false;
    }
    if (mkdir(NativePath(path).c_str(), 0777) == 0) {
        return true;
    }
    // Two downloads may create the same folder at once; the loser still finds it there.
    return errno == EEXIST && IsDirectory(path);
}

void DeleteFolderTree(std::u16string_view path) {
    if (path.empty()) {
        return;
    }
    DeleteNativeTree(NativePath(path));
}

std::u16string GetProgramFolder() {
    std::string executable(4096, '\0');
    ssize_t length = readlink("/proc/self/exe", executable.data(), executable.size());
    if (length <= 0 || static_cast<size_t>(length) >= executable.size()) {
        return {};
    }
    executable.resize(static_cast<size_t>(length));
    size_t lastSlash = executable.rfind('/');
    if (lastSlash == std::string::npos) {
        return {};
    }
    return Utf8ToWide(executable.substr(0, lastSlash + 1));
}

bool EnterProgramFolder() {
    std::u16string folder = GetProgramFolder();
    return !folder.empty() && chdir(NativePath(folder).c_str()) == 0;
}

} // namespace velunor
