// One library, one writer.

#include "cli/library_guard.h"

#include "cli/cli_support.h"
#include "core/core.h"
#include "library/library_lock.h"

#include <algorithm>
#include <cstring>

namespace velunor::cli {
namespace {

bool WritesLibrary(int argc, char** argv) {
    const char* command = argv[1];
    for (const char* writer : {"download", "update", "retry", "refetch"}) {
        if (std::strcmp(command, writer) == 0) {
            return true;
        }
    }
    return std::strcmp(command, "shelf") == 0 && argc >= 3 && std::strcmp(argv[2], "delete") == 0;
}

// Takes every "--force" out of `argv`; true when there was one.
bool TakeForce(int& argc, char** argv) {
    char** end = std::remove_if(argv + 1, argv + argc, [](const char* argument) {
        return std::strcmp(argument, "--force") == 0;
    });
    bool forced = end != argv + argc;
    argc = static_cast<int>(end - argv);
    argv[argc] = nullptr;
    return forced;
}

} // namespace

int GuardLibrary(int& argc, char** argv) {
    bool forced = TakeForce(argc, argv);
    if (argc < 2 || !WritesLibrary(argc, argv) || TakeLibraryLock(GetProgramFolder()) || forced) {
        return 0;
    }
    PrintError(u"另一个 Velunor（窗口或 "
               u"velunor-cli）正在使用此书库，为免两个程序同时写入，本命令未执行。\n"
               u"请等它结束后再试；确认没有别的 Velunor 在写入时，可加 --force 照常执行。");
    return kLibraryInUseStatus;
}

} // namespace velunor::cli
