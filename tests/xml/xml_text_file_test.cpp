#include "core/core.h"
#include "support/temp_folder.h"
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace velunor {
namespace {

using testing::TempFolder;

const std::string kDataFolder = std::string(VELUNOR_TEST_DATA) + "/xml/";

std::u16string Wide(const std::string& utf8) {
    return Utf8ToWide(utf8);
}

std::string ReadData(const std::string& name) {
    TempFolder unused;
    FILE* file = std::fopen((kDataFolder + name).c_str(), "rb");
    std::string bytes;
    char buffer[4096];
    size_t got = 0;
    while (file != nullptr && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, got);
    }
    if (file != nullptr) {
        std::fclose(file);
    }
    return bytes;
}

bool LogHas(const std::u16string& log, const char16_t* entry) {
    return log.find(entry) != std::u16string::npos;
}

struct RoundTripCase {
    const char* file;
    uint32_t modeBits;
    const char16_t* firstLogEntry; // the entry that proves how the file was decoded
};

class XmlFileRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

// Loading a fixture, reading a field and saving it again gives back exactly the same bytes.
TEST_P(XmlFileRoundTrip, LoadsReadsAndSavesTheSameBytes) {
    TempFolder folder;
    std::string original = ReadData(GetParam().file);
    ASSERT_FALSE(original.empty());
    std::u16string path = Wide(folder.Write("copy.xml", original));
    CXmlDocument document;
    ASSERT_TRUE(document.LoadFile(path))
        << std::string(document.ResultLog().begin(), document.ResultLog().end());
    EXPECT_EQ(document.DocumentModeBits(), GetParam().modeBits);
    EXPECT_TRUE(LogHas(document.ResultLog(), GetParam().firstLogEntry));
    ASSERT_TRUE(document.FindElement(u"Channel"));
    ASSERT_TRUE(document.EnterElement());
    ASSERT_TRUE(document.FindElement(u"SiteName"));
    EXPECT_EQ(document.GetElementText(), u"笔趣阁 & 书");
    ASSERT_TRUE(document.FindElement(u"SearchPageRule"));
    ASSERT_TRUE(document.FindChildElement(u"SearchPageUrlFormat"));
    ASSERT_TRUE(document.SaveFile(path));
    EXPECT_EQ(folder.Read("copy.xml"), original);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, XmlFileRoundTrip,
    ::testing::Values(RoundTripCase{"rule_utf8.xml", 0, u"<read encoding=\"UTF-8\""},
                      RoundTripCase{"rule_utf8_bom.xml", CXmlDocument::kModeUtf8Mark, u"<bom/>"},
                      RoundTripCase{"rule_utf16le.xml", CXmlDocument::kModeUtf16LeMark,
                                    u"<bom/><read encoding=\"UTF-16LE\""},
                      RoundTripCase{"rule_utf16be.xml", CXmlDocument::kModeUtf16BeMark,
                                    u"<endian_swap/>"},
                      RoundTripCase{"rule_gb2312.xml", 0, u"<read encoding=\"GB2312\""}));

TEST(XmlFileRead, Utf16FileNeedsNoConversion) {
    std::u16string text;
    std::u16string log;
    uint32_t flags = 0;
    ASSERT_TRUE(CXmlDocument::ReadTextAsWide(nullptr, Wide(kDataFolder + "rule_utf16le.xml"), text,
                                             &log, &flags));
    EXPECT_EQ(log, u"<bom/><read encoding=\"UTF-16LE\" length=\"250\"/>");
    EXPECT_EQ(flags, CXmlDocument::kModeUtf16LeMark);
}

TEST(XmlFileRead, MetaCharsetInsideHeadDecidesAnHtmlPage) {
    std::u16string encoding;
    std::u16string text;
    ASSERT_TRUE(CXmlDocument::ReadTextAsWide(&encoding, Wide(kDataFolder + "page_meta_gbk.html"),
                                             text, nullptr, nullptr));
    EXPECT_EQ(encoding, u"gbk");
    EXPECT_NE(text.find(u"第一章"), std::u16string::npos);
    TempFolder folder;
    std::u16string copy = folder.WideFile("page.html");
    ASSERT_TRUE(CXmlDocument::WriteWideAsText(text, copy, nullptr, nullptr, &encoding));
    EXPECT_EQ(folder.Read("page.html"), ReadData("page_meta_gbk.html"));
}

TEST(XmlFileRead, DeclaredEncodingNeedsTheRightPlace) {
    struct Case {
        const char16_t* text;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"<?xml version=\"1.0\" encoding=\"GB2312\"?><a/>", u"GB2312"},
        {u"<?XML ENCODING='utf-8'?><a/>", u"utf-8"},
        {u"<?xml version=\"1.0\"?><a/>", u""},
        {u" <?xml encoding=\"GB2312\"?><a/>", u""},
        {u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
         u"charset=gbk\"></head>",
         u"gbk"},
        {u"<!DOCTYPE html><HTML><HEAD><META HTTP-EQUIV=\"content-type\" "
         u"CONTENT=\"text/html;charset = big5\">",
         u"big5"},
        {u"<html><head></head><meta http-equiv=\"Content-Type\" content=\"text/html; "
         u"charset=gbk\">",
         u""},
        {u"<body><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">", u""},
        {u"<html><meta charset=\"gbk\"><meta http-equiv=\"Content-Type\" content=\"text/html; "
         u"charset=utf-8\">",
         u"utf-8"},
        {u"<html><meta http-equiv=\"Content-Type\" content=\"text/html\"><meta "
         u"http-equiv=\"Content-Type\" content=\"charset=gbk\">",
         u""},
        {u"<html>< 1><meta http-equiv=\"Content-Type\" content=\"charset=gbk\">", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CXmlDocument::FindDeclaredEncoding(c.text), c.expected)
            << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    }
}

TEST(XmlFileRead, UndecidedBytesGoThroughTheUtf8TestOrTheAnsiCodePage) {
    TempFolder folder;
    // No mark, no declaration, no "<" first: the UTF-8 test decides.
    std::u16string log;
    std::u16string text;
    std::u16string path = Wide(folder.Write("utf8.txt", "\xE6\x96\x97 x"));
    ASSERT_TRUE(CXmlDocument::ReadTextAsWide(nullptr, path, text, &log, nullptr));
    EXPECT_EQ(text, u"斗 x");
    EXPECT_EQ(log, u"<read encoding=\"UTF-8\" length=\"5\"/><utf8_detection/>"
                   u"<converted_to encoding=\"UTF-16\" length=\"3\"/>");
    // The test is lenient (GBK text often passes it), but "第" followed by ASCII fails it.
    path = Wide(folder.Write("gbk.txt", std::string("\xB5\xDA"
                                                    "a\0\xD2\xBB",
                                                    6)));
    ASSERT_TRUE(CXmlDocument::ReadTextAsWide(nullptr, path, text, &log, nullptr));
    EXPECT_EQ(text, u"第a一");
    EXPECT_EQ(log,
              u"<read encoding=\"\" length=\"6\"/><nulls_removed count=\"1\"/><utf8_detection/>"
              u"<converted_to encoding=\"UTF-16\" length=\"3\"/>");
    // "<" first means UTF-8 without running the test.
    path = Wide(folder.Write("lt.xml", "<a>\xE6\x96\x97</a>"));
    ASSERT_TRUE(CXmlDocument::ReadTextAsWide(nullptr, path, text, &log, nullptr));
    EXPECT_FALSE(LogHas(log, u"utf8_detection"));
}

TEST(XmlFileRead, CallerEncodingOverridesTheDeclaration) {
    TempFolder folder;
    std::u16string path =
        Wide(folder.Write("page.html", "<?xml encoding=\"UTF-8\"?><a>\xB5\xDA</a>"));
    std::u16string encoding = u"gbk";
    std::u16string text;
    ASSERT_TRUE(CXmlDocument::ReadTextAsWide(&encoding, path, text, nullptr, nullptr));
    EXPECT_EQ(text, u"<?xml encoding=\"UTF-8\"?><a>第</a>");
    EXPECT_EQ(encoding, u"gbk");
    std::u16string empty;
    ASSERT_TRUE(CXmlDocument::ReadTextAsWide(&empty, path, text, nullptr, nullptr));
    EXPECT_EQ(empty, u"UTF-8") << "an empty variable learns the encoding found";
}

TEST(XmlFileRead, EmptyAndMissingFiles) {
    TempFolder folder;
    std::u16string path = Wide(folder.Write("empty.xml", ""));
    std::u16string log;
    std::u16string text = u"old";
    ASSERT_TRUE(CXmlDocument::ReadTextAsWide(nullptr, path, text, &log, nullptr));
    EXPECT_EQ(text, u"");
    EXPECT_EQ(log, u"<read encoding=\"\" length=\"0\"/>");
    CXmlDocument document(u"<x/>");
    EXPECT_FALSE(document.LoadFile(path));
    EXPECT_FALSE(document.FindElement());

    EXPECT_FALSE(document.LoadFile(folder.WideFile("missing.xml")));
    EXPECT_EQ(document.ResultLog(), u"<file_error msg=\"No such file or directory\" n=\"2\"/>");
    EXPECT_FALSE(document.FindElement());
    EXPECT_EQ(document.GetDocumentText(), u"");
}

TEST(XmlFileRead, ZeroUnitsInUtf16AreDropped) {
    TempFolder folder;
    std::u16string path = Wide(folder.Write("z.xml", std::string("\xFF\xFE<\0\0\0a\0/\0>\0", 12)));
    std::u16string log;
    std::u16string text;
    ASSERT_TRUE(CXmlDocument::ReadTextAsWide(nullptr, path, text, &log, nullptr));
    EXPECT_EQ(text, u"<a/>");
    EXPECT_TRUE(LogHas(log, u"<nulls_removed count=\"1\"/>"));
}

// Runs `unblock` if the test has not finished its read within ten seconds, so that a read that
// waits for ever fails the test instead of hanging it.
class ReadWatchdog {
  public:
    explicit ReadWatchdog(std::function<void()> unblock)
        : thread_([this, unblock = std::move(unblock)] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, std::chrono::seconds(10), [this] { return finished_; })) {
                  firedOff_ = true;
                  unblock();
              }
          }) {}
    ~ReadWatchdog() {
        Finish();
    }
    /// Ends the watch; true when the read had to be unblocked.
    bool Finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        if (thread_.joinable()) {
            thread_.join();
        }
        return firedOff_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool firedOff_ = false;
    std::thread thread_;
};

