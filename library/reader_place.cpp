// The reader's place in a novel, in the ReaderPlace element of the novel's Reading.xml.

#include "library/reader_place.h"

#include "core/core.h"
#include "library/internal/library_changes.h"
#include "xml/xml_document.h"

#include <algorithm>

namespace velunor {
namespace {

constexpr std::u16string_view kStartTag = u"<ReaderPlace>";
constexpr std::u16string_view kEndTag = u"</ReaderPlace>";
constexpr std::u16string_view kRootEndTag = u"</Reading>";
constexpr std::u16string_view kLineBreak = u"\r\n";
// Reading.xml is a small file; anything far larger is not one the program wrote.
constexpr uint64_t kReadingFileLimit = 64 * 1024;

std::u16string Field(const char16_t* name, std::u16string_view value) {
    return u"<" + std::u16string(name) + u">" +
           CXmlDocument::EncodeEntities(value, CXmlDocument::kEncodeText) + u"</" +
           std::u16string(name) + u">";
}

std::u16string PlaceFields(const PagePlace& place) {
    return Field(u"Page", place.Page) + Field(u"Offset", DecimalText(place.Offset));
}

// The fields of the element the document has entered, in the order they are written.
PagePlace ReadPlace(CXmlDocument& document) {
    PagePlace place;
    place.Page = FindElementText(document, u"Page");
    long long offset = 0;
    if (ParseDecimal(FindElementText(document, u"Offset"), offset)) {
        place.Offset = static_cast<int>(std::clamp<long long>(offset, 0, kPlaceScale));
    }
    if (!IsReadingPageName(place.Page)) {
        place = {};
    }
    return place;
}

std::u16string ElementText(const ReaderPlace& place, size_t firstBookmark) {
    std::u16string text = std::u16string(kStartTag) + std::u16string(kLineBreak);
    if (!place.Scroll.Page.empty()) {
        text += u"<Scroll>" + PlaceFields(place.Scroll) + u"</Scroll>" + std::u16string(kLineBreak);
    }
    for (size_t i = firstBookmark; i < place.Bookmarks.size(); ++i) {
        const Bookmark& mark = place.Bookmarks[i];
        text += u"<Bookmark>" + PlaceFields(mark.Place) + Field(u"Chapter", mark.Chapter) +
                Field(u"Excerpt", mark.Excerpt) + u"</Bookmark>" + std::u16string(kLineBreak);
    }
    return text + std::u16string(kEndTag) + std::u16string(kLineBreak);
}

// The element of `place` within its size limit: the oldest bookmarks are left out first.
std::u16string BoundedElementText(const ReaderPlace& place) {
    for (size_t first = 0;; ++first) {
        std::u16string text = ElementText(place, first);
        if (WideToUtf8(text).size() <= kReaderPlaceLimit || first >= place.Bookmarks.size()) {
            return text;
        }
    }
}

bool ReadFileText(const std::u16string& folder, std::u16string& text) {
    return CXmlDocument::ReadTextAsWide(nullptr, ReadingFilePath(folder), text, nullptr, nullptr,
                                        kReadingFileLimit);
}

// Where the ReaderPlace element of `text` starts and ends, its line break included; false when
// it has none.
bool FindElementSpan(std::u16string_view text, size_t& start, size_t& end) {
    start = text.find(kStartTag);
    const size_t endTag = start == std::u16string_view::npos ? start : text.find(kEndTag, start);
    if (endTag == std::u16string_view::npos) {
        return false;
    }
    end = endTag + kEndTag.size();
    if (text.substr(end).starts_with(kLineBreak)) {
        end += kLineBreak.size();
    }
    return true;
}

} // namespace

std::u16string ReadingFilePath(const std::u16string& folder) {
    return folder + u"/Reading.xml";
}

// A name with a "/", or "." or "..", would lead out of the novel folder.
bool IsReadingPageName(const std::u16string& page) {
    return !page.empty() && page.find(u'/') == std::u16string::npos && page != u"." &&
           page != u"..";
}

ReaderPlace LoadReaderPlace(const std::u16string& folder) {
    ReaderPlace place;
    CXmlDocument document;
    if (!document.LoadFile(ReadingFilePath(folder), kReadingFileLimit) ||
        !document.FindElement(u"Reading") || !document.EnterElement() ||
        !document.FindElement(u"ReaderPlace") || !document.EnterElement()) {
        return place;
    }
    if (document.FindElement(u"Scroll")) {
        document.EnterElement();
        place.Scroll = ReadPlace(document);
        document.LeaveElement();
    }
    while (document.FindElement(u"Bookmark")) {
        document.EnterElement();
        Bookmark mark;
        mark.Place = ReadPlace(document);
        mark.Chapter = FindElementText(document, u"Chapter");
        mark.Excerpt = FindElementText(document, u"Excerpt");
        document.LeaveElement();
        if (!mark.Place.Page.empty()) {
            place.Bookmarks.push_back(std::move(mark));
        }
    }
    return place;
}

bool SaveReaderPlace(const std::u16string& folder, const ReaderPlace& place) {
    std::u16string text;
    const std::u16string element = BoundedElementText(place);
    size_t start = 0;
    size_t end = 0;
    if (ReadFileText(folder, text) && FindElementSpan(text, start, end)) {
        text.replace(start, end - start, element);
    } else if (const size_t rootEnd = text.rfind(kRootEndTag); rootEnd != std::u16string::npos) {
        text.insert(rootEnd, element);
    } else {
        text = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Reading>\r\n" + element +
               std::u16string(kRootEndTag) + std::u16string(kLineBreak);
    }
    bool written =
        CXmlDocument::WriteWideAsText(text, ReadingFilePath(folder), nullptr, nullptr, nullptr);
    internal::NoteNovelFolderWritten(folder);
    return written;
}

std::u16string ReaderPlaceElement(const std::u16string& folder) {
    std::u16string text;
    size_t start = 0;
    size_t end = 0;
    if (!ReadFileText(folder, text) || !FindElementSpan(text, start, end)) {
        return {};
    }
    return text.substr(start, end - start);
}

} // namespace velunor
