// The result file's writer and reader.

#include "results/search_result_file.h"

#include "core/core.h"
#include "xml/xml_document.h"

#include <cstdio>

namespace velunor {
namespace {

constexpr std::u16string_view kDeclarationLine = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
constexpr auto kSaveInterval = std::chrono::milliseconds(100);

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
    return programFolder + u"Config/SearchResult.xml";
}

bool CSearchResultFile::Reset(const std::u16string& programFolder) {
    std::lock_guard lock(lock_);
    path_ = SearchResultFilePath(programFolder);
    elements_.clear();
    std::string nativePath = NativePath(path_);
    std::remove(nativePath.c_str());
    CreateFolderPath(programFolder + u"Config");
    if (SaveLocked()) {
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

bool CSearchResultFile::Append(const SearchHit& hit) {
    std::u16string element = ResultElement(hit);
    std::lock_guard lock(lock_);
    elements_ += element;
    unsaved_ = true;
    if (std::chrono::steady_clock::now() - lastSave_ < kSaveInterval) {
        return true;
    }
    return SaveLocked();
}

bool CSearchResultFile::Flush() {
    std::lock_guard lock(lock_);
    if (!unsaved_) {
        return true;
    }
    return SaveLocked();
}

bool CSearchResultFile::SaveLocked() {
    std::u16string text(kDeclarationLine);
    text += elements_;
    lastSave_ = std::chrono::steady_clock::now();
    bool saved = CXmlDocument::WriteWideAsText(text, path_, nullptr, nullptr, nullptr);
    unsaved_ = !saved;
    return saved;
}

CSearchResultFile& ProcessSearchResultFile() {
    // Never destroyed: a stopped search may still be finishing its sites while the process ends.
    static auto* file = new CSearchResultFile;
    return *file;
}

std::vector<SearchHit> ReadSearchHits(const std::u16string& programFolder) {
    ProcessSearchResultFile().Flush();
    std::vector<SearchHit> hits;
    CXmlDocument document;
    document.LoadFile(SearchResultFilePath(programFolder), kConfigFileLimit);
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
