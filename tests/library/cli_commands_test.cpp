#include "library_fixture.h"
#include "support/renderer_program.h"

#include "library/novel_index.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace velunor::testing {
namespace {

struct CliRun {
    int code;
    std::string output;
};

// velunor-cli, copied into the fixture's program folder so that it works on that folder.
class CliCommands : public LibraryFixture {
  protected:
    explicit CliCommands(const std::string& siteRoot = TestSite::DefaultRoot())
        : LibraryFixture(siteRoot) {
        std::filesystem::copy_file(VELUNOR_CLI, temp_.File("velunor-cli"));
    }

    CliRun Cli(const std::string& arguments, const std::string& startFolder = {}) {
        std::string folder = startFolder.empty() ? temp_.Path() : startFolder;
        return Shell("cd '" + folder + "' && '" + temp_.File("velunor-cli") + "' " + arguments);
    }

    CliRun Shell(const std::string& line) {
        std::string command = line + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        CliRun run{-1, {}};
        char buffer[4096];
        size_t count = 0;
        while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            run.output.append(buffer, count);
        }
        int status = pclose(pipe);
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }
};

TEST_F(CliCommands, DownloadRefetchAndBookshelfWorkFromTheTerminal) {
    WriteSearchResults({GbkHit(u"三章小说", "sanzhang.html"), GbkHit(u"混合小说", "hunhe.html")});
    CliRun download = Cli("download 2");
    // Three of the five chapters fail: the command fails and says so last.
    EXPECT_EQ(download.code, 1) << download.output;
    EXPECT_NE(download.output.find("bookshelf: 书屋甲 - 混合小说"), std::string::npos);
    EXPECT_NE(download.output.find(
                  "[下载完成！ 其中 3 章下载失败，可在书架上右键选择“重新下载失败章节”。]\n"),
              std::string::npos)
        << download.output;
    EXPECT_EQ(Cli("download 3").code, 2);

    // A page named relative to the folder velunor-cli starts in; chapter 3 has no text.
    std::string novel = NativePath(NovelFolder(kGbkSite, u"混合小说"));
    CliRun refetch = Cli("refetch 3.html", novel);
    EXPECT_EQ(refetch.code, 1);
    EXPECT_NE(refetch.output.find("Velunor: 在目标站没有提取到章节内容，请更换目标站！"),
              std::string::npos);

    EXPECT_EQ(Cli("shelf").output,
              "编号  新章节  未读  未完成  小说\n   1       0     5       3  书屋甲 - 混合小说\n");
    EXPECT_EQ(Cli("shelf open 1").output, "page: " + novel + "/ContentsPage.html\n");
    EXPECT_EQ(Cli("shelf delete 2").code, 2);
    CliRun removed = Cli("shelf delete 1");
    EXPECT_EQ(removed.output, "deleted: 书屋甲 - 混合小说（3 章未完成）\nthe bookshelf is empty\n");
    EXPECT_FALSE(Exists(novel));
}

