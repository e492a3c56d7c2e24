#pragma once
// Structural checks of a document's element index, shared by the tests and the fuzz target:
// every link, mark, offset and length must agree with the text and with each other.

#include "xml/internal/element_index.h"
#include "xml/xml_document.h"

#include <string>
#include <vector>

namespace velunor::testing {

/// A description of the first broken invariant of `document`'s index; empty when it is sound.
inline std::string CheckElementIndex(const CXmlDocument& document) {
    using namespace internal;
    const ElementIndex& index = document.Index();
    const std::u16string& text = document.GetDocumentText();
    if (index[0].length != text.size()) {
        return "record 0 length differs from the text length";
    }
    std::vector<bool> seen(index.NextFree(), false);
    std::vector<uint32_t> parents{0};
    while (!parents.empty()) {
        uint32_t parent = parents.back();
        parents.pop_back();
        const ElementRecord& parentRecord = index[parent];
        size_t contentStart = parent == 0 ? 0 : parentRecord.start + parentRecord.StartTagLength();
        size_t contentEnd =
            parent == 0 ? text.size() : parentRecord.End() - parentRecord.EndTagLength();
        uint32_t previous = 0;
        size_t previousEnd = contentStart;
        for (uint32_t child = parentRecord.firstChild; child != 0;
             child = index[child].nextSibling) {
            std::string where = "element " + std::to_string(child) + ": ";
            if (child >= index.NextFree() || seen[child]) {
                return where + "out of range or reached twice";
            }
            seen[child] = true;
            const ElementRecord& record = index[child];
            if (record.Has(kMarkDeleted)) {
                return where + "deleted but still linked";
            }
            if (record.parent != parent) {
                return where + "wrong parent";
            }
            if (record.Has(kMarkFirstChild) != (previous == 0)) {
                return where + "first-child mark wrong";
            }
            if (previous != 0 && record.previousSibling != previous) {
                return where + "previous-sibling link wrong";
            }
            uint32_t expectedDepth = parent == 0 ? 0 : parentRecord.Depth() + 1;
            if (expectedDepth < kMaxDepth && record.Depth() != expectedDepth) {
                return where + "depth wrong";
            }
            if (record.start < previousEnd || record.End() > contentEnd) {
                return where + "outside its parent's content or overlapping its sibling";
            }
            if (text[record.start] != u'<' ||
                text[record.start + record.StartTagLength() - 1] != u'>') {
                return where + "start tag does not span <...>";
            }
            uint32_t endTag = record.EndTagLength();
            if (endTag == 0 && record.length != record.StartTagLength()) {
                return where + "length without end tag differs from the start tag";
            }
            if (endTag != 0 && (text.compare(record.End() - endTag, 2, u"</") != 0 ||
                                text[record.End() - 1] != u'>')) {
                return where + "end tag does not span </...>";
            }
            previous = child;
            previousEnd = record.End();
            parents.push_back(child);
        }
        if (parentRecord.firstChild != 0 &&
            index[parentRecord.firstChild].previousSibling != previous) {
            return "element " + std::to_string(parent) + ": last-child link wrong";
        }
    }
    for (uint32_t i = 1; i < index.NextFree(); ++i) {
        if (!seen[i] && !index[i].Has(kMarkDeleted)) {
            return "element " + std::to_string(i) + ": live but unreachable";
        }
    }
    return {};
}

/// The elements of `document` in document order as "start+length:tags@depth" entries, to
/// compare an edited index with a fresh parse of the same text.
inline std::vector<std::string> DescribeElements(const CXmlDocument& document) {
    using namespace internal;
    const ElementIndex& index = document.Index();
    std::vector<std::string> out;
    // Depth-first in document order: children of an element come right after it.
    std::vector<uint32_t> stack;
    for (uint32_t child = index[0].firstChild; child != 0; child = index[child].nextSibling) {
        stack.insert(stack.begin(), child);
    }
    while (!stack.empty()) {
        uint32_t element = stack.back();
        stack.pop_back();
        const ElementRecord& record = index[element];
        out.push_back(std::to_string(record.start) + "+" + std::to_string(record.length) + ":" +
                      std::to_string(record.StartTagLength()) + "/" +
                      std::to_string(record.EndTagLength()) + "@" + std::to_string(record.Depth()) +
                      (record.Has(kMarkUnended) ? "u" : ""));
        std::vector<uint32_t> children;
        for (uint32_t child = record.firstChild; child != 0; child = index[child].nextSibling) {
            children.push_back(child);
        }
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return out;
}

} // namespace velunor::testing
