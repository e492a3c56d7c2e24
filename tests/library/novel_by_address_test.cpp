// Downloading a novel by the address of its page: the page finder reads every shape of site the
// corpus holds into the library as a rule would, the shelf and the index remember the finder,
// updates and retries read with it again, a page that holds no novel is refused with the
// finder's reason, and a site that has a rule file is still read with its rule.

#include "library_fixture.h"

#include "cli/console_port.h"
#include "finder/finder.h"
#include "html/html.h"

namespace velunor::testing {
namespace {

const std::string kCorpus = std::string(VELUNOR_TEST_DATA) + "/site/finder/";

std::vector<std::u16string> Lines(const std::string& path) {
    std::istringstream text(ReadFileBytes(path));
    std::vector<std::u16string> lines;
    for (std::string line; std::getline(text, line);) {
        lines.push_back(Utf8ToWide(line));
    }
    return lines;
}

// The shapes of the corpus and the page a reader would paste the address of.
struct Shape {
    std::string Folder;
    std::string Page;
};

const Shape kShapes[] = {
    {"dl-gbk", ""},       {"ul-utf8", "list.html"},      {"table-gbk", ""},
    {"volumes-utf8", ""}, {"select-utf8", ""},           {"nextlink-gbk", "index.html"},
    {"ol-utf8", ""},      {"divlinks-gbk", "mulu.html"}, {"dl-volumes-utf8", ""},
    {"repeats-utf8", ""}, {"td-gbk", "list.html"},
};

class NovelByAddress : public LibraryFixture {
  protected:
    NovelByAddress() : LibraryFixture(kCorpus) {
        // The fixture's rules are for other folders of the same host; none must match here.
        std::filesystem::remove_all(temp_.File("Rule"));
    }

    // An address of the corpus as this test site serves it.
    std::u16string Served(std::u16string_view corpusUrl) {
        constexpr std::u16string_view kCorpusSite = u"http://novel.test";
        return Utf8ToWide(site_.BaseUrl()) + std::u16string(corpusUrl.substr(kCorpusSite.size()));
    }

    // The lines of a stored chapter as the reader sees them, an image as "[img]".
    static std::vector<std::u16string> StoredLines(const std::u16string& pagePath) {
        std::vector<std::u16string> lines;
        for (const html::ChapterBlock& block :
             html::ChapterBlocks(ShownChapterText(ReadPageText(pagePath)))) {
            bool image = block.BlockKind == html::ChapterBlock::Kind::Image;
            lines.push_back(image ? u"[img]" : block.Text);
        }
        return lines;
    }

    static std::vector<std::u16string> ExpectedLines(const std::string& path) {
        std::vector<std::u16string> lines = Lines(path);
        for (std::u16string& line : lines) {
            if (line.starts_with(u"[img]")) {
                line = u"[img]";
            }
        }
        return lines;
    }
};

TEST_F(NovelByAddress, DownloadsEveryShapeAsItsSiteListsAndWritesIt) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(shape.Folder);
        std::vector<std::u16string> expected = Lines(kCorpus + shape.Folder + "/expect/list.txt");
        RecordingPort port;
        NovelJobOutcome outcome = DownloadNovelAtAddress(
            port, program_, site_.Url("/" + shape.Folder + "/" + shape.Page));
        ASSERT_TRUE(outcome.Succeeded()) << WideToUtf8(port.LastStatus());

        BookEntry entry;
        ASSERT_TRUE(FindShelvedNovel(
            program_, u"", site_.Url("/" + shape.Folder + "/" + shape.Page), u"", u"", entry));
        EXPECT_TRUE(entry.FoundByFinder);
        EXPECT_EQ(WideToUtf8(entry.NovelName), WideToUtf8(expected[5]));
        std::u16string folder = NovelFolderOfContentsPage(entry.ContentsPagePath);
        NovelIndex index;
        ASSERT_TRUE(LoadNovelIndex(folder, index));
        EXPECT_TRUE(index.FoundByFinder);
        EXPECT_TRUE(index.RuleFile.empty());
        EXPECT_EQ(WideToUtf8(index.NovelAuthor), WideToUtf8(expected[6]));
        ASSERT_EQ(index.Chapters.size(), std::stoul(WideToUtf8(expected[0])));
        EXPECT_EQ(index.Chapters.front().Url, Served(expected[1]));
        EXPECT_EQ(index.Chapters.back().Url, Served(expected[2]));
        EXPECT_EQ(index.Chapters.front().Name, expected[3]);
        EXPECT_EQ(index.Chapters.back().Name, expected[4]);
        std::vector<std::u16string> volumes;
        for (const VolumeHeading& heading : index.Volumes) {
            volumes.push_back(u"V" + DecimalText(static_cast<long long>(heading.Before)) + u" " +
                              heading.Name);
        }
        EXPECT_EQ(volumes, std::vector<std::u16string>(expected.begin() + 7, expected.end()));

