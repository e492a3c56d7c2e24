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

// Where the reader is in the novel of `folder`: the last chapter page read and the pages the
// novel had when the reader last opened it. False when the novel was never opened.
bool LoadReading(const std::u16string& folder, std::u16string& page, int& seenPages) {
    // Read in one go: the shelf reads one per novel, and most novels have none.
    std::string bytes;
    CXmlDocument document;
    if (!internal::ReadSmallFile(ReadingFilePath(folder), bytes)) {
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
    std::string seen = WideToUtf8(FindElementText(document, u"SeenPages"));
    seenPages = std::max(0, std::atoi(seen.c_str()));
    if (!IsReadingPageName(page)) {
        page.clear();
    }
    return !page.empty() || seenPages > 0;
}

bool SaveReading(const std::u16string& folder, const std::u16string& page, int seenPages) {
    std::u16string text = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Reading>\r\n"
                          u"<LastPage>" +
                          CXmlDocument::EncodeEntities(page, CXmlDocument::kEncodeText) +
                          u"</LastPage>\r\n<SeenPages>" + DecimalText(seenPages) +
                          u"</SeenPages>\r\n" + ReaderPlaceElement(folder) + u"</Reading>\r\n";
    return CXmlDocument::WriteWideAsText(text, ReadingFilePath(folder), nullptr, nullptr, nullptr);
}

bool FileExists(const std::u16string& path) {
    struct stat status {};
    return stat(NativePath(path).c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Takes the counts of `item` from `state`.
void Count(ShelfItem& item, NovelShelfState state) {
    std::u16string folder = NovelFolderOfContentsPage(item.Entry.ContentsPagePath);
    const NovelSummary& summary = state.Summary;
    item.Chapters = summary.Chapters;
    item.Unfinished = summary.Unfinished;
    item.Pending = summary.Pending;
    item.NewChapters = ChaptersFromPage(summary, std::max(summary.NewFrom, state.SeenPages));
    int lastRead = ChapterPageNumber(state.LastPage);
    item.Unread = ChaptersAfterPage(summary, lastRead);
    item.LastReadPage = state.LastPage.empty() ? std::u16string() : folder + u"/" + state.LastPage;
    item.State = std::move(state);
    item.Label = ShelfItemLabel(item);
}

ShelfItem MakeItem(BookEntry entry, internal::CShelfCounts& cache) {
    ShelfItem item;
    item.Entry = std::move(entry);
    std::u16string folder = NovelFolderOfContentsPage(item.Entry.ContentsPagePath);
    Count(item, cache.Counts(folder, [&folder] { return ReadNovelShelfState(folder); }));
    return item;
}

} // namespace

NovelShelfState ReadNovelShelfState(const std::u16string& folder) {
    NovelShelfState state;
    LoadNovelSummary(folder, state.Summary);
    if (!LoadReading(folder, state.LastPage, state.SeenPages)) {
        state.LastPage.clear();
        state.SeenPages = 0;
    }
    return state;
}

std::u16string ShelfItemLabel(const ShelfItem& item) {
    std::u16string label = BookItemText(item.Entry.TargetSite, item.Entry.NovelName);
    std::u16string counts;
    if (item.NewChapters > 0) {
        counts = u"新 " + DecimalText(item.NewChapters) + u" 章";
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
    std::vector<BookEntry> entries = ReadBookShelf(programFolder_);
    items_.reserve(entries.size());
    for (BookEntry& entry : entries) {
        items_.push_back(MakeItem(std::move(entry), cache));
        items_.back().FileOrder = items_.size() - 1;
    }
    cache.Save();
    Sort();
}

void CBookShelfModel::SetNewChaptersFirst(bool first) {
    newChaptersFirst_ = first;
    Sort();
}

bool CBookShelfModel::ApplyNovelState(const std::u16string& folder, const NovelShelfState& state) {
    bool found = false;
    for (ShelfItem& item : items_) {
        if (NovelFolderOfContentsPage(item.Entry.ContentsPagePath) == folder) {
            Count(item, state);
            found = true;
        }
    }
    if (found) {
        Sort();
    }
    return found;
}

std::vector<std::u16string> CBookShelfModel::FoldersWithPendingChapters() const {
    std::vector<std::u16string> folders;
    for (const ShelfItem& item : items_) {
        std::u16string folder = NovelFolderOfContentsPage(item.Entry.ContentsPagePath);
        if (item.Pending > 0 &&
            std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(std::move(folder));
        }
    }
    return folders;
}

void CBookShelfModel::Sort() {
    std::stable_sort(items_.begin(), items_.end(), [this](const ShelfItem& a, const ShelfItem& b) {
        bool aFirst = newChaptersFirst_ && a.NewChapters > 0;
        bool bFirst = newChaptersFirst_ && b.NewChapters > 0;
        return aFirst != bFirst ? aFirst : a.FileOrder < b.FileOrder;
    });
    labels_.clear();
    for (const ShelfItem& item : items_) {
        labels_.push_back(item.Label);
    }
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
    bool chapter = ChapterPageNumber(name) > 0;
    if (!chapter && name != kContentsPageName) {
        return false;
    }
    for (ShelfItem& shelved : items_) {
        if (NovelFolderOfContentsPage(shelved.Entry.ContentsPagePath) != folder) {
            continue;
        }
        NovelShelfState state = shelved.State;
        if (chapter) {
            state.LastPage = name;
        }
        state.SeenPages = PageAfterLast(state.Summary);
        if (state != shelved.State && !SaveReading(folder, state.LastPage, state.SeenPages)) {
            return false;
        }
        return ApplyNovelState(folder, state);
    }
    return false;
}

bool CBookShelfModel::IsNovelItem(int item) const {
    return item >= 0 && static_cast<size_t>(item) < items_.size();
}

} // namespace velunor
