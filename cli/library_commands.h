#pragma once

namespace velunor::cli {

/// velunor-cli download N: opens row N of the last search as a double-click would and runs the
/// download job to its end, printing its status lines. 0 when the job finished its chapters.
int RunDownload(int argc, char** argv);

/// velunor-cli refetch PAGE.html: fetches one chapter page again as its "rest_down" link does,
/// reading the hidden fields from the page file. 0 when the chapter was stored.
int RunRefetch(int argc, char** argv);

/// velunor-cli shelf [open N | delete N]: lists the bookshelf, prints the contents page of
/// novel N, or deletes novel N with its folder.
int RunShelf(int argc, char** argv);

} // namespace velunor::cli