// A site whose search only its page's script can submit and whose chapters sit behind a script
// challenge: velunor-cli searches and downloads it whole through the renderer program beside it.
TEST_F(CliCommands, SwitchSourceListsTheOtherSitesAndTakesEveryChapterFromTheOneGiven) {
    std::u16string folder = ShelveNovelOfTwoSites();
    CliRun listed = Cli("switch-source 1");
    EXPECT_EQ(listed.code, 0) << listed.output;
    EXPECT_NE(listed.output.find("1. 书屋甲：失败（"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("3. 雪站乙：雪山行（林木），共 6 章，最新：第七章 新章\n"),
              std::string::npos);
    EXPECT_EQ(Cli("switch-source 1 --from 3").code, 2);
    EXPECT_EQ(Cli("switch-source 1 --site 星站").code, 1);

    // From chapter 3 on: chapter 5, stored from the novel's own site, is taken too; chapter 2
    // stays failed, and chapter 6, which the other site does not have, keeps its state.
    CliRun switched = Cli("switch-source 1 --site 雪站乙 --from 3");
    EXPECT_EQ(switched.code, 0) << switched.output;
    EXPECT_NE(switched.output.find("[换源完成：从 雪站乙 取回 3 章，1 章未找到。]\n"),
              std::string::npos)
        << switched.output;
    NovelIndex index;
    ASSERT_TRUE(LoadNovelIndex(folder, index));
    std::vector<std::u16string> states;
    for (const IndexedChapter& chapter : index.Chapters) {
        states.push_back(std::u16string(ChapterStateName(chapter.State)) + u":" + chapter.Source);
    }
    EXPECT_EQ(states,
              (std::vector<std::u16string>{u"stored:", u"failed:", u"stored:雪站乙",
                                           u"stored:雪站乙", u"stored:雪站乙", u"failed:"}));
    EXPECT_EQ(ShownChapterText(ReadPageText(folder + u"/5.html")), u"乙站正文5");
    EXPECT_EQ(Cli("shelf").output, "编号  新章节  未读  未完成  小说\n"
                                   "   1       0     6       2  雪站甲 - 雪山行\n");
}

TEST_F(CliCommands, AScriptGuardedSiteIsSearchedAndDownloadedThroughTheRenderer) {
    temp_.Write("Rule/scripted.xml",
                site_.RuleFile(std::string(VELUNOR_TEST_DATA) + "/rule-check/scripted.xml"));
    std::filesystem::create_symlink(RendererProgram(), temp_.File("velunor-renderer"));
    ASSERT_EQ(Cli("select 3").code, 0);
    CliRun search = Cli("search 夜航船");
    ASSERT_EQ(search.code, 0) << search.output;
    EXPECT_NE(search.output.find("脚本站"), std::string::npos) << search.output;

    CliRun download = Cli("download 1");
    ASSERT_EQ(download.code, 0) << download.output;
    NovelIndex index;
    ASSERT_TRUE(LoadNovelIndex(NovelFolder(u"脚本站", u"夜航船"), index));
    ASSERT_EQ(index.Chapters.size(), 3u);
    for (const IndexedChapter& chapter : index.Chapters) {
        EXPECT_EQ(chapter.State, ChapterState::Stored) << WideToUtf8(chapter.Reason);
    }
    EXPECT_EQ(Cli("shelf").output,
              "编号  新章节  未读  未完成  小说\n   1       0     3       0  脚本站 - 夜航船\n");
}

// The contents page lists its latest chapters twice, newest first in a block above the full
// list: rule-test shows the chapters a download stores, in the order it stores them.
TEST_F(CliCommands, RuleTestListsTheChaptersTheDownloadStores) {
    WriteSearchResults({GbkHit(u"最新小说", "zuixin.html")});
    ASSERT_EQ(Cli("download 1").code, 0);
    NovelIndex index;
    ASSERT_TRUE(LoadNovelIndex(NovelFolder(kGbkSite, u"最新小说"), index));
    std::string stored;
    for (size_t i = 0; i < index.Chapters.size(); ++i) {
        stored += std::to_string(i + 1) + ". " + WideToUtf8(index.Chapters[i].Name) + " | " +
                  WideToUtf8(index.Chapters[i].Url) + "\n";
    }

    std::string page = std::string(VELUNOR_TEST_DATA) + "/site/novel-gbk/book/list/zuixin.html";
    CliRun test = Cli("rule-test Rule/novel-gbk.xml contents '" + page + "' --url " +
                      WideToUtf8(site_.Url("/novel-gbk/book/list/zuixin.html")));
    ASSERT_EQ(test.code, 0) << test.output;
    std::string listed;
    std::istringstream lines(test.output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])) &&
            line.find(". ") != std::string::npos) {
            listed += line + "\n";
        }
    }
    EXPECT_EQ(index.Chapters.size(), 5u);
    EXPECT_EQ(listed, stored) << test.output;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The progress lines of a download's output, in order.
std::vector<std::string> ProgressLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);) {
        if (line.starts_with("已完成 ")) {
            lines.push_back(line);
        }
    }
    return lines;
}

// Into a pipe, progress comes as a line for every tenth of the chapters; on a terminal as one
// line rewritten in place. A download whose every chapter is stored succeeds.
TEST_F(CliCommands, DownloadShowsProgressAsSuitsWhereItsOutputGoes) {
    WriteSearchResults({GbkHit(u"三章小说", "sanzhang.html"), GbkHit(u"混合小说", "hunhe.html")});
    CliRun mixed = Cli("download 2");
    std::vector<std::string> lines = ProgressLines(mixed.output);
    ASSERT_EQ(lines.size(), 5u) << mixed.output;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].starts_with("已完成 " + std::to_string(i + 1) + "/5 章，失败 "))
            << lines[i];
    }
    EXPECT_EQ(lines.back(), "已完成 5/5 章，失败 3 章");
    EXPECT_EQ(mixed.output.find('\r'), std::string::npos);

    CliRun three = Shell("cd '" + temp_.Path() + "' && script -qec \"'" +
                         temp_.File("velunor-cli") + "' download 1\" /dev/null");
    EXPECT_EQ(three.code, 0) << three.output;
    EXPECT_TRUE(Contains(three.output, "\r\x1b[K已完成 3/3 章，失败 0 章")) << three.output;
    EXPECT_TRUE(Contains(three.output, "[下载完成！ ]")) << three.output;
}

