// Names, fragments and checks of the on-disk library.

#include "library/library_layout.h"

#include "core/core.h"
#include "core/folder_layout.h"
#include "html/html.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <vector>

namespace velunor {
namespace {

constexpr std::u16string_view kCell = u"<td width=\"50%\" height=\"30\" bgcolor=\"#FFFFFF\">"
                                      u"<div style=\"margin-left:10px; color:#333333;\">";
constexpr std::u16string_view kPageSuffix = u".html";

// Splits what follows the Novel/ folder into components; false when `path` does not begin
// with it.
bool ComponentsBelowNovelRoot(const std::u16string& programFolder, std::u16string_view path,
                              std::vector<std::u16string_view>& components) {
    std::u16string root = NovelRootFolder(programFolder);
    if (programFolder.empty() || path.substr(0, root.size()) != root) {
        return false;
    }
    std::u16string_view rest = path.substr(root.size());
    size_t start = 0;
    while (start <= rest.size()) {
        size_t slash = rest.find(u'/', start);
        size_t end = slash == std::u16string_view::npos ? rest.size() : slash;
        components.push_back(rest.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

bool AreOrdinaryComponents(const std::vector<std::u16string_view>& components) {
    for (std::u16string_view component : components) {
        if (component.empty() || component == u"." || component == u".." ||
            component.find(u'\0') != std::u16string_view::npos) {
            return false;
        }
    }
    return true;
}

// True when the xml module writes text in `encoding` as GB18030 bytes: the GB code pages, and
// any name it does not know, which falls back to the ANSI code page.
bool WritesGb18030(std::u16string_view encoding) {
    int codePage = CXmlDocument::CodePageFromName(encoding);
    return codePage == CXmlDocument::CodePageFromName(kPageEncoding) ||
           codePage == CXmlDocument::CodePageFromName(u"gb2312");
}

// The real location of `path`: the longest part of it that exists, links and all, resolved
// with realpath, followed by the rest as written. Empty when `path` is relative, or when a part
// that exists cannot be resolved (a dangling link): writing there would follow the link wherever
// it leads.
std::string RealPathOfExistingParts(const std::string& path) {
    if (path.empty() || path.front() != '/') {
        return {};
    }
    std::string existing = path;
    std::string rest;
    struct stat status {};
    while (lstat(existing.c_str(), &status) != 0) {
        size_t slash = existing.find_last_of('/');
        if (errno != ENOENT || slash == std::string::npos || slash == 0) {
            return {};
        }
        // A missing "." or ".." would be resolved against the text, not the disk.
        std::string_view name = std::string_view(existing).substr(slash + 1);
        if (name == "." || name == "..") {
            return {};
        }
        rest = existing.substr(slash) + rest;
        existing.resize(slash);
    }
    char resolved[PATH_MAX];
    if (realpath(existing.c_str(), resolved) == nullptr) {
        return {};
    }
    return resolved + rest;
}

} // namespace

std::u16string NovelRootFolder(const std::u16string& programFolder) {
    return FolderLayoutFor(programFolder).LibraryFolder + u"Novel/";
}

std::u16string CookieFolderPath(const std::u16string& programFolder) {
    return FolderLayoutFor(programFolder).CookieFolder;
}

std::u16string PacingFolderPath(const std::u16string& programFolder) {
    // Beside the cookie jars: state the program keeps for itself, not settings.
    std::u16string cookies = FolderLayoutFor(programFolder).CookieFolder;
    if (cookies.size() < 2) {
        return {};
    }
    return cookies.substr(0, cookies.rfind(u'/', cookies.size() - 2) + 1) + u"Pacing/";
}

std::u16string NovelFolderPath(const std::u16string& programFolder, std::u16string_view siteName,
                               std::u16string_view pageName) {
    return NovelRootFolder(programFolder) + CleanPathComponent(siteName) + u"/" +
           CleanPathComponent(pageName);
}

std::u16string TemplatePath(const std::u16string& programFolder, std::u16string_view name) {
    return FolderLayoutFor(programFolder).ShippedFolder + u"Template/" + std::u16string(name);
}

std::u16string FolderOfFile(std::u16string_view path) {
    size_t slash = path.rfind(u'/');
    if (slash == std::u16string_view::npos) {
        return {};
    }
    return std::u16string(path.substr(0, slash));
}

std::u16string ChapterPageName(int n) {
    return DecimalText(n) + std::u16string(kPageSuffix);
}

std::u16string ContentsRow(int position, std::u16string_view pageName, std::u16string_view title,
                           bool failed) {
    std::u16string cell = std::u16string(kCell) + u"<a href=\"" + std::u16string(pageName) +
                          u"\">" + std::u16string(title) + u"</a>";
    if (failed) {
        cell += u"<span class=\"failed\">（未完成）</span>";
    }
    cell += u"</td>";
    if (position % 2 == 1) {
        return u"<tr>" + cell;
    }
    return cell + u"</tr>";
}

std::u16string ContentsClosingCell() {
    return u"<td width=\"50%\" height=\"30\" bgcolor=\"#FFFFFF\"></td></tr>";
}

std::u16string ContentsVolumeRow(std::u16string_view name) {
    return u"<tr><td colspan=\"2\" class=\"volume\">" + std::u16string(name) + u"</td></tr>";
}

std::vector<ContentsLink> ContentsLinksOfPage(std::u16string_view contentsPage) {
    const std::u16string start = std::u16string(kCell) + u"<a href=\"";
    std::vector<ContentsLink> links;
    for (size_t at = contentsPage.find(start); at != std::u16string_view::npos;
         at = contentsPage.find(start, at)) {
        at += start.size();
        size_t quote = contentsPage.find(u"\">", at);
        size_t end = contentsPage.find(u"</a>", quote);
        if (end == std::u16string_view::npos) {
            break;
        }
        links.push_back({std::u16string(contentsPage.substr(at, quote - at)),
                         std::u16string(contentsPage.substr(quote + 2, end - quote - 2))});
    }
    return links;
}

std::u16string HiddenFieldText(std::u16string_view value) {
    return CXmlDocument::EncodeEntities(value, CXmlDocument::kEncodeAttribute);
}

std::u16string HiddenFieldValue(std::u16string_view innerHtml) {
    return CXmlDocument::DecodeEntities(innerHtml);
}

std::u16string PageElementText(std::u16string_view pageText, std::u16string_view id) {
    return html::ElementInnerHtml(pageText, id);
}

std::u16string RecordedChapterUrl(std::u16string_view pageText) {
    return HiddenFieldValue(PageElementText(pageText, u"chapter_url"));
}

int ChapterPageNumber(std::u16string_view name) {
    if (name.size() <= kPageSuffix.size() || name.size() > kPageSuffix.size() + 9 ||
        name.substr(name.size() - kPageSuffix.size()) != kPageSuffix) {
        return 0;
    }
    int n = 0;
    for (char16_t c : name.substr(0, name.size() - kPageSuffix.size())) {
        if (c < u'0' || c > u'9') {
            return 0;
        }
        n = n * 10 + (c - u'0');
    }
    return n;
}

std::u16string NextChapterPageFile(std::u16string_view pageFile) {
    size_t slash = pageFile.rfind(u'/');
    std::u16string_view name = pageFile.substr(slash == std::u16string_view::npos ? 0 : slash + 1);
    int n = ChapterPageNumber(name);
    if (n == 0) {
        return {};
    }
    return std::u16string(pageFile.substr(0, pageFile.size() - name.size())) +
           ChapterPageName(n + 1);
}

std::u16string DownStateElement(std::u16string_view state) {
    return u"<div style=\"display:none;\" id=\"down_state\">" + std::u16string(state) + u"</div>";
}

std::u16string ComposeChapterPage(std::u16string_view pageTemplate, const ChapterPageFields& fields,
                                  std::u16string_view state, std::u16string_view content) {
    std::u16string page(pageTemplate);
    // The hidden fields are read back from the browser as HTML, so "&" and "<" in an address or
    // a path are escaped here and decoded there; written as they are, "&copy=2" in a chapter
    // address would come back as "©=2".
    ReplaceAll(page, kRuleFilePathPlaceholder, HiddenFieldText(fields.RuleFile));
    ReplaceAll(page, kChapterUrlPlaceholder, HiddenFieldText(fields.ChapterUrl));
    ReplaceAll(page, kChapterSaveFilePlaceholder, HiddenFieldText(fields.PageFile));
    ReplaceAll(page, kNovelNamePlaceholder, fields.NovelName);
    ReplaceAll(page, kChapterNamePlaceholder, fields.ChapterName);
    ReplaceAll(page, kPrevChapterUrlPlaceholder, fields.PrevPage);
    ReplaceAll(page, kNextChapterUrlPlaceholder, fields.NextPage);
    ReplaceAll(page, kDownStatePlaceholder, state);
    ReplaceChapterText(page, content);
    return page;
}

bool ChapterTextOfPage(std::u16string_view page, std::u16string& content) {
    size_t start = page.find(kChapterTextStart);
    size_t end = page.rfind(kChapterTextEnd);
    if (start == std::u16string_view::npos || end == std::u16string_view::npos ||
        end < start + kChapterTextStart.size()) {
        return false;
    }
    start += kChapterTextStart.size();
    content = page.substr(start, end - start);
    return true;
}

std::u16string ChapterTextBlock(std::u16string_view content) {
    return std::u16string(kChapterTextStart) + std::u16string(content) +
           std::u16string(kChapterTextEnd);
}

bool ReplaceChapterText(std::u16string& page, std::u16string_view content) {
    size_t start = page.find(kChapterTextStart);
    // The last end mark is the block's own: a chapter text can hold anything.
    size_t end = page.rfind(kChapterTextEnd);
    if (start != std::u16string::npos && end != std::u16string::npos && end >= start) {
        start += kChapterTextStart.size();
        page.replace(start, end - start, content);
        return true;
    }
    if (page.find(kChapterContentPlaceholder) == std::u16string::npos) {
        return false;
    }
    ReplaceAll(page, kChapterContentPlaceholder, ChapterTextBlock(content));
    return true;
}

std::u16string PendingChapterNotice() {
    // Written while a job is about to fetch the chapter, and read as well after the job was cut
    // short: it says what is so in both cases and what the reader can do.
    return u"<p class=\"notice\">本章尚未下载，可点击下方“重新下载本章”。</p>";
}

std::u16string FailedChapterNotice(std::u16string_view reason) {
    return u"<p class=\"notice\">本章下载失败（" + std::u16string(reason) +
           u"）。请点击下方“重新下载本章”再试。</p>";
}

std::u16string StoredLibraryPath(const std::u16string& programFolder, std::u16string_view path) {
    std::u16string root = NovelRootFolder(programFolder);
    if (programFolder.empty() || path.size() <= root.size() ||
        path.substr(0, root.size()) != root) {
        return std::u16string(path);
    }
    return std::u16string(path.substr(root.size()));
}

std::u16string ResolveLibraryPath(const std::u16string& programFolder, std::u16string_view stored) {
    if (stored.empty() || programFolder.empty()) {
        return std::u16string(stored);
    }
    return ResolveLibraryPathIn(programFolder, NovelRootFolder(programFolder), stored);
}

std::u16string ResolveLibraryPathIn(const std::u16string& programFolder, const std::u16string& root,
                                    std::u16string_view stored) {
    if (stored.empty() || programFolder.empty()) {
        return std::u16string(stored);
    }
    if (stored.front() != u'/') {
        std::u16string path;
        path.reserve(root.size() + stored.size());
        path.append(root).append(stored);
        return path;
    }
    if (stored.substr(0, root.size()) == root) {
        return std::u16string(stored);
    }
    // site/novel/file: the last three components of a path below another Novel/ folder.
    size_t novelRoot = stored.rfind(u"/Novel/");
    if (novelRoot == std::u16string_view::npos) {
        return std::u16string(stored);
    }
    std::u16string_view below = stored.substr(novelRoot + 7);
    std::u16string here = root + std::u16string(below);
    struct stat status {};
    bool threeComponents = std::count(below.begin(), below.end(), u'/') == 2;
    if (threeComponents && IsLibraryPage(programFolder, here) &&
        lstat(NativePath(here).c_str(), &status) == 0) {
        return here;
    }
    return std::u16string(stored);
}

std::u16string StoredRuleFile(const std::u16string& programFolder, std::u16string_view path) {
    if (programFolder.empty()) {
        return std::u16string(path);
    }
    for (const std::u16string& folder : FolderLayoutFor(programFolder).RuleFolders) {
        std::u16string_view name = path.substr(std::min(path.size(), folder.size()));
        if (path.substr(0, folder.size()) == folder && !name.empty() &&
            name.find(u'/') == std::u16string_view::npos) {
            return std::u16string(name);
        }
    }
    return std::u16string(path);
}

std::u16string ResolveRuleFile(const std::u16string& programFolder, std::u16string_view stored) {
    if (stored.empty()) {
        return {};
    }
    std::u16string_view name = stored.substr(stored.rfind(u'/') + 1);
    bool plainName = name.size() == stored.size();
    if (plainName && (stored == u"." || stored == u"..")) {
        return {};
    }
    std::vector<std::u16string> folders = FolderLayoutFor(programFolder).RuleFolders;
    for (const std::u16string& folder : folders) {
        if (!plainName && stored.substr(0, folder.size()) == folder) {
            return std::u16string(stored);
        }
    }
    // A name, or an absolute path written before, whose file a rule folder holds: the first
    // such folder's file, as EnumerateRuleFiles lists it.
    for (const std::u16string& folder : folders) {
        std::u16string here = folder + std::u16string(name);
        struct stat status {};
        if ((plainName || stored.front() == u'/') &&
            lstat(NativePath(here).c_str(), &status) == 0) {
            return here;
        }
    }
    return plainName ? folders.back() + std::u16string(stored) : std::u16string(stored);
}

bool IsLibraryPage(const std::u16string& programFolder, std::u16string_view path) {
    std::vector<std::u16string_view> components;
    if (!ComponentsBelowNovelRoot(programFolder, path, components)) {
        return false;
    }
    if (components.size() != 3 || !AreOrdinaryComponents(components)) {
        return false;
    }
    std::u16string_view file = components.back();
    return file.size() > kPageSuffix.size() &&
           file.substr(file.size() - kPageSuffix.size()) == kPageSuffix;
}

bool IsNovelFolder(const std::u16string& programFolder, std::u16string_view folder) {
    std::vector<std::u16string_view> components;
    if (!ComponentsBelowNovelRoot(programFolder, folder, components)) {
        return false;
    }
    return components.size() == 2 && AreOrdinaryComponents(components);
}

bool IsInsideRealNovelRoot(const std::u16string& programFolder, std::u16string_view path) {
    std::string root = RealPathOfExistingParts(NativePath(NovelRootFolder(programFolder)));
    std::string real = RealPathOfExistingParts(NativePath(path));
    if (root.empty() || real.empty()) {
        return false;
    }
    if (root.back() != '/') {
        root.push_back('/');
    }
    return real.size() > root.size() && real.compare(0, root.size(), root) == 0;
}

bool ReadPage(std::u16string& encoding, std::u16string_view path, std::u16string& text) {
    text.clear();
    return CXmlDocument::ReadTextAsWide(&encoding, path, text, nullptr, nullptr);
}

bool WritePage(std::u16string& encoding, std::u16string_view path, std::u16string_view text) {
    // A page read with a UTF-16 mark is written back with it, and the mark is what a browser
    // goes by; only a page written as GB18030 bytes needs its label to say so.
    if (!WritesGb18030(encoding)) {
        return CXmlDocument::WriteWideAsText(text, path, nullptr, nullptr, &encoding);
    }
    std::u16string page(text);
    std::vector<html::SourceSpan> names = html::DeclaredCharsets(page);
    // From the last name back, so that the offsets of the earlier ones still hold.
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        page.replace(name->Start, name->Length, kPageCharsetLabel);
    }
    return CXmlDocument::WriteWideAsText(page, path, nullptr, nullptr, &encoding);
}

} // namespace velunor
