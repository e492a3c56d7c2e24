// The kept file of the bookshelf's listings.

#include "library/internal/shelf_counts.h"

#include "core/core.h"
#include "library/internal/file_time.h"
#include "library/internal/library_changes.h"
#include "library/internal/stored_book_shelf.h"
#include "library/library_layout.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <sys/stat.h>

namespace velunor::internal {
namespace {

// The file's first line names its form; a file of another form is read as none.
constexpr std::string_view kFileForm = "VelunorShelf 2";
// Its last line: a file without it was cut short.
constexpr std::string_view kFileEnd = "end";

// Per entry line: the entry's six stored fields, then the folder's stamp and its counts.
constexpr size_t kEntryFields = 6;
constexpr size_t kLineFields = kEntryFields + 8;

// How long a folder must have stood unchanged before its counts are kept.
constexpr long long kSettledNanoseconds = 1000000000LL;

// "inode.nanoseconds" of the folder's last change; empty when the folder cannot be seen or
// changed too recently to be kept.
std::string SettledFolderStamp(const std::u16string& folder) {
    struct stat status {};
    if (stat(NativePath(folder).c_str(), &status) != 0) {
        return {};
    }
    long long changed = internal::ChangedNanoseconds(status);
    long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    if (now - changed < kSettledNanoseconds) {
        return {};
    }
    return std::to_string(status.st_ino) + "." + std::to_string(changed);
}

// Fields are separated by tabs and lines end with a line break; names and paths may hold both,
// so those (and the backslash that escapes them) are escaped.
void AppendEscaped(std::string& out, std::u16string_view text) {
    for (char c : WideToUtf8(text)) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

std::u16string Unescaped(std::string_view text) {
    if (text.find('\\') == std::string_view::npos) {
        return Utf8ToWide(text);
    }
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        char next = text[++i];
        plain += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return Utf8ToWide(plain);
}

std::string EntryText(const BookEntry& entry) {
    std::string text;
    for (const std::u16string* field :
         {&entry.TargetSite, &entry.NovelName, &entry.ContentsPagePath, &entry.RuleFile,
          &entry.InfoPageUrl}) {
        AppendEscaped(text, *field);
        text += '\t';
    }
    text += entry.FoundByFinder ? '1' : '0';
    return text;
}

// Splits `line` at its tabs into exactly `fields.size()` fields; false when it has another
// number of them.
template <size_t N>
bool SplitFields(std::string_view line, std::array<std::string_view, N>& fields) {
    size_t start = 0;
    for (size_t i = 0; i + 1 < N; ++i) {
        size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            return false;
        }
        fields[i] = line.substr(start, tab - start);
        start = tab + 1;
    }
    fields[N - 1] = line.substr(start);
    return fields[N - 1].find('\t') == std::string_view::npos;
}

bool ParseCount(std::string_view text, int& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

// The counts' fields of a line, as AppendCounts writes them after the stamp; false when they
// do not read.
bool ParseCounts(std::string_view text, FolderCounts& counts) {
    std::array<std::string_view, kLineFields - kEntryFields - 1> at;
    NovelSummary& summary = counts.Summary;
    if (!SplitFields(text, at) || !ParseCount(at[0], summary.Chapters) ||
        !ParseCount(at[1], summary.Unfinished) || !ParseCount(at[2], summary.Pending) ||
        !ParseCount(at[3], summary.NewFrom) ||
        !ParsePageRuns(Utf8ToWide(at[4]), summary.PageRuns) ||
        !ParseCount(at[5], counts.SeenPages)) {
        return false;
    }
    counts.LastPage = Unescaped(at[6]);
    return true;
}

void AppendCounts(std::string& out, std::string_view stamp, const FolderCounts& counts) {
    const NovelSummary& summary = counts.Summary;
    out += '\t';
    out += stamp;
    out += '\t';
    for (int value : {summary.Chapters, summary.Unfinished, summary.Pending, summary.NewFrom}) {
        out += std::to_string(value);
        out += '\t';
    }
    out += WideToUtf8(PageRunsText(summary.PageRuns));
    out += '\t';
    out += std::to_string(counts.SeenPages);
    out += '\t';
    AppendEscaped(out, counts.LastPage);
}

BookEntry ParseEntry(std::string_view text) {
    std::array<std::string_view, kEntryFields> fields;
    SplitFields(text, fields);
    return {Unescaped(fields[0]), Unescaped(fields[1]), Unescaped(fields[2]),
            Unescaped(fields[3]), Unescaped(fields[4]), fields[5] == "1"};
}

std::u16string CountsFilePath(const std::u16string& programFolder) {
    return BookShelfPath(programFolder) + u".counts";
}

} // namespace

// Finds in `line` the entry's fields, the stamp and the counts' fields, which are read only
// when the entry is asked for; false when the line has too few fields.
bool CShelfCounts::SplitKeptLine(std::string_view line, Kept& kept) {
    size_t stamp = 0;
    for (size_t field = 0; field < kEntryFields; ++field) {
        stamp = line.find('\t', stamp);
        if (stamp == std::string_view::npos) {
            return false;
        }
        ++stamp;
    }
    size_t counts = line.find('\t', stamp);
    if (counts == std::string_view::npos) {
        return false;
    }
    kept = {line.substr(0, stamp - 1), line.substr(stamp, counts - stamp), line.substr(counts + 1)};
    return true;
}

CShelfCounts::CShelfCounts(const std::u16string& programFolder)
    : programFolder_(programFolder), novelRoot_(NovelRootFolder(programFolder)),
      libraryChanges_(ReadLibraryChanges(novelRoot_)) {
    ReadKeptFile();
}

void CShelfCounts::ReadKeptFile() {
    if (ReadFileBytes(CountsFilePath(programFolder_), kConfigFileLimit, bytes_).Status !=
        FileReadStatus::Read) {
        return;
    }
    std::string_view text(bytes_);
    std::array<std::string_view, 5> head;
    size_t lineEnd = text.find('\n');
    int entries = 0;
    if (lineEnd == std::string_view::npos || !SplitFields(text.substr(0, lineEnd), head) ||
        head[0] != kFileForm || !ParseCount(head[1], entries)) {
        return;
    }
    std::vector<Kept> kept;
    kept.reserve(std::min(static_cast<size_t>(entries), text.size() / kLineFields));
    PrefaultForWriting(kept.data(), kept.capacity() * sizeof(Kept));
    for (size_t start = lineEnd + 1; start < text.size(); start = lineEnd + 1) {
        lineEnd = text.find('\n', start);
        if (lineEnd == std::string_view::npos) {
            return;
        }
        std::string_view line = text.substr(start, lineEnd - start);
        if (line == kFileEnd && lineEnd + 1 == text.size() &&
            kept.size() == static_cast<size_t>(entries)) {
            keptShelfStamp_ = head[2];
            keptLibraryChanges_ = head[3];
            keptNovelRoot_ = Unescaped(head[4]);
            kept_ = std::move(kept);
            return;
        }
        Kept entry;
        if (!SplitKeptLine(line, entry)) {
            return;
        }
        kept.push_back(entry);
    }
}

size_t CShelfCounts::ReadEntries() {
    shelfStamp_ = BookShelfStamp(programFolder_);
    entriesKept_ = !shelfStamp_.empty() && shelfStamp_ == keptShelfStamp_;
    if (!entriesKept_) {
        StoredBookShelf shelf = ReadStoredBookShelf(programFolder_);
        shelfStamp_ = std::move(shelf.Stamp);
        readEntries_ = std::move(shelf.Entries);
        readEntryTexts_.reserve(readEntries_.size());
        for (const BookEntry& entry : readEntries_) {
            readEntryTexts_.push_back(EntryText(entry));
        }
    }
    size_t entries = entriesKept_ ? kept_.size() : readEntries_.size();
    taken_.assign(entries, -1);
    return entries;
}

BookEntry CShelfCounts::TakeEntry(size_t order) {
    return entriesKept_ ? ParseEntry(kept_[order].EntryText) : std::move(readEntries_[order]);
}

// The kept entry that entry `order` of this listing is: the one in its place when the entries
// were kept, the first with the same stored fields otherwise; -1 when none is or nothing is
// kept of its folder.
long CShelfCounts::KeptFor(size_t order) {
    long found = -1;
    if (entriesKept_) {
        found = order < kept_.size() ? static_cast<long>(order) : -1;
    } else if (order < readEntryTexts_.size()) {
        if (!keptByText_) {
            keptByText_ = std::make_unique<std::unordered_map<std::string_view, size_t>>();
            for (size_t i = 0; i < kept_.size(); ++i) {
                keptByText_->try_emplace(kept_[i].EntryText, i);
            }
        }
        auto at = keptByText_->find(readEntryTexts_[order]);
        found = at == keptByText_->end() ? -1 : static_cast<long>(at->second);
    }
    return found >= 0 && !kept_[static_cast<size_t>(found)].Stamp.empty() ? found : -1;
}

bool CShelfCounts::LibraryUnwritten() const {
    return !libraryChanges_.empty() && libraryChanges_ == keptLibraryChanges_ &&
           novelRoot_ == keptNovelRoot_;
}

// True when `folder` is one of the novel folders whose writes change the library's mark:
// Novel/site/novel. A folder elsewhere (a path written before the library could move) changes
// another mark or none.
bool CShelfCounts::IsLibraryNovelFolder(const std::u16string& folder) const {
    if (!folder.starts_with(novelRoot_)) {
        return false;
    }
    std::u16string_view below = std::u16string_view(folder).substr(novelRoot_.size());
    size_t slash = below.find(u'/');
    return slash != std::u16string_view::npos && slash > 0 && slash + 1 < below.size() &&
           below.find(u'/', slash + 1) == std::u16string_view::npos;
}

FolderCounts CShelfCounts::Counts(size_t order, const std::u16string& folder,
                                  const std::function<FolderCounts()>& read) {
    long kept = KeptFor(order);
    FolderCounts counts;
    if (kept >= 0 && !ParseCounts(kept_[static_cast<size_t>(kept)].CountsText, counts)) {
        counts = {};
        kept = -1;
    }
    if (kept >= 0 && LibraryUnwritten() && IsLibraryNovelFolder(folder)) {
        taken_[order] = kept;
        return counts;
    }
    // Taken before the folder is read: a change while it is read gives it another stamp.
    std::string stamp = SettledFolderStamp(folder);
    if (kept >= 0 && !stamp.empty() && kept_[static_cast<size_t>(kept)].Stamp == stamp) {
        taken_[order] = kept;
        return counts;
    }
    counts = read();
    if (!stamp.empty() || kept >= 0) {
        // Something is kept now that was not, or what was kept no longer holds.
        changed_ = true;
    }
    if (!stamp.empty()) {
        fresh_[order] = {std::move(stamp), counts};
    }
    return counts;
}

void CShelfCounts::Save() {
    if (entriesKept_ && !changed_ && libraryChanges_ == keptLibraryChanges_ &&
        novelRoot_ == keptNovelRoot_) {
        return;
    }
    size_t entries = entriesKept_ ? kept_.size() : readEntryTexts_.size();
    std::string text = std::string(kFileForm) + "\t" + std::to_string(entries) + "\t" +
                       shelfStamp_ + "\t" + libraryChanges_ + "\t";
    AppendEscaped(text, novelRoot_);
    text += '\n';
    for (size_t i = 0; i < entries; ++i) {
        text += entriesKept_ ? kept_[i].EntryText : std::string_view(readEntryTexts_[i]);
        if (auto fresh = fresh_.find(i); fresh != fresh_.end()) {
            AppendCounts(text, fresh->second.Stamp, fresh->second.Counts);
        } else if (i < taken_.size() && taken_[i] >= 0) {
            const Kept& kept = kept_[static_cast<size_t>(taken_[i])];
            text += '\t';
            text += kept.Stamp;
            text += '\t';
            text += kept.CountsText;
        } else {
            AppendCounts(text, {}, {});
        }
        text += '\n';
    }
    text += kFileEnd;
    text += '\n';
    CReplacingFile file;
    if (file.Open(NativePath(CountsFilePath(programFolder_))) && file.Write(text)) {
        file.Commit();
    }
}

} // namespace velunor::internal
