#pragma once
// What the check's walk and the draft share. Only the draft module includes this header.

#include <vector>

namespace velunor::draft::internal {

/// The chapters a walk reads, numbered from 1: the first, the middle and the last of `count`,
/// each once.
std::vector<int> ChaptersToCheck(int count);

} // namespace velunor::draft::internal
