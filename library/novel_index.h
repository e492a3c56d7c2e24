#pragma once
// The chapter index of a novel: NovelIndex.xml in the novel folder lists where the novel comes
// from (its rule file by name, its information and contents addresses) and, in the site's
// order, every chapter with its page file, name, address and state, and why a chapter that is
// not stored failed, and the volume headings among the chapters. Updates and retries start from it,
// the bookshelf counts unfinished chapters with it, and a download cut short leaves its unfetched
// chapters pending in it.

#include "rules/rules.h"

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace velunor {

/// The index file's name in a novel folder.
inline constexpr std::u16string_view kNovelIndexName = u"NovelIndex.xml";

enum class ChapterState {
    Stored,  ///< the page holds the chapter's text
    Empty,   ///< the site gave the page, but no text was found on it
    Failed,  ///< a page or an image of the chapter could not be fetched
    Pending, ///< not fetched yet: queued, or left by a download that was cut short
};

/// The state as it is written in the index ("stored", "empty", "failed", "pending").
std::u16string_view ChapterStateName(ChapterState state);
/// The state a chapter page's hidden down_state field holds for `state`.
std::u16string_view PageStateOf(ChapterState state);
/// The chapter state of a page's down_state value; Pending for anything not written by a
/// finished fetch.
ChapterState ChapterStateOfPage(std::u16string_view downState);

struct IndexedChapter {
    /// The number of the chapter's page file ("12.html"); kept for the chapter's life, so a
    /// chapter inserted later gets a new number rather than moving the pages after it.
    int Page = 0;
    std::u16string Name;
    std::u16string Url;
    ChapterState State = ChapterState::Pending;
    /// Why a chapter that is not stored failed, as its page tells the reader; empty otherwise.
    std::u16string Reason;
    /// Where the stored text came from when another site than the novel's own gave it: that
    /// site's name and the chapter's address there; empty otherwise. Only a stored chapter has
    /// them: a fetch from the novel's own site, or the loss of its page, clears them.
    std::u16string Source = {};
    std::u16string SourceUrl = {};

    bool IsFinished() const {
        return State == ChapterState::Stored;
    }
};

struct NovelIndex {
    /// The rule file's name in the program's Rule/ folder; empty for a novel the page finder
    /// reads.
    std::u16string RuleFile;
    /// The novel's site has no rule: the page finder reads its pages (a PageFinder element).
    bool FoundByFinder = false;
    std::u16string SiteName;
    std::u16string NovelName;
    std::u16string NovelAuthor;
    /// The introduction the information page gave; may be empty.
    std::u16string NovelIntro;
    std::u16string InfoPageUrl;
    /// The first contents page's address after redirects; chapter requests send it as Referer.
    std::u16string ContentsUrl;
    /// The chapters in the site's order.
    std::vector<IndexedChapter> Chapters;
    /// The volume headings among them, as the site's contents last showed them.
    VolumeHeadings Volumes;
    /// The page number the next new chapter gets; above every number ever given, also to
    /// chapters the site no longer lists, whose pages stay.
    int NextPage = 1;
    /// Chapters on pages numbered from this one on came after the novel's first download: the
    /// shelf shows them as new until the reader opens the novel. 0 (an index made in code, or
    /// written before it was kept) stands for NextPage: nothing listed now is new.
    int NewFrom = 0;

    /// Chapters that are not stored.
    int UnfinishedCount() const;
    /// NewFrom, with 0 taken as NextPage.
    int NewChaptersFrom() const {
        return NewFrom > 0 ? NewFrom : NextPage;
    }
};

/// The index file of the novel folder `folder` (no "/" at the end).
std::u16string NovelIndexPath(const std::u16string& folder);

/// Reads the index of `folder`; false, with `index` emptied, when there is none or it cannot be
/// read whole. Blocks on the disk.
bool LoadNovelIndex(const std::u16string& folder, NovelIndex& index);
/// True when something stands at the index file's name in `folder`, whether or not it reads
/// as an index: a folder without one was written before novels had an index, one whose index
/// does not load has a damaged index. Blocks on the disk.
bool HasIndexFile(const std::u16string& folder);
/// Writes the index of `folder`; the file is replaced only once the whole index is written.
/// Blocks on the disk.
bool SaveNovelIndex(const std::u16string& folder, const NovelIndex& index);

/// The index of a running job: chapter tasks record their outcome in it from any thread, and it
/// is written at most once a second while they do, and a second more for every 2,000 chapters it
/// lists, so that a novel of thousands of chapters is not rewritten once per chapter and a long
/// one costs no more per chapter; Flush writes what is left. A job cut short leaves at most the
/// last pause's outcomes unwritten, and their pages, which hold them, settle them when the novel
/// is next updated (ReconcileWithPages).
class CIndexRecorder {
  public:
    CIndexRecorder(std::u16string folder, NovelIndex index);

    /// Records the outcome of the chapter at `position` and writes the index when its pause has
    /// passed since it was last written.
    void Record(size_t position, ChapterState state, std::u16string reason);
    /// Writes the index now; false when it could not be written.
    bool Flush();
    /// A copy of the index as recorded so far.
    NovelIndex Snapshot();

  private:
    bool SaveLocked();

    std::mutex mutex_;
    const std::u16string folder_;
    NovelIndex index_;
    long long lastSaveMs_ = 0;
};

/// Records `state` and `reason` for the chapter whose page is `pagePath` in the index of the
/// page's folder, as a fetch of that one chapter left it; false when the folder has no index,
/// the index lists no such page, or it could not be written. Blocks on the disk.
bool RecordChapterState(const std::u16string& pagePath, ChapterState state, std::u16string reason);

/// Settles chapters that the index holds as not stored against their pages: a page that holds
/// a stored chapter makes it stored (its outcome was recorded in the page but not yet in the
/// index when the job stopped). Reads only the pages of such chapters. Blocks on the disk.
void ReconcileWithPages(const std::u16string& folder, NovelIndex& index);

/// Settles chapters that the index holds as stored against their pages: one whose page is gone
/// or empty, or was changed after the index was last written and does not hold a stored
/// chapter, is pending again, to be fetched anew. One status query per page; reads only the
/// pages changed since the index. Blocks on the disk.
void CheckStoredPages(const std::u16string& folder, NovelIndex& index);

/// An index made from the pages of a folder whose index is missing (written before novels had
/// one) or damaged: the chapters the contents page lists, in its order and with its titles, or
/// without a usable contents page every chapter page in the order of its number; each with the
/// address and state its page records, and the rule file the pages name. A chapter whose page
/// records no address is left out, to be taken from the site's contents again. The next page
/// number is above every chapter page in the folder. Blocks on the disk.
NovelIndex IndexFromPages(const std::u16string& folder);

} // namespace velunor
