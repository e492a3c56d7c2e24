#include "xml/internal/element_index.h"

#include <algorithm>

namespace velunor::internal {

ElementIndex::ElementIndex() {
    Reset(1);
}

void ElementIndex::Reset(size_t capacity) {
    size_t wanted = std::max<size_t>(capacity, 1);
    while (capacity_ < wanted) {
        GrowStep(wanted);
    }
    nextFree_ = 1;
    deletedHead_ = 0;
    (*this)[0] = ElementRecord{};
}

void ElementIndex::Release() {
    segments_.clear();
    lastSegmentSize_ = 0;
    capacity_ = 0;
    Reset(1);
}

uint32_t ElementIndex::Allocate() {
    if (nextFree_ == capacity_) {
        GrowStep(capacity_ + std::max<size_t>(capacity_ / 2, 1));
    }
    uint32_t index = nextFree_;
    ++nextFree_;
    (*this)[index] = ElementRecord{};
    return index;
}

void ElementIndex::PushDeleted(uint32_t index) {
    ElementRecord& record = (*this)[index];
    record.levelMarks |= kMarkDeleted;
    record.nextSibling = deletedHead_;
    deletedHead_ = index;
}

bool ElementIndex::IsLive(uint32_t index) const {
    return index > 0 && index < nextFree_ && !(*this)[index].Has(kMarkDeleted);
}

// The first child's previous-sibling field names the last child, so appending needs no walk.
void ElementIndex::LinkAsLastChild(uint32_t parent, uint32_t child) {
    ElementRecord& parentRecord = (*this)[parent];
    ElementRecord& childRecord = (*this)[child];
    childRecord.parent = parent;
    childRecord.nextSibling = 0;
    if (parentRecord.firstChild == 0) {
        parentRecord.firstChild = child;
        childRecord.previousSibling = child;
        childRecord.levelMarks |= kMarkFirstChild;
        return;
    }
    ElementRecord& firstRecord = (*this)[parentRecord.firstChild];
    uint32_t last = firstRecord.previousSibling;
    (*this)[last].nextSibling = child;
    childRecord.previousSibling = last;
    firstRecord.previousSibling = child;
}

void ElementIndex::LinkAfter(uint32_t anchor, uint32_t element) {
    ElementRecord& anchorRecord = (*this)[anchor];
    ElementRecord& record = (*this)[element];
    uint32_t next = anchorRecord.nextSibling;
    record.parent = anchorRecord.parent;
    record.nextSibling = next;
    record.previousSibling = anchor;
    anchorRecord.nextSibling = element;
    if (next != 0) {
        (*this)[next].previousSibling = element;
        return;
    }
    (*this)[(*this)[record.parent].firstChild].previousSibling = element;
}

void ElementIndex::LinkBefore(uint32_t anchor, uint32_t element) {
    ElementRecord& anchorRecord = (*this)[anchor];
    if (!anchorRecord.Has(kMarkFirstChild)) {
        LinkAfter(anchorRecord.previousSibling, element);
        return;
    }
    ElementRecord& record = (*this)[element];
    record.parent = anchorRecord.parent;
    record.nextSibling = anchor;
    record.previousSibling = anchorRecord.previousSibling;
    record.levelMarks |= kMarkFirstChild;
    anchorRecord.previousSibling = element;
    anchorRecord.levelMarks &= ~kMarkFirstChild;
    (*this)[record.parent].firstChild = element;
}

void ElementIndex::Unlink(uint32_t element) {
    ElementRecord& record = (*this)[element];
    ElementRecord& parent = (*this)[record.parent];
    uint32_t next = record.nextSibling;
    if (record.Has(kMarkFirstChild)) {
        parent.firstChild = next;
        if (next != 0) {
            (*this)[next].previousSibling = record.previousSibling;
            (*this)[next].levelMarks |= kMarkFirstChild;
        }
    } else {
        uint32_t previous = record.previousSibling;
        (*this)[previous].nextSibling = next;
        if (next != 0) {
            (*this)[next].previousSibling = previous;
        } else {
            (*this)[parent.firstChild].previousSibling = previous;
        }
    }
    record.levelMarks &= ~kMarkFirstChild;
    record.nextSibling = 0;
    record.previousSibling = 0;
}

// Grows within the last segment when `wanted` fits there; otherwise completes the last
// segment and adds exactly one new segment, so full segments are never copied.
void ElementIndex::GrowStep(size_t wanted) {
    if (segments_.empty()) {
        AddSegment(std::min<size_t>(wanted, kSegmentSize));
        return;
    }
    size_t lastStart = (segments_.size() - 1) * kSegmentSize;
    if (wanted <= lastStart + kSegmentSize) {
        ResizeLastSegment(wanted - lastStart);
        return;
    }
    ResizeLastSegment(kSegmentSize);
    AddSegment(std::min<size_t>(wanted - capacity_, kSegmentSize));
}

void ElementIndex::ResizeLastSegment(size_t size) {
    if (size <= lastSegmentSize_) {
        return;
    }
    auto grown = std::make_unique<ElementRecord[]>(size);
    std::copy_n(segments_.back().get(), lastSegmentSize_, grown.get());
    segments_.back() = std::move(grown);
    capacity_ += size - lastSegmentSize_;
    lastSegmentSize_ = size;
}

void ElementIndex::AddSegment(size_t size) {
    if (segments_.size() == segments_.capacity()) {
        // The pointer table grows ahead of need so that it is rarely reallocated.
        segments_.reserve(2 * segments_.size() + 4);
    }
    segments_.push_back(std::make_unique<ElementRecord[]>(size));
    capacity_ += size;
    lastSegmentSize_ = size;
}

} // namespace velunor::internal
