#pragma once
// The element index of a document: records in segments of 65,536 that never move once full,
// so an index stays valid while the table grows.

#include "xml/internal/element_record.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace velunor::internal {

class ElementIndex {
  public:
    static constexpr uint32_t kSegmentSize = 65536;

    /// Record 0 only, no capacity beyond it.
    ElementIndex();

    /// Forgets every record but a cleared record 0 and makes room for `capacity` records.
    void Reset(size_t capacity);
    /// Frees every segment; record 0 stays, cleared.
    void Release();

    ElementRecord& operator[](uint32_t index) {
        return segments_[index >> 16][index & 0xFFFF];
    }
    const ElementRecord& operator[](uint32_t index) const {
        return segments_[index >> 16][index & 0xFFFF];
    }

    /// Takes the next free index for a cleared record, growing the table by half when it is
    /// full. References to records taken before this call may dangle afterwards.
    uint32_t Allocate();
    /// Marks `index` deleted and chains it into the deleted list.
    void PushDeleted(uint32_t index);

    /// Links `child` as the last child of `parent` (0: root level), first-child mark included.
    void LinkAsLastChild(uint32_t parent, uint32_t child);
    /// Links `element` as the next sibling of `anchor`.
    void LinkAfter(uint32_t anchor, uint32_t element);
    /// Links `element` as the previous sibling of `anchor`.
    void LinkBefore(uint32_t anchor, uint32_t element);
    /// Takes `element` out of its parent's child chain, passing on the first-child mark and the
    /// last-child link.
    void Unlink(uint32_t element);

    /// True for an index of a record in use: above 0, below the next free index, not deleted.
    bool IsLive(uint32_t index) const;

    uint32_t NextFree() const {
        return nextFree_;
    }
    uint32_t DeletedHead() const {
        return deletedHead_;
    }
    size_t Capacity() const {
        return capacity_;
    }
    size_t SegmentCount() const {
        return segments_.size();
    }

  private:
    void GrowStep(size_t wanted);
    void ResizeLastSegment(size_t size);
    void AddSegment(size_t size);

    std::vector<std::unique_ptr<ElementRecord[]>> segments_;
    size_t lastSegmentSize_ = 0;
    size_t capacity_ = 0;
    uint32_t nextFree_ = 1;
    uint32_t deletedHead_ = 0;
};

} // namespace velunor::internal
