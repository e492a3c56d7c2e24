#pragma once
// One element of a document's index: eight 32-bit fields.

#include <cstdint>

namespace velunor::internal {

/// Level-and-marks bit: the record was removed and waits on the deleted list.
inline constexpr uint32_t kMarkDeleted = 0x20000;
/// Level-and-marks bit: the element is the first child of its parent.
inline constexpr uint32_t kMarkFirstChild = 0x80000;
/// Level-and-marks bit: a start tag that no end tag closes.
inline constexpr uint32_t kMarkUnended = 0x100000;
/// Level-and-marks bit: a lone end tag or a syntax error met while this was the innermost open
/// element.
inline constexpr uint32_t kMarkErrorInside = 0x200000;
/// Level-and-marks bit, on record 0 only: the document is not well-formed.
inline constexpr uint32_t kMarkNotWellFormed = 0x800000;

/// The longest start tag and end tag the tag-lengths field can hold, and the deepest level.
inline constexpr uint32_t kMaxStartTagLength = 0x3FFFFF;
inline constexpr uint32_t kMaxEndTagLength = 0x3FF;
inline constexpr uint32_t kMaxDepth = 0xFFFF;

struct ElementRecord {
    uint32_t start = 0;      ///< offset of the "<" of the start tag
    uint32_t length = 0;     ///< up to the end of the end tag, or the start tag alone
    uint32_t tagLengths = 0; ///< low 22 bits start-tag length, high 10 bits end-tag length
    uint32_t levelMarks = 0; ///< low 16 bits depth, the kMark bits above
    uint32_t parent = 0;
    uint32_t firstChild = 0;
    uint32_t nextSibling = 0;     ///< 0 for the last child; the deleted chain for removed records
    uint32_t previousSibling = 0; ///< for the first child: the parent's last child

    uint32_t StartTagLength() const {
        return tagLengths & kMaxStartTagLength;
    }
    uint32_t EndTagLength() const {
        return tagLengths >> 22;
    }
    void SetTagLengths(uint32_t startTag, uint32_t endTag) {
        tagLengths = startTag | (endTag << 22);
    }
    uint32_t Depth() const {
        return levelMarks & kMaxDepth;
    }
    void SetDepth(uint32_t depth) {
        uint32_t bounded = depth < kMaxDepth ? depth : kMaxDepth;
        levelMarks = (levelMarks & ~kMaxDepth) | bounded;
    }
    bool Has(uint32_t mark) const {
        return (levelMarks & mark) != 0;
    }
    uint32_t End() const {
        return start + length;
    }
};

} // namespace velunor::internal