// Two velunor-cli at once, the second started `delay` after the first.
std::pair<CliRun, CliRun> AtOnce(const std::function<CliRun()>& first,
                                 const std::function<CliRun()>& second,
                                 std::chrono::milliseconds delay) {
    CliRun firstRun;
    std::thread thread([&] { firstRun = first(); });
    std::this_thread::sleep_for(delay);
    CliRun secondRun = second();
    thread.join();
    return {firstRun, secondRun};
}

TEST_F(CliCommands, TwoProcessesEditingTheShelfAtOnceLoseNothing) {
    constexpr int kRounds = 20;
    // One-chapter novels: their information page names none, so each keeps its listed name.
    WriteSearchResults({GbkHit(u"甲", "noname1.html"), GbkHit(u"乙", "noname2.html")});
    for (int round = 0; round < kRounds; ++round) {
        // From an empty shelf each round, so that both processes add an entry at once.
        std::filesystem::remove(temp_.File("Config/BookShelf.xml"));
        auto [first, second] =
            AtOnce([&] { return Cli("download 1 --force"); },
                   [&] { return Cli("download 2 --force"); }, std::chrono::milliseconds(round % 4));
        ASSERT_EQ(first.code, 0) << first.output;
        ASSERT_EQ(second.code, 0) << second.output;
        ASSERT_EQ(ReadBookShelf(program_).size(), 2u) << "round " << round;
    }

    std::filesystem::remove(temp_.File("Config/BookShelf.xml"));
    ASSERT_EQ(Cli("download 1").code, 0);
    for (int round = 0; round < kRounds; ++round) {
        // Row 1 and row 2 take turns: one is on the shelf and deleted while the other is added.
        std::string added = round % 2 == 0 ? "2" : "1";
        auto [download, removed] = AtOnce([&] { return Cli("download " + added + " --force"); },
                                          [&] { return Cli("shelf delete 1 --force"); },
                                          std::chrono::milliseconds(round % 5 * 10));
        ASSERT_EQ(download.code, 0) << download.output;
        ASSERT_EQ(removed.code, 0) << removed.output;
        std::vector<BookEntry> shelf = ReadBookShelf(program_);
        ASSERT_EQ(shelf.size(), 1u) << "round " << round << "\n" << removed.output;
        EXPECT_EQ(shelf[0].NovelName, added == "1" ? u"甲" : u"乙");
    }
}

// Two downloads from one paced site in two processes: each process would keep the interval
// between its own requests, but only the pacing files they share keep it between theirs.
TEST_F(CliCommands, TwoProcessesTogetherKeepAPacedSitesInterval) {
    constexpr double kInterval = 150;
    // The server notes a request when it has read it, a little after the client sent it.
    constexpr double kClockSlack = 35;
    std::u16string rule = InstallRule("novel-busy");
    AddToRule(rule, "<RequestInterval>150</RequestInterval>\n");
    WriteSearchResults(
        {{u"忙站", rule, u"忙碌小说A", u"墨白", site_.Url("/novel-busy/a/info.html")},
         {u"忙站", rule, u"忙碌小说B", u"墨白", site_.Url("/novel-busy/b/info.html")}});
    auto [first, second] =
        AtOnce([&] { return Cli("download 1 --force"); }, [&] { return Cli("download 2 --force"); },
               std::chrono::milliseconds(0));
    ASSERT_EQ(first.code, 0) << first.output;
    ASSERT_EQ(second.code, 0) << second.output;
    std::vector<LoggedRequest> log = Requests("/novel-busy/");
    ASSERT_EQ(log.size(), 16u);
    for (size_t i = 1; i < log.size(); ++i) {
        EXPECT_GE(log[i].arrived - log[i - 1].arrived, kInterval - kClockSlack)
            << log[i - 1].target << " then " << log[i].target;
    }
}

