#include "cli/cli_support.h"

#include "core/core.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace velunor::cli {
namespace {

bool IsControl(char16_t unit) {
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
}

// `text` as UTF-8 for a terminal. Names, chapters and messages come from sites, and a terminal
// obeys the control characters in them: an escape sequence could hide text, move the cursor or
// retitle the window. Every control character but tab and line feed is shown as "\xNN"
// instead; a carriage return before a line feed is a line end written the Windows way and is
// left out.
std::string TerminalBytes(std::u16string_view text) {
    std::u16string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            continue;
        }
        if (!IsControl(unit) || unit == u'\t' || unit == u'\n') {
            shown += unit;
            continue;
        }
        static constexpr char16_t kHexDigits[] = u"0123456789abcdef";
        shown += u"\\x";
        shown += kHexDigits[unit >> 4];
        shown += kHexDigits[unit & 0xF];
    }
    return WideToUtf8(shown);
}

} // namespace

void PrintLine(std::u16string_view text) {
    std::string bytes = TerminalBytes(text);
    bytes.push_back('\n');
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void PrintError(std::u16string_view text) {
    std::string bytes = "velunor-cli: " + TerminalBytes(text) + "\n";
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

bool ReadArgumentFile(const std::u16string& path, uint64_t maxBytes, std::u16string_view what,
                      std::string& bytes) {
    FileReadResult result = ReadFileBytes(path, maxBytes, bytes);
    std::u16string named = u"the " + std::u16string(what) + u" " + path;
    switch (result.Status) {
    case FileReadStatus::Read:
        return true;
    case FileReadStatus::NotRegularFile:
        PrintError(named + u" is not a regular file");
        return false;
    case FileReadStatus::TooLarge:
        PrintError(named + u" is larger than " + DecimalText(static_cast<long long>(maxBytes)) +
                   u" bytes");
        return false;
    case FileReadStatus::Failed:
        break;
    }
    PrintError(u"cannot read " + named + u": " + Utf8ToWide(std::strerror(result.Error)));
    return false;
}

int ParseItemIndex(std::string_view text, size_t count) {
    // More digits than any count could need would overflow.
    if (text.empty() || text.size() > 9) {
        return -1;
    }
    size_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
        number = number * 10 + static_cast<size_t>(c - '0');
    }
    if (number < 1 || number > count) {
        return -1;
    }
    return static_cast<int>(number - 1);
}

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void NoteInterrupt(int) {
    g_interrupted = 1;
    std::signal(SIGINT, SIG_DFL);
}

} // namespace

void CatchInterrupt() {
    g_interrupted = 0;
    std::signal(SIGINT, NoteInterrupt);
}

bool TakeInterrupt() {
    if (g_interrupted == 0) {
        return false;
    }
    g_interrupted = 0;
    return true;
}

} // namespace velunor::cli
