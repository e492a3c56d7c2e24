#include "library/library_location.h"

#include "core/core.h"
#include "xml/xml_document.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace velunor {
namespace {

constexpr const char16_t* kFolderElement = u"Folder";
constexpr std::u16string_view kNewLocationFile =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<LibraryLocation>\r\n</LibraryLocation>\r\n";

} // namespace

std::u16string LibraryLocationPath(const std::u16string& configFolder) {
    return configFolder + u"LibraryLocation.xml";
}

std::u16string ReadLibraryLocation(const std::u16string& configFolder) {
    CXmlDocument document;
    if (configFolder.empty() ||
        !document.LoadFile(LibraryLocationPath(configFolder), kConfigFileLimit) ||
        !document.FindElement() || !document.EnterElement()) {
        return {};
    }
    std::u16string folder = FindElementText(document, kFolderElement);
    // A relative folder would depend on the current directory: it names nothing.
    if (folder.empty() || folder.front() != u'/') {
        return {};
    }
    if (folder.back() != u'/') {
        folder += u'/';
    }
    return folder;
}

bool SaveLibraryLocation(const std::u16string& configFolder, const std::u16string& folder) {
    if (!folder.empty() && folder.front() != u'/') {
        return false;
    }
    CXmlDocument document(kNewLocationFile);
    document.FindElement();
    document.EnterElement();
    document.AddElement(kFolderElement, folder);
    return CreateFolderPath(configFolder) && document.SaveFile(LibraryLocationPath(configFolder));
}

bool ChooseLibraryFolder(const std::u16string& programFolder, const std::u16string& folder,
                         std::u16string& problem) {
    if (folder.empty() || folder.front() != u'/') {
        problem = u"书库位置必须是一个完整的文件夹路径：" + folder;
        return false;
    }
    if (!CreateFolderPath(folder) || access(NativePath(folder).c_str(), W_OK | X_OK) != 0) {
        problem = u"无法写入文件夹 " + folder + u"：" + Utf8ToWide(std::strerror(errno));
        return false;
    }
    FolderLayout layout = FolderLayoutFor(programFolder);
    if (!SaveLibraryLocation(layout.ConfigFolder, folder)) {
        problem = u"无法保存书库位置到 " +
                  ShownPath(programFolder, LibraryLocationPath(layout.ConfigFolder));
        return false;
    }
    SetUpFolderLayout(programFolder, ReadLayoutEnvironment());
    return true;
}

FolderLayout SetUpFolderLayout(const std::u16string& programFolder,
                               const LayoutEnvironment& environment) {
    FolderLayout plain = DecideFolderLayout(programFolder, environment);
    FolderLayout layout =
        DecideFolderLayout(programFolder, environment, ReadLibraryLocation(plain.ConfigFolder));
    InstallFolderLayout(layout);
    return layout;
}

} // namespace velunor
