#include "library_fixture.h"

#include "cli/console_port.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace velunor::testing {
namespace {

// A copy of the fake GB2312 site that a test may change while the server runs.
struct CopiedSite {
    CopiedSite() {
        std::filesystem::copy(TestSite::DefaultRoot() + "/novel-gbk", root.File("novel-gbk"),
                              std::filesystem::copy_options::recursive);
    }
    TempFolder root;
};

class OnDemandFetch : public CopiedSite, public LibraryFixture {
  protected:
    OnDemandFetch() : LibraryFixture(root.Path()) {}

    void SetUp() override {
        Download(GbkHit(u"混合小说", "hunhe.html"));
        ASSERT_EQ(port_.LastStatus(), DownloadDone(3));
        folder_ = NovelFolder(kGbkSite, u"混合小说");
    }

    std::u16string Page(int n) {
        return folder_ + u"/" + ChapterPageName(n);
    }

    /// A window that shows page `path`, its hidden chapter address replaced by `chapterUrl`
    /// when given.
    void Show(RecordingPort& window, const std::u16string& path,
              const std::string& chapterPath = {}) {
        std::u16string page = ReadPageText(path);
        for (const char16_t* id :
             {u"rule_file_path", u"chapter_url", u"chapter_save_file", u"down_state"}) {
            window.SetElement(id, cli::FindElementInnerHtml(page, id));
        }
        if (!chapterPath.empty()) {
            window.SetElement(u"chapter_url", site_.Url("/novel-gbk/book/list/" + chapterPath));
        }
    }

