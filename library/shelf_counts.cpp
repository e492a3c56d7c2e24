// The cached counts of the bookshelf's novel folders.

#include "library/internal/shelf_counts.h"

#include "core/core.h"

#include <charconv>
#include <chrono>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace velunor::internal {
namespace {

// How long a folder must have stood unchanged before its counts are kept.
constexpr long long kSettledNanoseconds = 1000000000LL;

// "inode.nanoseconds" of the folder's last change; empty when the folder cannot be seen or
// changed too recently to be kept.
std::string SettledFolderStamp(const std::u16string& folder) {
    struct stat status {};
    if (stat(NativePath(folder).c_str(), &status) != 0) {
        return {};
    }
    long long changed =
        static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
    long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    if (now - changed < kSettledNanoseconds) {
        return {};
    }
    return std::to_string(status.st_ino) + "." + std::to_string(changed);
}

// Fields are separated by tabs and entries end with a line break; the folder and page names
// may hold both, so those (and the backslash that escapes them) are escaped.
std::string Escaped(const std::u16string& text) {
    std::string escaped;
    for (char c : WideToUtf8(text)) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::u16string Unescaped(std::string_view text) {
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

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t end = text.find(separator); end != std::string_view::npos;
         end = text.find(separator, start)) {
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

bool ParseCount(std::string_view text, int& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

} // namespace

CShelfCounts::CShelfCounts(std::u16string path) : path_(std::move(path)) {
    std::string bytes;
    if (ReadFileBytes(path_, kConfigFileLimit, bytes).Status != FileReadStatus::Read) {
        return;
    }
    for (std::string_view line : Split(bytes, '\n')) {
        // stamp, chapters, unfinished, pending, new from, page runs, seen pages, last page,
        // folder
        std::vector<std::string_view> fields = Split(line, '\t');
        Kept kept;
        NovelSummary& summary = kept.Counts.Summary;
        if (fields.size() != 9 || fields[0].empty() || !ParseCount(fields[1], summary.Chapters) ||
            !ParseCount(fields[2], summary.Unfinished) || !ParseCount(fields[3], summary.Pending) ||
            !ParseCount(fields[4], summary.NewFrom) ||
            !ParsePageRuns(Utf8ToWide(fields[5]), summary.PageRuns) ||
            !ParseCount(fields[6], kept.Counts.SeenPages)) {
            continue;
        }
        kept.Stamp = fields[0];
        kept.Counts.LastPage = Unescaped(fields[7]);
        kept_[Unescaped(fields[8])] = std::move(kept);
    }
}

FolderCounts CShelfCounts::Counts(const std::u16string& folder,
                                  const std::function<FolderCounts()>& read) {
    // Taken before the folder is read: a change while it is read gives it another stamp.
    std::string stamp = SettledFolderStamp(folder);
    auto found = kept_.find(folder);
    if (!stamp.empty() && found != kept_.end() && found->second.Stamp == stamp) {
        // Each folder is asked for once a listing: what was kept for it moves to this one.
        return (asked_[folder] = std::move(found->second)).Counts;
    }
    FolderCounts counts = read();
    if (!stamp.empty()) {
        asked_[folder] = {stamp, counts};
        changed_ = true;
    } else if (found != kept_.end()) {
        // The entry no longer holds, and none can be kept yet.
        changed_ = true;
    }
    return counts;
}

void CShelfCounts::Save() {
    // Folders that left the shelf are dropped too.
    if (!changed_ && asked_.size() == kept_.size()) {
        return;
    }
    std::string text;
    for (const auto& [folder, kept] : asked_) {
        const NovelSummary& summary = kept.Counts.Summary;
        text += kept.Stamp + "\t" + std::to_string(summary.Chapters) + "\t" +
                std::to_string(summary.Unfinished) + "\t" + std::to_string(summary.Pending) + "\t" +
                std::to_string(summary.NewFrom) + "\t" +
                WideToUtf8(PageRunsText(summary.PageRuns)) + "\t" +
                std::to_string(kept.Counts.SeenPages) + "\t" + Escaped(kept.Counts.LastPage) +
                "\t" + Escaped(folder) + "\n";
    }
    CReplacingFile file;
    if (file.Open(NativePath(path_)) && file.Write(text)) {
        file.Commit();
    }
}

} // namespace velunor::internal
