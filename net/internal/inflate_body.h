#pragma once
// InflateBody with the reason for a failure kept: the fetcher tells a body too large to inflate
// from one that is not compressed at all. Only the fetcher's own files and tests include this.

#include <cstddef>
#include <string>
#include <string_view>

namespace velunor::internal {

enum class InflateOutcome { Inflated, Unreadable, OverLimit };

/// InflateBody's work: Inflated when `output` holds the whole inflated body; otherwise `output`
/// is empty and the outcome says whether the body is no gzip, zlib or raw-deflate stream (or is
/// damaged) or would inflate to more than `outputLimit`. Does not block.
InflateOutcome InflateWithin(std::string_view body, std::string& output, std::size_t outputLimit);

} // namespace velunor::internal