void ExpectRefusedAsNotRegular(const std::u16string& path, const std::u16string& log, bool read,
                               const std::u16string& text) {
    EXPECT_FALSE(read);
    EXPECT_EQ(text, u"");
    EXPECT_EQ(log, u"<file_refused reason=\"not_regular_file\"/>");
    EXPECT_EQ(CXmlDocument::FindFileRefusal(log), FileRefusal::NotRegularFile) << WideToUtf8(path);
}

TEST(XmlFileRefusal, FifoIsRefusedWithoutWaitingForAWriter) {
    TempFolder folder;
    std::string fifo = folder.File("rule.xml");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::u16string log;
    std::u16string text;
    // Without a writer, opening the FIFO would wait for one.
    ReadWatchdog openWatch([&] { ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)); });
    bool read = CXmlDocument::ReadTextAsWide(nullptr, Wide(fifo), text, &log, nullptr);
    EXPECT_FALSE(openWatch.Finish()) << "the read waited for a writer to open the FIFO";
    ExpectRefusedAsNotRegular(Wide(fifo), log, read, text);
    // With a writer that never writes, reading would wait for data.
    int writer = ::open(fifo.c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    ReadWatchdog readWatch([&] {
        ::close(writer);
        writer = -1;
    });
    CXmlDocument document(u"<old/>");
    bool loaded = document.LoadFile(Wide(fifo));
    EXPECT_FALSE(readWatch.Finish()) << "the read waited for data in the FIFO";
    ExpectRefusedAsNotRegular(Wide(fifo), document.ResultLog(), loaded, document.GetDocumentText());
    if (writer >= 0) {
        ::close(writer);
    }
}

