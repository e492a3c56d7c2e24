// Reading and editing the bookshelf file.

#include "library/book_shelf_file.h"

#include "core/core.h"
#include "core/folder_layout.h"
#include "library/internal/file_time.h"
#include "library/internal/library_changes.h"
#include "library/internal/novel_claim.h"
#include "library/internal/stored_book_shelf.h"
#include "library/library_layout.h"
#include "xml/xml_document.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace velunor {
namespace {

constexpr std::u16string_view kShelfHead =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n";
constexpr std::u16string_view kShelfTail = u"</BookShelf>\r\n";
constexpr std::u16string_view kBookStart = u"<Book";
constexpr std::u16string_view kBookEnd = u"</Book>";
constexpr std::u16string_view kContentsPageSuffix = u"/ContentsPage.html";
constexpr std::u16string_view kShelfName = u"BookShelf.xml";
constexpr const char16_t* kPageFinderElement = u"PageFinder";

// Keeps the threads of this process in turn even where the lock file cannot be made.
std::mutex& BookShelfMutex() {
    static std::mutex mutex;
    return mutex;
}

// The threads of this process queue on the mutex, and only the one holding it waits for the
// file lock, the one other processes take too. Always in this order, so no two edits can each
// hold one lock while waiting for the other.
class ShelfLock {
  public:
    explicit ShelfLock(const std::u16string& programFolder)
        : threads_(BookShelfMutex()), processes_(BookShelfPath(programFolder) + u".lock") {}

