#pragma once
// The on-demand chapter fetch: the reader's "rest_down" link fetches the displayed chapter
// again and rewrites its page file in place.

#include "port/window_port.h"
#include "site/site.h"

#include <string>
#include <string_view>

namespace velunor {

/// The last status line of a fetch that changed the page.
inline constexpr std::u16string_view kChapterRefetchedMessage = u"成功下载本章节！";
/// The last status line of a fetch that found the page already as the site has it.
inline constexpr std::u16string_view kChapterUnchangedMessage =
    u"本章内容与网站上的相同，未做改动。";

/// How an on-demand fetch ended.
enum class RefetchOutcome { Changed, Unchanged, Failed };

/// What an on-demand fetch did, and for a failed one why: the site's failure, NoMatch for a
/// chapter without text, WriteFailed for a page that could not be written, or no error for a
/// page or rule that could not be read (the site was not asked).
struct ChapterRefetch {
    RefetchOutcome Outcome = RefetchOutcome::Failed;
    SiteError Error;
};

/// Reads the hidden fields of the page the window shows, fetches the chapter with the site's
/// current rule (every page of it, up to the next chapter that the following chapter page
/// records or to a page not named after the chapter), stores its images and rewrites the page's
/// state and its text: the fetched text replaces whatever the page held, a failure shows why
/// (unless the page holds a chapter stored before, which keeps its text). A page that changed is
/// shown again; one the fetch left as it was is not, and the status line says so. A page file that
/// is not a page of the library below `programFolder` (ending in "/"), or whose real location once
/// links are resolved is outside its Novel/ folder, is left alone, as is a page whose file or rule
/// file cannot be read; the status line says which. Meant as the body of a detached thread, one per
/// click; `window` must outlive it. Blocks on the network and on message boxes.
ChapterRefetch OnDemandChapterFetch(WindowPort* window, std::u16string programFolder);

} // namespace velunor
