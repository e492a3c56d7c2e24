// The chapter index of a novel.

#include "library/novel_index.h"

#include "core/core.h"
#include "library/internal/library_changes.h"
#include "library/library_layout.h"
#include "library/novel_summary.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <set>
#include <sys/stat.h>

namespace velunor {
namespace {

// The least time between two writes of a running job's index, and the chapters each second of
// it stands for: a write costs as much as the index is long, so a longer index is written less
// often, and the share of a job spent writing it stays the same however long the novel is.
constexpr long long kSavePauseMs = 1000;
constexpr size_t kChaptersPerPauseSecond = 2000;

constexpr std::u16string_view kStateNames[] = {u"stored", u"empty", u"failed", u"pending"};

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ChapterState StateOfName(std::u16string_view name) {
    for (size_t i = 0; i < std::size(kStateNames); ++i) {
        if (kStateNames[i] == name) {
            return static_cast<ChapterState>(i);
        }
    }
    return ChapterState::Pending;
}

void AppendElement(std::u16string& text, std::u16string_view name, std::u16string_view value) {
    text += u"<";
    text += name;
    text += u">";
    text += CXmlDocument::EncodeEntities(value, CXmlDocument::kEncodeText);
    text += u"</";
    text += name;
    text += u">";
}

void AppendAttribute(std::u16string& text, std::u16string_view name, std::u16string_view value) {
    text += u" " + std::u16string(name) + u"=\"" +
            CXmlDocument::EncodeEntities(value, CXmlDocument::kEncodeAttribute) + u"\"";
}

void AppendChapter(std::u16string& text, const IndexedChapter& chapter) {
    text += u"<Chapter";
    // Attributes, so that an index written before chapters had a source reads the same.
    if (!chapter.Source.empty()) {
        AppendAttribute(text, u"Source", chapter.Source);
        AppendAttribute(text, u"SourceUrl", chapter.SourceUrl);
    }
    text += u">";
    AppendElement(text, u"Page", ChapterPageName(chapter.Page));
    AppendElement(text, u"Name", chapter.Name);
    AppendElement(text, u"Url", chapter.Url);
    AppendElement(text, u"State", ChapterStateName(chapter.State));
    if (!chapter.Reason.empty()) {
        AppendElement(text, u"Reason", chapter.Reason);
    }
    text += u"</Chapter>\r\n";
}

// The whole index as XML text. Made as text rather than element by element: a novel of
// thousands of chapters is written every second while it downloads.
std::u16string IndexText(const NovelIndex& index) {
    std::u16string text = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<NovelIndex>\r\n";
    const std::pair<std::u16string_view, const std::u16string*> fields[] = {
        {u"RuleFile", &index.RuleFile},      {u"SiteName", &index.SiteName},
        {u"NovelName", &index.NovelName},    {u"NovelAuthor", &index.NovelAuthor},
        {u"NovelIntro", &index.NovelIntro},  {u"InfoPageUrl", &index.InfoPageUrl},
        {u"ContentsUrl", &index.ContentsUrl}};
    for (const auto& [name, value] : fields) {
        AppendElement(text, name, *value);
        text += u"\r\n";
    }
    if (index.FoundByFinder) {
        AppendElement(text, u"PageFinder", u"1");
        text += u"\r\n";
    }
    AppendElement(text, u"NextPage", DecimalText(index.NextPage));
    text += u"\r\n";
    AppendElement(text, u"NewFrom", DecimalText(index.NewChaptersFrom()));
    text += u"\r\n<Chapters>\r\n";
    // A volume heading stands among the chapters where the contents show it; each chapter
    // belongs to the last heading above it.
    auto heading = [&](size_t k) {
        AppendElement(text, u"Volume", index.Volumes[k].Name);
        text += u"\r\n";
    };
    auto chapter = [&](size_t i) { AppendChapter(text, index.Chapters[i]); };
    ForEachContentsEntry(index.Volumes, index.Chapters.size(), heading, chapter);
    text += u"</Chapters>\r\n</NovelIndex>\r\n";
    return text;
}

// Reads the Chapter that is current; false when it names no page.
bool ReadChapter(CXmlDocument& document, IndexedChapter& chapter) {
    chapter.Source = document.GetAttribute(u"Source");
    chapter.SourceUrl = document.GetAttribute(u"SourceUrl");
    document.EnterElement();
    chapter.Page = ChapterPageNumber(FindElementText(document, u"Page"));
    chapter.Name = FindElementText(document, u"Name");
    chapter.Url = FindElementText(document, u"Url");
    chapter.State = StateOfName(FindElementText(document, u"State"));
    chapter.Reason = FindElementText(document, u"Reason");
    document.LeaveElement();
    return chapter.Page > 0;
}

bool ReadPageText(const std::u16string& path, std::u16string& text) {
    std::u16string encoding(kPageEncoding);
    return ReadPage(encoding, path, text);
}

// Gives the chapter the state its own site's fetch left, or the lost page left: whatever text
// another site gave it before is gone.
void SetOwnSiteOutcome(IndexedChapter& chapter, ChapterState state, std::u16string reason) {
    chapter.State = state;
    chapter.Reason = state == ChapterState::Stored ? std::u16string() : std::move(reason);
    chapter.Source.clear();
    chapter.SourceUrl.clear();
}

bool ChangedAfter(const timespec& changed, const timespec& written) {
    return changed.tv_sec != written.tv_sec ? changed.tv_sec > written.tv_sec
                                            : changed.tv_nsec > written.tv_nsec;
}

} // namespace

std::u16string_view ChapterStateName(ChapterState state) {
    return kStateNames[static_cast<size_t>(state)];
}

std::u16string_view PageStateOf(ChapterState state) {
    switch (state) {
    case ChapterState::Stored:
        return kStateStored;
    case ChapterState::Empty:
        return kStateNoText;
    case ChapterState::Failed:
        return kStateFailed;
    case ChapterState::Pending:
        break;
    }
    return kStatePending;
}

ChapterState ChapterStateOfPage(std::u16string_view downState) {
    if (downState == kStateStored) {
        return ChapterState::Stored;
    }
    if (downState == kStateNoText) {
        return ChapterState::Empty;
    }
    if (downState == kStateFailed) {
        return ChapterState::Failed;
    }
    return ChapterState::Pending;
}

int NovelIndex::UnfinishedCount() const {
    int count = 0;
    for (const IndexedChapter& chapter : Chapters) {
        count += chapter.IsFinished() ? 0 : 1;
    }
    return count;
}

std::u16string NovelIndexPath(const std::u16string& folder) {
    return folder + u"/" + std::u16string(kNovelIndexName);
}

bool LoadNovelIndex(const std::u16string& folder, NovelIndex& index) {
    index = {};
    CXmlDocument document;
    if (!document.LoadFile(NovelIndexPath(folder), kPageFileLimit) ||
        !document.FindElement(u"NovelIndex")) {
        return false;
    }
    document.EnterElement();
    index.RuleFile = FindElementText(document, u"RuleFile");
    index.SiteName = FindElementText(document, u"SiteName");
    index.NovelName = FindElementText(document, u"NovelName");
    index.NovelAuthor = FindElementText(document, u"NovelAuthor");
    index.NovelIntro = FindElementText(document, u"NovelIntro");
    index.InfoPageUrl = FindElementText(document, u"InfoPageUrl");
    index.ContentsUrl = FindElementText(document, u"ContentsUrl");
    index.FoundByFinder = !FindElementText(document, u"PageFinder").empty();
    int nextPage = std::atoi(WideToUtf8(FindElementText(document, u"NextPage")).c_str());
    std::u16string newFrom = FindElementText(document, u"NewFrom");
    if (document.FindElement(u"Chapters")) {
        document.EnterElement();
        IndexedChapter chapter;
        while (document.FindElement()) {
            std::u16string name = document.ReadTagName(document.Position().current);
            if (name == u"Volume") {
                index.Volumes.push_back({index.Chapters.size(), document.GetElementText()});
            } else if (name == u"Chapter" && ReadChapter(document, chapter)) {
                nextPage = std::max(nextPage, chapter.Page + 1);
                index.Chapters.push_back(std::move(chapter));
            }
        }
    }
    index.NextPage = std::max(nextPage, 1);
    // An index written before NewFrom was kept: what it lists is not new, what comes is.
    index.NewFrom = newFrom.empty() ? index.NextPage : std::atoi(WideToUtf8(newFrom).c_str());
    return true;
}

bool HasIndexFile(const std::u16string& folder) {
    struct stat status {};
    return lstat(NativePath(NovelIndexPath(folder)).c_str(), &status) == 0 ||
           (errno != ENOENT && errno != ENOTDIR);
}

bool SaveNovelIndex(const std::u16string& folder, const NovelIndex& index) {
    // The summary is stamped with the index file it counts, so a write of the index by another
    // process must not come between the two.
    CFileLock lock(NovelIndexPath(folder) + u".lock");
    std::u16string encoding = u"UTF-8";
    if (!CXmlDocument::WriteWideAsText(IndexText(index), NovelIndexPath(folder), nullptr, nullptr,
                                       &encoding)) {
        return false;
    }
    SaveNovelSummary(folder, SummaryOfIndex(index));
    internal::NoteNovelFolderWritten(folder);
    return true;
}

CIndexRecorder::CIndexRecorder(std::u16string folder, NovelIndex index)
    : folder_(std::move(folder)), index_(std::move(index)), lastSaveMs_(NowMs()) {}

void CIndexRecorder::Record(size_t position, ChapterState state, std::u16string reason) {
    std::lock_guard lock(mutex_);
    if (position >= index_.Chapters.size()) {
        return;
    }
    SetOwnSiteOutcome(index_.Chapters[position], state, std::move(reason));
    long long pause =
        kSavePauseMs * static_cast<long long>(1 + index_.Chapters.size() / kChaptersPerPauseSecond);
    if (NowMs() - lastSaveMs_ >= pause) {
        SaveLocked();
    }
}

bool CIndexRecorder::Flush() {
    std::lock_guard lock(mutex_);
    return SaveLocked();
}

NovelIndex CIndexRecorder::Snapshot() {
    std::lock_guard lock(mutex_);
    return index_;
}

bool CIndexRecorder::SaveLocked() {
    lastSaveMs_ = NowMs();
    return SaveNovelIndex(folder_, index_);
}

bool RecordChapterState(const std::u16string& pagePath, ChapterState state, std::u16string reason) {
    std::u16string folder = FolderOfFile(pagePath);
    int page = ChapterPageNumber(std::u16string_view(pagePath).substr(folder.size() + 1));
    NovelIndex index;
    if (page == 0 || !LoadNovelIndex(folder, index)) {
        return false;
    }
    for (IndexedChapter& chapter : index.Chapters) {
        if (chapter.Page == page) {
            SetOwnSiteOutcome(chapter, state, std::move(reason));
            return SaveNovelIndex(folder, index);
        }
    }
    return false;
}

void ReconcileWithPages(const std::u16string& folder, NovelIndex& index) {
    std::u16string text;
    for (IndexedChapter& chapter : index.Chapters) {
        if (chapter.IsFinished() ||
            !ReadPageText(folder + u"/" + ChapterPageName(chapter.Page), text)) {
            continue;
        }
        if (ChapterStateOfPage(PageElementText(text, u"down_state")) == ChapterState::Stored) {
            chapter.State = ChapterState::Stored;
            chapter.Reason.clear();
        }
    }
}

void CheckStoredPages(const std::u16string& folder, NovelIndex& index) {
    struct stat status {};
    bool indexed = stat(NativePath(NovelIndexPath(folder)).c_str(), &status) == 0;
    const timespec written = status.st_mtim;
    std::u16string text;
    for (IndexedChapter& chapter : index.Chapters) {
        if (!chapter.IsFinished()) {
            continue;
        }
        std::u16string path = folder + u"/" + ChapterPageName(chapter.Page);
        bool lost = stat(NativePath(path).c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
                    status.st_size == 0;
        if (!lost && (!indexed || ChangedAfter(status.st_mtim, written))) {
            lost = !ReadPageText(path, text) ||
                   ChapterStateOfPage(PageElementText(text, u"down_state")) != ChapterState::Stored;
        }
        if (lost) {
            SetOwnSiteOutcome(chapter, ChapterState::Pending, {});
        }
    }
}

NovelIndex IndexFromPages(const std::u16string& folder) {
    NovelIndex index;
    std::set<int> numbered;
    // Only files are pages: a link in a page's place is no page of this novel, and its number is
    // written over (replacing the link) like a free one.
    for (const DirectoryEntry& entry : ListFolder(NativePath(folder))) {
        if (int page = ChapterPageNumber(Utf8ToWide(entry.Name));
            page > 0 && entry.Kind == EntryKind::File) {
            numbered.insert(page);
            index.NextPage = std::max(index.NextPage, page + 1);
        }
    }
    std::vector<ContentsLink> listed;
    std::u16string text;
    if (ReadPageText(folder + u"/" + std::u16string(kContentsPageName), text)) {
        listed = ContentsLinksOfPage(text);
    }
    if (listed.empty()) {
        for (int page : numbered) {
            listed.push_back({ChapterPageName(page), {}});
        }
    }
    std::set<int> taken;
    for (const ContentsLink& link : listed) {
        IndexedChapter chapter;
        chapter.Page = ChapterPageNumber(link.PageName);
        if (!numbered.contains(chapter.Page) || !taken.insert(chapter.Page).second ||
            !ReadPageText(folder + u"/" + link.PageName, text)) {
            continue;
        }
        chapter.Url = RecordedChapterUrl(text);
        if (chapter.Url.empty()) {
            continue;
        }
        chapter.Name = link.Title;
        chapter.State = ChapterStateOfPage(PageElementText(text, u"down_state"));
        if (index.RuleFile.empty()) {
            index.RuleFile = HiddenFieldValue(PageElementText(text, u"rule_file_path"));
        }
        index.Chapters.push_back(std::move(chapter));
    }
    // The pages there are the reader has had: none of them is new.
    index.NewFrom = index.NextPage;
    return index;
}

} // namespace velunor