// Files below `folder`, counted; 0 when there is no such folder.
size_t FileCount(const std::string& folder) {
    if (!std::filesystem::exists(folder)) {
        return 0;
    }
    size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        count += entry.is_regular_file() ? 1 : 0;
    }
    return count;
}

// The hidden folders a delete leaves in the site folder while it works.
size_t TrashCount(const std::string& siteFolder) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(siteFolder)) {
        count += Contains(entry.path().filename().string(), ".trash-") ? 1 : 0;
    }
    return count;
}

// A whole library saved aside and put back before every round of a race.
class LibrarySnapshot {
  public:
    LibrarySnapshot(const TempFolder& temp, const std::string& name) : temp_(temp), name_(name) {
        std::filesystem::create_directories(temp_.File(name_));
        std::filesystem::copy(temp_.File("Novel"), temp_.File(name_ + "/Novel"),
                              std::filesystem::copy_options::recursive);
        std::filesystem::copy(temp_.File("Config"), temp_.File(name_ + "/Config"),
                              std::filesystem::copy_options::recursive);
    }
    void Restore() const {
        for (const char* folder : {"Novel", "Config"}) {
            std::filesystem::remove_all(temp_.File(folder));
            std::filesystem::copy(temp_.File(name_ + "/" + folder), temp_.File(folder),
                                  std::filesystem::copy_options::recursive);
        }
    }

  private:
    const TempFolder& temp_;
    std::string name_;
};

class CliRaces : public CliCommands {
  protected:
    // Starts velunor-cli with `argument`s in the background, its output thrown away.
    pid_t Start(const std::vector<std::string>& arguments) {
        std::string program = temp_.File("velunor-cli");
        std::vector<char*> argv{program.data()};
        std::vector<std::string> copies = arguments;
        for (std::string& argument : copies) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        pid_t child = fork();
        if (child == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        return child;
    }

    static void Wait(pid_t child) {
        int status = 0;
        waitpid(child, &status, 0);
    }

    // True when `velunor-cli shelf`, which first finishes what killed deletes left, lists `name`.
    bool Listed(const std::string& name) {
        return Contains(Cli("shelf").output, name);
    }
};

// A delete killed at any moment leaves the novel listed with every file of its folder, or
// neither entry nor folder; the next start finishes or undoes what it left half done.
TEST_F(CliRaces, KilledDeleteLeavesTheNovelWholeOrGone) {
    WriteSearchResults({GbkHit(u"三章小说", "sanzhang.html")});
    ASSERT_EQ(Cli("download 1").code, 0);
    const std::string folder = NativePath(NovelFolder(kGbkSite, u"三章小说"));
    const std::string site = NativePath(program_ + u"Novel/" + kGbkSite);
    // Enough pages that the delete takes a while, as a long novel's does.
    for (int n = 4; n <= 1000; ++n) {
        temp_.Write(folder.substr(temp_.Path().size() + 1) + "/" + std::to_string(n) + ".html",
                    "page");
    }
    const size_t files = FileCount(folder);
    const LibrarySnapshot snapshot(temp_, "snapshot");
    auto started = std::chrono::steady_clock::now();
    Wait(Start({"shelf", "delete", "1"}));
    auto whole = std::chrono::steady_clock::now() - started;
    ASSERT_FALSE(Exists(folder));

    constexpr int kRounds = 16;
    int kept = 0;
    int gone = 0;
    for (int round = 0; round <= kRounds; ++round) {
        snapshot.Restore();
        pid_t child = Start({"shelf", "delete", "1"});
        // Kill points spread over the whole delete, from before it starts to after it ends.
        std::this_thread::sleep_for(whole * round / (kRounds - 3));
        kill(child, SIGKILL);
        Wait(child);
        bool listed = Listed("三章小说");
        SCOPED_TRACE("round " + std::to_string(round));
        if (listed) {
            ++kept;
            ASSERT_EQ(FileCount(folder), files);
        } else {
            ++gone;
            ASSERT_FALSE(Exists(folder));
        }
        ASSERT_EQ(TrashCount(site), 0u);
    }
    std::printf("kill points: %d kept the novel, %d deleted it\n", kept, gone);
}

// An update and a delete of one novel at once: the delete either happens, before or after the
// update, or is refused as busy; the novel is never listed broken nor its folder made again
// without an entry.
TEST_F(CliRaces, UpdateAndDeleteOfOneNovelNeverLeaveItHalf) {
    WriteSearchResults({GbkHit(u"混合小说", "hunhe.html")});
    ASSERT_EQ(Cli("download 1").code, 1);
    const std::string folder = NativePath(NovelFolder(kGbkSite, u"混合小说"));
    const LibrarySnapshot snapshot(temp_, "snapshot");
    auto started = std::chrono::steady_clock::now();
    Cli("update 1");
    auto update = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);

