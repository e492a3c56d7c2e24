// Exporting a 2,000-chapter novel of about 6 MB of text, each figure printed next to its goal:
//
// - as EPUB, against `zip -r -X` of the very files the export put into the book (extracted
//   from it): the export reads, reduces, writes and compresses, and should cost at most half
//   again what compressing alone costs, and at most 2 s;
// - as plain text, at most 0.5 s;
// - for information, both with 简→繁 conversion through OpenCC.
//
// The novel is written into a temporary program folder the way the download job writes it: the
// shipped chapter template, GB18030 pages, the chapter index. Each figure is the best of three
// runs, so that a busy moment of the machine does not count.

#include "core/core.h"
#include "export/export.h"
#include "library/library.h"
#include "support/temp_folder.h"

#include <sys/wait.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

namespace velunor {
namespace {

constexpr int kChapters = 2000;
constexpr int kRuns = 3;
// Characters per chapter: 1,000 CJK characters are about 3 KB of UTF-8, 6 MB for the novel.
constexpr int kCharactersPerChapter = 1000;
constexpr double kEpubRatioGoal = 1.5;
constexpr double kEpubSecondsGoal = 2.0;
constexpr double kTxtSecondsGoal = 0.5;

// Text that compresses like a novel's: common characters in an order no dictionary predicts.
std::u16string ChapterText(int chapter) {
    static constexpr std::u16string_view kCharacters =
        u"的一是了我不人在他有这个上们来到时大地为子中你说生国年着就那和要她出也得里后自以会家可"
        u"下而过天去能对小多然于心学么之都好看起发当没成只如事把还用第样道想作种开美总从无情己面"
        u"最女但现前些所同日手又行意动方期它头经长儿回位分爱老因很给名法间斯知世什两次使身者被高已";
    unsigned state = static_cast<unsigned>(chapter) * 2654435761u + 1u;
    std::u16string text;
    int inParagraph = 0;
    text += u"　　";
    for (int i = 0; i < kCharactersPerChapter; ++i) {
        state = state * 1103515245u + 12345u;
        text.push_back(kCharacters[(state >> 16) % kCharacters.size()]);
        if (++inParagraph == 60) {
            text += u"。<br /><br />\r\n　　";
            inParagraph = 0;
        }
    }
    return text + u"。";
}

std::u16string WriteNovel(const std::u16string& program) {
    const std::u16string folder = NovelFolderPath(program, u"演示书库", u"两千章");
    CreateFolderPath(folder);
    std::u16string encoding(kPageEncoding);
    std::u16string pageTemplate;
    ReadPage(encoding, TemplatePath(program, u"ContentPage.html"), pageTemplate);
    NovelIndex index;
    index.SiteName = u"演示书库";
    index.NovelName = u"两千章";
    index.NovelAuthor = u"无名氏";
    index.InfoPageUrl = u"http://127.0.0.1/book/2000/";
    for (int n = 1; n <= kChapters; ++n) {
        const std::u16string name = u"第" + DecimalText(n) + u"章 夜话";
        const std::u16string page = folder + u"/" + ChapterPageName(n);
        ChapterPageFields fields{u"bench.xml",
                                 index.InfoPageUrl + DecimalText(n) + u".html",
                                 StoredLibraryPath(program, page),
                                 index.NovelName,
                                 name,
                                 ChapterPageName(std::max(n - 1, 1)),
                                 ChapterPageName(n + 1)};
        WritePage(encoding, page,
                  ComposeChapterPage(pageTemplate, fields, kStateStored, ChapterText(n)));
        index.Chapters.push_back({n, name, fields.ChapterUrl, ChapterState::Stored, {}});
    }
    index.NextPage = kChapters + 1;
    SaveNovelIndex(folder, index);
    return folder;
}

double BestSeconds(const std::function<bool()>& run, bool& ok) {
    double best = 1e9;
    ok = true;
    for (int i = 0; i < kRuns; ++i) {
        auto start = std::chrono::steady_clock::now();
        ok = run() && ok;
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

// Writes every file of the archive at `path` below `folder`, as unzip would.
bool ExtractArchive(const std::string& path, const std::string& folder) {
    int error = 0;
    std::unique_ptr<zip_t, decltype(&zip_discard)> archive(
        zip_open(path.c_str(), ZIP_RDONLY, &error), &zip_discard);
    if (!archive) {
        return false;
    }
    zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &stat);
        std::string data(stat.size, '\0');
        std::unique_ptr<zip_file_t, decltype(&zip_fclose)> entry(
            zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0), &zip_fclose);
        if (!entry ||
            zip_fread(entry.get(), data.data(), stat.size) != static_cast<zip_int64_t>(stat.size)) {
            return false;
        }
        std::filesystem::path file = std::filesystem::path(folder) / stat.name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << data;
    }
    return true;
}

bool RunShell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int Run() {
    testing::TempFolder temp;
    std::filesystem::copy(std::string(VELUNOR_SOURCE_DATA) + "/Template", temp.File("Template"));
    const std::u16string folder = WriteNovel(temp.WidePath() + u"/");

    ExportOptions epub;
    const std::u16string book = temp.WideFile("book.epub");
    ExportResult result;
    bool epubOk = false;
    double epubSeconds = BestSeconds(
        [&] {
            result = ExportNovel(folder, book, epub);
            return result.Ok;
        },
        epubOk);

    const std::string files = temp.File("files");
    bool extracted = ExtractArchive(temp.File("book.epub"), files);
    size_t textBytes = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(files)) {
        textBytes += entry.is_regular_file() ? entry.file_size() : 0;
    }
    bool zipOk = false;
    double zipSeconds = BestSeconds(
        [&] {
            std::filesystem::remove(temp.File("files.zip"));
            return RunShell("cd '" + files + "' && zip -q -r -X '" + temp.File("files.zip") +
                            "' .");
        },
        zipOk);

