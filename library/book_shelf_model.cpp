// The bookshelf tree's items and commands.

#include "library/book_shelf_model.h"

#include "core/core.h"
#include "library/internal/shelf_counts.h"
#include "library/internal/small_file.h"
#include "library/library_layout.h"
#include "library/novel_summary.h"
#include "library/reader_place.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>

namespace velunor {
namespace {

constexpr std::u16string_view kReadingName = u"Reading.xml";

std::u16string ReadingPath(const std::u16string& folder) {
    return folder + u"/" + std::u16string(kReadingName);
}

// Where the reader is in the novel of `folder`: the page file's name and how many chapters the
// novel had then. False when the novel was never read.
bool LoadReading(const std::u16string& folder, std::u16string& page, int& chapters) {
    // Read in one go: the shelf reads one per novel, and most novels have none.
    std::string bytes;
    CXmlDocument document;
    if (!internal::ReadSmallFile(ReadingPath(folder), bytes)) {
        return false;
    }
    std::string_view text(bytes);
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    if (!document.SetDocumentText(Utf8ToWide(text)) || !document.FindElement(u"Reading")) {
        return false;
    }
    document.EnterElement();
    page = FindElementText(document, u"LastPage");
    std::string count = WideToUtf8(FindElementText(document, u"ChapterCount"));
    chapters = std::atoi(count.c_str());
    // A name with a "/" would lead out of the novel folder.
    return !page.empty() && page.find(u'/') == std::u16string::npos && page != u"..";
}

bool SaveReading(const std::u16string& folder, const std::u16string& page, int chapters) {
    std::u16string text = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Reading>\r\n"
                          u"<LastPage>" +
                          CXmlDocument::EncodeEntities(page, CXmlDocument::kEncodeText) +
                          u"</LastPage>\r\n<ChapterCount>" + DecimalText(chapters) +
                          u"</ChapterCount>\r\n" + ReaderPlaceElement(folder) + u"</Reading>\r\n";
    return CXmlDocument::WriteWideAsText(text, ReadingPath(folder), nullptr, nullptr, nullptr);
}

bool FileExists(const std::u16string& path) {
    struct stat status {};
    return stat(NativePath(path).c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// What the files of the novel folder `folder` say: its summary and where the reader is.
internal::FolderCounts ReadFolderCounts(const std::u16string& folder) {
    internal::FolderCounts counts;
    NovelSummary summary;
    if (LoadNovelSummary(folder, summary)) {
        counts.Chapters = summary.Chapters;
        counts.Unfinished = summary.Unfinished;
    }
    if (!LoadReading(folder, counts.LastPage, counts.ChaptersWhenRead)) {
        counts.LastPage.clear();
        counts.ChaptersWhenRead = 0;
    }
    return counts;
}

ShelfItem MakeItem(BookEntry entry, internal::CShelfCounts& cache) {
    ShelfItem item;
    item.Entry = std::move(entry);
    std::u16string folder = NovelFolderOfContentsPage(item.Entry.ContentsPagePath);
    internal::FolderCounts counts =
        cache.Counts(folder, [&folder] { return ReadFolderCounts(folder); });
    item.Chapters = counts.Chapters;
    item.Unfinished = counts.Unfinished;
    if (!counts.LastPage.empty()) {
        item.LastReadPage = folder + u"/" + counts.LastPage;
        item.NewChapters = std::max(0, item.Chapters - counts.ChaptersWhenRead);
    }
    item.Label = ShelfItemLabel(item);
    return item;
}

} // namespace

std::u16string ShelfItemLabel(const ShelfItem& item) {
    std::u16string label = BookItemText(item.Entry.TargetSite, item.Entry.NovelName);
    std::u16string counts;
    if (item.NewChapters > 0) {
        counts = u"新增 " + DecimalText(item.NewChapters) + u" 章";
    }
    if (item.Unfinished > 0) {
        counts += (counts.empty() ? u"" : u"，") + DecimalText(item.Unfinished) + u" 章未完成";
    }
    return counts.empty() ? label : label + u"（" + counts + u"）";
}

CBookShelfModel::CBookShelfModel(std::u16string programFolder)
    : programFolder_(std::move(programFolder)) {}

void CBookShelfModel::LoadBookShelf() {
    ClearDeletedNovels(programFolder_);
    items_.clear();
    labels_.clear();
    internal::CShelfCounts cache(BookShelfPath(programFolder_) + u".counts");
    for (BookEntry& entry : ReadBookShelf(programFolder_)) {
        items_.push_back(MakeItem(std::move(entry), cache));
        labels_.push_back(items_.back().Label);
    }
    cache.Save();
}

void CBookShelfModel::OpenBook(int item, WindowPort& window) const {
    if (!IsNovelItem(item)) {
        return;
    }
    const std::u16string& page = Item(item).LastReadPage;
    if (page.empty() || !FileExists(page)) {
        OpenContents(item, window);
        return;
    }
    window.NavigateAsync(page);
    window.SetViewMode(ViewMode::Reading);
}

void CBookShelfModel::OpenContents(int item, WindowPort& window) const {
    if (!IsNovelItem(item)) {
        return;
    }
    window.NavigateAsync(Item(item).Entry.ContentsPagePath);
    window.SetViewMode(ViewMode::Reading);
}

bool CBookShelfModel::DeleteBook(int item, WindowPort& window) {
    if (!IsNovelItem(item)) {
        return true;
    }
    // An entry another process removed already is gone all the same, so its item goes too.
    ShelfEditResult result = RemoveBook(window, programFolder_, Item(item).Entry.ContentsPagePath);
    if (result == ShelfEditResult::NotSaved || result == ShelfEditResult::Busy) {
        return false;
    }
    // Read back rather than erase one item: entries of the same folder went with it.
    LoadBookShelf();
    return true;
}

std::u16string CBookShelfModel::NovelFolder(int item) const {
    return IsNovelItem(item) ? NovelFolderOfContentsPage(Item(item).Entry.ContentsPagePath)
                             : std::u16string();
}

bool CBookShelfModel::NoteOpenedPage(const std::u16string& page) {
    std::u16string folder = FolderOfFile(page);
    std::u16string name = page.substr(folder.size() + 1);
    if (ChapterPageNumber(name) == 0) {
        return false;
    }
    for (size_t i = 0; i < items_.size(); ++i) {
        ShelfItem& shelved = items_[i];
        if (NovelFolderOfContentsPage(shelved.Entry.ContentsPagePath) != folder) {
            continue;
        }
        if (!SaveReading(folder, name, shelved.Chapters)) {
            return false;
        }
        shelved.LastReadPage = page;
        shelved.NewChapters = 0;
        Relabel(i);
        return true;
    }
    return false;
}

bool CBookShelfModel::IsNovelItem(int item) const {
    return item >= 0 && static_cast<size_t>(item) < items_.size();
}

void CBookShelfModel::Relabel(size_t item) {
    items_[item].Label = ShelfItemLabel(items_[item]);
    labels_[item] = items_[item].Label;
}

} // namespace velunor
