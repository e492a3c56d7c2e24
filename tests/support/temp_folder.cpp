#include "support/temp_folder.h"

#include "core/core.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace velunor::testing {

TempFolder::TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/velunor-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempFolder::~TempFolder() {
    DeleteFolderTree(WidePath());
}

std::u16string TempFolder::WidePath() const {
    return Utf8ToWide(path_);
}

std::u16string TempFolder::WideFile(const std::string& name) const {
    return Utf8ToWide(File(name));
}

std::string TempFolder::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out << bytes;
    return File(name);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string TempFolder::Read(const std::string& name) const {
    return ReadFileBytes(File(name));
}

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::string& folder) {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) == nullptr || chdir(folder.c_str()) != 0) {
        throw std::runtime_error("cannot enter " + folder);
    }
    previous_ = buffer;
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() {
    if (chdir(previous_.c_str()) != 0) {
        std::perror("cannot go back to the previous directory");
    }
}

} // namespace velunor::testing