  private:
    std::lock_guard<std::mutex> threads_;
    CFileLock processes_;
};

// Reads the Book that is current and leaves it current again, its paths as stored; false when
// it has no TargetSite, which makes it neither listed nor matched.
bool ReadStoredEntry(CXmlDocument& document, BookEntry& entry) {
    document.EnterElement();
    bool listed = document.FindElement(u"TargetSite");
    entry.TargetSite = listed ? document.GetElementText() : std::u16string();
    entry.NovelName = FindElementText(document, u"NovelName");
    entry.ContentsPagePath = FindElementText(document, u"ContentsPagePath");
    entry.RuleFile = FindElementText(document, u"RuleFile");
    entry.InfoPageUrl = FindElementText(document, u"InfoPageUrl");
    entry.FoundByFinder = !FindElementText(document, kPageFinderElement).empty();
    document.LeaveElement();
    return listed;
}

// Sets the text of child `name` of the current Book, adding the child when it has none.
void SetChild(CXmlDocument& document, const char16_t* name, std::u16string_view value) {
    document.RewindChildren();
    document.EnterElement();
    if (document.FindElement(name)) {
        document.SetElementText(value);
    } else {
        document.AddElement(name, value);
    }
    document.LeaveElement();
}

// Rewrites the paths of the entries not yet in the form they are now stored in: an entry
// written with absolute paths is saved relative to the program folder at the first edit after
// it. An entry already in that form is left as it is written, so an edit costs the entries it
// changes, not every entry of the shelf.
void StoreEntriesAnew(const std::u16string& programFolder, CXmlDocument& document) {
    document.ResetPosition();
    document.FindElement(u"BookShelf");
    document.EnterElement();
    BookEntry stored;
    while (document.FindElement(u"Book")) {
        ReadStoredEntry(document, stored);
        std::u16string path = StoredLibraryPath(
            programFolder, ResolveLibraryPath(programFolder, stored.ContentsPagePath));
        if (path != stored.ContentsPagePath) {
            SetChild(document, u"ContentsPagePath", path);
        }
        std::u16string ruleFile =
            StoredRuleFile(programFolder, ResolveRuleFile(programFolder, stored.RuleFile));
        if (!stored.RuleFile.empty() && ruleFile != stored.RuleFile) {
            SetChild(document, u"RuleFile", ruleFile);
        }
    }
    document.LeaveElement();
}

// The next "<Book" start tag from `from` on ("<BookShelf" is not one).
size_t FindBookStart(std::u16string_view text, size_t from) {
    for (size_t at = text.find(kBookStart, from); at != std::u16string_view::npos;
         at = text.find(kBookStart, at + 1)) {
        size_t after = at + kBookStart.size();
        if (after < text.size() && (text[after] == u'>' || IsAsciiSpace(text[after]))) {
            return at;
        }
    }
    return std::u16string_view::npos;
}

// The whole Book elements of a damaged file, in file order: each runs from its start tag to the
// first end tag after it, with no other Book starting in between, and reads as XML on its own.
// A Book cut short or broken by garbage is left out rather than guessed at.
std::vector<std::u16string_view> WholeBooks(std::u16string_view text) {
    std::vector<std::u16string_view> books;
    size_t start = FindBookStart(text, 0);
    while (start != std::u16string_view::npos) {
        size_t next = FindBookStart(text, start + 1);
        size_t end = text.find(kBookEnd, start);
        if (end != std::u16string_view::npos && end < next) {
            std::u16string_view book = text.substr(start, end + kBookEnd.size() - start);
            CXmlDocument alone;
            if (alone.SetDocumentText(book) && alone.FindElement(u"Book")) {
                books.push_back(book);
            }
        }
        start = next;
    }
    return books;
}

// The shelf as loaded: the document stands on its BookShelf root, ready to be entered.
struct LoadedShelf {
    FileCondition file = FileCondition::Unreadable;
    CXmlDocument document;
    size_t recoveredBooks = 0;
};

// Loads the file. A missing file is an empty shelf; a damaged one becomes a shelf of its whole
// Book elements. A file that cannot be read at all (a folder, a FIFO, no read access) cannot be
// judged and is left alone.
LoadedShelf LoadShelf(const std::u16string& programFolder) {
    LoadedShelf shelf;
    std::u16string path = BookShelfPath(programFolder);
    if (shelf.document.LoadFile(path, kConfigFileLimit) &&
        shelf.document.FindElement(u"BookShelf")) {
        shelf.file = FileCondition::Whole;
        return shelf;
    }
    std::u16string text;
    shelf.file = JudgeUnloadedFile(path, kConfigFileLimit, text);
    if (shelf.file == FileCondition::Unreadable) {
        return shelf;
    }
    std::u16string recovered(kShelfHead);
    for (std::u16string_view book : WholeBooks(text)) {
        recovered += std::u16string(book) + u"\r\n";
        ++shelf.recoveredBooks;
    }
    recovered += kShelfTail;
    shelf.document.SetDocumentText(recovered);
    shelf.document.FindElement(u"BookShelf");
    return shelf;
}

// How one locked edit went, reported once the lock is released.
struct EditOutcome {
    ShelfEditResult result = ShelfEditResult::NotSaved;
    // The damaged file's new name below the program folder; empty when the file was whole.
    /// Where a damaged shelf file was moved aside; empty when it was sound.
    std::u16string damagedPath;
    std::u16string damagedName;
    size_t recoveredBooks = 0;
    // The novel was on the shelf already, under the same contents page.
    bool alreadyShelved = false;
};

// Saves the edited shelf. A damaged file is first moved aside under a free name, so the save
// cannot overwrite it, and moved back when the save fails, so a failed edit changes nothing.
void SaveShelf(const std::u16string& programFolder, LoadedShelf& shelf, EditOutcome& outcome) {
    std::u16string path = BookShelfPath(programFolder);
    if (shelf.file == FileCondition::Damaged) {
        std::u16string aside = MoveDamagedFileAside(path);
        if (aside.empty()) {
            return;
        }
        outcome.damagedPath = aside;
        outcome.damagedName = ShownPath(programFolder, aside);
        outcome.recoveredBooks = shelf.recoveredBooks;
    }
    if (shelf.document.SaveFile(path)) {
        outcome.result = ShelfEditResult::Saved;
        return;
    }
    if (!outcome.damagedPath.empty()) {
        std::rename(NativePath(outcome.damagedPath).c_str(), NativePath(path).c_str());
        outcome.damagedPath.clear();
        outcome.damagedName.clear();
    }
}

void ReportDamage(WindowPort& window, const EditOutcome& outcome) {
    if (outcome.damagedName.empty()) {
        return;
    }
    window.SetStatusText(
        u"书架文件已损坏，原文件已保留为 " + outcome.damagedName + u"，从中恢复了 " +
        DecimalText(static_cast<long long>(outcome.recoveredBooks)) + u" 本小说的记录。");
}

// Moves to the next Book entry that opens `contentsPagePath`; false, having passed every later
// entry, when none does.
bool FindBookOfFolder(const std::u16string& programFolder, CXmlDocument& document,
                      const std::u16string& contentsPagePath) {
    BookEntry entry;
    while (document.FindElement(u"Book")) {
        if (ReadStoredEntry(document, entry) &&
            ResolveLibraryPath(programFolder, entry.ContentsPagePath) == contentsPagePath) {
            return true;
        }
    }
    return false;
}

EditOutcome AppendEntry(const std::u16string& programFolder, const BookEntry& entry) {
    ShelfLock lock(programFolder);
    EditOutcome outcome;
    LoadedShelf shelf = LoadShelf(programFolder);
    // Whatever could not be read must not be replaced by a shelf holding only the new novel.
    if (shelf.file == FileCondition::Unreadable) {
        return outcome;
    }
    CXmlDocument& document = shelf.document;
    document.EnterElement();
    // A novel downloaded again writes into the same folder: a second entry for it would open
    // the same pages, and deleting either would leave the other opening nothing.
    if (FindBookOfFolder(programFolder, document, entry.ContentsPagePath)) {
        outcome.alreadyShelved = true;
        if (!entry.RuleFile.empty()) {
            SetChild(document, u"RuleFile", StoredRuleFile(programFolder, entry.RuleFile));
        }
        // Read in this order: PageFinder after InfoPageUrl.
        if (entry.Identified()) {
            SetChild(document, u"InfoPageUrl", entry.InfoPageUrl);
        }
        if (entry.FoundByFinder) {
            SetChild(document, kPageFinderElement, u"1");
        }
    } else {
        document.ResetPosition();
        document.FindElement(u"BookShelf");
        document.EnterElement();
        while (document.FindElement(u"Book")) {
        }
        document.AddElement(u"Book");
        document.EnterElement();
        document.AddElement(u"TargetSite", entry.TargetSite);
        document.AddElement(u"NovelName", entry.NovelName);
        document.AddElement(u"ContentsPagePath",
                            StoredLibraryPath(programFolder, entry.ContentsPagePath));
        // Entries that do not know their novel's identity are written as they were before.
        if (!entry.RuleFile.empty()) {
            document.AddElement(u"RuleFile", StoredRuleFile(programFolder, entry.RuleFile));
        }
        if (entry.Identified()) {
            document.AddElement(u"InfoPageUrl", entry.InfoPageUrl);
        }
        if (entry.FoundByFinder) {
            document.AddElement(kPageFinderElement, u"1");
        }
        document.LeaveElement();
    }
    StoreEntriesAnew(programFolder, document);
    SaveShelf(programFolder, shelf, outcome);
    return outcome;
}

EditOutcome RemoveEntry(const std::u16string& programFolder,
                        const std::u16string& contentsPagePath) {
    ShelfLock lock(programFolder);
    EditOutcome outcome;
    LoadedShelf shelf = LoadShelf(programFolder);
    if (shelf.file == FileCondition::Unreadable) {
        return outcome;
    }
    CXmlDocument& document = shelf.document;
    document.EnterElement();
    // Shelves written before one novel had one entry may list a folder twice; its folder goes,
    // so every entry that would open it goes too.
    bool found = false;
    while (FindBookOfFolder(programFolder, document, contentsPagePath)) {
        document.RemoveElement();
        found = true;
    }
    if (!found) {
        outcome.result = ShelfEditResult::NotFound;
        return outcome;
    }
    StoreEntriesAnew(programFolder, document);
    SaveShelf(programFolder, shelf, outcome);
    return outcome;
}

// A path edited by hand, or a site folder that is a link, must not make a delete reach outside
// the library. The novel folder itself may be a link: DeleteFolderTree only unlinks it.
bool IsDeletableNovelFolder(const std::u16string& programFolder, const std::u16string& folder) {
    return IsNovelFolder(programFolder, folder) &&
           IsInsideRealNovelRoot(programFolder, FolderOfFile(folder));
}

constexpr std::string_view kTrashInfix = ".trash-";

std::atomic<unsigned> nextTrashNumber{0};

// A novel folder is deleted in three steps: renamed to a hidden trash name beside it, taken off
// the shelf, and then removed. A process killed at any point leaves the novel on the shelf
// with its folder whole under the trash name, which ClearDeletedNovels renames back, or off the
// shelf with the trash left, which ClearDeletedNovels removes.
// The trash name: ".<novel>.trash-<pid>-<n>" in the site folder, so that the rename never
// crosses a file system.
std::u16string TrashPathOf(const std::u16string& folder) {
    std::u16string site = FolderOfFile(folder);
    std::u16string name = folder.substr(site.size() + 1);
    return site + u"/." + name + Utf8ToWide(kTrashInfix) + DecimalText(::getpid()) + u"-" +
           DecimalText(nextTrashNumber.fetch_add(1));
}

// Moves the novel folder to a trash name; the trash path, or empty when there is no folder to
// delete (none there, outside the library, or it could not be renamed).
std::u16string MoveToTrash(const std::u16string& programFolder, const std::u16string& folder) {
    if (!IsDeletableNovelFolder(programFolder, folder)) {
        return {};
    }
    std::u16string trash = TrashPathOf(folder);
    // Noted before the folder moves: a listing that finds the mark as it was skips looking
    // for trash, and a delete cut short after the move must not go unseen.
    internal::NoteNovelFolderWritten(folder);
    if (std::rename(NativePath(folder).c_str(), NativePath(trash).c_str()) != 0) {
        return {};
    }
    return trash;
}

void PutBack(const std::u16string& trash, const std::u16string& folder) {
    if (!trash.empty()) {
        std::rename(NativePath(trash).c_str(), NativePath(folder).c_str());
    }
}

// True while the process that made a trash folder may still be deleting it.
bool IsLiveProcess(int pid) {
    return pid == ::getpid() || !HasProcessEnded(pid);
}

// The novel folders the shelf lists.
std::set<std::u16string> ShelvedFolders(const std::u16string& programFolder) {
    std::set<std::u16string> folders;
    for (const BookEntry& entry : ReadBookShelf(programFolder)) {
        folders.insert(NovelFolderOfContentsPage(entry.ContentsPagePath));
    }
    return folders;
}

// Renames a trash folder back when its novel is still listed and no new folder has taken its
// place; removes it otherwise. The claim keeps a job or a delete of that novel out meanwhile.
void ClearTrash(const std::u16string& programFolder, const std::u16string& trash,
                const std::u16string& folder, const std::set<std::u16string>& shelved) {
    internal::CNovelClaim claim(programFolder, folder);
    if (!claim.Held()) {
        return;
    }
    struct stat status {};
    if (shelved.contains(folder) && lstat(NativePath(folder).c_str(), &status) != 0 &&
        errno == ENOENT) {
        PutBack(trash, folder);
        return;
    }
    DeleteFolderTree(trash);
}

} // namespace

