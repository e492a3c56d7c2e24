// The bookshelf tree's items and commands.

#include "library/book_shelf_model.h"

#include "core/core.h"
#include "library/internal/library_changes.h"
#include "library/internal/shelf_counts.h"
#include "library/internal/small_file.h"
#include "library/internal/stored_book_shelf.h"
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
    bool written =
        CXmlDocument::WriteWideAsText(text, ReadingFilePath(folder), nullptr, nullptr, nullptr);
    internal::NoteNovelFolderWritten(folder);
    return written;
}

bool FileExists(const std::u16string& path) {
    struct stat status {};
    return stat(NativePath(path).c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Takes the counts of `item` from `state`.
void Count(ShelfItem& item, NovelShelfState state) {
    const NovelSummary& summary = state.Summary;
    item.Chapters = summary.Chapters;
    item.Unfinished = summary.Unfinished;
    item.Pending = summary.Pending;
    item.NewChapters = ChaptersFromPage(summary, std::max(summary.NewFrom, state.SeenPages));
    int lastRead = ChapterPageNumber(state.LastPage);
    item.Unread = ChaptersAfterPage(summary, lastRead);
    item.State = std::move(state);
}

ShelfItem MakeItem(BookEntry entry, size_t order, internal::CShelfCounts& cache) {
    ShelfItem item;
    item.Entry = std::move(entry);
    item.FileOrder = order;
    std::u16string folder = NovelFolderOfContentsPage(item.Entry.ContentsPagePath);
    Count(item, cache.Counts(order, folder, [&folder] { return ReadNovelShelfState(folder); }));
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
    // Written in place: the shelf labels every novel at each listing.
    std::u16string label = BookItemText(item.Entry.TargetSite, item.Entry.NovelName);
    if (item.NewChapters > 0) {
        label += u"（新 ";
        label += DecimalText(item.NewChapters);
        label += u" 章";
    }
    if (item.Unfinished > 0) {
        label += item.NewChapters > 0 ? u"，" : u"（";
        label += DecimalText(item.Unfinished);
        label += u" 章未完成";
    }
    if (item.NewChapters > 0 || item.Unfinished > 0) {
        label += u"）";
    }
    return label;
}

CBookShelfModel::CBookShelfModel(std::u16string programFolder)
    : programFolder_(std::move(programFolder)) {}

void CBookShelfModel::LoadBookShelf() {
    items_.clear();
    internal::CShelfCounts cache(programFolder_);
    // Trash is left only by a delete cut short, and every delete changes the library's mark.
    if (!cache.LibraryUnwritten()) {
        ClearDeletedNovels(programFolder_);
    }
    internal::CStoredEntryResolver resolver(programFolder_);
    size_t entries = cache.ReadEntries();
    items_.reserve(entries);
    PrefaultForWriting(items_.data(), entries * sizeof(ShelfItem));
    for (size_t order = 0; order < entries; ++order) {
        BookEntry entry = cache.TakeEntry(order);
        resolver.Resolve(entry);
        items_.push_back(MakeItem(std::move(entry), order, cache));
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
    auto before = [this](const ShelfItem& a, const ShelfItem& b) {
        bool aFirst = newChaptersFirst_ && a.NewChapters > 0;
        bool bFirst = newChaptersFirst_ && b.NewChapters > 0;
        return aFirst != bFirst ? aFirst : a.FileOrder < b.FileOrder;
    };
    // Most listings find the shelf in order already, and a long one would pay for the sort's
    // buffer all the same.
    if (!std::is_sorted(items_.begin(), items_.end(), before)) {
        std::stable_sort(items_.begin(), items_.end(), before);
    }
    labelsMade_ = false;
}

const std::vector<std::u16string>& CBookShelfModel::Items() const {
    if (!labelsMade_) {
        labels_.clear();
        labels_.reserve(items_.size());
        for (const ShelfItem& item : items_) {
            labels_.push_back(ShelfItemLabel(item));
        }
        labelsMade_ = true;
    }
    return labels_;
}

void CBookShelfModel::OpenBook(int item, WindowPort& window) const {
    if (!IsNovelItem(item)) {
        return;
    }
    const ShelfItem& shown = Item(item);
    const std::u16string& lastPage = shown.State.LastPage;
    std::u16string page = NovelFolderOfContentsPage(shown.Entry.ContentsPagePath) + u"/" + lastPage;
    if (lastPage.empty() || !FileExists(page)) {
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
