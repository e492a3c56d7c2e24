#include "net/fetcher.h"

#include "core/core.h"
#include "net/internal/transfer.h"

#include <cstdio>
#include <memory>

namespace velunor {
namespace {

using internal::RunTransfer;
using internal::TransferOutcome;

constexpr std::string_view kGzipField = "Content-Encoding: gzip";

struct FileCloser {
    void operator()(std::FILE* file) const {
        std::fclose(file);
    }
};

// The file that FetchToFile appends to, opened when the first chunk arrives so that an empty
// body creates no file.
struct FileSink {
    std::string path;
    std::unique_ptr<std::FILE, FileCloser> file;
};

bool AppendToBuffer(std::string_view chunk, void* buffer) {
    static_cast<std::string*>(buffer)->append(chunk);
    return true;
}

// A chunk that cannot be written stops the transfer, so a file with a hole in it is never
// reported as stored.
bool AppendToFile(std::string_view chunk, void* sinkData) {
    auto* sink = static_cast<FileSink*>(sinkData);
    if (sink->file == nullptr) {
        sink->file.reset(std::fopen(sink->path.c_str(), "ab"));
    }
    if (sink->file == nullptr) {
        return false;
    }
    bool written = std::fwrite(chunk.data(), 1, chunk.size(), sink->file.get()) == chunk.size();
    return written && std::fflush(sink->file.get()) == 0;
}

// The page's bytes: the body itself, or its inflated form when the server says it is gzip
// (empty when it cannot be inflated).
std::string PageBytes(std::string body, std::string_view headers) {
    if (headers.find(kGzipField) == std::string_view::npos) {
        return body;
    }
    std::string inflated;
    InflateBody(body, inflated);
    return inflated;
}

} // namespace

std::u16string FetchPage(FetchResult& result, std::u16string_view url,
                         const FetchSettings& settings) {
    std::string body;
    std::string headers;
    TransferOutcome outcome = RunTransfer(result, url, settings, &AppendToBuffer, &body, headers);
    if (outcome != TransferOutcome::Completed) {
        return {};
    }
    return AnsiToWide(PageBytes(std::move(body), headers));
}

bool FetchToFile(FetchResult& result, std::u16string_view url, std::u16string_view path,
                 const FetchSettings& settings) {
    FileSink sink{NativePath(path), nullptr};
    std::string headers;
    TransferOutcome outcome = RunTransfer(result, url, settings, &AppendToFile, &sink, headers);
    return outcome == TransferOutcome::Completed;
}

std::u16string LocationText(const FetchResult& result) {
    return AnsiToWide(result.Location);
}

} // namespace velunor