std::u16string BookShelfPath(const std::u16string& programFolder) {
    return FolderLayoutFor(programFolder).ShelfFolder + std::u16string(kShelfName);
}

std::u16string NovelFolderOfContentsPage(const std::u16string& path) {
    if (path.size() < kContentsPageSuffix.size() ||
        path.compare(path.size() - kContentsPageSuffix.size(), kContentsPageSuffix.size(),
                     kContentsPageSuffix) != 0) {
        return path;
    }
    return path.substr(0, path.size() - kContentsPageSuffix.size());
}

std::u16string BookItemText(std::u16string_view site, std::u16string_view novel) {
    std::u16string text;
    text.reserve(site.size() + 3 + novel.size());
    text.append(site).append(u" - ").append(novel);
    return text;
}

std::vector<BookEntry> ReadBookShelf(const std::u16string& programFolder) {
    std::vector<BookEntry> entries = internal::ReadStoredBookShelf(programFolder).Entries;
    internal::CStoredEntryResolver resolver(programFolder);
    for (BookEntry& entry : entries) {
        resolver.Resolve(entry);
    }
    return entries;
}

namespace internal {

std::string BookShelfStamp(const std::u16string& programFolder) {
    struct stat status {};
    if (stat(NativePath(BookShelfPath(programFolder)).c_str(), &status) != 0) {
        return {};
    }
    long long nanoseconds = ChangedNanoseconds(status);
    return std::to_string(status.st_dev) + "-" + std::to_string(status.st_ino) + "-" +
           std::to_string(status.st_size) + "-" + std::to_string(nanoseconds);
}

StoredBookShelf ReadStoredBookShelf(const std::u16string& programFolder) {
    StoredBookShelf stored;
    LoadedShelf shelf;
    {
        ShelfLock lock(programFolder);
        // Taken before the file is read: a hand edit meanwhile leaves the stamp behind the
        // entries, which only costs the next listing a reading.
        stored.Stamp = BookShelfStamp(programFolder);
        shelf = LoadShelf(programFolder);
    }
    CXmlDocument& document = shelf.document;
    if (shelf.file == FileCondition::Unreadable || !document.EnterElement()) {
        return stored;
    }
    while (document.FindElement(u"Book")) {
        BookEntry entry;
        if (ReadStoredEntry(document, entry)) {
            stored.Entries.push_back(std::move(entry));
        }
    }
    return stored;
}

CStoredEntryResolver::CStoredEntryResolver(const std::u16string& programFolder)
    : programFolder_(programFolder), root_(NovelRootFolder(programFolder)) {}

void CStoredEntryResolver::Resolve(BookEntry& entry) {
    entry.ContentsPagePath = ResolveLibraryPathIn(programFolder_, root_, entry.ContentsPagePath);
    auto [found, added] = ruleFiles_.try_emplace(entry.RuleFile);
    if (added) {
        found->second = ResolveRuleFile(programFolder_, entry.RuleFile);
    }
    entry.RuleFile = found->second;
}

} // namespace internal

