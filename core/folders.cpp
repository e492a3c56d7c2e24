// Folder helpers for the on-disk library and the program folder.

#include "core/core.h"
#include "core/folder_layout.h"

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
void MakeOwnerWritable(int folder) {
    struct stat status {};
    if (fstat(folder, &status) == 0) {
        fchmod(folder, status.st_mode | S_IRWXU);
    }
}

// The names in `folder` that begin with `prefix`, "." and ".." left out.
std::vector<std::string> EntryNames(int folder, std::string_view prefix = {}) {
    std::vector<std::string> names;
    // fdopendir takes over the descriptor it is given, so it gets its own.
    int own = dup(folder);
    if (own < 0) {
        return names;
    }
    std::unique_ptr<DIR, DirCloser> dir(fdopendir(own));
    if (!dir) {
        close(own);
        return names;
    }
    while (dirent* entry = readdir(dir.get())) {
        std::string_view name = entry->d_name;
        if (name != "." && name != ".." && name.starts_with(prefix)) {
            names.emplace_back(name);
        }
    }
    return names;
}

// Opens the folder `name` in `parent` (AT_FDCWD for a path) without following a link. A folder
// its owner may not read gets the owner's rights back first, as MakeOwnerWritable does.
int OpenFolderAt(int parent, const std::string& name, mode_t mode) {
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(parent, name.c_str(), kFlags);
    if (fd < 0 && errno == EACCES) {
        fchmodat(parent, name.c_str(), (mode & 07777) | S_IRWXU, 0);
        fd = openat(parent, name.c_str(), kFlags);
    }
    return fd;
}

void DeleteEntry(int folder, const std::string& name);

// Deletes everything inside the open folder `folder`. Every entry is reached through the open
// folder and sub-folders are opened without following links, so a folder swapped for a link
// while it is being deleted is unlinked, never followed out of the tree.
void EmptyFolder(int folder) {
    MakeOwnerWritable(folder);
    for (const std::string& name : EntryNames(folder)) {
        DeleteEntry(folder, name);
    }
}

void DeleteEntry(int folder, const std::string& name) {
    struct stat status {};
    if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return;
    }
    if (!S_ISDIR(status.st_mode)) {
        unlinkat(folder, name.c_str(), 0);
        return;
    }
    int child = OpenFolderAt(folder, name, status.st_mode);
    if (child < 0) {
        return;
    }
    EmptyFolder(child);
    close(child);
    unlinkat(folder, name.c_str(), AT_REMOVEDIR);
}

} // namespace

std::vector<DirectoryEntry> ListFolder(const std::string& nativeFolder) {
    std::vector<DirectoryEntry> entries;
    int folder = open(nativeFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return entries;
    }
    for (std::string& name : EntryNames(folder)) {
        struct stat status {};
        // An entry removed since the folder was read is left out.
        if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        entries.push_back(DirectoryEntry{std::move(name), KindOf(status.st_mode)});
    }
    close(folder);
    return entries;
}

std::vector<std::string> ListFolderNames(const std::string& nativeFolder, std::string_view prefix) {
    int folder = open(nativeFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return {};
    }
    std::vector<std::string> names = EntryNames(folder, prefix);
    close(folder);
    return names;
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

namespace {

// Opens, creating it when missing, the folder `name` in the open folder `parent`; a link in its
// place is removed first and a real folder made. -1 when `name` is something else or cannot be
// made.
int OpenRealFolderAt(int parent, const std::string& name) {
    struct stat status {};
    if (fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(status.st_mode)) {
        unlinkat(parent, name.c_str(), 0);
    }
    // A second job may make the same folder at once; the loser still finds it there.
    if (mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
        return -1;
    }
    return openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

bool CreateRealFolderPath(std::u16string_view root, std::u16string_view path) {
    while (root.size() > 1 && root.back() == u'/') {
        root.remove_suffix(1);
    }
    if (path.size() <= root.size() + 1 || path.substr(0, root.size()) != root ||
        path[root.size()] != u'/' || !CreateFolderPath(root)) {
        return false;
    }
    int folder = open(NativePath(root).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string rest = NativePath(path.substr(root.size() + 1));
    size_t start = 0;
    // Each folder is reached through the one above it, opened without following a link, so
    // that a link put in place while this runs is never followed either.
    while (folder >= 0 && start < rest.size()) {
        size_t slash = rest.find('/', start);
        size_t end = slash == std::string::npos ? rest.size() : slash;
        std::string name = rest.substr(start, end - start);
        start = end + 1;
        if (name.empty()) {
            continue;
        }
        int child = name == "." || name == ".." ? -1 : OpenRealFolderAt(folder, name);
        close(folder);
        folder = child;
    }
    if (folder < 0) {
        return false;
    }
    close(folder);
    return true;
}

void DeleteFolderTree(std::u16string_view path) {
    while (path.size() > 1 && path.back() == u'/') {
        path.remove_suffix(1);
    }
    if (path.empty()) {
        return;
    }
    // Without its trailing "/" the path names a link itself, not the folder it points to.
    std::string native = NativePath(path);
    struct stat status {};
    if (lstat(native.c_str(), &status) != 0) {
        return;
    }
    // A folder is emptied and removed; a linked folder is not ours to empty, so only the link
    // goes. Anything else is not a folder tree and stays.
    if (S_ISDIR(status.st_mode) || S_ISLNK(status.st_mode)) {
        DeleteEntry(AT_FDCWD, native);
    }
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
    std::u16string programFolder = GetProgramFolder();
    if (programFolder.empty()) {
        return false;
    }
    // An installed copy keeps its pages and templates apart from the executables.
    std::u16string folder = FolderLayoutFor(programFolder).ShippedFolder;
    return chdir(NativePath(folder).c_str()) == 0;
}

} // namespace velunor