    std::u16string folder_;
};

std::u16string State(const std::u16string& page) {
    return cli::FindElementInnerHtml(page, u"down_state");
}

TEST_F(OnDemandFetch, FailedChapterIsFetchedAgainWhenTheSiteAnswers) {
    root.Write("novel-gbk/book/list/h2.html",
               ReadFileBytes(TestSite::DefaultRoot() + "/novel-gbk/book/list/s2.html"));
    RecordingPort window;
    Show(window, Page(2));
    ASSERT_EQ(State(ReadPageText(Page(2))), u"-1");
    OnDemandChapterFetch(&window, program_);
    std::u16string page = ReadPageText(Page(2));
    EXPECT_EQ(State(page), u"1");
    EXPECT_NE(page.find(u"山路盘旋而上"), std::u16string::npos);
    EXPECT_EQ(page.find(u"{ChapterContent}"), std::u16string::npos);
    EXPECT_EQ(window.Navigations(), std::vector<std::u16string>{Page(2)});
    EXPECT_EQ(window.Statuses(),
              (std::vector<std::u16string>{u"正在读取目标站章节页面……", u"成功下载本章节！"}));
    // A second click reads the state the browser still shows; the file keeps what the first
    // run wrote.
    OnDemandChapterFetch(&window, program_);
    EXPECT_EQ(ReadPageText(Page(2)), page);
}

// Fetching a chapter that holds text again replaces that text, whole; a fetch that finds the
// page already as the site has it changes nothing and does not claim to have downloaded.
TEST_F(OnDemandFetch, StoredChapterIsReplacedOnlyWhenTheSiteGivesSomethingElse) {
    const std::u16string full = u"正文在此。<span class=\"ad\">请记住本站网址</span>正文结束。";
    std::u16string partial = ReadPageText(Page(1));
    ASSERT_EQ(ShownChapterText(partial), u"正文在此。正文结束。");
    ReplaceAll(partial, u"正文在此。正文结束。", u"正文在此。");
    std::u16string encoding(kPageEncoding);
    ASSERT_TRUE(WritePage(encoding, Page(1), partial));
    RecordingPort window;
    Show(window, Page(1));
    OnDemandChapterFetch(&window, program_);
    std::u16string page = ReadPageText(Page(1));
    EXPECT_EQ(State(page), u"1");
    EXPECT_EQ(ShownChapterText(page), full);
    EXPECT_EQ(window.LastStatus(), u"成功下载本章节！");
    EXPECT_EQ(window.Navigations(), std::vector<std::u16string>{Page(1)});

    std::string bytes = ReadFileBytes(NativePath(Page(1)));
    RecordingPort again;
    Show(again, Page(1));
    OnDemandChapterFetch(&again, program_);
    EXPECT_EQ(again.LastStatus(), u"本章内容与网站上的相同，未做改动。");
    EXPECT_TRUE(again.Navigations().empty());
    EXPECT_EQ(ReadFileBytes(NativePath(Page(1))), bytes);

    // A stored chapter whose page the site no longer gives keeps its text.
    RecordingPort gone;
    Show(gone, Page(1), "gone.html");
    OnDemandChapterFetch(&gone, program_);
    page = ReadPageText(Page(1));
    EXPECT_EQ(State(page), u"-1");
    EXPECT_EQ(ShownChapterText(page), full);
}

// Pages written before they had a text block still hold the bare placeholder; a fetch fills it
// and leaves the block behind for the next one.
TEST_F(OnDemandFetch, PageWithTheOldPlaceholderIsFilledAndCanBeFilledAgain) {
    std::u16string old = ReadPageText(Page(3));
    ReplaceAll(old, ChapterTextBlock(FailedChapterNotice(u"未找到正文")),
               kChapterContentPlaceholder);
    ASSERT_EQ(ShownChapterText(old), u"(none)");
    std::u16string encoding(kPageEncoding);
    ASSERT_TRUE(WritePage(encoding, Page(3), old));
    for (const char* chapter : {"s1.html", "s2.html"}) {
        RecordingPort window;
        Show(window, Page(3), chapter);
        OnDemandChapterFetch(&window, program_);
        EXPECT_EQ(window.LastStatus(), u"成功下载本章节！") << chapter;
    }
    std::u16string page = ReadPageText(Page(3));
    EXPECT_EQ(State(page), u"1");
    EXPECT_EQ(Count(page, kChapterTextStart), 1u);
    EXPECT_NE(ShownChapterText(page).find(u"山路盘旋而上"), std::u16string::npos);
    EXPECT_EQ(page.find(u"天色未明"), std::u16string::npos);
}

TEST_F(OnDemandFetch, AddressesAreReadBackAsTheBrowserShowsThem) {
    // A browser's inner HTML escapes "&"; the address must still name the file on the site.
    root.Write("novel-gbk/book/list/h&copy=2.html",
               ReadFileBytes(TestSite::DefaultRoot() + "/novel-gbk/book/list/s2.html"));
    RecordingPort window;
    Show(window, Page(2));
    window.SetElement(u"chapter_url", site_.Url("/novel-gbk/book/list/h&amp;copy=2.html"));
    OnDemandChapterFetch(&window, program_);
    EXPECT_EQ(State(ReadPageText(Page(2))), u"1");
}

TEST_F(OnDemandFetch, PlaceholderPageOfImagesIsCompleted) {
    std::u16string placeholder = ReadPageText(Page(3));
    ReplaceAll(placeholder, DownStateElement(u"0"), DownStateElement(u"{DownState}"));
    ReplaceAll(placeholder, StoredLibraryPath(program_, Page(3)),
               StoredLibraryPath(program_, Page(6)));
    std::u16string encoding(kPageEncoding);
    ASSERT_TRUE(WritePage(encoding, Page(6), placeholder));
    std::filesystem::remove(NativePath(folder_ + u"/images/6_1.png"));
    RecordingPort window;
    Show(window, Page(6), "h4.html");
    ASSERT_EQ(window.GetElementInnerHtml(u"down_state"), u"{DownState}");
    OnDemandChapterFetch(&window, program_);
    std::u16string page = ReadPageText(Page(6));
    EXPECT_EQ(State(page), u"1");
    EXPECT_NE(page.find(u"<img src=\"images/6_1.png\"><span class=\"ad\">图中有字</span>"
                        u"<img src='images/6_2.png'>"),
              std::u16string::npos);
    EXPECT_EQ(ReadFileBytes(NativePath(folder_ + u"/images/6_1.png")),
              ReadFileBytes(root.File("novel-gbk/book/list/img/a.png")));
    EXPECT_EQ(window.Statuses(), (std::vector<std::u16string>{
                                     u"正在读取目标站章节页面……", u"本章为图片章节，正在下载……",
                                     u"正在下载本章的第 1 个图片……", u"正在下载本章的第 2 个图片……",
                                     u"成功下载本章节！"}));
}

TEST_F(OnDemandFetch, TextIsStoredAsTheSiteSentIt) {
    RecordingPort window;
    Show(window, Page(5), "h1.html");
    OnDemandChapterFetch(&window, program_);
    std::u16string page = ReadPageText(Page(5));
    EXPECT_EQ(State(page), u"1");
    EXPECT_NE(page.find(u"正文在此。<span class=\"ad\">请记住本站网址</span>正文结束。"),
              std::u16string::npos);
}

struct FailureCase {
    const char* chapter;
    const char16_t* state;
    const char16_t* message;
    const char16_t* status;
    const char16_t* reason;
};

TEST_F(OnDemandFetch, FailuresRewriteOnlyTheState) {
    const FailureCase cases[] = {
        {"gone.html", u"-1", u"无法访问目标站的本章节页面！（目标站返回状态码 404）",
         u"本章下载失败：目标站返回状态码 404。", u"目标站返回状态码 404"},
        {"h3.html", u"0", u"在目标站没有提取到章节内容，请更换目标站！",
         u"本章下载失败：未找到正文。", u"未找到正文"},
        {"h5.html", u"-1", nullptr, u"当前章节图片下载失败！（图片下载失败（无法连接目标站））",
         u"图片下载失败（无法连接目标站）"},
    };
    std::u16string state = u"0";
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.chapter);
        RecordingPort window;
        Show(window, Page(3), c.chapter);
        ASSERT_EQ(window.GetElementInnerHtml(u"down_state"), state);
        OnDemandChapterFetch(&window, program_);
        std::u16string page = ReadPageText(Page(3));
        EXPECT_EQ(State(page), c.state);
        EXPECT_EQ(ShownChapterText(page), FailedChapterNotice(c.reason));
        EXPECT_EQ(window.LastStatus(), c.status);
        EXPECT_EQ(window.Messages().size(), c.message == nullptr ? 0u : 1u);
        if (c.message != nullptr && !window.Messages().empty()) {
            EXPECT_EQ(window.Messages()[0].text, c.message);
        }
        EXPECT_TRUE(window.Navigations().empty());
        state = c.state;
    }
}

