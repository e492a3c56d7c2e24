#include "core/core.h"
#include "support/temp_folder.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace velunor {
namespace {

using testing::TempFolder;
using testing::WaitUntil;

// Whether a second process could take the lock on `path` right now: it tries once, without
// waiting, and tells by its exit status.
bool FreeForAnotherProcess(const std::string& path) {
    pid_t child = fork();
    if (child == 0) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Whether some thread or process is blocked waiting for a lock on the file at `path`: the kernel
// lists such waiters in /proc/locks, marked "->", with the file's inode number.
bool SomeoneWaitsForLockOn(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return false;
    }
    std::string inode = ":" + std::to_string(info.st_ino) + " ";
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        if (line.find("-> FLOCK") != std::string::npos && line.find(inode) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(FileLock, KeepsOtherProcessesAndThreadsOutUntilReleased) {
    TempFolder temp;
    std::string path = temp.File("Config.lock");
    std::atomic<bool> secondHeld{false};
    std::thread second;
    {
        CFileLock lock(Utf8ToWide(path));
        ASSERT_TRUE(lock.Locked());
        EXPECT_FALSE(FreeForAnotherProcess(path));
        second = std::thread([&] {
            CFileLock again(Utf8ToWide(path));
            secondHeld = again.Locked();
        });
        // The second thread either gets through at once, or waits in the lock as it must.
        EXPECT_TRUE(WaitUntil([&] { return secondHeld || SomeoneWaitsForLockOn(path); }));
        EXPECT_FALSE(secondHeld);
    }
    second.join();
    EXPECT_TRUE(secondHeld);
    EXPECT_TRUE(FreeForAnotherProcess(path));
    // Where no lock file can be made the caller is not kept waiting.
    EXPECT_FALSE(CFileLock(temp.WideFile("missing/Config.lock")).Locked());
}

} // namespace
} // namespace velunor