    constexpr int kRounds = 12;
    for (int round = 0; round <= kRounds; ++round) {
        snapshot.Restore();
        bool deleteFirst = round % 3 == 2;
        auto delay =
            deleteFirst ? std::chrono::milliseconds(round % 4) : update * round / (kRounds - 2);
        auto [first, second] = deleteFirst
                                   ? AtOnce([&] { return Cli("shelf delete 1 --force"); },
                                            [&] { return Cli("update 1 --force"); }, delay)
                                   : AtOnce([&] { return Cli("update 1 --force"); },
                                            [&] { return Cli("shelf delete 1 --force"); }, delay);
        const CliRun& removed = deleteFirst ? first : second;
        SCOPED_TRACE("round " + std::to_string(round) + "\n" + first.output + second.output);
        bool listed = Listed("混合小说");
        if (listed) {
            ASSERT_EQ(removed.code, 1);
            ASSERT_TRUE(Contains(removed.output, "本书正在下载或更新，请等它完成后再试。"));
            for (const char* file :
                 {"/NovelIndex.xml", "/ContentsPage.html", "/1.html", "/5.html"}) {
                ASSERT_TRUE(Exists(folder + file)) << file;
            }
        } else {
            ASSERT_EQ(removed.code, 0);
            ASSERT_FALSE(Exists(folder));
        }
    }
}

TEST_F(CliCommands, ShelfThatCannotBeSavedFailsTheCommand) {
    WriteSearchResults({GbkHit(u"甲", "noname1.html")});
    std::filesystem::create_directories(temp_.File("Config/BookShelf.xml"));
    CliRun download = Cli("download 1");
    EXPECT_EQ(download.code, 1);
    EXPECT_TRUE(
        Contains(download.output, "[无法写入书架文件 Config/BookShelf.xml，本书未能加入书架！]\n"))
        << download.output;
    EXPECT_TRUE(download.output.ends_with("[下载完成，但本书未能加入书架！]\n"));
    EXPECT_FALSE(Contains(download.output, "bookshelf:"));

    std::filesystem::remove(temp_.File("Config/BookShelf.xml"));
    ASSERT_EQ(Cli("download 1").code, 0);
    // A disk that takes no more bytes, for the superuser as for anyone.
    CliRun full = Shell("cd '" + temp_.Path() + "' && trap '' XFSZ && ulimit -f 0 && '" +
                        temp_.File("velunor-cli") + "' shelf delete 1");
    EXPECT_EQ(full.code, 1);
    EXPECT_EQ(full.output, "[无法写入书架文件 Config/BookShelf.xml，小说未能删除！]\n");
    EXPECT_TRUE(Exists(NativePath(NovelFolder(kGbkSite, u"甲") + u"/ContentsPage.html")));
    EXPECT_EQ(Cli("shelf").output,
              "编号  新章节  未读  未完成  小说\n   1       0     1       0  书屋甲 - 甲\n");

    // A damaged shelf is kept aside and the command says so.
    temp_.Write("Config/BookShelf.xml", "<BookShelf>\r\n<Book>\r\n<TargetSite>书屋");
    download = Cli("download 1");
    EXPECT_EQ(download.code, 0) << download.output;
    EXPECT_TRUE(
        Contains(download.output, "[书架文件已损坏，原文件已保留为 Config/BookShelf.xml.damaged-"))
        << download.output;
    EXPECT_EQ(Cli("shelf").output,
              "编号  新章节  未读  未完成  小说\n   1       0     1       0  书屋甲 - 甲\n");
}

