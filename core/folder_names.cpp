// Listing the names in a folder that begin with a prefix, without looking at each entry.

#include "core/core.h"

#include <dirent.h>
#include <memory>

namespace velunor {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const {
        closedir(dir);
    }
};

} // namespace

std::vector<std::string> ListFolderNames(const std::string& nativeFolder, std::string_view prefix) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> dir(opendir(nativeFolder.c_str()));
    if (!dir) {
        return names;
    }
    while (dirent* entry = readdir(dir.get())) {
        std::string_view name = entry->d_name;
        if (name == "." || name == ".." || !name.starts_with(prefix)) {
            continue;
        }
        names.emplace_back(name);
    }
    return names;
}

} // namespace velunor
