#pragma once
// What the chapter task and the on-demand fetch share: fetching one chapter page and cutting its
// text out, and storing the chapter's images beside its page.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velunor::internal {

/// One fetched chapter page.
struct FetchedChapter {
    /// The HTTP status of the chapter page, -1 when the transfer failed.
    int32_t StatusCode = 0;
    /// The chapter text cut out with the content pattern; empty when it matched nothing.
    std::u16string Text;
    /// The image addresses of the text as they stand in it, in order.
    std::vector<std::u16string> Images;
};

/// Fetches `url` and extracts its text and images; `charset` exactly "UTF-8" re-decodes the
/// page as UTF-8 first. Blocks on the network.
FetchedChapter FetchChapter(const std::u16string& url, const std::u16string& contentPattern,
                            const std::u16string& charset);

/// Stores every image of `chapter` in the images folder beside `pageFile`, resolving each
/// address against `chapterUrl`, and appends one image fragment per stored image to
/// `chapterText`. `beforeImage` (may be empty) is called with k (from 1) before image k.
/// False at the first image whose transfer failed; the images stored before it stay.
/// Blocks on the network.
bool StoreChapterImages(const FetchedChapter& chapter, const std::u16string& chapterUrl,
                        const std::u16string& pageFile, std::u16string& chapterText,
                        const std::function<void(int)>& beforeImage);

} // namespace velunor::internal
