// The result file's writer and reader.

#include "results/search_result_file.h"

#include "core/core.h"
#include "core/folder_layout.h"
#include "xml/xml_document.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace velunor {
namespace {

constexpr std::u16string_view kDeclarationLine = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

// Writes every byte of `bytes` to `file`; false when the disk took fewer.
bool WriteAll(int file, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = write(file, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// The SearchResult element of one hit, exactly as AddElement lays it out in the file.
std::u16string ResultElement(const SearchHit& hit) {
    CXmlDocument element;
    element.AddElement(u"SearchResult");
    element.EnterElement();
    element.AddElement(u"TargetSite", hit.TargetSite);
    element.AddElement(u"RuleFile", hit.RuleFile);
    element.AddElement(u"NovelName", hit.NovelName);
    element.AddElement(u"NovelAuthor", hit.NovelAuthor);
    element.AddElement(u"LatestChapter", hit.LatestChapter);
    element.AddElement(u"InfoPageUrl", hit.InfoPageUrl);
    return element.GetDocumentText();
}

} // namespace

std::u16string SearchResultFilePath(const std::u16string& programFolder) {
    return FolderLayoutFor(programFolder).CacheFolder + u"SearchResult.xml";
}

bool CSearchResultFile::Reset(const std::u16string& programFolder) {
    std::lock_guard lock(lock_);
    path_ = SearchResultFilePath(programFolder);
    std::string nativePath = NativePath(path_);
    std::remove(nativePath.c_str());
    CreateFolderPath(FolderLayoutFor(programFolder).CacheFolder);
    full_ = false;
    size_ = WideToUtf8(kDeclarationLine).size();
    intact_ = CXmlDocument::WriteWideAsText(std::u16string(kDeclarationLine), path_, nullptr,
                                            nullptr, nullptr);
    if (intact_) {
        return true;
    }
    // A folder that takes no new file may still let the old one be emptied; either way no hit
    // of an earlier search may be opened as one of this search.
    std::FILE* old = std::fopen(nativePath.c_str(), "w");
    if (old != nullptr) {
        std::fclose(old);
    }
    return false;
}

ResultAppend CSearchResultFile::Append(const SearchHit& hit) {
    std::string bytes = WideToUtf8(ResultElement(hit));
    std::lock_guard lock(lock_);
    if (!intact_) {
        return ResultAppend::Failed;
    }
    // A hit the reader could not read back must not be listed; the hits after it are not
    // either, so that the rows stay numbered as the file holds them.
    full_ = full_ || size_ + bytes.size() > kSearchResultFileLimit;
    if (full_) {
        return ResultAppend::Full;
    }
    // The file Reset wrote is extended, never one that a link has put in its place.
    int file = open(NativePath(path_).c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    bool written = file >= 0 && WriteAll(file, bytes);
    if (file >= 0) {
        written = close(file) == 0 && written;
    }
    intact_ = written;
    size_ += bytes.size();
    return written ? ResultAppend::Written : ResultAppend::Failed;
}

bool CSearchResultFile::Intact() {
    std::lock_guard lock(lock_);
    return intact_;
}

std::vector<SearchHit> ReadSearchHits(const std::u16string& programFolder) {
    std::vector<SearchHit> hits;
    CXmlDocument document;
    document.LoadFile(SearchResultFilePath(programFolder), kSearchResultFileLimit);
    while (document.FindElement(u"SearchResult")) {
        SearchHit hit;
        document.EnterElement();
        hit.TargetSite = FindElementText(document, u"TargetSite");
        hit.RuleFile = FindElementText(document, u"RuleFile");
        hit.NovelName = FindElementText(document, u"NovelName");
        hit.NovelAuthor = FindElementText(document, u"NovelAuthor");
        hit.LatestChapter = FindElementText(document, u"LatestChapter");
        hit.InfoPageUrl = FindElementText(document, u"InfoPageUrl");
        document.LeaveElement();
        hits.push_back(std::move(hit));
    }
    return hits;
}

} // namespace velunor
