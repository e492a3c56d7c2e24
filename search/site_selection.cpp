#include "search/site_selection.h"

#include "core/core.h"
#include "xml/xml_document.h"

#include <string>

namespace velunor {
namespace {

constexpr const char16_t* kSelectedElement = u"Selected";
constexpr std::u16string_view kNewSelectionFile =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<TargetSiteSelect>\r\n</TargetSiteSelect>\r\n";

} // namespace

std::u16string SiteSelectionFilePath(const std::u16string& programFolder) {
    return programFolder + u"Config/TargetSiteSelect.xml";
}

bool IsSiteSelected(std::u16string_view selection, int index) {
    std::u16string wanted = DecimalText(index);
    size_t start = 0;
    while (start < selection.size()) {
        size_t comma = selection.find(u',', start);
        size_t end = comma == std::u16string_view::npos ? selection.size() : comma;
        if (selection.substr(start, end - start) == wanted) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::u16string FormatSiteSelection(const std::vector<bool>& checked) {
    std::u16string selection;
    for (size_t i = 0; i < checked.size(); ++i) {
        if (checked[i]) {
            selection += DecimalText(static_cast<int>(i)) + u",";
        }
    }
    return selection;
}

std::u16string ReadSiteSelection(std::u16string_view path) {
    CXmlDocument document;
    document.LoadFile(path, kConfigFileLimit);
    if (!document.FindElement() || !document.EnterElement()) {
        return {};
    }
    return FindElementText(document, kSelectedElement);
}

bool WriteSiteSelection(std::u16string_view path, std::u16string_view selection) {
    // The window and velunor-cli may both edit the file; each keeps the other's whole edit.
    CFileLock lock(std::u16string(path) + u".lock");
    CXmlDocument document;
    document.LoadFile(path, kConfigFileLimit);
    // A missing or unreadable file must not swallow the user's choice: start a new one.
    if (!document.FindElement()) {
        document.SetDocumentText(kNewSelectionFile);
        document.FindElement();
    }
    document.EnterElement();
    if (document.FindElement(kSelectedElement)) {
        document.SetElementText(selection);
    } else {
        document.AddElement(kSelectedElement, selection);
    }
    return document.SaveFile(path);
}

} // namespace velunor
