// Updating every novel of the shelf at once across paced sites, from one process and from two,
// stopping it, deleting a novel while it downloads, and a second process on a library in use.

#include "library_fixture.h"

#include "library/internal/novel_claim.h"
#include "support/serial_sites.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <memory>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace velunor::testing {
namespace {

struct PacedSite {
    int number;
    std::string folder;
    std::string name;
    int intervalMs;
};

const PacedSite kSites[] = {
    {0, "paced1", "甲站", 100}, {1, "paced2", "乙站", 150}, {2, "paced3", "丙站", 200}};

// The server notes a request when it has read it, a little after the client sent it.
constexpr double kClockSlack = 35;

// The site root, with the sites' folders made before the server starts, as it serves only the
// folders it finds then.
struct SerialRoot {
    SerialRoot() {
        for (const PacedSite& site : kSites) {
            std::filesystem::create_directories(root.File(site.folder));
        }
    }
    TempFolder root;
};

class UpdateAll : public SerialRoot, public LibraryFixture {
  protected:
    UpdateAll() : LibraryFixture(root.Path()) {
        std::filesystem::copy_file(VELUNOR_CLI, temp_.File("velunor-cli"));
    }

    // Writes `novels` novels of `chapters` chapters on every site, without pacing, and downloads
    // them all; then the sites ask for their intervals.
    void ShelveNovels(int novels, int chapters) {
        for (const PacedSite& site : kSites) {
            temp_.Write("Rule/" + site.folder + ".xml",
                        SerialRule(Base(site), site.folder, site.name, 0));
            for (int n = 1; n <= novels; ++n) {
                WriteSerialNovel(root.Path(), site.folder, site.name, n, chapters);
                RecordingPort port;
                SearchHit hit{
                    Wide(site.name),
                    temp_.WideFile("Rule/" + site.folder + ".xml"),
                    Wide(SerialNovelName(site.name, n)),
                    u"佚名",
                    {},
                    Wide(Base(site) + "/" + site.folder + "/n" + std::to_string(n) + "/info.html")};
                ASSERT_TRUE(DownloadSearchHit(port, program_, hit).Succeeded());
            }
            temp_.Write("Rule/" + site.folder + ".xml",
                        SerialRule(Base(site), site.folder, site.name, site.intervalMs));
        }
    }

    // The server of `site`: one each, as the program paces each host and port on its own.
    TestSite& Server(const PacedSite& site) {
        return site.number == 0 ? site_ : *servers_[site.number - 1];
    }

    std::string Base(const PacedSite& site) {
        return Server(site).BaseUrl();
    }

    static std::u16string Wide(const std::string& text) {
        return Utf8ToWide(text);
    }

    std::u16string Folder(const PacedSite& site, int novel) {
        return NovelFolder(Wide(site.name), Wide(SerialNovelName(site.name, novel)));
    }

    NovelIndex Index(const PacedSite& site, int novel) {
        NovelIndex index;
        EXPECT_TRUE(LoadNovelIndex(Folder(site, novel), index));
        return index;
    }

    // The requests of `site` after the first `skip`.
    std::vector<LoggedRequest> SiteRequests(const PacedSite& site, size_t skip) {
        std::vector<LoggedRequest> log = Requests(Server(site), "/" + site.folder + "/");
        log.erase(log.begin(), log.begin() + static_cast<long>(std::min(skip, log.size())));
        return log;
    }

    // Every site's requests so far, counted.
    std::map<std::string, size_t> RequestCounts() {
        std::map<std::string, size_t> counts;
        for (const PacedSite& site : kSites) {
            counts[site.folder] = Requests(Server(site), "/" + site.folder + "/").size();
        }
        return counts;
    }

    // No two of `log`'s requests arrived closer together than `site`'s interval.
    static void ExpectPaced(const PacedSite& site, const std::vector<LoggedRequest>& log) {
        for (size_t i = 1; i < log.size(); ++i) {
            EXPECT_GE(log[i].arrived - log[i - 1].arrived, site.intervalMs - kClockSlack)
                << log[i - 1].target << " then " << log[i].target;
        }
    }

