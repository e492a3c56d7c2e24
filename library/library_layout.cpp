// Names, fragments and checks of the on-disk library.

#include "library/library_layout.h"

#include "core/core.h"
#include "xml/xml_document.h"

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

} // namespace

std::u16string NovelRootFolder(const std::u16string& programFolder) {
    return programFolder + u"Novel/";
}

std::u16string NovelFolderPath(const std::u16string& programFolder, std::u16string_view siteName,
                               std::u16string_view pageName) {
    return NovelRootFolder(programFolder) + CleanPathComponent(siteName) + u"/" +
           CleanPathComponent(pageName);
}

std::u16string TemplatePath(const std::u16string& programFolder, std::u16string_view name) {
    return programFolder + u"Template/" + std::u16string(name);
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

std::u16string PrevChapterUrl(int n) {
    if (n <= 1) {
        return std::u16string(kContentsPageName);
    }
    return ChapterPageName(n - 1);
}

std::u16string NextChapterUrl(int n, int count) {
    if (n >= count) {
        return std::u16string(kContentsPageName);
    }
    return ChapterPageName(n + 1);
}

std::u16string ContentsRow(int n, std::u16string_view title) {
    std::u16string cell = std::u16string(kCell) + u"<a href=\"" + ChapterPageName(n) + u"\">" +
                          std::u16string(title) + u"</a></td>";
    if (n % 2 == 1) {
        return u"<tr>" + cell;
    }
    return cell + u"</tr>";
}

std::u16string ContentsClosingCell() {
    return u"<td width=\"50%\" height=\"30\" bgcolor=\"#FFFFFF\"></td></tr>";
}

std::u16string ImageFileName(std::u16string_view address) {
    size_t slash = address.rfind(u'/');
    std::u16string_view name =
        slash == std::u16string_view::npos ? address : address.substr(slash + 1);
    return CleanPathComponent(name);
}

std::u16string HiddenFieldText(std::u16string_view value) {
    return CXmlDocument::EncodeEntities(value, CXmlDocument::kEncodeAttribute);
}

std::u16string HiddenFieldValue(std::u16string_view innerHtml) {
    return CXmlDocument::DecodeEntities(innerHtml);
}

std::u16string ImageFragment(std::u16string_view fileName) {
    return u"<div style=\"text-align:center;\"><img src='images\\" + std::u16string(fileName) +
           u"'><br /></div>";
}

std::u16string DownStateElement(std::u16string_view state) {
    return u"<div style=\"display:none;\" id=\"down_state\">" + std::u16string(state) + u"</div>";
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

bool ReadPage(std::u16string& encoding, std::u16string_view path, std::u16string& text) {
    text.clear();
    return CXmlDocument::ReadTextAsWide(&encoding, path, text, nullptr, nullptr);
}

bool WritePage(std::u16string& encoding, std::u16string_view path, std::u16string_view text) {
    return CXmlDocument::WriteWideAsText(text, path, nullptr, nullptr, &encoding);
}

} // namespace velunor