bool FindShelvedNovel(const std::u16string& programFolder, const std::u16string& ruleFile,
                      const std::u16string& infoPageUrl, const std::u16string& site,
                      const std::u16string& novel, BookEntry& found) {
    std::vector<BookEntry> entries = ReadBookShelf(programFolder);
    for (BookEntry& entry : entries) {
        bool sameReader = ruleFile.empty() ? entry.FoundByFinder : entry.RuleFile == ruleFile;
        if (entry.Identified() && sameReader && entry.InfoPageUrl == infoPageUrl) {
            found = std::move(entry);
            return true;
        }
    }
    for (BookEntry& entry : entries) {
        if (!entry.Identified() && entry.TargetSite == site && entry.NovelName == novel) {
            found = std::move(entry);
            return true;
        }
    }
    return false;
}

bool AddBook(WindowPort& window, const std::u16string& programFolder, const BookEntry& entry) {
    CreateFolderPath(FolderLayoutFor(programFolder).ShelfFolder);
    EditOutcome outcome = AppendEntry(programFolder, entry);
    // Outside the lock: the window may be serving a delete that waits for it.
    ReportDamage(window, outcome);
    if (outcome.result != ShelfEditResult::Saved) {
        window.SetStatusText(u"无法写入书架文件 " +
                             ShownPath(programFolder, BookShelfPath(programFolder)) +
                             u"，本书未能加入书架！");
        return false;
    }
    if (!outcome.alreadyShelved) {
        window.AppendBookItem(BookItemText(entry.TargetSite, entry.NovelName));
    }
    return true;
}

