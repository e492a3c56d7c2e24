// Edits splice the document text and patch the element index in place, never reparsing.

#include "xml/internal/attribute_scanner.h"
#include "xml/internal/element_index.h"
#include "xml/internal/xml_chars.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <vector>

namespace velunor {
namespace {

using internal::ElementRecord;

constexpr std::u16string_view kLineBreak = u"\r\n";

// The value inside a CDATA section; a "]]>" in it is split over two sections.
std::u16string CDataSection(std::u16string_view written) {
    std::u16string value = XmlSafeText(written);
    std::u16string out = u"<![CDATA[";
    size_t from = 0;
    while (true) {
        size_t found = value.find(u"]]>", from);
        if (found == std::u16string_view::npos) {
            break;
        }
        out += value.substr(from, found - from);
        out += u"]]]]><![CDATA[>";
        from = found + 3;
    }
    out += value.substr(from);
    out += u"]]>";
    return out;
}

std::u16string EndTag(std::u16string_view name) {
    std::u16string tag = u"</";
    tag += name;
    tag += u'>';
    return tag;
}

// The name fits an end tag in the tag-lengths field.
bool FitsEndTag(std::u16string_view name) {
    return name.size() + 3 <= internal::kMaxEndTagLength;
}

struct BuiltElement {
    std::u16string text;
    uint32_t startTagLength = 0;
    uint32_t endTagLength = 0;
    bool unended = false;
};

BuiltElement BuildElement(std::u16string_view name, std::u16string_view value, uint32_t options) {
    BuiltElement built;
    built.text = u"<";
    built.text += name;
    if (value.empty() && (options & CXmlDocument::kAddStartTagOnly) == 0) {
        bool spaced = (options & CXmlDocument::kAddSpaceBeforeSlash) != 0;
        built.text += spaced ? u" />" : u"/>";
        built.startTagLength = static_cast<uint32_t>(built.text.size());
        return built;
    }
    built.text += u'>';
    built.startTagLength = static_cast<uint32_t>(built.text.size());
    if (value.empty()) {
        built.unended = true;
        return built;
    }
    if ((options & CXmlDocument::kAddCData) != 0) {
        built.text += CDataSection(value);
    } else {
        built.text += CXmlDocument::EncodeEntities(value, CXmlDocument::kEncodeText);
    }
    built.text += EndTag(name);
    built.endTagLength = static_cast<uint32_t>(name.size() + 3);
    return built;
}

} // namespace

// Replaces `removed` characters at `offset` by `inserted`: elements starting after the
// replaced span move, `enclosing` and every element around it grow or shrink. False, changing
// nothing, when the text would outgrow 32-bit offsets.
bool CXmlDocument::Splice(size_t offset, size_t removed, std::u16string_view inserted,
                          uint32_t enclosing) {
    size_t newSize = text_.size() - removed + inserted.size();
    if (newSize >= UINT32_MAX) {
        return false;
    }
    text_.replace(offset, removed, inserted);
    auto delta = static_cast<int64_t>(inserted.size()) - static_cast<int64_t>(removed);
    size_t threshold = offset + removed;
    internal::ElementIndex& index = *index_;
    for (uint32_t i = 1; i < index.NextFree(); ++i) {
        ElementRecord& record = index[i];
        if (!record.Has(internal::kMarkDeleted) && record.start >= threshold) {
            record.start = static_cast<uint32_t>(record.start + delta);
        }
    }
    for (uint32_t element = enclosing; element != 0; element = index[element].parent) {
        index[element].length = static_cast<uint32_t>(index[element].length + delta);
    }
    index[0].length = static_cast<uint32_t>(newSize);
    return true;
}

// Gives an element that has no end tag (an empty-element tag or an unended start tag) the
// content `content` and its end tag: <x/> becomes <x>content</x>, <x /> becomes <x >content</x>.
bool CXmlDocument::OpenForContent(uint32_t element, std::u16string_view content) {
    std::u16string name(TagNameView(element));
    if (!FitsEndTag(name)) {
        return false;
    }
    const ElementRecord& record = (*index_)[element];
    bool emptyTag = !record.Has(internal::kMarkUnended);
    uint32_t startTag = record.StartTagLength();
    std::u16string inserted = emptyTag ? u">" : u"";
    inserted += content;
    inserted += EndTag(name);
    // An empty-element tag loses its "/>" and gets ">" back at the front of the insertion.
    size_t offset = record.start + startTag - (emptyTag ? 2 : 0);
    if (!Splice(offset, emptyTag ? 2 : 0, inserted, element)) {
        return false;
    }
    ElementRecord& opened = (*index_)[element];
    opened.SetTagLengths(emptyTag ? startTag - 1 : startTag,
                         static_cast<uint32_t>(name.size() + 3));
    opened.levelMarks &= ~internal::kMarkUnended;
    return true;
}

bool CXmlDocument::SetElementText(std::u16string_view text) {
    if (!HasCurrent()) {
        return false;
    }
    uint32_t element = position_.current;
    const ElementRecord& record = (*index_)[element];
    if (record.firstChild != 0) {
        return false;
    }
    std::u16string content = EncodeEntities(text, kEncodeText);
    bool changed = false;
    if (record.EndTagLength() == 0) {
        changed = OpenForContent(element, content);
    } else {
        size_t contentStart = record.start + record.StartTagLength();
        size_t contentLength = record.length - record.StartTagLength() - record.EndTagLength();
        changed = Splice(contentStart, contentLength, content, element);
    }
    if (changed) {
        (*index_)[element].levelMarks &= ~internal::kMarkErrorInside;
    }
    return changed;
}

// Past the whitespace after `offset` when markup or the end of the text follows it, so that a
// new element goes after the line break of the one before; otherwise `offset` itself.
size_t CXmlDocument::SkipLineBreak(size_t offset) const {
    size_t end = offset;
    while (end < text_.size() && internal::IsXmlWhitespace(text_[end])) {
        ++end;
    }
    if (end == text_.size() || text_[end] == u'<') {
        return end;
    }
    return offset;
}

// Just before the end tag of `element`, or the end of the text for the document itself.
size_t CXmlDocument::EndOfContent(uint32_t element) const {
    if (element == 0) {
        return text_.size();
    }
    const ElementRecord& record = (*index_)[element];
    return record.End() - record.EndTagLength();
}

bool CXmlDocument::AddElement(const char16_t* name, std::u16string_view value, uint32_t options) {
    if (name == nullptr) {
        return false;
    }
    std::u16string_view elementName(name);
    if (!internal::IsWritableName(elementName) || !FitsEndTag(elementName)) {
        return false;
    }
    bool asChild = (options & kAddAsChild) != 0;
    if (asChild && !HasCurrent()) {
        return false;
    }
    uint32_t parent = asChild ? position_.current : position_.parent;
    uint32_t anchor = asChild ? position_.child : position_.current;
    bool before = anchor != 0 && (options & kAddBefore) != 0;
    BuiltElement built = BuildElement(elementName, value, options);
    std::u16string inserted = built.text;
    if ((options & kAddNoLineBreak) == 0) {
        inserted += kLineBreak;
    }

    size_t newStart = 0;
    const ElementRecord& parentRecord = (*index_)[parent];
    if (anchor == 0 && parent != 0 && parentRecord.EndTagLength() == 0) {
        // The new element is the parent's only content, on a line of its own.
        std::u16string content(kLineBreak);
        content += inserted;
        if (!OpenForContent(parent, content)) {
            return false;
        }
        const ElementRecord& opened = (*index_)[parent];
        newStart = opened.start + opened.StartTagLength() + kLineBreak.size();
    } else {
        size_t point = 0;
        if (before) {
            point = (*index_)[anchor].start;
        } else if (anchor != 0) {
            point = SkipLineBreak((*index_)[anchor].End());
        } else {
            point = SkipLineBreak(EndOfContent(parent));
        }
        bool emptyContent =
            parent != 0 && anchor == 0 &&
            parentRecord.length == parentRecord.StartTagLength() + parentRecord.EndTagLength();
        if (emptyContent) {
            inserted.insert(0, kLineBreak);
        }
        if (!Splice(point, 0, inserted, parent)) {
            return false;
        }
        newStart = point + (emptyContent ? kLineBreak.size() : 0);
    }

    uint32_t element = index_->Allocate();
    ElementRecord& record = (*index_)[element];
    record.start = static_cast<uint32_t>(newStart);
    record.length = static_cast<uint32_t>(built.text.size());
    record.SetTagLengths(built.startTagLength, built.endTagLength);
    record.SetDepth(parent == 0 ? 0 : (*index_)[parent].Depth() + 1);
    if (built.unended) {
        record.levelMarks |= internal::kMarkUnended;
    }
    if (anchor == 0) {
        index_->LinkAsLastChild(parent, element);
    } else if (before) {
        index_->LinkBefore(anchor, element);
    } else {
        index_->LinkAfter(anchor, element);
    }
    if (asChild) {
        position_.child = element;
    } else {
        position_.current = element;
        position_.child = 0;
    }
    return true;
}

bool CXmlDocument::RemoveElement() {
    if (!HasCurrent()) {
        return false;
    }
    uint32_t element = position_.current;
    const ElementRecord& record = (*index_)[element];
    uint32_t parent = record.parent;
    uint32_t previous = record.Has(internal::kMarkFirstChild) ? 0 : record.previousSibling;
    size_t start = record.start;
    size_t end = SkipLineBreak(record.End());

    // Collected before the deleted chain reuses their next-sibling fields.
    std::vector<uint32_t> removed{element};
    for (size_t i = 0; i < removed.size(); ++i) {
        for (uint32_t child = (*index_)[removed[i]].firstChild; child != 0;
             child = (*index_)[child].nextSibling) {
            removed.push_back(child);
        }
    }
    index_->Unlink(element);
    for (uint32_t gone : removed) {
        index_->PushDeleted(gone);
    }
    Splice(start, end - start, {}, parent);
    position_.current = previous;
    position_.child = 0;
    return true;
}

bool CXmlDocument::SetAttribute(const char16_t* name, std::u16string_view value) {
    if (!HasCurrent() || name == nullptr) {
        return false;
    }
    std::u16string_view attributeName(name);
    if (!internal::IsWritableName(attributeName)) {
        return false;
    }
    uint32_t element = position_.current;
    const ElementRecord& record = (*index_)[element];
    std::u16string_view tag(text_.data() + record.start, record.StartTagLength());
    std::u16string quoted = u"\"";
    quoted += EncodeEntities(value, kEncodeAttribute);
    quoted += u'"';

    internal::AttributeScanner scanner(tag);
    internal::AttributeSpan attribute;
    bool found = false;
    while (!found && scanner.Next(attribute)) {
        found = tag.substr(attribute.nameStart, attribute.nameLength) == attributeName;
    }
    // Whatever the scan made of a damaged tag, nothing goes behind its closing "/>" or ">".
    bool emptyTag = record.EndTagLength() == 0 && !record.Has(internal::kMarkUnended);
    size_t closing = tag.size() - (emptyTag ? 2 : 1);
    size_t offset = std::min(scanner.LastEnd(), closing);
    size_t removed = 0;
    std::u16string inserted;
    if (found && attribute.valueLength > 0) {
        offset = attribute.valueStart;
        removed = attribute.valueLength;
        inserted = quoted;
    } else if (found) {
        offset = attribute.end;
        inserted = u"=" + quoted;
    } else {
        inserted = u" ";
        inserted += attributeName;
        inserted += u'=';
        inserted += quoted;
    }
    size_t startTag = tag.size() - removed + inserted.size();
    if (startTag > internal::kMaxStartTagLength) {
        return false;
    }
    uint32_t endTag = record.EndTagLength();
    if (!Splice(record.start + offset, removed, inserted, element)) {
        return false;
    }
    (*index_)[element].SetTagLengths(static_cast<uint32_t>(startTag), endTag);
    return true;
}

} // namespace velunor
