#include "core/core.h"
#include "support/temp_folder.h"
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velunor {
namespace {

using testing::TempFolder;

std::vector<std::string> SortedNames(const TempFolder& folder) {
    std::vector<std::string> names = ListFolderNames(folder.Path(), "");
    std::sort(names.begin(), names.end());
    return names;
}

bool Save(const TempFolder& folder, const std::string& name, std::u16string_view text) {
    return CXmlDocument::WriteWideAsText(text, Utf8ToWide(folder.File(name)), nullptr, nullptr,
                                         nullptr);
}

// The number of a process that has ended and been reaped.
pid_t EndedProcess() {
    pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

// A child process that lives until the object goes out of scope.
class LiveProcess {
  public:
    LiveProcess() {
        if (::pipe(pipe_) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(pipe_[1]);
            char byte = 0;
            // Returns when the parent closes its end.
            ssize_t ignored = ::read(pipe_[0], &byte, 1);
            ::_exit(static_cast<int>(ignored));
        }
        ::close(pipe_[0]);
    }
    ~LiveProcess() {
        ::close(pipe_[1]);
        if (pid_ > 0) {
            ::waitpid(pid_, nullptr, 0);
        }
    }
    LiveProcess(const LiveProcess&) = delete;
    LiveProcess& operator=(const LiveProcess&) = delete;

    pid_t Pid() const {
        return pid_;
    }

  private:
    int pipe_[2] = {-1, -1};
    pid_t pid_ = -1;
};

TEST(StaleTemporaries, TheFirstSaveIntoAFolderRemovesWhatInterruptedSavesLeftThere) {
    TempFolder folder;
    std::string dead = std::to_string(EndedProcess());
    LiveProcess live;
    ASSERT_GT(live.Pid(), 0);
    std::string alive = std::to_string(live.Pid());
    std::string self = std::to_string(::getpid());
    folder.Write("shelf.xml", "old");
    std::vector<std::string> stale = {
        ".shelf.xml.tmp-" + dead + "-0",
        ".shelf.xml.tmp-" + dead + "-4294967295",
        ".other.xml.tmp-" + dead + "-0", // another file's: the folder is cleared at once
        ".a.tmp-b.tmp-" + dead + "-2",
        // This process's number, but no save of this process holds it: an earlier process
        // had the same number.
        ".shelf.xml.tmp-" + self + "-4000000000",
    };
    std::vector<std::string> kept = {
        ".shelf.xml.tmp-" + alive + "-3", // another process may be saving at this moment
        "shelf.xml.tmp-" + dead + "-0",   // not hidden: not a name a save writes
        ".tmp-" + dead + "-0",
        ".shelf.xml.tmp-" + dead,
        ".shelf.xml.tmp-" + dead + "-1x",
        ".shelf.xml.tmp-0" + dead + "-1",
        ".shelf.xml.tmp-0-1",
        ".shelf.xml.tmp-" + dead + "-99999999999",
    };
    for (const std::string& name : stale) {
        folder.Write(name, "half a save");
    }
    for (const std::string& name : kept) {
        folder.Write(name, "not stale");
    }
    // A folder or a link of that shape is not something a save leaves.
    std::string folderName = ".shelf.xml.tmp-" + dead + "-7";
    std::string linkName = ".shelf.xml.tmp-" + dead + "-8";
    ASSERT_EQ(::mkdir(folder.File(folderName).c_str(), 0700), 0);
    ASSERT_EQ(::symlink("shelf.xml", folder.File(linkName).c_str()), 0);
    kept.push_back(folderName);
    kept.push_back(linkName);

    ASSERT_TRUE(Save(folder, "shelf.xml", u"new"));
    kept.push_back("shelf.xml");
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(SortedNames(folder), kept);
    EXPECT_EQ(folder.Read("shelf.xml"), "new");
}

TEST(StaleTemporaries, ARunningSaveInAnotherThreadKeepsItsFile) {
    TempFolder folder;
    std::string target = folder.File("page.html");
    CReplacingFile running;
    ASSERT_TRUE(running.Open(target));
    std::string temporary = running.TemporaryPath();
    EXPECT_TRUE(temporary.starts_with(folder.File(".page.html.tmp-" + std::to_string(::getpid()))))
        << temporary;
    ASSERT_TRUE(Save(folder, "page.html", u"first"));
    RemoveStaleTemporaries(folder.Path());
    struct stat info {};
    EXPECT_EQ(::stat(temporary.c_str(), &info), 0) << "a running save lost its file";
    ASSERT_TRUE(running.Write("second"));
    EXPECT_TRUE(running.Commit());
    EXPECT_EQ(folder.Read("page.html"), "second");
    EXPECT_EQ(SortedNames(folder), std::vector<std::string>{"page.html"});
}

TEST(StaleTemporaries, ConcurrentSavesOfOneFileAllSucceed) {
    // Threads of this process and another process save the same file at once; a clean-up that
    // took a running save's file for a stale one would make that save fail.
    TempFolder folder;
    constexpr int kSavesEach = 30;
    constexpr int kThreads = 3;
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    pid_t child = ::fork();
    if (child == 0) {
        ::close(start[1]);
        char byte = 0;
        int failures = ::read(start[0], &byte, 1) == 1 ? 0 : 1;
        for (int i = 0; i < kSavesEach; ++i) {
            failures += Save(folder, "shelf.xml", u"<child/>") ? 0 : 1;
        }
        ::_exit(failures == 0 ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    ::close(start[0]);
    std::latch ready(kThreads + 1);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            ready.arrive_and_wait();
            for (int i = 0; i < kSavesEach; ++i) {
                if (!Save(folder, "shelf.xml", u"<thread/>")) {
                    ++failures;
                }
            }
        });
    }
    EXPECT_EQ(::write(start[1], "go", 1), 1);
    ::close(start[1]);
    ready.arrive_and_wait();
    for (std::thread& thread : threads) {
        thread.join();
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "a save in the other process failed";
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(SortedNames(folder), std::vector<std::string>{"shelf.xml"});
}

} // namespace
} // namespace velunor
