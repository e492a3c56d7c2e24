// Going on with downloads that were cut short.

#include "library/resume_novels.h"

#include "core/core.h"
#include "library/contents_page.h"
#include "library/internal/novel_claim.h"
#include "library/novel_download_job.h"
#include "net/cookie_jar.h"

#include <thread>

namespace velunor {

std::u16string ResumeOffer(size_t novels) {
    return DecimalText(static_cast<long long>(novels)) + u" 本小说有未完成的章节，点击继续下载";
}

std::vector<std::u16string> SettleInterruptedNovels(const std::u16string& programFolder,
                                                    const std::vector<std::u16string>& folders) {
    std::vector<std::u16string> settled;
    for (const std::u16string& folder : folders) {
        // A novel a job holds is under way, in this process or another.
        internal::CNovelClaim claim(programFolder, folder);
        if (claim.Held()) {
            // A page that cannot be written only keeps its old line; the novel goes on all the
            // same.
            WriteContentsPageFromIndex(programFolder, folder);
            settled.push_back(folder);
        }
    }
    return settled;
}

void ResumeNovels(WindowPort& window, const std::u16string& programFolder,
                  const std::vector<std::u16string>& folders) {
    int finished = 0;
    for (const std::u16string& folder : folders) {
        NovelJobOutcome outcome = RetryNovel(window, programFolder, folder);
        finished += outcome.Succeeded() ? 1 : 0;
    }
    window.SetStatusText(u"继续下载完成：" + DecimalText(finished) + u"/" +
                         DecimalText(static_cast<long long>(folders.size())) +
                         u" 本小说已下载全部章节。");
}

void StartResumeNovels(WindowPort& window, const std::u16string& programFolder,
                       std::vector<std::u16string> folders) {
    std::thread([&window, programFolder, folders = std::move(folders)] {
        ResumeNovels(window, programFolder, folders);
        // A cookie a site set in the last seconds of the jobs goes to its file now.
        SaveCookieJars();
    }).detach();
}

} // namespace velunor
