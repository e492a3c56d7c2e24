#include "search/site_selection.h"

#include "core/core.h"
#include "core/folder_layout.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include <sys/stat.h>

namespace velunor {
namespace {

constexpr std::u16string_view kSelectionFileName = u"TargetSiteSelect.xml";
constexpr const char16_t* kSelectedElement = u"Selected";
constexpr const char16_t* kSelectedRulesElement = u"SelectedRules";
constexpr const char16_t* kRuleElement = u"Rule";
constexpr std::u16string_view kNewSelectionFile =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<TargetSiteSelect>\r\n</TargetSiteSelect>\r\n";

std::u16string FileNameOf(const std::u16string& path) {
    return path.substr(path.rfind(u'/') + 1);
}

// Replaces the SelectedRules element of the current root with one naming `names`, last.
void SetSelectedRules(CXmlDocument& document, const std::vector<std::u16string>& names) {
    document.RewindChildren();
    document.EnterElement();
    if (document.FindElement(kSelectedRulesElement)) {
        document.RemoveElement();
    }
    while (document.FindElement()) {
    }
    document.AddElement(kSelectedRulesElement);
    document.EnterElement();
    for (const std::u16string& name : names) {
        document.AddElement(kRuleElement, name);
    }
    document.LeaveElement();
    document.LeaveElement();
}

} // namespace

std::u16string SiteSelectionFilePath(const std::u16string& programFolder) {
    return FolderLayoutFor(programFolder).ConfigFolder + std::u16string(kSelectionFileName);
}

std::u16string SiteSelectionReadPath(const std::u16string& programFolder) {
    FolderLayout layout = FolderLayoutFor(programFolder);
    std::u16string own = layout.ConfigFolder + std::u16string(kSelectionFileName);
    struct stat status {};
    if (stat(NativePath(own).c_str(), &status) == 0) {
        return own;
    }
    return layout.DefaultsFolder + std::u16string(kSelectionFileName);
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

std::vector<bool> SelectedRuleFiles(std::u16string_view path,
                                    const std::vector<std::u16string>& ruleFiles) {
    std::vector<bool> checked(ruleFiles.size(), false);
    CXmlDocument document;
    document.LoadFile(path, kConfigFileLimit);
    if (!document.FindElement() || !document.EnterElement()) {
        return checked;
    }
    std::u16string positions = FindElementText(document, kSelectedElement);
    document.LeaveElement();
    document.RewindChildren();
    document.EnterElement();
    if (!document.FindElement(kSelectedRulesElement)) {
        for (size_t i = 0; i < ruleFiles.size(); ++i) {
            checked[i] = IsSiteSelected(positions, static_cast<int>(i));
        }
        return checked;
    }
    document.EnterElement();
    std::vector<std::u16string> names;
    while (document.FindElement(kRuleElement)) {
        names.push_back(document.GetElementText());
    }
    for (size_t i = 0; i < ruleFiles.size(); ++i) {
        checked[i] = std::find(names.begin(), names.end(), FileNameOf(ruleFiles[i])) != names.end();
    }
    return checked;
}

bool WriteSiteSelection(std::u16string_view path, const std::vector<std::u16string>& ruleFiles,
                        const std::vector<bool>& checked, std::u16string* keptAside) {
    std::vector<std::u16string> names;
    for (size_t i = 0; i < ruleFiles.size() && i < checked.size(); ++i) {
        if (checked[i]) {
            names.push_back(FileNameOf(ruleFiles[i]));
        }
    }
    // The window and velunor-cli may both edit the file; each keeps the other's whole edit.
    CFileLock lock(std::u16string(path) + u".lock");
    CXmlDocument document;
    std::u16string aside;
    // A missing or unreadable file must not swallow the user's choice: start a new one. A
    // damaged one is kept for the user first, never overwritten.
    if (!document.LoadFile(path, kConfigFileLimit)) {
        std::u16string text;
        if (JudgeUnloadedFile(path, kConfigFileLimit, text) == FileCondition::Damaged) {
            aside = MoveDamagedFileAside(std::u16string(path));
            if (aside.empty()) {
                return false;
            }
        }
        document.SetDocumentText(kNewSelectionFile);
    }
    document.FindElement();
    document.EnterElement();
    if (document.FindElement(kSelectedElement)) {
        document.SetElementText(FormatSiteSelection(checked));
    } else {
        document.AddElement(kSelectedElement, FormatSiteSelection(checked));
    }
    document.LeaveElement();
    SetSelectedRules(document, names);
    if (!document.SaveFile(path)) {
        if (!aside.empty()) {
            std::rename(NativePath(aside).c_str(), NativePath(path).c_str());
        }
        return false;
    }
    if (keptAside != nullptr) {
        *keptAside = aside;
    }
    return true;
}

} // namespace velunor
