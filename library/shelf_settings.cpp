#include "library/shelf_settings.h"

#include "core/core.h"
#include "core/folder_layout.h"
#include "library/internal/settings_field.h"
#include "xml/xml_document.h"

#include <string_view>

namespace velunor {

namespace {

constexpr const char16_t* kCheckAtStartElement = u"CheckUpdatesAtStart";
constexpr const char16_t* kNewFirstElement = u"NewChaptersFirst";
constexpr std::u16string_view kNewSettingsFile =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ShelfSettings>\r\n</ShelfSettings>\r\n";

void ReadSwitch(std::u16string_view text, bool& value) {
    if (text == u"1") {
        value = true;
    } else if (text == u"0") {
        value = false;
    }
}

std::u16string_view SwitchText(bool value) {
    return value ? u"1" : u"0";
}

} // namespace

std::u16string ShelfSettingsPath(const std::u16string& programFolder) {
    return FolderLayoutFor(programFolder).ConfigFolder + u"ShelfSettings.xml";
}

ShelfSettings LoadShelfSettings(const std::u16string& programFolder) {
    ShelfSettings settings;
    CXmlDocument document;
    if (!document.LoadFile(ShelfSettingsPath(programFolder), kConfigFileLimit)) {
        return settings;
    }
    ReadSwitch(internal::SettingsFieldText(document, kCheckAtStartElement),
               settings.CheckUpdatesAtStart);
    ReadSwitch(internal::SettingsFieldText(document, kNewFirstElement), settings.NewChaptersFirst);
    return settings;
}

bool SaveShelfSettings(const std::u16string& programFolder, const ShelfSettings& settings) {
    CXmlDocument document(kNewSettingsFile);
    document.FindElement();
    document.EnterElement();
    document.AddElement(kCheckAtStartElement, SwitchText(settings.CheckUpdatesAtStart));
    document.AddElement(kNewFirstElement, SwitchText(settings.NewChaptersFirst));
    if (!CreateFolderPath(FolderLayoutFor(programFolder).ConfigFolder)) {
        return false;
    }
    return document.SaveFile(ShelfSettingsPath(programFolder));
}

} // namespace velunor
