#pragma once
// What the chapter task and the on-demand fetch share once a chapter is fetched: its text made
// ready for its page, and its images stored beside the page file.

#include "library/novel_index.h"
#include "site/site.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velunor::internal {

/// The reasons a chapter page gives for a chapter that was fetched but not stored.
inline constexpr std::u16string_view kNoTextReason = u"未找到正文";
inline constexpr std::u16string_view kImageFailedReason = u"图片下载失败";

/// Why a chapter that is not Ok() failed, as its page tells the reader.
std::u16string ChapterFailureReason(const FetchedChapter& chapter);

/// The reason a page gives for an image of its chapter that could not be stored.
std::u16string ImageFailureReason(const SiteError& error);

/// The name under which image `number` (from 1, across the chapter) of the chapter stored in
/// `pageFile` is kept in the images folder: the page file's name up to its last ".", "_", the
/// number, and the extension of the file named at the end of `address` (before its query) when
/// it is 1 to 5 letters or digits ("12.html", 2, "http://x/a/1.JPG" gives "12_2.JPG"; without a
/// plain extension "12_2"); cleaned into one path component.
std::u16string ChapterImageFileName(std::u16string_view pageFile, int number,
                                    std::u16string_view address);

/// Appends the chapter's text to `chapterText`, page by page: each page's text, cleaned with
/// `replaceRule` when the page has no images (nothing is cleaned when it is empty), or else with
/// the src value of each of its image tags replaced by "images/" and the name of the stored
/// copy, the rest of the tag as the site sent it. Each image is resolved against the address of
/// its page, fetched once per chapter from `site` with that address as Referer, and stored in
/// the images folder beside `pageFile` under its ChapterImageFileName; `beforeImage` (may be
/// empty) is called with k (from 1, across the chapter) before image k is fetched. Stops at the
/// first image that could not be stored (its transfer failed, broke off or passed 20 MB, the
/// site refused it, or its answer was not a 2xx one with a body) and returns why. That image
/// leaves no file; the images stored before it stay. Blocks on the network.
SiteError ComposeChapterText(const Site& site, const FetchedChapter& chapter,
                             std::u16string_view replaceRule, const std::u16string& pageFile,
                             std::u16string& chapterText,
                             const std::function<void(int)>& beforeImage);

/// The site the stored novel of `index` is read from: the page finder's for a novel of a site
/// without a rule, else the site of its rule file in the program's Rule/ folder, whose rule is
/// empty when the file cannot be read.
std::shared_ptr<const Site> NovelSite(const std::u16string& programFolder, const NovelIndex& index);

} // namespace velunor::internal