TEST(XmlFileRefusal, DevicesFoldersSocketsAndLinksToThemAreRefused) {
    TempFolder folder;
    ASSERT_EQ(::symlink("/dev/zero", folder.File("zero.html").c_str()), 0);
    ASSERT_EQ(::mkdir(folder.File("dir.xml").c_str(), 0700), 0);
    int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = folder.File("page.html");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const std::string& path : {std::string("/dev/zero"), folder.File("zero.html"),
                                    folder.File("dir.xml"), std::string("/dev/null"), socketPath}) {
        std::u16string log;
        std::u16string text;
        bool read = CXmlDocument::ReadTextAsWide(nullptr, Wide(path), text, &log, nullptr);
        ExpectRefusedAsNotRegular(Wide(path), log, read, text);
    }
    ::close(listener);
}

TEST(XmlFileRefusal, FilesOverTheLimitAreRefusedUnread) {
    TempFolder folder;
    // Exactly at the limit is read; one byte more is refused.
    std::string rule = "<Channel>" + std::string(kRuleFileLimit - 19, ' ') + "</Channel>";
    ASSERT_EQ(rule.size(), kRuleFileLimit);
    std::u16string path = Wide(folder.Write("rule.xml", rule));
    CXmlDocument document;
    EXPECT_TRUE(document.LoadFile(path, kRuleFileLimit));
    EXPECT_EQ(CXmlDocument::FindFileRefusal(document.ResultLog()), FileRefusal::None);
    folder.Write("rule.xml", rule + " ");
    EXPECT_FALSE(document.LoadFile(path, kRuleFileLimit));
    EXPECT_EQ(document.ResultLog(),
              u"<file_refused reason=\"too_large\" size=\"4194305\" limit=\"4194304\"/>");
    EXPECT_EQ(CXmlDocument::FindFileRefusal(document.ResultLog()), FileRefusal::TooLarge);
    EXPECT_EQ(document.GetDocumentText(), u"");
    EXPECT_FALSE(document.FindElement());
    // Without a limit of its own a read takes the page limit: a sparse file past it costs
    // nothing to refuse.
    std::string sparse = folder.File("page.html");
    int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kPageFileLimit) + 1), 0);
    ::close(fd);
    std::u16string log;
    std::u16string text;
    EXPECT_FALSE(CXmlDocument::ReadTextAsWide(nullptr, Wide(sparse), text, &log, nullptr));
    EXPECT_EQ(CXmlDocument::FindFileRefusal(log), FileRefusal::TooLarge);
}