    // Starts velunor-cli with `arguments` in the program folder, its output going to `output`.
    pid_t StartCli(const std::vector<std::string>& arguments, const std::string& output) {
        std::string program = temp_.File("velunor-cli");
        std::vector<std::string> copies{program};
        copies.insert(copies.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : copies) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        pid_t child = -1;
        EXPECT_EQ(posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        return child;
    }

    std::unique_ptr<TestSite> servers_[2] = {std::make_unique<TestSite>(root.Path()),
                                             std::make_unique<TestSite>(root.Path())};

    // Where each server's clock stands at one moment: the servers started one after another,
    // and each logs in milliseconds since its own start. A request to each, one right after the
    // other, gives the offsets.
    std::map<std::string, double> ClockOffsets() {
        std::map<std::string, double> offsets;
        for (const PacedSite& site : kSites) {
            FetchResult result;
            FetchPage(result, Server(site).Url("/clock"));
        }
        for (const PacedSite& site : kSites) {
            offsets[site.folder] = Requests(Server(site), "/clock").back().arrived;
        }
        return offsets;
    }

    static int ExitCode(pid_t child) {
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// Three paced sites of three novels each gain two chapters a novel; one novel's new chapter is
// missing. Every novel is updated, the summary counts them, each site keeps its interval, and
// the sites are asked side by side rather than one after the other.
TEST_F(UpdateAll, UpdatesEveryNovelOfThreePacedSitesSideBySide) {
    ShelveNovels(3, 2);
    for (const PacedSite& site : kSites) {
        for (int n = 1; n <= 3; ++n) {
            WriteSerialNovel(root.Path(), site.folder, site.name, n, 4,
                             site.folder == "paced2" && n == 2 ? 4 : 0);
        }
    }
    std::map<std::string, size_t> before = RequestCounts();
    std::map<std::string, double> clocks = ClockOffsets();
    UpdateAllOutcome outcome = UpdateAllNovels(port_, program_);

    EXPECT_FALSE(outcome.Stopped);
    EXPECT_EQ(outcome.Updated, 9);
    EXPECT_EQ(outcome.NovelsWithNew, 9);
    EXPECT_EQ(outcome.NewChapters, 18);
    ASSERT_EQ(outcome.Failed.size(), 1u);
    EXPECT_EQ(port_.Statuses().back(),
              u"全部更新完成：9 本有新章节，共 18 章；1 本失败：乙站小说2");
    std::set<std::u16string> progress;
    for (const std::u16string& status : port_.Statuses()) {
        if (status.rfind(u"正在更新 ", 0) == 0) {
            progress.insert(status.substr(0, status.find(u"：")));
        }
    }
    EXPECT_EQ(progress.size(), 9u);
    EXPECT_EQ(progress.count(u"正在更新 9/9"), 1u);

    std::map<std::string, std::vector<LoggedRequest>> logs;
    for (const PacedSite& site : kSites) {
        for (int n = 1; n <= 3; ++n) {
            NovelIndex index = Index(site, n);
            ASSERT_EQ(index.Chapters.size(), 4u);
            bool missing = site.folder == "paced2" && n == 2;
            EXPECT_EQ(index.UnfinishedCount(), missing ? 1 : 0) << site.folder << n;
        }
        logs[site.folder] = SiteRequests(site, before[site.folder]);
        // The information and contents pages and two chapters of each of the three novels.
        ASSERT_EQ(logs[site.folder].size(), 12u) << site.folder;
        ExpectPaced(site, logs[site.folder]);
    }
    // Side by side: every site is asked first before any site is asked a second time, which
    // each one is only once its own interval has passed.
    for (const PacedSite& a : kSites) {
        for (const PacedSite& b : kSites) {
            EXPECT_LT(logs[a.folder][0].arrived - clocks[a.folder],
                      logs[b.folder][1].arrived - clocks[b.folder])
                << a.folder << " waited for " << b.folder;
        }
    }
}

// Two processes updating every novel of one library at once: the sites' intervals hold between
// them, and every novel ends whole.
TEST_F(UpdateAll, TwoProcessesUpdatingEveryNovelKeepEachSitesInterval) {
    ShelveNovels(2, 1);
    for (const PacedSite& site : kSites) {
        for (int n = 1; n <= 2; ++n) {
            WriteSerialNovel(root.Path(), site.folder, site.name, n, 4);
        }
    }
    std::map<std::string, size_t> before = RequestCounts();
    pid_t first = StartCli({"update", "all", "--force"}, temp_.File("first.txt"));
    pid_t second = StartCli({"update", "all", "--force"}, temp_.File("second.txt"));
    ExitCode(first);
    ExitCode(second);
    for (const char* output : {"first.txt", "second.txt"}) {
        EXPECT_TRUE(
            (ReadFileBytes(temp_.File(output)).find("[全部更新完成：") != std::string::npos))
            << ReadFileBytes(temp_.File(output));
    }
    for (const PacedSite& site : kSites) {
        ExpectPaced(site, SiteRequests(site, before[site.folder]));
        for (int n = 1; n <= 2; ++n) {
            NovelIndex index = Index(site, n);
            EXPECT_EQ(index.Chapters.size(), 4u);
            EXPECT_EQ(index.UnfinishedCount(), 0) << site.folder << n;
        }
    }
}

// Ctrl-C during velunor-cli update all: no novel starts after it, the running chapters stop and
// stay pending rather than failed, and the summary says it stopped.
TEST_F(UpdateAll, CtrlCStopsUpdatingEveryNovelCleanly) {
    ShelveNovels(3, 1);
    for (const PacedSite& site : kSites) {
        for (int n = 1; n <= 3; ++n) {
            WriteSerialNovel(root.Path(), site.folder, site.name, n, 6);
        }
    }
    std::string output = temp_.File("output.txt");
    pid_t child = StartCli({"update", "all"}, output);
    ASSERT_TRUE(WaitUntil(
        [&] { return (ReadFileBytes(output).find("正在更新 4/9") != std::string::npos); }));
    kill(child, SIGINT);
    EXPECT_EQ(ExitCode(child), 130);
    std::string printed = ReadFileBytes(output);
    EXPECT_TRUE((printed.find("[已停止：已更新 ") != std::string::npos)) << printed;
    EXPECT_FALSE((printed.find("正在更新 9/9") != std::string::npos)) << printed;
    int pending = 0;
    for (const PacedSite& site : kSites) {
        for (int n = 1; n <= 3; ++n) {
            for (const IndexedChapter& chapter : Index(site, n).Chapters) {
                EXPECT_NE(chapter.State, ChapterState::Failed) << WideToUtf8(chapter.Reason);
                pending += chapter.IsFinished() ? 0 : 1;
            }
        }
    }
    EXPECT_GT(pending, 0);
}

// A delete of a novel whose download runs stops the download, waits for it to let go of the
// novel and then deletes it: folder and entry gone, and the download says nothing of pages it
// could not write.
TEST_F(UpdateAll, DeletingANovelStopsItsDownloadFirst) {
    const PacedSite& site = kSites[2];
    temp_.Write("Rule/" + site.folder + ".xml",
                SerialRule(Base(site), site.folder, site.name, site.intervalMs));
    WriteSerialNovel(root.Path(), site.folder, site.name, 1, 20);
    SearchHit hit{Wide(site.name),
                  temp_.WideFile("Rule/" + site.folder + ".xml"),
                  Wide(SerialNovelName(site.name, 1)),
                  u"佚名",
                  {},
                  Wide(Base(site) + "/" + site.folder + "/n1/info.html")};
    std::thread download([&] { DownloadSearchHit(port_, program_, hit); });
    // Joined however the test ends: the job uses the fixture.
    std::unique_ptr<std::thread, void (*)(std::thread*)> joined(&download,
                                                                [](std::thread* t) { t->join(); });
    auto stored = [&] {
        for (const std::u16string& status : port_.Statuses()) {
            if (status.rfind(u"成功下载章节", 0) == 0) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(port_.WaitUntil(stored, std::chrono::seconds(60)));
    std::u16string folder = Folder(site, 1);
    ASSERT_TRUE(StopJobOfNovel(folder));
    ASSERT_TRUE(WaitForJobOfNovel(folder, std::chrono::seconds(60)));
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    EXPECT_TRUE(model.DeleteBook(0, port_));
    joined.reset();

    EXPECT_FALSE(Exists(NativePath(folder)));
    EXPECT_TRUE(ReadBookShelf(program_).empty());
    EXPECT_LT(Requests(Server(site), "/" + site.folder + "/n1/c").size(), 20u);
    std::vector<std::u16string> statuses = port_.Statuses();
    EXPECT_TRUE(std::any_of(statuses.begin(), statuses.end(), [](const std::u16string& status) {
        return status.rfind(u"已停止：", 0) == 0;
    }));
    for (const std::u16string& status : port_.Statuses()) {
        EXPECT_EQ(status.find(u"无法写入"), std::u16string::npos) << WideToUtf8(status);
        EXPECT_EQ(status.find(u"失败："), std::u16string::npos) << WideToUtf8(status);
    }
}

// While another process holds the library, the commands that write it refuse unless forced,
// and those that only read it go on.
TEST_F(UpdateAll, ASecondProcessWritesALibraryInUseOnlyWhenForced) {
    ShelveNovels(1, 1);
    CFileLock other(LibraryLockPath(program_), false);
    ASSERT_TRUE(other.Locked());
    const struct {
        std::vector<std::string> arguments;
        int code;
    } kCases[] = {
        {{"update", "1"}, 3}, {{"update", "all"}, 3}, {{"shelf", "delete", "1"}, 3},
        {{"shelf"}, 0},       {{"paths"}, 0},         {{"update", "--force", "1"}, 0},
    };
    for (const auto& run : kCases) {
        std::string output = temp_.File("output.txt");
        int code = ExitCode(StartCli(run.arguments, output));
        std::string printed = ReadFileBytes(output);
        EXPECT_EQ(code, run.code) << run.arguments[0] << ": " << printed;
        EXPECT_EQ((printed.find("另一个 Velunor") != std::string::npos), run.code == 3) << printed;
    }
    EXPECT_EQ(ReadBookShelf(program_).size(), 3u);
}

} // namespace
} // namespace velunor::testing
