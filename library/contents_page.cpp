// The contents page of a novel.

#include "library/contents_page.h"

#include "core/core.h"
#include "library/internal/novel_claim.h"
#include "library/library_layout.h"

namespace velunor {
namespace {

constexpr std::u16string_view kDownloadStatePlaceholder = u"{DownloadState}";

// What the contents page says of the download: under way, or how it ended.
std::u16string DownloadStateLine(const NovelIndex& index, bool running) {
    if (running) {
        return u"章节正在后台下载，未下载完的章节稍后打开即可阅读。";
    }
    int unfinished = index.UnfinishedCount();
    std::u16string all =
        u"全书共 " + DecimalText(static_cast<long long>(index.Chapters.size())) + u" 章";
    if (unfinished == 0) {
        return all + u"，已全部下载。";
    }
    return all + u"，其中 " + DecimalText(unfinished) +
           u" 章未能下载（已在目录中标出），可在书架上右键选择“重新下载失败章节”。";
}

} // namespace

std::u16string ComposeContentsPage(const std::u16string& contentsTemplate, const NovelIndex& index,
                                   bool running) {
    std::u16string rows;
    // Chapters fill the rows two by two, counted afresh under each heading, which takes a row
    // of its own.
    int inRow = 0;
    auto heading = [&](size_t k) {
        if (inRow % 2 == 1) {
            rows += ContentsClosingCell();
        }
        inRow = 0;
        rows += ContentsVolumeRow(index.Volumes[k].Name);
    };
    auto chapter = [&](size_t i) {
        const IndexedChapter& listed = index.Chapters[i];
        rows += ContentsRow(++inRow, ChapterPageName(listed.Page), listed.Name,
                            !running && !listed.IsFinished());
    };
    ForEachContentsEntry(index.Volumes, index.Chapters.size(), heading, chapter);
    if (inRow % 2 == 1) {
        rows += ContentsClosingCell();
    }
    std::u16string page = contentsTemplate;
    ReplaceAll(page, kNovelNamePlaceholder, index.NovelName);
    ReplaceAll(page, kContentsPlaceholder, rows);
    ReplaceAll(page, kDownloadStatePlaceholder, DownloadStateLine(index, running));
    return page;
}

bool WriteContentsPageFromIndex(const std::u16string& programFolder, const std::u16string& folder) {
    NovelIndex index;
    std::u16string encoding(kPageEncoding);
    std::u16string contentsTemplate;
    if (!LoadNovelIndex(folder, index) ||
        !ReadPage(encoding, TemplatePath(programFolder, kContentsPageName), contentsTemplate) ||
        contentsTemplate.find(kContentsPlaceholder) == std::u16string::npos) {
        return false;
    }
    return WritePage(encoding, folder + u"/" + std::u16string(kContentsPageName),
                     ComposeContentsPage(contentsTemplate, index, false));
}

bool RewriteContentsPage(const std::u16string& programFolder, const std::u16string& folder) {
    // Held while the page is written, so that no job starts meanwhile and finds it half done.
    internal::CNovelClaim claim(programFolder, folder);
    return claim.Held() && WriteContentsPageFromIndex(programFolder, folder);
}

} // namespace velunor