ShelfEditResult RemoveBook(WindowPort& window, const std::u16string& programFolder,
                           const std::u16string& contentsPagePath) {
    std::u16string folder = NovelFolderOfContentsPage(contentsPagePath);
    internal::CNovelClaim claim(programFolder, folder);
    if (!claim.Held()) {
        window.SetStatusText(std::u16string(internal::kNovelBusyMessage));
        return ShelfEditResult::Busy;
    }
    std::u16string trash = MoveToTrash(programFolder, folder);
    EditOutcome outcome = RemoveEntry(programFolder, contentsPagePath);
    ReportDamage(window, outcome);
    // Only once the entry is gone for good does the folder go: a folder deleted under a kept
    // entry would leave the shelf listing a novel that is no longer there.
    if (outcome.result != ShelfEditResult::Saved) {
        PutBack(trash, folder);
    } else if (!trash.empty()) {
        DeleteFolderTree(trash);
    } else if (IsDeletableNovelFolder(programFolder, folder)) {
        // A folder that could not be renamed is deleted where it is.
        DeleteFolderTree(folder);
    }
    internal::NoteNovelFolderWritten(folder);
    if (outcome.result == ShelfEditResult::NotSaved) {
        window.SetStatusText(u"无法写入书架文件 " +
                             ShownPath(programFolder, BookShelfPath(programFolder)) +
                             u"，小说未能删除！");
    }
    return outcome.result;
}

void ClearDeletedNovels(const std::u16string& programFolder) {
    std::u16string root = NovelRootFolder(programFolder);
    std::optional<std::set<std::u16string>> shelved;
    for (const DirectoryEntry& site : ListFolder(NativePath(root))) {
        if (site.Kind != EntryKind::Folder) {
            continue;
        }
        std::string siteFolder = NativePath(root) + site.Name + "/";
        for (const std::string& name : ListFolderNames(siteFolder, ".")) {
            ProcessMarkedName trash;
            if (!ParseProcessMarkedName(name, kTrashInfix, trash) || IsLiveProcess(trash.Pid)) {
                continue;
            }
            // The shelf is read only when there is trash, so that a start without any costs
            // one read of each site folder.
            if (!shelved) {
                shelved = ShelvedFolders(programFolder);
            }
            ClearTrash(programFolder, Utf8ToWide(siteFolder + name),
                       Utf8ToWide(siteFolder + trash.Stem), *shelved);
        }
    }
}

} // namespace velunor