        size_t count = index.Chapters.size();
        for (size_t i : {size_t{0}, count / 2, count - 1}) {
            const IndexedChapter& chapter = index.Chapters[i];
            std::u16string_view file = AddressFileName(chapter.Url);
            SCOPED_TRACE(WideToUtf8(file));
            EXPECT_EQ(chapter.State, ChapterState::Stored);
            EXPECT_EQ(StoredLines(folder + u"/" + ChapterPageName(chapter.Page)),
                      ExpectedLines(kCorpus + shape.Folder + "/expect/" +
                                    WideToUtf8(file.substr(0, file.find(u'.'))) + ".txt"));
        }
    }
}

TEST_F(NovelByAddress, UpdatesAndRetriesReadTheSiteWithTheFinderAgain) {
    std::u16string address = site_.Url("/dl-gbk/");
    ASSERT_TRUE(DownloadNovelAtAddress(port_, program_, address).Succeeded());
    BookEntry entry;
    ASSERT_TRUE(FindShelvedNovel(program_, u"", address, u"", u"", entry));
    EXPECT_EQ(WideToUtf8(entry.TargetSite), "星河书屋");
    std::u16string folder = NovelFolderOfContentsPage(entry.ContentsPagePath);

    size_t before = RequestCount("/dl-gbk/");
    NovelJobOutcome update = UpdateNovel(port_, program_, folder);
    EXPECT_TRUE(update.Succeeded()) << WideToUtf8(port_.LastStatus());
    EXPECT_EQ(update.NewChapters, 0);
    EXPECT_EQ(RequestCount("/dl-gbk/"), before + 1);

    // A chapter lost from the disk is pending again, and the retry fetches it with the finder.
    NovelIndex index;
    ASSERT_TRUE(LoadNovelIndex(folder, index));
    std::filesystem::remove(NativePath(folder + u"/" + ChapterPageName(index.Chapters[3].Page)));
    NovelJobOutcome retry = RetryNovel(port_, program_, folder);
    EXPECT_TRUE(retry.Succeeded()) << WideToUtf8(port_.LastStatus());
    EXPECT_EQ(retry.RefetchedChapters, 1);
    std::u16string page = folder + u"/" + ChapterPageName(index.Chapters[3].Page);
    EXPECT_EQ(StoredLines(page), ExpectedLines(kCorpus + "dl-gbk/expect/103.txt"));

    // The reader's refetch of a page, whose hidden fields name no rule file, reads it so too.
    RecordingPort reader;
    std::u16string shown = ReadPageText(page);
    for (const char16_t* id :
         {u"rule_file_path", u"chapter_url", u"chapter_save_file", u"down_state"}) {
        reader.SetElement(id, cli::FindElementInnerHtml(shown, id));
    }
    OnDemandChapterFetch(&reader, program_);
    EXPECT_EQ(reader.LastStatus(), u"本章内容与网站上的相同，未做改动。");
}

TEST_F(NovelByAddress, RefusesPagesThatHoldNoNovelAndSaysWhy) {
    const struct {
        const char* page;
        std::u16string_view says;
    } cases[] = {
        {"search.html", finder::kNoChapterListReason},
        {"forum.html", finder::kNoChapterListReason},
        {"home.html", finder::kNoChapterListReason},
        {"empty.html", finder::kNoChapterListReason},
        // A page that would run a script to let the reader in: the finder runs none.
        {"challenge.html", u"UseBrowser"},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.page);
        RecordingPort port;
        NovelJobOutcome outcome = DownloadNovelAtAddress(
            port, program_, site_.Url(std::string("/refuse/") + refused.page));
        EXPECT_FALSE(outcome.ReachedChapters);
        EXPECT_NE(port.LastStatus().find(refused.says), std::u16string::npos)
            << WideToUtf8(port.LastStatus());
    }
    EXPECT_TRUE(ReadBookShelf(program_).empty());
    EXPECT_FALSE(Exists(temp_.File("Novel")) && !std::filesystem::is_empty(temp_.File("Novel")));

    RecordingPort port;
    DownloadNovelAtAddress(port, program_, u"ftp://127.0.0.1/book/");
    EXPECT_EQ(port.LastStatus(), kNotAnAddressMessage);
}

// The fixture's own sites, which have rule files.
class AddressOfRuledSite : public LibraryFixture {};

TEST_F(AddressOfRuledSite, IsReadWithTheRuleOfItsSite) {
    std::u16string address = site_.Url("/novel-gbk/book/sanzhang.html");
    ASSERT_TRUE(DownloadNovelAtAddress(port_, program_, u"  " + address + u" ").Succeeded())
        << WideToUtf8(port_.LastStatus());
    std::vector<BookEntry> shelf = ReadBookShelf(program_);
    ASSERT_EQ(shelf.size(), 1u);
    EXPECT_EQ(shelf[0].RuleFile, gbkRule_);
    EXPECT_FALSE(shelf[0].FoundByFinder);
    EXPECT_EQ(shelf[0].TargetSite, kGbkSite);
    EXPECT_EQ(shelf[0].NovelName, u"三章小说");
}

} // namespace
} // namespace velunor::testing
