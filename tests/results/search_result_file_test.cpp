#include "results/search_result_file.h"

#include "core/core.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace velunor {
namespace {

using testing::TempFolder;

class SearchResultFileTest : public ::testing::Test {
  protected:
    std::u16string ProgramFolder() const {
        return temp_.WidePath() + u"/";
    }

    TempFolder temp_;
    CSearchResultFile file_;
};

SearchHit NumberedHit(int n) {
    std::u16string number = u"#" + DecimalText(n);
    return {u"站甲", u"/p/Rule/a.xml", u"书" + number,
            u"作者", u"第一章",        u"http://a.test/book/" + number};
}

// The file is what loading, appending one element with its six children and saving once per
// hit would have written, to the byte: declaration, one line per tag, CR LF, escaped text.
TEST_F(SearchResultFileTest, WritesTheLayoutOfOneElementPerHit) {
    ASSERT_TRUE(file_.Reset(ProgramFolder()));
    EXPECT_EQ(temp_.Read("Config/SearchResult.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
    ASSERT_EQ(file_.Append({u"站甲", u"/p/Rule/a.xml", u"A&B <续>", u"甲", u"第1章",
                            u"http://a.test/b?x=1&y=2"}),
              ResultAppend::Written);
    ASSERT_EQ(file_.Append({u"站乙", u"/p/Rule/b.xml", u"𠮷", u"", u"", u"http://b.test/"}),
              ResultAppend::Written);
    ASSERT_TRUE(file_.Intact());
    EXPECT_EQ(temp_.Read("Config/SearchResult.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
              "<SearchResult>\r\n<TargetSite>站甲</TargetSite>\r\n"
              "<RuleFile>/p/Rule/a.xml</RuleFile>\r\n<NovelName>A&amp;B &lt;续&gt;</NovelName>\r\n"
              "<NovelAuthor>甲</NovelAuthor>\r\n<LatestChapter>第1章</LatestChapter>\r\n"
              "<InfoPageUrl>http://a.test/b?x=1&amp;y=2</InfoPageUrl>\r\n</SearchResult>\r\n"
              "<SearchResult>\r\n<TargetSite>站乙</TargetSite>\r\n"
              "<RuleFile>/p/Rule/b.xml</RuleFile>\r\n<NovelName>𠮷</NovelName>\r\n"
              "<NovelAuthor/>\r\n<LatestChapter/>\r\n"
              "<InfoPageUrl>http://b.test/</InfoPageUrl>\r\n</SearchResult>\r\n");
    std::vector<SearchHit> hits = ReadSearchHits(ProgramFolder());
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].NovelName, u"A&B <续>");
    EXPECT_EQ(hits[0].InfoPageUrl, u"http://a.test/b?x=1&y=2");
    EXPECT_EQ(hits[1].NovelName, u"𠮷");
    EXPECT_EQ(hits[1].RuleFile, u"/p/Rule/b.xml");
}

// Every appended hit is in the file, in order, as soon as Append returns, for any reader;
// a new search starts from nothing, and a file taken away mid-search is reported.
TEST_F(SearchResultFileTest, ReadersSeeEveryAppendedHitAndResetStartsOver) {
    CSearchResultFile& shared = file_;
    ASSERT_TRUE(shared.Reset(ProgramFolder()));
    for (int n = 0; n < 500; ++n) {
        ASSERT_EQ(shared.Append(NumberedHit(n)), ResultAppend::Written);
    }
    std::vector<SearchHit> hits = ReadSearchHits(ProgramFolder());
    ASSERT_EQ(hits.size(), 500u);
    for (int n = 0; n < 500; ++n) {
        EXPECT_EQ(hits[static_cast<size_t>(n)].NovelName, NumberedHit(n).NovelName);
    }
    ASSERT_TRUE(shared.Reset(ProgramFolder()));
    EXPECT_TRUE(ReadSearchHits(ProgramFolder()).empty());

    std::remove(temp_.File("Config/SearchResult.xml").c_str());
    EXPECT_EQ(shared.Append(NumberedHit(1)), ResultAppend::Failed);
    EXPECT_FALSE(shared.Intact());
}

// A search that finds more than the file can hold keeps what fits: every hit written reads back,
// in order, up to the last; from the first hit that would not fit on, none is written, however
// small, so that the rows stay numbered as the file holds them.
TEST_F(SearchResultFileTest, StopsAtItsLimitAndEveryWrittenHitReadsBack) {
    ASSERT_TRUE(file_.Reset(ProgramFolder()));
    SearchHit hit = NumberedHit(0);
    // About 600 KB a hit, so that the limit is reached after a hundred hits or so.
    hit.NovelName = std::u16string(200000, u'书');
    int written = 0;
    for (;; ++written) {
        hit.LatestChapter = DecimalText(written);
        ResultAppend appended = file_.Append(hit);
        if (appended != ResultAppend::Written) {
            ASSERT_EQ(appended, ResultAppend::Full);
            break;
        }
    }
    EXPECT_EQ(file_.Append(NumberedHit(1)), ResultAppend::Full);
    EXPECT_TRUE(file_.Intact());
    uint64_t size = std::filesystem::file_size(temp_.File("Config/SearchResult.xml"));
    EXPECT_LE(size, kSearchResultFileLimit);
    EXPECT_GT(size + 2 * 600000, kSearchResultFileLimit);
    std::vector<SearchHit> hits = ReadSearchHits(ProgramFolder());
    ASSERT_EQ(hits.size(), static_cast<size_t>(written));
    EXPECT_EQ(hits.back().LatestChapter, DecimalText(written - 1));
    EXPECT_EQ(hits.back().NovelName, hit.NovelName);
}

// A program folder whose Config/ cannot be made: the reset says so, and nothing stale is read.
TEST_F(SearchResultFileTest, ResetFailsWhereTheFileCannotBeWritten) {
    temp_.Write("Config", "a file where the folder should be");
    EXPECT_FALSE(file_.Reset(ProgramFolder()));
    EXPECT_TRUE(ReadSearchHits(ProgramFolder()).empty());
}

} // namespace
} // namespace velunor
