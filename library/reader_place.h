#pragma once
// Where the reader stands inside a novel's chapters, kept in the novel folder's Reading.xml
// beside the last page read: how far the chapter being read was scrolled, and the bookmarks the
// reader set. Both live in one element of their own, ReaderPlace, which the other writers of
// the file carry over unchanged (ReaderPlaceElement). The shelf reads Reading.xml whole in one
// small read, so the element is kept short: the oldest bookmarks give way when it would grow
// past kReaderPlaceLimit. Window's thread; the functions share no state.

#include <string>
#include <vector>

namespace velunor {

/// How far down a page is scrolled, in parts of kPlaceScale of the distance it can scroll.
inline constexpr int kPlaceScale = 10000;
/// The most bytes the ReaderPlace element may take in the file.
inline constexpr size_t kReaderPlaceLimit = 2560;

/// A place in a novel: a chapter page's file name ("12.html") and how far it is scrolled.
struct PagePlace {
    std::u16string Page;
    int Offset = 0;

    bool operator==(const PagePlace&) const = default;
};

/// A place the reader marked, with the chapter's name and a few words of the text there.
struct Bookmark {
    PagePlace Place;
    std::u16string Chapter;
    std::u16string Excerpt;

    bool operator==(const Bookmark&) const = default;
};

struct ReaderPlace {
    /// The page last scrolled and how far; an empty page when none was.
    PagePlace Scroll;
    /// In the order they were set.
    std::vector<Bookmark> Bookmarks;

    bool operator==(const ReaderPlace&) const = default;
};

/// Reading.xml of the novel folder `folder` (no "/" at the end).
std::u16string ReadingFilePath(const std::u16string& folder);

/// True when `page`, a page name Reading.xml holds, names a file of the novel folder itself: not
/// empty, no "/", not "." or "..". Any thread.
bool IsReadingPageName(const std::u16string& page);

/// What the novel folder's Reading.xml holds; nothing when the file or the element is missing
/// or damaged. A page name that would lead out of the folder is dropped. Blocks on the disk.
ReaderPlace LoadReaderPlace(const std::u16string& folder);

/// Writes `place` into the novel folder's Reading.xml, keeping every other element of it (and
/// making the file when there is none), dropping the oldest bookmarks while the element would
/// take more than kReaderPlaceLimit bytes. False when it could not be written. Blocks on the
/// disk.
bool SaveReaderPlace(const std::u16string& folder, const ReaderPlace& place);

/// The ReaderPlace element as the novel folder's Reading.xml holds it, with the line break
/// after it, for a writer of the whole file to put back; empty when it holds none.
std::u16string ReaderPlaceElement(const std::u16string& folder);

} // namespace velunor
