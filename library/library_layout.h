#pragma once
// The on-disk library: folder and page names, the placeholders of the two page templates, the
// HTML fragments Velunor inserts into pages, and the checks that keep every write inside the
// library's Novel/ folder (beside the program, or in the user's library folder when installed,
// see core/folder_layout.h). Stateless; every function may be called from any thread.

#include <string>
#include <string_view>
#include <vector>

namespace velunor {

/// Placeholders of the contents page template.
inline constexpr std::u16string_view kNovelNamePlaceholder = u"{NovelName}";
inline constexpr std::u16string_view kContentsPlaceholder = u"{Contents}";
/// Placeholders of the chapter page template.
inline constexpr std::u16string_view kRuleFilePathPlaceholder = u"{RuleFilePath}";
inline constexpr std::u16string_view kChapterUrlPlaceholder = u"{ChapterUrl}";
inline constexpr std::u16string_view kChapterSaveFilePlaceholder = u"{ChapterSaveFile}";
inline constexpr std::u16string_view kChapterNamePlaceholder = u"{ChapterName}";
inline constexpr std::u16string_view kPrevChapterUrlPlaceholder = u"{PrevChapterUrl}";
inline constexpr std::u16string_view kNextChapterUrlPlaceholder = u"{NextChapterUrl}";
inline constexpr std::u16string_view kDownStatePlaceholder = u"{DownState}";
inline constexpr std::u16string_view kChapterContentPlaceholder = u"{ChapterContent}";

/// The placeholders without which the pages made from a template could not be read back,
/// updated or fetched into: the chapter page's hidden fields and chapter text, and the contents
/// page's chapter list.
inline constexpr std::u16string_view kChapterTemplateNeeds[] = {
    kRuleFilePathPlaceholder, kChapterUrlPlaceholder, kChapterSaveFilePlaceholder,
    kDownStatePlaceholder, kChapterContentPlaceholder};
inline constexpr std::u16string_view kContentsTemplateNeeds[] = {kContentsPlaceholder};

/// Download states written into a chapter page.
inline constexpr std::u16string_view kStateStored = u"1";
inline constexpr std::u16string_view kStateNoText = u"0";
inline constexpr std::u16string_view kStateFailed = u"-1";
/// Written into a page whose chapter has not been fetched yet.
inline constexpr std::u16string_view kStatePending = u"-2";

/// File name of a novel's contents page, and the link to it from its chapters.
inline constexpr std::u16string_view kContentsPageName = u"ContentsPage.html";

/// The encoding every page job starts with, before its first template or page read. Pages
/// written earlier in GB2312 read the same way: every GBK byte sequence means the same
/// character in GB18030.
inline constexpr std::u16string_view kPageEncoding = u"GB18030";
/// The charset a page written in the page encoding declares. A browser reads a page labelled
/// gb2312 or gbk as GBK, which lacks the four-byte sequences GB18030 writes for characters
/// outside GBK (a rare name character, an emoji).
inline constexpr std::u16string_view kPageCharsetLabel = u"gb18030";

/// The library's Novel/ folder for `programFolder` (ending in "/"): beside the executable for a
/// portable copy, in the library folder of the process's layout for an installed one (see
/// FolderLayoutFor).
std::u16string NovelRootFolder(const std::u16string& programFolder);
/// The folder of the sites' cookie jars in the layout of `programFolder` (portable: its
/// Config/Cookies/).
std::u16string CookieFolderPath(const std::u16string& programFolder);
/// The folder where the program's processes share when each paced site was last asked: Pacing/
/// beside the cookie folder (portable: Config/Pacing/ of `programFolder`, ending in "/";
/// installed: in the user's state folder). Empty when there is no cookie folder.
std::u16string PacingFolderPath(const std::u16string& programFolder);
/// The novel folder: Novel/ + site name + "/" + page name, both names cleaned into single
/// path components. No "/" at the end.
std::u16string NovelFolderPath(const std::u16string& programFolder, std::u16string_view siteName,
                               std::u16string_view pageName);
/// Template/ + `name` in the shipped folder of the layout of `programFolder` (portable: the
/// program folder).
std::u16string TemplatePath(const std::u16string& programFolder, std::u16string_view name);
/// The folder part of `path`, up to its last "/" (excluded); empty when it has none.
std::u16string FolderOfFile(std::u16string_view path);

/// "n.html" for chapter n (from 1), in decimal without leading zeros.
std::u16string ChapterPageName(int n);

/// The contents table fragment of the chapter at `position` (from 1) whose page is `pageName`:
/// odd positions open a row, even ones close it. A chapter that is not stored (`failed`) is
/// marked as such after its title.
std::u16string ContentsRow(int position, std::u16string_view pageName, std::u16string_view title,
                           bool failed);
/// The empty cell that closes the last row of a novel with an odd chapter count, or of a
/// volume's chapters with one.
std::u16string ContentsClosingCell();
/// The row of a volume heading, across both columns, inserted as the site wrote it as chapter
/// titles are; the chapters under it start a new row.
std::u16string ContentsVolumeRow(std::u16string_view name);

/// A chapter as a contents page lists it: its page file and its title.
struct ContentsLink {
    std::u16string PageName;
    std::u16string Title;
};
/// The chapters the text of a contents page lists in its rows (see ContentsRow), in order.
std::vector<ContentsLink> ContentsLinksOfPage(std::u16string_view contentsPage);

/// A value as it is written into a hidden field of a chapter page: HTML-escaped.
std::u16string HiddenFieldText(std::u16string_view value);

/// A hidden field's value from the inner HTML the page shows: entities decoded.
std::u16string HiddenFieldValue(std::u16string_view innerHtml);
/// What the text of a page holds in the element with id `id` (a hidden field), as written (see
/// html::ElementInnerHtml); empty when it has no such element or the page ends inside it.
std::u16string PageElementText(std::u16string_view pageText, std::u16string_view id);
/// The chapter address that the text of a chapter page records in its hidden field; empty when
/// it holds none.
std::u16string RecordedChapterUrl(std::u16string_view pageText);
/// The number n of a chapter page's file name "n.html"; 0 when `name` is not one.
int ChapterPageNumber(std::u16string_view name);
/// The page file of the chapter after the one whose page file is `pageFile` ("7.html" gives
/// "8.html" beside it); empty when the file name is not one of a chapter page.
std::u16string NextChapterPageFile(std::u16string_view pageFile);
/// The hidden state element of a chapter page holding `state`, character for character as the
/// template holds it.
std::u16string DownStateElement(std::u16string_view state);

/// The chapter text block of a chapter page: the job puts it where the template has
/// "{ChapterContent}", and the chapter task and the on-demand fetch replace what lies between its
/// start and its end. A page written before pages had it holds "{ChapterContent}" instead.
inline constexpr std::u16string_view kChapterTextStart = u"<div id=\"chapter_text\">";
inline constexpr std::u16string_view kChapterTextEnd = u"<!--/chapter_text--></div>";

/// What a chapter page is made of besides its state and text, each as the page shows it.
struct ChapterPageFields {
    /// The rule file, stored as StoredRuleFile gives it.
    std::u16string RuleFile;
    std::u16string ChapterUrl;
    /// The page's own file, stored as StoredLibraryPath gives it.
    std::u16string PageFile;
    std::u16string NovelName;
    std::u16string ChapterName;
    /// The page files the "上一章" and "下一章" links lead to.
    std::u16string PrevPage;
    std::u16string NextPage;
};

/// A chapter page made from the chapter page template `pageTemplate`: its fields, `state` in
/// the hidden down_state field, and `content` in the chapter text block.
std::u16string ComposeChapterPage(std::u16string_view pageTemplate, const ChapterPageFields& fields,
                                  std::u16string_view state, std::u16string_view content);
/// What the chapter text block of `page` holds; false when the page has no block.
bool ChapterTextOfPage(std::u16string_view page, std::u16string& content);

/// The chapter text block holding `content`.
std::u16string ChapterTextBlock(std::u16string_view content);
/// Puts `content` into the chapter text block of `page`, or, in a page written before pages had
/// one, in place of its "{ChapterContent}" placeholder, which then becomes the block. False when
/// the page has neither.
bool ReplaceChapterText(std::u16string& page, std::u16string_view content);
/// What a chapter page shows while its chapter has not been fetched yet.
std::u16string PendingChapterNotice();
/// What a chapter page shows when its chapter could not be fetched, and why (`reason`).
std::u16string FailedChapterNotice(std::u16string_view reason);

/// The form a path of the library is stored in (bookshelf, chapter index, a page's hidden
/// field): relative to the Novel/ folder ("site/novel/3.html") when it lies below this program's
/// Novel/ folder, so that the program folder can be copied or moved; otherwise as it is.
std::u16string StoredLibraryPath(const std::u16string& programFolder, std::u16string_view path);
/// The path on disk of a stored library path. A relative one lies below Novel/. An absolute one
/// was written before paths were stored relative: when it names a file below some other
/// program's Novel/ folder (the program folder was copied or moved) and this program's Novel/
/// holds the same site/novel/file, that file; otherwise the path as it is. Purely a mapping:
/// the safety checks below still decide what may be written.
std::u16string ResolveLibraryPath(const std::u16string& programFolder, std::u16string_view stored);
/// ResolveLibraryPath with the program's Novel/ folder `root` (NovelRootFolder) already found,
/// for resolving many paths at once.
std::u16string ResolveLibraryPathIn(const std::u16string& programFolder, const std::u16string& root,
                                    std::u16string_view stored);
/// The form a rule file's path is stored in: its name when it lies in one of the layout's rule
/// folders (portable: the program's Rule/); otherwise as it is.
std::u16string StoredRuleFile(const std::u16string& programFolder, std::u16string_view path);
/// The path of a stored rule file: a plain name is the file of that name in the first rule
/// folder holding one (the user's before the shipped; the last folder when none does); an
/// absolute path written before, whose file name a rule folder holds, is taken from there.
std::u16string ResolveRuleFile(const std::u16string& programFolder, std::u16string_view stored);

/// True when `path` is a page of the library: NovelRootFolder + site + "/" + novel +
/// "/" + file ending in ".html", with no empty, "." or ".." component. Purely textual.
bool IsLibraryPage(const std::u16string& programFolder, std::u16string_view path);
/// True when `folder` is a novel folder of the library: NovelRootFolder + site + "/" +
/// novel, with no empty, "." or ".." component (so never Novel/ itself or a site folder).
bool IsNovelFolder(const std::u16string& programFolder, std::u16string_view folder);
/// True when `path` really lies inside the program's Novel/ folder: every symbolic link among
/// the parts of `path` that exist is resolved, and what they lead to must be below the real
/// Novel/ folder (a Novel/ folder that is itself a link counts where it leads). A path that
/// cannot be resolved (a dangling link, a missing Novel/ folder) does not. The textual checks
/// above cannot see links; this one blocks on the disk.
bool IsInsideRealNovelRoot(const std::u16string& programFolder, std::u16string_view path);

/// Reads a template or page into `text` with the job's encoding variable (in/out); a file that
/// cannot be read gives empty text and false. Blocks on the disk.
bool ReadPage(std::u16string& encoding, std::u16string_view path, std::u16string& text);
/// Writes `text` to the page file `path` in the job's encoding; false when it cannot be written.
/// A page written in the page encoding declares kPageCharsetLabel: every charset a meta tag in
/// its head names is set to it, so that a page written earlier with another label, and
/// rewritten now, shows every character it holds. Blocks on the disk.
bool WritePage(std::u16string& encoding, std::u16string_view path, std::u16string_view text);

} // namespace velunor
