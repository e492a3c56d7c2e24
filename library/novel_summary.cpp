// The per-novel summary the bookshelf lists.

#include "library/novel_summary.h"

#include "core/core.h"
#include "library/internal/file_time.h"
#include "library/internal/small_file.h"
#include "library/novel_index.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <sys/stat.h>

namespace velunor {
namespace {

std::u16string SummaryPath(const std::u16string& folder) {
    return folder + u"/" + std::u16string(kNovelSummaryName);
}

// Which index file a summary was counted from. Every write of the index replaces the file, so
// a rewritten index has another inode even when its size and time look the same. Empty when
// there is no index.
std::u16string IndexStamp(const std::u16string& folder) {
    struct stat status {};
    if (stat(NativePath(NovelIndexPath(folder)).c_str(), &status) != 0) {
        return {};
    }
    long long nanoseconds = internal::ChangedNanoseconds(status);
    return DecimalText(static_cast<long long>(status.st_ino)) + u"-" +
           DecimalText(static_cast<long long>(status.st_size)) + u"-" + DecimalText(nanoseconds);
}

// The number that `text` holds in its element `name`; -1 when it has none.
int ElementNumber(std::string_view text, std::string_view name) {
    std::string open = "<" + std::string(name) + ">";
    size_t start = text.find(open);
    if (start == std::string_view::npos) {
        return -1;
    }
    start += open.size();
    int value = 0;
    auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), value);
    std::string_view rest(end, static_cast<size_t>(text.data() + text.size() - end));
    if (error != std::errc() || value < 0 || !rest.starts_with("</")) {
        return -1;
    }
    return value;
}

// The summary file's facts when it was made from the index stamped `stamp`. The file is read
// as the few bytes it is, not parsed as a document: the shelf reads one per novel. The stamp
// comes last, so a file cut short is never taken for a whole one.
bool ReadSummaryFile(const std::u16string& folder, const std::u16string& stamp,
                     NovelSummary& summary) {
    std::string text;
    if (!internal::ReadSmallFile(SummaryPath(folder), text) ||
        text.find("<IndexStamp>" + WideToUtf8(stamp) + "</IndexStamp>") == std::string::npos) {
        return false;
    }
    summary.Chapters = ElementNumber(text, "ChapterCount");
    summary.Unfinished = ElementNumber(text, "UnfinishedCount");
    summary.Pending = ElementNumber(text, "PendingCount");
    summary.NewFrom = ElementNumber(text, "NewFrom");
    size_t runs = text.find("<PageRuns>");
    size_t end = text.find("</PageRuns>");
    return summary.Chapters >= 0 && summary.Unfinished >= 0 && summary.Pending >= 0 &&
           summary.NewFrom >= 0 && runs != std::string::npos && end != std::string::npos &&
           ParsePageRuns(Utf8ToWide(text.substr(runs + 10, end - runs - 10)), summary.PageRuns);
}

bool WriteSummaryFile(const std::u16string& folder, const std::u16string& stamp,
                      const NovelSummary& summary) {
    std::u16string text =
        u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<NovelSummary>\r\n<ChapterCount>" +
        DecimalText(summary.Chapters) + u"</ChapterCount>\r\n<UnfinishedCount>" +
        DecimalText(summary.Unfinished) + u"</UnfinishedCount>\r\n<PendingCount>" +
        DecimalText(summary.Pending) + u"</PendingCount>\r\n<NewFrom>" +
        DecimalText(summary.NewFrom) + u"</NewFrom>\r\n<PageRuns>" +
        PageRunsText(summary.PageRuns) + u"</PageRuns>\r\n<IndexStamp>" + stamp +
        u"</IndexStamp>\r\n</NovelSummary>\r\n";
    std::u16string encoding = u"UTF-8";
    return CXmlDocument::WriteWideAsText(text, SummaryPath(folder), nullptr, nullptr, &encoding);
}

// The position of page `page` among the runs, counting from 1; 0 when it is not listed.
int PositionOfPage(const NovelSummary& summary, int page) {
    int before = 0;
    for (const auto& [first, last] : summary.PageRuns) {
        if (page >= first && page <= last) {
            return before + page - first + 1;
        }
        before += last - first + 1;
    }
    return 0;
}

} // namespace

NovelSummary SummaryOfIndex(const NovelIndex& index) {
    NovelSummary summary;
    summary.Chapters = static_cast<int>(index.Chapters.size());
    summary.Unfinished = index.UnfinishedCount();
    summary.NewFrom = index.NewChaptersFrom();
    for (const IndexedChapter& chapter : index.Chapters) {
        summary.Pending += chapter.State == ChapterState::Pending ? 1 : 0;
        if (!summary.PageRuns.empty() && summary.PageRuns.back().second + 1 == chapter.Page) {
            summary.PageRuns.back().second = chapter.Page;
        } else {
            summary.PageRuns.emplace_back(chapter.Page, chapter.Page);
        }
    }
    return summary;
}

int ChaptersAfterPage(const NovelSummary& summary, int page) {
    return summary.Chapters - PositionOfPage(summary, page);
}

int ChaptersFromPage(const NovelSummary& summary, int from) {
    int count = 0;
    for (const auto& [first, last] : summary.PageRuns) {
        count += std::max(0, last - std::max(first, from) + 1);
    }
    return count;
}

int PageAfterLast(const NovelSummary& summary) {
    int highest = 0;
    for (const auto& run : summary.PageRuns) {
        highest = std::max(highest, run.second);
    }
    return highest + 1;
}

std::u16string PageRunsText(const std::vector<std::pair<int, int>>& runs) {
    std::u16string text;
    for (const auto& [first, last] : runs) {
        if (!text.empty()) {
            text += u",";
        }
        text += DecimalText(first);
        if (last != first) {
            text += u"-" + DecimalText(last);
        }
    }
    return text;
}

bool ParsePageRuns(std::u16string_view text, std::vector<std::pair<int, int>>& runs) {
    runs.clear();
    std::string bytes = WideToUtf8(text);
    const char* at = bytes.data();
    const char* end = at + bytes.size();
    while (at < end) {
        int first = 0;
        std::from_chars_result read = std::from_chars(at, end, first);
        int last = first;
        if (read.ec == std::errc() && read.ptr < end && *read.ptr == '-') {
            read = std::from_chars(read.ptr + 1, end, last);
        }
        if (read.ec != std::errc() || first < 1 || last < first ||
            (read.ptr < end && *read.ptr != ',')) {
            runs.clear();
            return false;
        }
        runs.emplace_back(first, last);
        at = read.ptr < end ? read.ptr + 1 : end;
    }
    return true;
}

bool LoadNovelSummary(const std::u16string& folder, NovelSummary& summary) {
    summary = {};
    // Taken before the index is read: should the index change meanwhile, the summary written
    // below is stamped with the older file and is counted again next time.
    std::u16string stamp = IndexStamp(folder);
    if (stamp.empty()) {
        return false;
    }
    if (ReadSummaryFile(folder, stamp, summary)) {
        return true;
    }
    summary = {};
    NovelIndex index;
    if (!LoadNovelIndex(folder, index)) {
        return false;
    }
    summary = SummaryOfIndex(index);
    WriteSummaryFile(folder, stamp, summary);
    return true;
}

bool SaveNovelSummary(const std::u16string& folder, const NovelSummary& summary) {
    std::u16string stamp = IndexStamp(folder);
    return !stamp.empty() && WriteSummaryFile(folder, stamp, summary);
}

} // namespace velunor
