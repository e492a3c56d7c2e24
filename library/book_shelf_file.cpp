// Reading and editing the bookshelf file.

#include "library/book_shelf_file.h"

#include "core/core.h"
#include "library/library_layout.h"
#include "xml/xml_document.h"

#include <mutex>

namespace velunor {
namespace {

constexpr std::u16string_view kEmptyShelf =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n</BookShelf>\r\n";
constexpr std::u16string_view kContentsPageSuffix = u"/ContentsPage.html";

std::u16string BookShelfPath(const std::u16string& programFolder) {
    return programFolder + u"Config/BookShelf.xml";
}

std::mutex& BookShelfLock() {
    static std::mutex lock;
    return lock;
}

// Reads the Book that is current and leaves it current again; false when it has no
// TargetSite, which makes it neither listed nor matched.
bool ReadEntry(CXmlDocument& document, BookEntry& entry) {
    document.EnterElement();
    bool listed = document.FindElement(u"TargetSite");
    entry.TargetSite = listed ? document.GetElementText() : std::u16string();
    entry.NovelName = FindElementText(document, u"NovelName");
    entry.ContentsPagePath = FindElementText(document, u"ContentsPagePath");
    document.LeaveElement();
    return listed;
}

// Loads the file and enters its BookShelf root; false when there is none.
bool EnterShelf(CXmlDocument& document, const std::u16string& programFolder) {
    document.LoadFile(BookShelfPath(programFolder));
    if (!document.FindElement(u"BookShelf")) {
        return false;
    }
    return document.EnterElement();
}

std::u16string NovelFolderOfContentsPage(const std::u16string& path) {
    if (path.size() < kContentsPageSuffix.size() ||
        path.compare(path.size() - kContentsPageSuffix.size(), kContentsPageSuffix.size(),
                     kContentsPageSuffix) != 0) {
        return path;
    }
    return path.substr(0, path.size() - kContentsPageSuffix.size());
}

} // namespace

std::u16string BookItemText(std::u16string_view site, std::u16string_view novel) {
    return std::u16string(site) + u" - " + std::u16string(novel);
}

std::vector<BookEntry> ReadBookShelf(const std::u16string& programFolder) {
    std::lock_guard lock(BookShelfLock());
    std::vector<BookEntry> entries;
    CXmlDocument document;
    if (!EnterShelf(document, programFolder)) {
        return entries;
    }
    while (document.FindElement(u"Book")) {
        BookEntry entry;
        if (ReadEntry(document, entry)) {
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

void AddBook(WindowPort& window, const std::u16string& programFolder, const std::u16string& site,
             const std::u16string& novel, const std::u16string& contentsPagePath) {
    {
        std::lock_guard lock(BookShelfLock());
        std::u16string path = BookShelfPath(programFolder);
        CXmlDocument document;
        document.LoadFile(path);
        if (!document.FindElement()) {
            CreateFolderPath(programFolder + u"Config");
            document.SetDocumentText(kEmptyShelf);
            document.FindElement();
        }
        document.EnterElement();
        document.AddElement(u"Book");
        document.EnterElement();
        document.AddElement(u"TargetSite", site);
        document.AddElement(u"NovelName", novel);
        document.AddElement(u"ContentsPagePath", contentsPagePath);
        document.LeaveElement();
        document.SaveFile(path);
    }
    // Outside the lock: the window may be serving a delete that waits for it.
    window.AppendBookItem(BookItemText(site, novel));
}

bool RemoveBook(const std::u16string& programFolder, const std::u16string& itemText) {
    std::lock_guard lock(BookShelfLock());
    CXmlDocument document;
    if (!EnterShelf(document, programFolder)) {
        return false;
    }
    BookEntry entry;
    bool found = false;
    while (!found && document.FindElement(u"Book")) {
        found = ReadEntry(document, entry) &&
                BookItemText(entry.TargetSite, entry.NovelName) == itemText;
    }
    if (!found) {
        return false;
    }
    // A path edited by hand must not make a delete reach outside the library.
    std::u16string folder = NovelFolderOfContentsPage(entry.ContentsPagePath);
    if (IsNovelFolder(programFolder, folder)) {
        DeleteFolderTree(folder);
    }
    document.RemoveElement();
    document.SaveFile(BookShelfPath(programFolder));
    return true;
}

} // namespace velunor
