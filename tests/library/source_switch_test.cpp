#include "library_fixture.h"

#include "library/chapter_names.h"
#include "library/source_switch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velunor::testing {
namespace {

TEST(ChapterNames, OneChapterNamedInTwoWaysMatchesAndNoOtherDoes) {
    struct Case {
        std::u16string a;
        std::u16string b;
        bool same;
    };
    const Case cases[] = {
        {u"第十二章 风雪", u"第12章：风雪", true},
        {u"第 12 章　风雪", u"第十二章风雪", true},
        {u"第一百零五章 归", u"第105章 归", true},
        {u"第一万零一章 尾", u"第10001章 尾", true},
        {u"第两千章", u"第2000章", true},
        {u"第二〇二三章 年", u"第2023章 年", true},
        {u"第012章 Ａｂｃ！", u"第12章 abc", true},
        {u"上架感言", u"【上架感言】", true},
        // A number alone matches the chapter of that number, whatever its title.
        {u"第十二章", u"第12章 风雪", true},
        {u"第12章 风雪", u"第十二章", true},
        {u"第十二章 风雪", u"第十三章 风雪", false},
        {u"第十二章 风雪", u"第12章 风雪夜", false},
        {u"第十二章", u"第十三章", false},
        {u"十二", u"第十二章", false},
        {u"第一卷 第一章", u"第1卷 第2章", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameChapter(MakeChapterNameKey(c.a), MakeChapterNameKey(c.b)), c.same)
            << WideToUtf8(c.a) << " / " << WideToUtf8(c.b);
    }
    // A name a novel repeats takes its repeats in order; each chapter is taken once.
    EXPECT_EQ(MatchChapterNames({u"请假条", u"第三章", u"请假条", u"第3章 夜", u"第九章 无"},
                                {u"请假条", u"第3章 夜", u"请假条"}),
              (std::vector<size_t>{0, 1, 2, kNoChapterMatch, kNoChapterMatch}));
}

TEST(ChapterNames, ChapterSourceSurvivesTheIndexAndAnOldIndexReadsWithoutOne) {
    TempFolder temp;
    NovelIndex index;
    index.NovelName = u"雪山行";
    index.Chapters = {{1, u"第一章", u"http://a/1.html", ChapterState::Stored, {}},
                      {2,
                       u"第二章",
                       u"http://a/2.html",
                       ChapterState::Stored,
                       {},
                       u"站\"<&>'乙",
                       u"http://b/2.html?a=1&b=\"2\""}};
    ASSERT_TRUE(SaveNovelIndex(temp.WidePath(), index));
    NovelIndex read;
    ASSERT_TRUE(LoadNovelIndex(temp.WidePath(), read));
    ASSERT_EQ(read.Chapters.size(), 2u);
    EXPECT_EQ(read.Chapters[0].Source, u"");
    EXPECT_EQ(read.Chapters[1].Source, u"站\"<&>'乙");
    EXPECT_EQ(read.Chapters[1].SourceUrl, u"http://b/2.html?a=1&b=\"2\"");
    EXPECT_EQ(read.Chapters[1].Name, u"第二章");
    EXPECT_EQ(read.Chapters[1].State, ChapterState::Stored);
}

class SourceSwitch : public LibraryFixture {
  protected:
    std::vector<std::u16string> Sources(const std::u16string& folder) {
        NovelIndex index;
        EXPECT_TRUE(LoadNovelIndex(folder, index));
        std::vector<std::u16string> sources;
        for (const IndexedChapter& chapter : index.Chapters) {
            sources.push_back(std::u16string(ChapterStateName(chapter.State)) + u":" +
                              chapter.Source);
        }
        return sources;
    }

    std::u16string Text(const std::u16string& folder, int page) {
        return ShownChapterText(ReadPageText(folder + u"/" + ChapterPageName(page)));
    }
};

TEST_F(SourceSwitch, FailedChaptersComeFromTheOtherSiteMatchedByName) {
    std::u16string folder = ShelveNovelOfTwoSites();
    ASSERT_EQ(port_.LastStatus(), DownloadDone(3));

    int answers = 0;
    SourceSearch search =
        FindOtherSources(program_, folder, [&](int answered, int asked, const std::u16string&) {
            EXPECT_EQ(asked, 3);
            answers = answered;
        });
    // The novel's own site is not asked; the two sites whose search fails are listed as failed,
    // in the order of their rule files; the novel of the same name by another author is passed.
    EXPECT_EQ(answers, 3);
    ASSERT_EQ(search.Sources.size(), 3u);
    EXPECT_EQ(search.Sources[0].SiteName, kGbkSite);
    EXPECT_EQ(search.Sources[0].Error.HttpStatus, 404);
    EXPECT_EQ(search.Sources[1].SiteName, kUtf8Site);
    const OtherSource& other = search.Sources[2];
    ASSERT_TRUE(other.Ok()) << WideToUtf8(ReaderReason(other.Error));
    EXPECT_EQ(other.SiteName, u"雪站乙");
    EXPECT_EQ(other.NovelAuthor, u"林木");
    EXPECT_EQ(other.InfoPageUrl, site_.Url("/switch-b/book.html"));
    EXPECT_EQ(other.Chapters.ChapterName.size(), 6u);
    EXPECT_EQ(other.LatestChapter(), u"第七章 新章");

    SourceSwitchOutcome outcome = SwitchSource(port_, program_, folder, other, 0);
    EXPECT_TRUE(outcome.Ran);
    EXPECT_TRUE(outcome.Failures.empty());
    EXPECT_EQ(port_.LastStatus(), u"换源完成：从 雪站乙 取回 2 章，1 章未找到。");
    EXPECT_EQ(Sources(folder),
              (std::vector<std::u16string>{u"stored:", u"stored:雪站乙", u"stored:",
                                           u"stored:雪站乙", u"stored:", u"failed:"}));
    EXPECT_EQ(Text(folder, 1), u"甲站正文1");
    EXPECT_EQ(Text(folder, 2), u"乙站正文2");
    EXPECT_EQ(Text(folder, 4), u"乙站正文4");
    std::u16string contents = ReadPageText(folder + u"/ContentsPage.html");
    EXPECT_EQ(Count(contents, u"（未完成）"), 1u);
    EXPECT_NE(contents.find(u"其中 1 章未能下载"), std::u16string::npos);
    EXPECT_EQ(ReadBookShelf(program_).size(), 1u);
    EXPECT_EQ(RequestCount("/switch-b/x1.html"), 0u);

    // A retry goes back to the novel's own site, for the one chapter still missing, and leaves
    // the chapters taken from the other site as they are.
    NovelJobOutcome retried = RetryNovel(port_, program_, folder);
    EXPECT_EQ(retried.RefetchedChapters, 1);
    EXPECT_EQ(RequestCount("/switch-a/c6.html"), 2u);
    EXPECT_EQ(Sources(folder)[3], u"stored:雪站乙");
}

} // namespace
} // namespace velunor::testing
