// Reading a novel of the library for an export.

#include "export/internal/exported_book.h"

#include "core/core.h"
#include "export/internal/chinese_converter.h"
#include "library/library_layout.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace velunor::internal {
namespace {

// Pages are small and many; more threads than the machine's two cores only wait on each other.
constexpr unsigned kMaxReadingThreads = 2;

std::u16string FolderName(const std::u16string& folder) {
    size_t slash = folder.rfind(u'/');
    return slash == std::u16string::npos ? folder : folder.substr(slash + 1);
}

std::vector<TextBlock> NoticeBlocks(ChapterState state, std::u16string_view reason) {
    return {{TextBlock::Kind::Paragraph, MissingChapterNotice(state, reason)}};
}

// Fills `chapter` from its page; a stored chapter whose page cannot be read becomes a failed
// one, so that the book says what is missing rather than showing an empty chapter.
void ReadChapter(const std::u16string& folder, const IndexedChapter& indexed, size_t position,
                 ExportedChapter& chapter) {
    chapter.Name = PlainTextOf(indexed.Name);
    if (chapter.Name.empty()) {
        chapter.Name = u"第" + DecimalText(static_cast<long long>(position) + 1) + u"章";
    }
    chapter.State = indexed.State;
    if (indexed.State != ChapterState::Stored) {
        chapter.Blocks = NoticeBlocks(indexed.State, indexed.Reason);
        return;
    }
    std::u16string encoding(kPageEncoding);
    std::u16string page;
    std::u16string content;
    if (!ReadPage(encoding, folder + u"/" + ChapterPageName(indexed.Page), page) ||
        !ChapterTextOfPage(page, content)) {
        chapter.State = ChapterState::Failed;
        chapter.Blocks = NoticeBlocks(ChapterState::Failed, u"本章页面无法读取");
        return;
    }
    chapter.Blocks = ReduceMarkup(content);
}

// Reads the chapters of `index` into `chapters`, the calling thread and a helper taking the
// next unread chapter in turn.
void ReadChapters(const std::u16string& folder, const NovelIndex& index,
                  std::vector<ExportedChapter>& chapters, const ExportProgress& progress) {
    const size_t total = index.Chapters.size();
    chapters.resize(total);
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    auto work = [&](bool reports) {
        for (size_t i = next++; i < total; i = next++) {
            ReadChapter(folder, index.Chapters[i], i, chapters[i]);
            size_t finished = ++done;
            if (reports && progress) {
                progress(static_cast<int>(finished), static_cast<int>(total));
            }
        }
    };
    unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxReadingThreads);
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads && total > 1; ++t) {
        helpers.emplace_back(work, false);
    }
    work(true);
    for (std::thread& helper : helpers) {
        helper.join();
    }
    if (progress) {
        progress(static_cast<int>(total), static_cast<int>(total));
    }
}

} // namespace

std::u16string MissingChapterNotice(ChapterState state, std::u16string_view reason) {
    if (state == ChapterState::Pending) {
        return u"本章尚未下载。";
    }
    std::u16string why = XmlSafeText(PlainTextOf(reason));
    return why.empty() ? u"本章未能下载。" : u"本章未能下载（" + why + u"）。";
}

bool ReadExportedBook(const std::u16string& folder, ExportedBook& book,
                      const ExportProgress& progress, std::u16string& error) {
    book = ExportedBook{};
    book.Folder = folder;
    if (!IsDirectory(folder)) {
        error = u"找不到小说文件夹“" + folder + u"”。";
        return false;
    }
    NovelIndex index;
    if (LoadNovelIndex(folder, index)) {
        // A chapter stored by a job that stopped before it wrote the index is stored all the
        // same; its page says so.
        ReconcileWithPages(folder, index);
    } else {
        index = IndexFromPages(folder);
    }
    if (index.Chapters.empty()) {
        error = u"小说“" + FolderName(folder) + u"”还没有任何章节，无法导出。";
        return false;
    }
    book.Title = PlainTextOf(index.NovelName);
    if (book.Title.empty()) {
        book.Title = XmlSafeText(FolderName(folder));
    }
    book.Author = PlainTextOf(index.NovelAuthor);
    book.Site = PlainTextOf(index.SiteName);
    book.InfoPageUrl = index.InfoPageUrl;
    for (TextBlock& block : ReduceMarkup(index.NovelIntro)) {
        if (block.BlockKind == TextBlock::Kind::Paragraph) {
            book.Intro.push_back(std::move(block));
        }
    }
    for (const VolumeHeading& heading : index.Volumes) {
        std::u16string name = PlainTextOf(heading.Name);
        if (!name.empty()) {
            book.Volumes.push_back({heading.Before, std::move(name)});
        }
    }
    ReadChapters(folder, index, book.Chapters, progress);
    return true;
}

void ConvertBook(const CChineseConverter& converter, ExportedBook& book) {
    std::vector<std::u16string*> names{&book.Title, &book.Author, &book.Site, &book.ContentsCaption,
                                       &book.AuthorCaption};
    for (TextBlock& block : book.Intro) {
        names.push_back(&block.Text);
    }
    for (VolumeHeading& heading : book.Volumes) {
        names.push_back(&heading.Name);
    }
    converter.ConvertAll(names);
    for (ExportedChapter& chapter : book.Chapters) {
        std::vector<std::u16string*> texts{&chapter.Name};
        for (TextBlock& block : chapter.Blocks) {
            if (block.BlockKind == TextBlock::Kind::Paragraph) {
                texts.push_back(&block.Text);
            }
        }
        converter.ConvertAll(texts);
    }
}

} // namespace velunor::internal