TEST_F(CliCommands, RefetchOfAPageThatCannotBeReadChangesNothing) {
    WriteSearchResults({GbkHit(u"甲", "noname1.html")});
    ASSERT_EQ(Cli("download 1").code, 0);
    std::string page = NativePath(NovelFolder(kGbkSite, u"甲") + u"/1.html");
    std::string before = ReadFileBytes(page);
    ASSERT_EQ(mkfifo(temp_.File("page.fifo").c_str(), 0666), 0);
    for (const std::string& file :
         {temp_.File("page.fifo"), std::string("/dev/zero"), temp_.File("missing.html")}) {
        CliRun refetch = Cli("refetch '" + file + "'");
        EXPECT_EQ(refetch.code, 1);
        EXPECT_EQ(refetch.output, "[无法读取本页文件，未做任何改动！]\n");
    }
    // The page names the rule file it was made with; one that cannot be read stops the fetch.
    std::string withZeroRule = before;
    size_t rule = withZeroRule.find(">novel-gbk.xml<");
    ASSERT_NE(rule, std::string::npos);
    temp_.Write("Novel/书屋甲/甲/1.html",
                withZeroRule.replace(rule + 1, std::strlen("novel-gbk.xml"), "/dev/zero"));
    CliRun refetch = Cli("refetch '" + page + "'");
    EXPECT_EQ(refetch.code, 1);
    EXPECT_EQ(refetch.output, "[无法读取本页记录的规则文件，未做任何改动！]\n");
}

// A site folder of the fixture's own, whose routes the server reads when it starts and whose
// pages a test writes once it knows the server's address.
struct OwnSiteRoot {
    OwnSiteRoot() {
        std::filesystem::create_directories(root.File("novel-gbk/book/list"));
        root.Write(
            "novel-gbk/routes.json",
            R"({"/book/list/slow.html": {"delay_ms": 4000, "body": "<div id=\"text\">late</div>"}})");
    }
    TempFolder root;
};

class SiteFailureReasons : private OwnSiteRoot, public CliCommands {
  protected:
    SiteFailureReasons() : CliCommands(root.Path()) {}

    void WriteGbk(const std::string& name, const std::u16string& text) {
        root.Write("novel-gbk/" + name, WideToAnsi(text));
    }
};

// A reader is told which failure stopped each chapter, on its page and, with libcurl's own
// words, in velunor-cli's output: a host that does not exist, a secure address whose server
// speaks no TLS, and a site slower than the rule's time limit.
TEST_F(SiteFailureReasons, EachFailedChapterSaysWhy) {
    AddToRule(gbkRule_, "<RequestTimeout>1</RequestTimeout>");
    WriteGbk(
        "book/yuanyin.html",
        u"<h1>原因小说</h1><p>作者：佚名</p><a id=\"list\" href=\"list/yuanyin.html\">目录</a>");
    std::u16string tls = u"https://127.0.0.1:" + DecimalText(site_.Port()) + u"/novel-gbk/x.html";
    WriteGbk(
        "book/list/yuanyin.html",
        u"<ul id=\"chapters\"><li><a href=\"http://nohost.invalid/1.html\">第一章 无名</a></li>"
        u"<li><a href=\"" +
            tls +
            u"\">第二章 假锁</a></li>"
            u"<li><a href=\"slow.html\">第三章 迟缓</a></li>"
            u"<li><a href=\"ok.html\">第四章 正常</a></li></ul>");
    WriteGbk("book/list/ok.html", u"<div id=\"text\">正文</div>");
    WriteSearchResults({GbkHit(u"原因小说", "yuanyin.html")});

    CliRun download = Cli("download 1");
    EXPECT_EQ(download.code, 1) << download.output;
    std::u16string folder = NovelFolder(kGbkSite, u"原因小说");
    const std::pair<const char16_t*, const char*> reasons[] = {
        {u"找不到服务器", "失败：第一章 无名：找不到服务器（curl 6："},
        {u"证书无效", "失败：第二章 假锁：证书无效（curl "},
        {u"连接超时", "失败：第三章 迟缓：连接超时（curl "},
    };
    for (size_t i = 0; i < std::size(reasons); ++i) {
        const auto& [reason, line] = reasons[i];
        std::u16string page =
            ReadPageText(folder + u"/" + DecimalText(static_cast<long long>(i) + 1) + u".html");
        EXPECT_EQ(ShownChapterText(page), FailedChapterNotice(reason)) << line;
        EXPECT_TRUE(Contains(download.output, line)) << download.output;
    }
    EXPECT_EQ(ShownChapterText(ReadPageText(folder + u"/4.html")), u"正文");

    CliRun refetch = Cli("refetch 1.html", NativePath(folder));
    EXPECT_EQ(refetch.code, 1);
    EXPECT_TRUE(Contains(refetch.output, "本章下载失败：找不到服务器。")) << refetch.output;
    EXPECT_TRUE(Contains(refetch.output, "原因：找不到服务器（curl 6：")) << refetch.output;
}

