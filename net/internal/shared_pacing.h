#pragma once
// Pacing shared between processes: two Velunor programs (the window and velunor-cli, or two
// terminals) asking the same site must keep its interval together, not each on its own. Every
// paced site has a small file in the pacing folder holding when a request to it last started;
// a request takes its turn by reading and rewriting that file under an exclusive lock, which
// is held only for that moment and never while the request runs.

#include <chrono>
#include <functional>
#include <string>

namespace velunor::internal {

/// The file of `host` (as SiteHostOf gives it) in the pacing folder `folder` (ending in "/").
std::u16string PacingFilePath(const std::u16string& folder, const std::string& host);

/// Waits until `interval` has passed since the start that the pacing file of `host` in `folder`
/// records, then records now as the start of a request. A missing, stale or damaged file counts
/// as no request; a file that cannot be made leaves the request unpaced across processes. Asks
/// `cancelled` (when given) at least every 100 ms: false when it turned true, and then nothing
/// is recorded. Blocks; any thread.
bool WaitForSharedTurn(const std::u16string& folder, const std::string& host,
                       std::chrono::milliseconds interval, const std::function<bool()>& cancelled);

} // namespace velunor::internal