TEST_F(OnDemandFetch, PageFilesOutsideTheLibraryAreNeverWritten) {
    std::string outside =
        temp_.Write("outside.html", "<div style=\"display:none;\" id=\"down_state\">-1</div>"
                                    "{ChapterContent}");
    const std::u16string targets[] = {
        Utf8ToWide(outside),
        folder_ + u"/../../../outside.html",
        u"",
    };
    for (const std::u16string& target : targets) {
        RecordingPort window;
        Show(window, Page(2), "h1.html");
        window.SetElement(u"chapter_save_file", target);
        OnDemandChapterFetch(&window, program_);
        EXPECT_EQ(window.LastStatus(),
                  u"本页记录的章节文件不在书库的 Novel 文件夹中，未做任何改动！");
        EXPECT_TRUE(window.Messages().empty());
        EXPECT_TRUE(window.Navigations().empty());
    }
    EXPECT_EQ(temp_.Read("outside.html"),
              "<div style=\"display:none;\" id=\"down_state\">-1</div>{ChapterContent}");
    EXPECT_FALSE(Exists(temp_.File("images")));
}

TEST_F(OnDemandFetch, LinksNeverCarryTheWriteOutOfTheLibrary) {
    const std::string original =
        "<div style=\"display:none;\" id=\"down_state\">-1</div>{ChapterContent}";
    std::filesystem::create_directories(temp_.File("outside/images"));
    temp_.Write("outside/2.html", original);
    std::string novel = NativePath(folder_);
    std::filesystem::create_symlink(temp_.File("outside/2.html"), novel + "/7.html");
    std::filesystem::create_symlink(temp_.File("outside/new.html"), novel + "/8.html");
    std::filesystem::create_directory_symlink(temp_.File("outside"),
                                              NativePath(NovelFolder(kGbkSite, u"链接书")));
    auto expectRefused = [&](const std::u16string& page, const std::string& chapter) {
        SCOPED_TRACE(WideToUtf8(page));
        RecordingPort window;
        Show(window, Page(2), chapter);
        window.SetElement(u"chapter_save_file", page);
        OnDemandChapterFetch(&window, program_);
        EXPECT_EQ(window.LastStatus(),
                  u"本页记录的章节文件不在书库的 Novel 文件夹中，未做任何改动！");
    };
    expectRefused(Page(7), "h1.html");
    expectRefused(Page(8), "h1.html");
    expectRefused(NovelFolder(kGbkSite, u"链接书") + u"/2.html", "h1.html");
    // A chapter of pictures stores them in the images folder beside its page.
    std::filesystem::remove_all(novel + "/images");
    std::filesystem::create_directory_symlink(temp_.File("outside/images"), novel + "/images");
    expectRefused(Page(3), "h4.html");
    EXPECT_EQ(temp_.Read("outside/2.html"), original);
    EXPECT_FALSE(Exists(temp_.File("outside/new.html")));
    EXPECT_TRUE(std::filesystem::is_empty(temp_.File("outside/images")));
}

TEST_F(OnDemandFetch, PageOrRuleFileThatCannotBeReadChangesNothing) {
    ASSERT_EQ(mkfifo(temp_.File("rule.fifo").c_str(), 0666), 0);
    ASSERT_EQ(mkfifo(NativePath(Page(9)).c_str(), 0666), 0);
    const std::u16string page = ReadPageText(Page(2));
    struct Case {
        std::u16string ruleFile;
        std::u16string chapterFile;
        const char16_t* status;
    };
    const Case cases[] = {
        {temp_.WideFile("rule.fifo"), Page(2), u"无法读取本页记录的规则文件，未做任何改动！"},
        {u"/dev/zero", Page(2), u"无法读取本页记录的规则文件，未做任何改动！"},
        {temp_.WideFile("Rule/missing.xml"), Page(2),
         u"无法读取本页记录的规则文件，未做任何改动！"},
        {gbkRule_, Page(9), u"无法读取本页记录的章节文件，未做任何改动！"},
        {gbkRule_, Page(10), u"无法读取本页记录的章节文件，未做任何改动！"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.ruleFile) + " " + WideToUtf8(c.chapterFile));
        RecordingPort window;
        Show(window, Page(2), "h1.html");
        window.SetElement(u"rule_file_path", c.ruleFile);
        window.SetElement(u"chapter_save_file", c.chapterFile);
        OnDemandChapterFetch(&window, program_);
        EXPECT_EQ(window.Statuses(), std::vector<std::u16string>{c.status});
        EXPECT_TRUE(window.Messages().empty());
    }
    EXPECT_EQ(ReadPageText(Page(2)), page);
    EXPECT_FALSE(Exists(NativePath(Page(10))));
}

} // namespace
} // namespace velunor::testing
