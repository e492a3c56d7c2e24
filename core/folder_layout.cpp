#include "core/folder_layout.h"

#include "core/core.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velunor {
namespace {

constexpr std::u16string_view kAppFolder = u"velunor/";

std::u16string WithSlash(std::u16string folder) {
    if (!folder.empty() && folder.back() != u'/') {
        folder += u'/';
    }
    return folder;
}

std::u16string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::u16string() : Utf8ToWide(value);
}

std::u16string HomeFromPasswordDatabase() {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return {};
    }
    return Utf8ToWide(found->pw_dir);
}

// The XDG base directory `variable` names, or `fallback` below the home folder; a relative value
// counts as unset, as desktops treat it. Empty when neither is known.
std::u16string BaseFolder(const std::u16string& variable, const LayoutEnvironment& environment,
                          std::u16string_view fallback) {
    if (!variable.empty() && variable.front() == u'/') {
        return WithSlash(variable);
    }
    if (environment.Home.empty() || environment.Home.front() != u'/') {
        return {};
    }
    return WithSlash(environment.Home) + std::u16string(fallback);
}

std::u16string AppFolderIn(const std::u16string& base) {
    return base.empty() ? std::u16string() : base + std::u16string(kAppFolder);
}

// <prefix>/share/velunor/ for an executable in <prefix>/bin/.
std::u16string SharedDataFolder(const std::u16string& programFolder) {
    std::u16string withoutSlash = programFolder.substr(0, programFolder.size() - 1);
    size_t parentEnd = withoutSlash.rfind(u'/');
    std::u16string prefix =
        parentEnd == std::u16string::npos ? u"/" : withoutSlash.substr(0, parentEnd + 1);
    return prefix + u"share/" + std::u16string(kAppFolder);
}

FolderLayout PortableLayout(const std::u16string& programFolder,
                            const std::u16string& chosenLibrary) {
    FolderLayout layout;
    layout.Portable = true;
    layout.ProgramFolder = programFolder;
    layout.ConfigFolder = programFolder + u"Config/";
    layout.LibraryFolder = chosenLibrary.empty() ? programFolder : WithSlash(chosenLibrary);
    layout.ShelfFolder = chosenLibrary.empty() ? layout.ConfigFolder : layout.LibraryFolder;
    layout.RuleFolders = {programFolder + u"Rule/"};
    layout.ShippedFolder = programFolder;
    layout.DefaultsFolder = layout.ConfigFolder;
    layout.CacheFolder = layout.ConfigFolder;
    layout.CookieFolder = layout.ConfigFolder + u"Cookies/";
    return layout;
}

FolderLayout InstalledLayout(const std::u16string& programFolder,
                             const LayoutEnvironment& environment,
                             const std::u16string& chosenLibrary) {
    std::u16string data =
        AppFolderIn(BaseFolder(environment.DataHome, environment, u".local/share/"));
    FolderLayout layout;
    layout.Portable = false;
    layout.ProgramFolder = programFolder;
    layout.ConfigFolder = AppFolderIn(BaseFolder(environment.ConfigHome, environment, u".config/"));
    layout.LibraryFolder = chosenLibrary.empty() ? data : WithSlash(chosenLibrary);
    layout.ShelfFolder = layout.LibraryFolder;
    layout.ShippedFolder = SharedDataFolder(programFolder);
    if (!data.empty()) {
        layout.RuleFolders.push_back(data + u"Rule/");
    }
    layout.RuleFolders.push_back(layout.ShippedFolder + u"Rule/");
    layout.DefaultsFolder = layout.ShippedFolder + u"Config/";
    layout.CacheFolder = AppFolderIn(BaseFolder(environment.CacheHome, environment, u".cache/"));
    std::u16string state =
        AppFolderIn(BaseFolder(environment.StateHome, environment, u".local/state/"));
    layout.CookieFolder = state.empty() ? std::u16string() : state + u"Cookies/";
    return layout;
}

struct InstalledState {
    std::mutex lock;
    bool installed = false;
    FolderLayout layout;
};

InstalledState& Installed() {
    static InstalledState state;
    return state;
}

bool IsWritableFolder(const std::u16string& folder) {
    return CreateFolderPath(folder) && access(NativePath(folder).c_str(), W_OK | X_OK) == 0;
}

// Why `folder` cannot be made or written, as an error number: what the nearest part of its path
// that exists says.
int FolderError(const std::u16string& folder) {
    std::string path = NativePath(folder);
    while (!path.empty()) {
        // A file named with a trailing "/" would not be found as the file it is.
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        struct stat status {};
        if (stat(path.c_str(), &status) == 0) {
            if (!S_ISDIR(status.st_mode)) {
                return ENOTDIR;
            }
            return access(path.c_str(), W_OK | X_OK) == 0 ? EIO : errno;
        }
        size_t slash = path.rfind('/');
        path.erase(slash == std::string::npos ? 0 : slash + 1);
    }
    return ENOENT;
}

} // namespace

LayoutEnvironment ReadLayoutEnvironment() {
    LayoutEnvironment environment;
    environment.Home = Variable("HOME");
    if (environment.Home.empty()) {
        environment.Home = HomeFromPasswordDatabase();
    }
    environment.ConfigHome = Variable("XDG_CONFIG_HOME");
    environment.DataHome = Variable("XDG_DATA_HOME");
    environment.CacheHome = Variable("XDG_CACHE_HOME");
    environment.StateHome = Variable("XDG_STATE_HOME");
    return environment;
}

bool RunsPortable(const std::u16string& programFolder) {
    struct stat status {};
    return IsDirectory(programFolder + u"Config") ||
           stat(NativePath(programFolder + u"portable").c_str(), &status) == 0 ||
           !IsDirectory(SharedDataFolder(programFolder));
}

FolderLayout DecideFolderLayout(const std::u16string& programFolder,
                                const LayoutEnvironment& environment,
                                const std::u16string& chosenLibrary) {
    if (RunsPortable(programFolder)) {
        return PortableLayout(programFolder, chosenLibrary);
    }
    return InstalledLayout(programFolder, environment, chosenLibrary);
}

void InstallFolderLayout(const FolderLayout& layout) {
    InstalledState& state = Installed();
    std::lock_guard guard(state.lock);
    state.layout = layout;
    state.installed = true;
}

FolderLayout FolderLayoutFor(const std::u16string& programFolder) {
    InstalledState& state = Installed();
    {
        std::lock_guard guard(state.lock);
        if (state.installed && state.layout.ProgramFolder == programFolder) {
            return state.layout;
        }
    }
    return PortableLayout(programFolder, {});
}

std::u16string ShownPath(const std::u16string& programFolder, const std::u16string& path) {
    if (!programFolder.empty() && path.compare(0, programFolder.size(), programFolder) == 0) {
        return path.substr(programFolder.size());
    }
    return path;
}

bool PrepareUserFolders(const FolderLayout& layout, std::u16string& problem) {
    if (layout.Portable) {
        return true;
    }
    for (const std::u16string* folder :
         {&layout.ConfigFolder, &layout.LibraryFolder, &layout.CacheFolder, &layout.CookieFolder}) {
        if (folder->empty()) {
            problem = u"找不到用户的主文件夹（HOME 未设置），无法存放设置和书库。";
            return false;
        }
        if (!IsWritableFolder(*folder)) {
            problem = u"无法创建或写入文件夹 " + *folder + u"：" +
                      Utf8ToWide(std::strerror(FolderError(*folder)));
            return false;
        }
    }
    return true;
}

} // namespace velunor
