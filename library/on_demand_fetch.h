#pragma once
// The on-demand chapter fetch: the reader's "rest_down" link fetches the displayed chapter
// again and rewrites its page file in place.

#include "port/window_port.h"

#include <string>

namespace velunor {

/// Reads the hidden fields of the page the window shows, fetches the chapter with the site's
/// current rule, stores its images and rewrites the page's state (and, on success, its text),
/// then shows the page again. A page file that is not a page of the library below
/// `programFolder` (ending in "/") is left alone, and the status line says so. Meant as the
/// body of a detached thread, one per click; `window` must outlive it. Blocks on the network
/// and on message boxes.
void OnDemandChapterFetch(WindowPort* window, std::u16string programFolder);

} // namespace velunor
