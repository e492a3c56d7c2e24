#pragma once
// One HTTP GET with the fetcher's fixed request and limits, shared by FetchPage and FetchToFile.
// Free of libcurl's header, so tests may include it.

#include "net/fetcher.h"

#include <string>
#include <string_view>

namespace velunor::internal {

/// Takes one chunk of the body as it arrives; false stops the transfer, which then fails.
using BodySink = bool (*)(std::string_view chunk, void* sinkData);

enum class TransferOutcome { NotStarted, Failed, Completed };

/// Runs one GET of `url` under `settings`, handing the body to `sink` and collecting the raw
/// response headers in `headers`. Sets result.StatusCode (-1 on failure, stall or cancel) and,
/// for a 302, result.Location; leaves `result` alone when the transfer cannot be set up. A
/// request already cancelled when it is called fails without connecting. Blocks; any thread.
TransferOutcome RunTransfer(FetchResult& result, std::u16string_view url,
                            const FetchSettings& settings, BodySink sink, void* sinkData,
                            std::string& headers);

/// The URL bytes as libcurl accepts them: every byte from 0x00 to 0x20 and 0x7F percent-encoded,
/// every other byte (GBK ones included) as it is.
std::string EscapeControlBytes(std::string_view url);

} // namespace velunor::internal
