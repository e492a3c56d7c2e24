// Reads arbitrary bytes as a file, then navigates and edits the document, checking after every
// step that the element index still agrees with the text.

#include "tests/xml/index_checks.h"
#include "xml/xml_document.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using velunor::CXmlDocument;

void CheckIndex(const CXmlDocument& document, const char* step) {
    std::string problem = velunor::testing::CheckElementIndex(document);
    if (!problem.empty()) {
        std::fprintf(stderr, "index broken after %s: %s\n", step, problem.c_str());
        std::abort();
    }
}

std::u16string TempPath() {
    static const std::string path = "/tmp/velunor_xml_fuzz_" + std::to_string(::getpid()) + ".xml";
    return std::u16string(path.begin(), path.end());
}

bool WriteBytes(const std::u16string& path, const uint8_t* data, size_t size) {
    std::string native(path.begin(), path.end());
    FILE* file = std::fopen(native.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// One navigation or edit chosen by a byte of the input.
void Step(CXmlDocument& document, uint8_t choice) {
    static const char16_t* const kNames[] = {nullptr, u"a", u"b", u"Book", u"x"};
    const char16_t* name = kNames[choice % 5];
    switch ((choice >> 3) % 12) {
    case 0:
        document.FindElement(name);
        break;
    case 1:
        document.FindChildElement(name);
        break;
    case 2:
        document.EnterElement();
        break;
    case 3:
        document.LeaveElement();
        break;
    case 4:
        document.GetElementText();
        break;
    case 5:
        document.SetElementText(u"t&<]]>");
        break;
    case 6:
        document.AddElement(name == nullptr ? u"n" : name, choice % 2 ? u"v" : u"", choice & 0x3F);
        break;
    case 7:
        document.RemoveElement();
        break;
    case 8:
        document.SetAttribute(name == nullptr ? u"k" : name, u"\"v'");
        break;
    case 9:
        document.ResetPosition();
        break;
    case 10:
        document.AddElement(u"c", u"x]]>y", CXmlDocument::kAddCData | CXmlDocument::kAddAsChild);
        break;
    default:
        document.ReadTagName(choice);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last 16 bytes steer the walk; all bytes are the file.
    std::u16string path = TempPath();
    if (!WriteBytes(path, data, size)) {
        return 0;
    }
    CXmlDocument document;
    document.LoadFile(path);
    CheckIndex(document, "load");
    size_t steps = size < 16 ? size : 16;
    for (size_t i = 0; i < steps; ++i) {
        Step(document, data[size - 1 - i]);
        CheckIndex(document, "step");
    }
    document.SaveFile(path);
    std::u16string encoding;
    std::u16string text;
    CXmlDocument::ReadTextAsWide(&encoding, path, text, nullptr, nullptr);
    // A limit taken from the input, so that the saved file is read by some runs and refused
    // as too large by others.
    std::u16string limited;
    CXmlDocument::ReadTextAsWide(nullptr, path, limited, nullptr, nullptr, size > 0 ? data[0] : 0);
    CXmlDocument::DecodeEntities(text);
    CXmlDocument::EncodeEntities(text,
                                 CXmlDocument::kEncodeAttribute | CXmlDocument::kKeepReferences);
    CXmlDocument reparsed(document.GetDocumentText());
    CheckIndex(reparsed, "reparse");
    return 0;
}
