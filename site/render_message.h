#pragma once
// The messages velunor-cli and its renderer program exchange over the renderer's standard input
// and output: a "render" asks for a page, a "cancel" ends one early, a "page" answers one. Every
// message names the load it belongs to, so several loads run at once on one pipe.
//
// On the pipe a message is a line "<kind> <load> <field count>", then each field as a line
// "<name> <byte count>" followed by exactly those bytes and a line end. Lengths, not separators,
// end the fields, so a page may hold any byte.

#include "site/page_renderer.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velunor {

struct RenderMessage {
    /// "render", "cancel" or "page".
    std::string Kind;
    /// The load the message belongs to, numbered by the side that asked.
    std::uint64_t Load = 0;
    /// Named byte strings; a name may come more than once (one cookie line each).
    std::vector<std::pair<std::string, std::string>> Fields;
};

/// The bytes of `message` on the pipe.
std::string EncodeRenderMessage(const RenderMessage& message);

/// Reads messages from a file descriptor (a pipe), one at a time.
class CRenderMessageReader {
  public:
    /// Reads from `descriptor`, which the caller keeps open and closes.
    explicit CRenderMessageReader(int descriptor) : descriptor_(descriptor) {}

    /// The next message into `message` (replaced). False at the end of the input, on a read
    /// error, or on bytes that are not a message (a field longer than the page limit allows, a
    /// broken line): nothing more can be read then. Blocks until a whole message has arrived.
    bool Next(RenderMessage& message);

  private:
    bool ReadLine(std::string& line);
    bool ReadBytes(std::size_t count, std::string& bytes);
    bool Fill();

    int descriptor_;
    std::string buffer_;
    std::size_t position_ = 0;
};

/// The message asking for `request` as load `load`.
RenderMessage RenderRequestMessage(std::uint64_t load, const RenderRequest& request);
/// The request a "render" message asks for; false when it is no such message or misses its
/// address.
bool ReadRenderRequest(const RenderMessage& message, RenderRequest& request);

/// The message answering load `load` with `page`.
RenderMessage RenderedPageMessage(std::uint64_t load, const RenderedPage& page);
/// The page a "page" message answers with; false when it is no such message.
bool ReadRenderedPage(const RenderMessage& message, RenderedPage& page);

/// The message that ends load `load` early.
RenderMessage CancelRenderMessage(std::uint64_t load);

} // namespace velunor
