#include "xml/internal/document_parser.h"

#include "xml/internal/result_log_writer.h"
#include "xml/internal/xml_chars.h"

#include <algorithm>

namespace velunor::internal {
namespace {

// How many open tags an end tag compares directly before it asks the name index.
constexpr size_t kDirectSearchDepth = 16;
constexpr uint32_t kNoOpenTag = UINT32_MAX;

} // namespace

DocumentParser::DocumentParser(std::u16string_view text, ElementIndex& index, std::u16string* log)
    : text_(text), index_(index), log_(log) {
    openTags_.reserve(7);
}

bool DocumentParser::Run() {
    XmlTokenizer tokenizer(text_, log_);
    XmlNode node;
    while (tokenizer.Next(node)) {
        switch (node.kind) {
        case XmlNodeKind::StartTag:
        case XmlNodeKind::EmptyElementTag:
            OpenElement(node);
            break;
        case XmlNodeKind::EndTag:
            CloseElement(node);
            break;
        case XmlNodeKind::Error:
            MarkError();
            break;
        default:
            break;
        }
    }
    UnendAbove(0, text_.size());
    if (depthsStale_) {
        for (uint32_t element = index_[0].firstChild; element != 0;
             element = index_[element].nextSibling) {
            SetSubtreeDepth(element, 0);
        }
    }
    ElementRecord& document = index_[0];
    document.length = static_cast<uint32_t>(text_.size());
    if (root_ == 0) {
        AppendLogEntry(log_, u"no_root_element");
        return false;
    }
    bool single = index_[root_].nextSibling == 0;
    if (!single) {
        AppendLogEntry(log_, u"root_has_sibling");
    }
    return single && !index_[0].Has(kMarkNotWellFormed);
}

void DocumentParser::OpenElement(const XmlNode& node) {
    if (node.length > kMaxStartTagLength) {
        // Longer than the tag-lengths field can hold: indexing it would corrupt its record.
        AppendLogEntry(log_, u"first_tag_syntax", {LogNumber(u"offset", node.start)});
        MarkError();
        return;
    }
    uint32_t parent = CurrentOpen();
    uint32_t element = index_.Allocate();
    ElementRecord& record = index_[element];
    record.start = static_cast<uint32_t>(node.start);
    record.length = static_cast<uint32_t>(node.length);
    record.SetTagLengths(record.length, 0);
    record.SetDepth(static_cast<uint32_t>(openTags_.size()));
    index_.LinkAsLastChild(parent, element);
    if (root_ == 0) {
        root_ = element;
    }
    if (node.kind == XmlNodeKind::StartTag) {
        NameSpan name = ReadName(text_, node.start + 1);
        openTags_.push_back({element, static_cast<uint32_t>(name.start),
                             static_cast<uint32_t>(name.length), kNoOpenTag});
    }
}

void DocumentParser::CloseElement(const XmlNode& node) {
    NameSpan span = ReadName(text_, node.start + 2);
    std::u16string_view name = text_.substr(span.start, span.length);
    size_t found = FindOpenTag(name);
    if (found == 0 || node.length > kMaxEndTagLength) {
        // An end tag too long for the tag-lengths field is treated as closing nothing.
        LogLoneEndTag(node, name);
        return;
    }
    // The "/" of this end tag is where the enclosing element closed over its unended children.
    UnendAbove(found, node.start + 1);
    uint32_t element = openTags_.back().element;
    PopOpenTags(openTags_.size() - 1);
    ElementRecord& record = index_[element];
    record.length = static_cast<uint32_t>(node.start + node.length - record.start);
    record.SetTagLengths(record.StartTagLength(), static_cast<uint32_t>(node.length));
}

// The stack position + 1 of the innermost open tag named `name`; 0 when none is open. The top
// few tags are compared directly, which settles nearly every end tag; a deeper search goes
// through the name index, so that end tags closing nothing cost the same however many unended
// tags are open.
size_t DocumentParser::FindOpenTag(std::u16string_view name) {
    size_t size = openTags_.size();
    size_t direct = std::min(size, kDirectSearchDepth);
    for (size_t i = size; i > size - direct; --i) {
        if (NameOf(openTags_[i - 1]) == name) {
            return i;
        }
    }
    if (direct == size) {
        return 0;
    }
    IndexOpenTags();
    auto found = innermostByName_.find(name);
    if (found == innermostByName_.end() || found->second == kNoOpenTag) {
        return 0;
    }
    return found->second + 1;
}

// Adds the open tags pushed since the last search to the name index; each tag is added once
// for as long as it stays open.
void DocumentParser::IndexOpenTags() {
    for (; indexedTags_ < openTags_.size(); ++indexedTags_) {
        OpenTag& tag = openTags_[indexedTags_];
        auto entry = innermostByName_.try_emplace(NameOf(tag), kNoOpenTag).first;
        tag.sameNameBelow = entry->second;
        entry->second = static_cast<uint32_t>(indexedTags_);
    }
}

// Pops the open tags above the first `keep`, taking each indexed one out of the name index.
void DocumentParser::PopOpenTags(size_t keep) {
    while (openTags_.size() > keep) {
        const OpenTag& tag = openTags_.back();
        if (openTags_.size() <= indexedTags_) {
            innermostByName_.find(NameOf(tag))->second = tag.sameNameBelow;
            indexedTags_ = openTags_.size() - 1;
        }
        openTags_.pop_back();
    }
}

void DocumentParser::LogLoneEndTag(const XmlNode& node, std::u16string_view name) {
    AppendLogEntry(log_, u"lone_end_tag",
                   {LogText(u"tagname", name), LogNumber(u"offset", node.start)});
    MarkError();
}

void DocumentParser::MarkError() {
    index_[0].levelMarks |= kMarkNotWellFormed;
    uint32_t open = CurrentOpen();
    if (open != 0) {
        index_[open].levelMarks |= kMarkErrorInside;
    }
}

// Unends every open element above the first `keep`, innermost first in the log. Each one's
// children follow it as siblings, so all of them and their former children end up, in document
// order, as children of the element that stays open (or at root level).
void DocumentParser::UnendAbove(size_t keep, size_t offset2) {
    if (openTags_.size() <= keep) {
        return;
    }
    for (size_t i = openTags_.size(); i > keep; --i) {
        const OpenTag& tag = openTags_[i - 1];
        AppendLogEntry(log_, u"unended_start_tag",
                       {LogText(u"tagname", NameOf(tag)),
                        LogNumber(u"offset", index_[tag.element].start),
                        LogNumber(u"offset2", offset2)});
    }
    uint32_t newParent = keep == 0 ? 0 : openTags_[keep - 1].element;
    uint32_t depth = index_[openTags_[keep].element].Depth();
    bool errorInside = false;
    uint32_t last = 0;
    for (size_t i = keep; i < openTags_.size(); ++i) {
        uint32_t element = openTags_[i].element;
        uint32_t nextUnended = i + 1 < openTags_.size() ? openTags_[i + 1].element : 0;
        ElementRecord& record = index_[element];
        errorInside = errorInside || record.Has(kMarkErrorInside);
        record.levelMarks &= ~kMarkErrorInside;
        record.levelMarks |= kMarkUnended;
        record.length = record.StartTagLength();
        record.SetTagLengths(record.length, 0);
        last = FlattenChildren(element, newParent, depth, nextUnended);
    }
    PopOpenTags(keep);
    ElementRecord& parent = index_[newParent];
    index_[parent.firstChild].previousSibling = last;
    index_[0].levelMarks |= kMarkNotWellFormed;
    if (errorInside && newParent != 0) {
        parent.levelMarks |= kMarkErrorInside;
    }
}

// Makes the children of `element` its following siblings under `newParent` and returns the
// last of them (or `element` when it had none). `nextUnended` is unended in the same pass, so
// its own subtree is left for that step. Only the moved elements get their depth here: a moved
// subtree would be walked again each time an element enclosing it is unended, so the depths
// inside moved subtrees are set once, after the parse.
uint32_t DocumentParser::FlattenChildren(uint32_t element, uint32_t newParent, uint32_t depth,
                                         uint32_t nextUnended) {
    ElementRecord& record = index_[element];
    uint32_t first = record.firstChild;
    record.firstChild = 0;
    if (first == 0) {
        return element;
    }
    record.nextSibling = first;
    ElementRecord& firstRecord = index_[first];
    uint32_t last = firstRecord.previousSibling;
    firstRecord.previousSibling = element;
    firstRecord.levelMarks &= ~kMarkFirstChild;
    for (uint32_t child = first; child != 0; child = index_[child].nextSibling) {
        ElementRecord& childRecord = index_[child];
        childRecord.parent = newParent;
        childRecord.SetDepth(depth);
        if (child != nextUnended && childRecord.firstChild != 0) {
            depthsStale_ = true;
        }
    }
    return last;
}

void DocumentParser::SetSubtreeDepth(uint32_t element, uint32_t depth) {
    index_[element].SetDepth(depth);
    std::vector<uint32_t> pending{element};
    while (!pending.empty()) {
        uint32_t parent = pending.back();
        pending.pop_back();
        uint32_t childDepth = index_[parent].Depth() + 1;
        for (uint32_t child = index_[parent].firstChild; child != 0;
             child = index_[child].nextSibling) {
            index_[child].SetDepth(childDepth);
            pending.push_back(child);
        }
    }
}

uint32_t DocumentParser::CurrentOpen() const {
    return openTags_.empty() ? 0 : openTags_.back().element;
}

std::u16string_view DocumentParser::NameOf(const OpenTag& tag) const {
    return text_.substr(tag.nameStart, tag.nameLength);
}

} // namespace velunor::internal
