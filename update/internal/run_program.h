#pragma once
// Starting the updater: once waiting for its answer, once leaving it to install.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace velunor::internal {

/// Runs `program` with `arguments` and waits at most `timeout` for it. Its exit code; empty
/// when it could not be started, had not ended in time (it is left running), or was killed by
/// a signal. Blocks.
std::optional<int> RunAndWait(const std::u16string& program,
                              const std::vector<std::string>& arguments,
                              std::chrono::milliseconds timeout);

/// Starts `program` with `arguments` without waiting for it; false when it cannot be started.
bool StartProgram(const std::u16string& program, const std::vector<std::string>& arguments);

} // namespace velunor::internal
