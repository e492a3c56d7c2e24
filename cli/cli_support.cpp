#include "cli/cli_support.h"

#include "core/core.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <unistd.h>

namespace velunor::cli {

void PrintLine(std::u16string_view text) {
    std::string bytes = WideToUtf8(text);
    bytes.push_back('\n');
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void PrintError(std::u16string_view text) {
    std::string bytes = "velunor-cli: " + WideToUtf8(text) + "\n";
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
}

std::u16string Wide(std::string_view argument) {
    return Utf8ToWide(argument);
}

namespace {

std::string& StartFolder() {
    static std::string folder;
    return folder;
}

} // namespace

void RememberStartFolder() {
    std::unique_ptr<char, decltype(&free)> folder(getcwd(nullptr, 0), &free);
    StartFolder() = folder ? std::string(folder.get()) : std::string();
}

std::u16string ResolveArgumentPath(std::string_view path) {
    if (StartFolder().empty() || (!path.empty() && path.front() == '/')) {
        return Wide(path);
    }
    return Wide(StartFolder() + "/" + std::string(path));
}

bool ReadFileBytes(const std::u16string& path, std::string& bytes) {
    std::ifstream in(NativePath(path), std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

} // namespace velunor::cli