    ExportOptions txt;
    txt.Format = ExportFormat::Txt;
    bool txtOk = false;
    double txtSeconds =
        BestSeconds([&] { return ExportNovel(folder, temp.WideFile("book.txt"), txt).Ok; }, txtOk);

    ExportOptions epubS2t = epub;
    epubS2t.Conversion = ChineseConversion::SimplifiedToTraditional;
    ExportOptions txtS2t = txt;
    txtS2t.Conversion = ChineseConversion::SimplifiedToTraditional;
    bool convertedOk = false;
    double epubS2tSeconds = BestSeconds(
        [&] { return ExportNovel(folder, temp.WideFile("t.epub"), epubS2t).Ok; }, convertedOk);
    double txtS2tSeconds = BestSeconds(
        [&] { return ExportNovel(folder, temp.WideFile("t.txt"), txtS2t).Ok; }, convertedOk);

    const double ratio = epubSeconds / zipSeconds;
    std::printf("export of a %d-chapter novel, %.1f MB of XHTML in the book, best of %d runs\n",
                result.Chapters, static_cast<double>(textBytes) / 1e6, kRuns);
    std::printf("  EPUB          %6.3f s   ok: %s   file %.2f MB\n", epubSeconds,
                epubOk ? "yes" : "no",
                static_cast<double>(std::filesystem::file_size(temp.File("book.epub"))) / 1e6);
    std::printf("  zip -r -X     %6.3f s   ok: %s   (the same files, extracted: %s)\n", zipSeconds,
                zipOk ? "yes" : "no", extracted ? "yes" : "no");
    std::printf("  EPUB / zip    %6.2f     goal <= %.1f: %s\n", ratio, kEpubRatioGoal,
                ratio <= kEpubRatioGoal ? "met" : "MISSED");
    std::printf("  EPUB          %6.3f s   goal <= %.1f s: %s\n", epubSeconds, kEpubSecondsGoal,
                epubSeconds <= kEpubSecondsGoal ? "met" : "MISSED");
    std::printf("  TXT           %6.3f s   goal <= %.1f s: %s   ok: %s\n", txtSeconds,
                kTxtSecondsGoal, txtSeconds <= kTxtSecondsGoal ? "met" : "MISSED",
                txtOk ? "yes" : "no");
    std::printf("  EPUB 简→繁    %6.3f s   (for information)\n", epubS2tSeconds);
    std::printf("  TXT  简→繁    %6.3f s   (for information)   ok: %s\n", txtS2tSeconds,
                convertedOk ? "yes" : "no");
    bool met = epubOk && zipOk && txtOk && ratio <= kEpubRatioGoal &&
               epubSeconds <= kEpubSecondsGoal && txtSeconds <= kTxtSecondsGoal;
    return met ? 0 : 1;
}

} // namespace
} // namespace velunor

int main() {
    return velunor::Run();
}