TEST(XmlFileRefusal, TheLimitHoldsForFilesThatReportNoSize) {
    // Files under /proc say they are empty; what is read of them still counts.
    std::u16string log;
    std::u16string text;
    EXPECT_FALSE(
        CXmlDocument::ReadTextAsWide(nullptr, u"/proc/self/maps", text, &log, nullptr, 10));
    EXPECT_EQ(log, u"<file_refused reason=\"too_large\" size=\"11\" limit=\"10\"/>");
    EXPECT_TRUE(CXmlDocument::ReadTextAsWide(nullptr, u"/proc/self/maps", text, &log, nullptr));
    EXPECT_NE(text.find(u"/"), std::u16string::npos);
}

TEST(XmlFileWrite, DeclaredTextIsWrittenExactlyWithoutMark) {
    TempFolder folder;
    CXmlDocument document(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
    ASSERT_TRUE(document.SaveFile(folder.WideFile("a.xml")));
    EXPECT_EQ(folder.Read("a.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
    EXPECT_EQ(document.ResultLog(), u"<converted_from encoding=\"UTF-16\" length=\"40\"/>"
                                    u"<write encoding=\"UTF-8\" length=\"40\"/>");
}

TEST(XmlFileWrite, ReportsLossAndKeepsWriting) {
    TempFolder folder;
    std::u16string log;
    std::u16string encoding = u"iso-8859-1";
    ASSERT_TRUE(CXmlDocument::WriteWideAsText(u"a\u4E2Db", folder.WideFile("l.txt"), &log, nullptr,
                                              &encoding));
    EXPECT_TRUE(LogHas(log, u"<conversion_loss/>"));
    EXPECT_EQ(folder.Read("l.txt"), "a?b");
}

TEST(XmlFileWrite, FailedWriteKeepsTheOldFile) {
    TempFolder folder;
    folder.Write("shelf.xml", "old bookshelf");
    std::u16string log;
    // A path below a file cannot be created: the old file next to it must survive untouched.
    EXPECT_FALSE(CXmlDocument::WriteWideAsText(u"new", Wide(folder.File("shelf.xml/x")), &log,
                                               nullptr, nullptr));
    EXPECT_TRUE(LogHas(log, u"<file_error msg=\"Not a directory\" n=\"20\"/>"));
    EXPECT_EQ(folder.Read("shelf.xml"), "old bookshelf");
    // A read-only file is not replaced behind its back.
    ::chmod(folder.File("shelf.xml").c_str(), 0444);
    if (::access(folder.File("shelf.xml").c_str(), W_OK) != 0) {
        EXPECT_FALSE(CXmlDocument::WriteWideAsText(u"new", Wide(folder.File("shelf.xml")), &log,
                                                   nullptr, nullptr));
        EXPECT_EQ(folder.Read("shelf.xml"), "old bookshelf");
    }
    ::chmod(folder.File("shelf.xml").c_str(), 0644);
    ASSERT_TRUE(CXmlDocument::WriteWideAsText(u"new", Wide(folder.File("shelf.xml")), &log, nullptr,
                                              nullptr));
    EXPECT_EQ(folder.Read("shelf.xml"), "new");
    struct stat info {};
    ::stat(folder.File("shelf.xml").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0644u) << "the replaced file keeps its permissions";
}

TEST(XmlFileWrite, WideFormNamesWithoutMark) {
    TempFolder folder;
    // A UTF-16 name without the mark bits is written as UTF-16 with its mark, so it reads back.
    std::u16string encoding = u"UTF-16BE";
    uint32_t flags = 0;
    ASSERT_TRUE(CXmlDocument::WriteWideAsText(u"<a>中</a>", folder.WideFile("w.xml"), nullptr,
                                              &flags, &encoding));
    EXPECT_EQ(folder.Read("w.xml"), std::string("\xFE\xFF\0<\0a\0>\x4E\x2D\0<\0/\0a\0>", 18));
    EXPECT_EQ(flags, CXmlDocument::kModeUtf16BeMark);
    // A UTF-32 name is written as UTF-8, and read back as UTF-8 through the same name.
    CXmlDocument declared(u"<?xml version=\"1.0\" encoding=\"UTF-32\"?><a>中</a>");
    ASSERT_TRUE(declared.SaveFile(folder.WideFile("u32.xml")));
    EXPECT_EQ(folder.Read("u32.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-32\"?><a>\xE4\xB8\xAD</a>");
    CXmlDocument reloaded;
    ASSERT_TRUE(reloaded.LoadFile(folder.WideFile("u32.xml")));
    ASSERT_TRUE(reloaded.FindElement());
    EXPECT_EQ(reloaded.GetElementText(), u"中");
}

TEST(XmlFileWrite, Utf8MarkIsDroppedWhenTheCallerChoosesAnotherEncoding) {
    TempFolder folder;
    std::u16string encoding = u"gbk";
    uint32_t flags = CXmlDocument::kModeUtf8Mark;
    ASSERT_TRUE(
        CXmlDocument::WriteWideAsText(u"第", folder.WideFile("g.txt"), nullptr, &flags, &encoding));
    EXPECT_EQ(folder.Read("g.txt"), "\xB5\xDA");
}

TEST(XmlCodePages, NamesMapToCodePages) {
    struct Case {
        const char16_t* name;
        int codePage;
    };
    const Case cases[] = {
        {u"GB2312", 936},
        {u"gbk", 936},
        {u"GB18030", 54936},
        {u"UTF-8", 65001},
        {u"Big5", 950},
        {u"cp500", 775},
        {u"x_chinese-eten", 20002},
        {u"_iso-2022-jp$sio", 50222},
        {u"iso_646.irv:1991", 20127},
        {u"UTF-32", 12000},
        {u"UTF-32BE", 12001},
        {u"utf-16", 1200},
        {u"unknown", 0},
        {u"", 0},
        {u"KOI8-R", 20866},
        {u"latin1", 28591},
        {u"windows-1252", 1252},
        {u"Ｇbk", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CXmlDocument::CodePageFromName(c.name), c.codePage)
            << std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name));
    }
    EXPECT_EQ(CXmlDocument::CodePageFromName(std::u16string(100, u'a')), 0);
}

TEST(XmlCodePages, NamedCharsetsDecodeThroughIconv) {
    TempFolder folder;
    struct Case {
        const char16_t* encoding;
        std::string bytes;
        const char16_t* text;
    };
    const Case cases[] = {
        {u"windows-1252", "\x80", u"€"},    {u"koi8-r", "\xC1", u"а"},
        {u"latin1", "\xE9", u"é"},          {u"big5", "\xA4\xA4", u"中"},
        {u"x-iscii-de", "\xB5\xDA", u"第"}, // iconv lacks it: the ANSI code page reads it
    };
    for (const Case& c : cases) {
        std::u16string encoding = c.encoding;
        std::u16string text;
        ASSERT_TRUE(CXmlDocument::ReadTextAsWide(&encoding, Wide(folder.Write("c.txt", c.bytes)),
                                                 text, nullptr, nullptr));
        EXPECT_EQ(text, c.text);
    }
}

} // namespace
} // namespace velunor