// Pages that cannot be written are reported, not passed over: a novel folder whose images
// folder cannot be made stops the download and says so.
TEST_F(CliCommands, FolderThatCannotBeMadeStopsTheDownloadAndSaysSo) {
    std::u16string folder = NovelFolder(kGbkSite, u"三章小说");
    ASSERT_TRUE(CreateFolderPath(folder));
    temp_.Write(NativePath(folder + u"/images").substr(temp_.Path().size() + 1),
                "a file in the way");
    WriteSearchResults({GbkHit(u"三章小说", "sanzhang.html")});
    CliRun download = Cli("download 1");
    EXPECT_EQ(download.code, 1);
    EXPECT_TRUE(Contains(download.output, "无法创建本书的文件夹")) << download.output;
    EXPECT_TRUE(Contains(download.output, "原因：无法写入文件")) << download.output;
}

// A page template that is missing, empty or lacks what its pages need stops the download before
// anything is written, naming the template, and the command fails.
TEST_F(CliCommands, UnusableTemplateStopsTheDownloadBeforeAnythingIsWritten) {
    WriteSearchResults({GbkHit(u"三章小说", "sanzhang.html")});
    struct Case {
        const char* file;
        std::function<std::string(const std::string&)> damage;
        const char* message;
    };
    const Case cases[] = {
        {"ContentPage.html", [](const std::string&) { return std::string(); },
         "[页面模板 Template/ContentPage.html 是空的，下载中止！]\n"},
        {"ContentsPage.html", [](const std::string&) { return std::string(); },
         "[页面模板 Template/ContentsPage.html 是空的，下载中止！]\n"},
        {"ContentPage.html",
         [](std::string text) {
             text.erase(text.find("{ChapterContent}"), 16);
             return text;
         },
         "[页面模板 Template/ContentPage.html 缺少 {ChapterContent}，下载中止！]\n"},
        {"ContentsPage.html",
         [](std::string text) {
             text.erase(text.find("{Contents}"), 10);
             return text;
         },
         "[页面模板 Template/ContentsPage.html 缺少 {Contents}，下载中止！]\n"},
        {"ContentPage.html", nullptr, "[无法读取页面模板 Template/ContentPage.html，下载中止！]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::string path = "Template/" + std::string(c.file);
        std::string shipped = temp_.Read(path);
        if (c.damage) {
            temp_.Write(path, c.damage(shipped));
        } else {
            std::filesystem::remove(temp_.File(path));
        }
        CliRun download = Cli("download 1");
        temp_.Write(path, shipped);
        EXPECT_EQ(download.code, 1);
        EXPECT_TRUE(download.output.ends_with(c.message)) << download.output;
        EXPECT_FALSE(Exists(temp_.File("Novel")));
        EXPECT_FALSE(Exists(temp_.File("Config/BookShelf.xml")));
    }
    EXPECT_EQ(RequestCount("/novel-gbk/book/sanzhang.html"), 0u);
}

// Two hits listed alike are two rows: "download 2" downloads the second, not the first like it.
TEST_F(CliCommands, DownloadTakesTheRowItIsGiven) {
    Hit first = GbkHit(u"三章小说", "sanzhang.html");
    Hit second = first;
    second.infoPageUrl = site_.Url("/novel-gbk/book/hunhe.html");
    WriteSearchResults({first, second});
    Cli("download 2");
    EXPECT_EQ(RequestCount("/novel-gbk/book/sanzhang.html"), 0u);
    EXPECT_EQ(RequestCount("/novel-gbk/book/hunhe.html"), 1u);

    // Or the address of a novel's page, read with its site's rule; anything else is no row.
    CliRun byAddress = Cli("download '" + WideToUtf8(first.infoPageUrl) + "'");
    EXPECT_EQ(byAddress.code, 0) << byAddress.output;
    EXPECT_NE(byAddress.output.find("bookshelf: 书屋甲 - 三章小说"), std::string::npos);
    EXPECT_EQ(Cli("download ftp://127.0.0.1/book/").code, 2);
}

} // namespace
} // namespace velunor::testing
