// Fetching a chapter page and storing its images.

#include "library/internal/chapter_fetch.h"

#include "core/core.h"
#include "library/library_layout.h"
#include "net/fetcher.h"
#include "rules/rules.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>

namespace velunor::internal {
namespace {

// The image files being stored right now, by full path. Images are named by their file name
// alone, so two chapters (of one job, of two jobs of the same novel, or an on-demand fetch)
// may aim at the same file; as FetchToFile appends, each store must have the file to itself.
class ImageFileClaims {
  public:
    void Claim(const std::u16string& path) {
        std::unique_lock lock(mutex_);
        released_.wait(lock, [&] { return paths_.count(path) == 0; });
        paths_.insert(path);
    }

    void Release(const std::u16string& path) {
        {
            std::lock_guard lock(mutex_);
            paths_.erase(path);
        }
        released_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    std::set<std::u16string> paths_;
};

ImageFileClaims& ProcessImageClaims() {
    static ImageFileClaims claims;
    return claims;
}

// Replaces the file at `path` by the body of `url`: an image downloaded again must not be
// appended to the copy from the first download.
bool StoreImage(const std::u16string& url, const std::u16string& path) {
    ImageFileClaims& claims = ProcessImageClaims();
    claims.Claim(path);
    std::remove(NativePath(path).c_str());
    FetchResult result;
    bool stored = FetchToFile(result, url, path);
    claims.Release(path);
    return stored;
}

} // namespace

FetchedChapter FetchChapter(const std::u16string& url, const std::u16string& contentPattern,
                            const std::u16string& charset) {
    FetchedChapter chapter;
    FetchResult result;
    std::u16string page = FetchPage(result, url);
    chapter.StatusCode = result.StatusCode;
    if (result.StatusCode != 200) {
        return chapter;
    }
    // The comparison is exact, as for every use of a rule's Charset.
    if (charset == u"UTF-8") {
        page = ReinterpretAsUtf8(page);
    }
    chapter.Text = ExtractField(contentPattern, page);
    ExtractImageSources(chapter.Text, chapter.Images);
    return chapter;
}

bool StoreChapterImages(const FetchedChapter& chapter, const std::u16string& chapterUrl,
                        const std::u16string& pageFile, std::u16string& chapterText,
                        const std::function<void(int)>& beforeImage) {
    std::u16string imagesFolder = FolderOfFile(pageFile) + u"/images/";
    int k = 0;
    for (const std::u16string& source : chapter.Images) {
        ++k;
        std::u16string fileName = ImageFileName(source);
        std::u16string address = source;
        CompleteUrl(chapterUrl, address);
        if (beforeImage) {
            beforeImage(k);
        }
        if (!StoreImage(address, imagesFolder + fileName)) {
            return false;
        }
        chapterText += ImageFragment(fileName);
    }
    return true;
}

} // namespace velunor::internal
