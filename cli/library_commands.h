#pragma once

namespace velunor::cli {

/// velunor-cli download N: opens row N of the last search as a double-click would and runs the
/// download job to its end, printing its status lines. 0 when the job finished its chapters
/// and the novel is on the bookshelf.
int RunDownload(int argc, char** argv);

/// velunor-cli update N: updates novel N of the bookshelf as its "更新小说" menu item does. 0
/// when every chapter the update fetched was stored.
int RunUpdate(int argc, char** argv);

/// velunor-cli retry N: fetches the failed and unfinished chapters of novel N of the bookshelf
/// again, as its "重新下载失败章节" menu item does. 0 when every one was stored.
int RunRetry(int argc, char** argv);

/// velunor-cli refetch PAGE.html: fetches one chapter page again as its "rest_down" link does,
/// reading the hidden fields from the page file. 0 when the chapter was stored; 1, changing
/// nothing, when the page file cannot be read.
int RunRefetch(int argc, char** argv);

/// velunor-cli shelf [open N | delete N]: lists the bookshelf, prints the contents page of
/// novel N, or deletes novel N with its folder; 1 when the bookshelf file could not be saved
/// without it (the novel and its folder then stay).
int RunShelf(int argc, char** argv);

} // namespace velunor::cli
