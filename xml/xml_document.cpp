#include "xml/xml_document.h"

#include "xml/internal/attribute_scanner.h"
#include "xml/internal/document_parser.h"
#include "xml/internal/element_index.h"
#include "xml/internal/xml_chars.h"
#include "xml/internal/xml_tokenizer.h"

#include <optional>

namespace velunor {

using internal::ElementRecord;

CXmlDocument::CXmlDocument() : index_(std::make_unique<internal::ElementIndex>()) {}

CXmlDocument::CXmlDocument(std::u16string_view text) : CXmlDocument() {
    SetDocumentText(text);
}

CXmlDocument::~CXmlDocument() = default;
CXmlDocument::CXmlDocument(CXmlDocument&&) noexcept = default;
CXmlDocument& CXmlDocument::operator=(CXmlDocument&&) noexcept = default;

bool CXmlDocument::SetDocumentText(std::u16string_view text) {
    text_.assign(text);
    resultLog_.clear();
    if (text_.empty()) {
        // An empty document gives its index back instead of keeping the last one's capacity.
        index_->Release();
    }
    return ParseDocument();
}

bool CXmlDocument::ParseDocument() {
    ResetPosition();
    index_->Reset(text_.size() / 64 + 8);
    if (text_.empty() || text_.size() >= UINT32_MAX) {
        return false;
    }
    internal::DocumentParser parser(text_, *index_, &resultLog_);
    bool wellFormed = parser.Run();
    ResetPosition();
    return wellFormed;
}

void CXmlDocument::ResetPosition() {
    position_ = ElementPosition{};
}

bool CXmlDocument::HasCurrent() const {
    return position_.current != 0;
}

// The element after `previous` at its level, or the first child of `parent` when there is no
// previous one.
uint32_t CXmlDocument::NextCandidate(uint32_t previous, uint32_t parent) const {
    if (previous != 0) {
        return (*index_)[previous].nextSibling;
    }
    return (*index_)[parent].firstChild;
}

uint32_t CXmlDocument::FindMatching(uint32_t candidate, const char16_t* name) const {
    if (name == nullptr) {
        return candidate;
    }
    while (candidate != 0 && !internal::GivenNameMatches(name, TagNameView(candidate))) {
        candidate = (*index_)[candidate].nextSibling;
    }
    return candidate;
}

bool CXmlDocument::FindElement(const char16_t* name) {
    uint32_t found = FindMatching(NextCandidate(position_.current, position_.parent), name);
    if (found == 0) {
        return false;
    }
    position_.current = found;
    position_.parent = (*index_)[found].parent;
    position_.child = 0;
    return true;
}

bool CXmlDocument::FindChildElement(const char16_t* name) {
    if (!HasCurrent() && !FindElement(nullptr)) {
        return false;
    }
    uint32_t found = FindMatching(NextCandidate(position_.child, position_.current), name);
    if (found == 0) {
        return false;
    }
    position_.child = found;
    position_.current = (*index_)[found].parent;
    position_.parent = (*index_)[position_.current].parent;
    return true;
}

bool CXmlDocument::EnterElement() {
    if (!HasCurrent()) {
        return false;
    }
    position_.parent = position_.current;
    position_.current = position_.child;
    position_.child = 0;
    return true;
}

bool CXmlDocument::LeaveElement() {
    if (position_.parent == 0) {
        return false;
    }
    position_.child = position_.current;
    position_.current = position_.parent;
    position_.parent = (*index_)[position_.current].parent;
    return true;
}

std::u16string_view CXmlDocument::TagNameView(uint32_t index) const {
    const ElementRecord& record = (*index_)[index];
    std::u16string_view tag(text_.data() + record.start, record.StartTagLength());
    internal::NameSpan name = internal::ReadName(tag, 1);
    return tag.substr(name.start, name.length);
}

std::u16string CXmlDocument::ReadTagName(uint32_t index) const {
    if (!index_->IsLive(index)) {
        return {};
    }
    return std::u16string(TagNameView(index));
}

std::u16string CXmlDocument::GetAttribute(const char16_t* name) const {
    if (!HasCurrent() || name == nullptr) {
        return {};
    }
    const ElementRecord& record = (*index_)[position_.current];
    std::u16string_view tag(text_.data() + record.start, record.StartTagLength());
    std::optional<std::u16string_view> value = internal::FindAttributeValue(tag, name, false);
    return value ? DecodeEntities(*value) : std::u16string();
}

std::u16string CXmlDocument::GetElementText() const {
    if (!HasCurrent()) {
        return {};
    }
    const ElementRecord& record = (*index_)[position_.current];
    if (record.firstChild != 0 || record.EndTagLength() == 0) {
        return {};
    }
    size_t contentStart = record.start + record.StartTagLength();
    size_t contentLength = record.length - record.StartTagLength() - record.EndTagLength();
    std::u16string_view content(text_.data() + contentStart, contentLength);
    if (content.find(u'<') == std::u16string_view::npos) {
        return DecodeEntities(content);
    }
    std::u16string result;
    internal::XmlTokenizer tokenizer(content, nullptr);
    internal::XmlNode node;
    while (tokenizer.Next(node)) {
        std::u16string_view piece = content.substr(node.start, node.length);
        if (node.kind == internal::XmlNodeKind::Text && !internal::IsWhitespaceOnly(piece)) {
            result += DecodeEntities(piece);
        }
        // "<![CDATA[" and "]]>" are cut off; the tokenizer accepts shorter "<![C" sections.
        if (node.kind == internal::XmlNodeKind::CDataSection && piece.size() >= 12) {
            result += piece.substr(9, piece.size() - 12);
        }
    }
    return result;
}

std::u16string FindElementText(CXmlDocument& document, const char16_t* name) {
    if (!document.FindElement(name)) {
        return {};
    }
    return document.GetElementText();
}

} // namespace velunor
