// Fetching a chapter page and storing its images.

#include "library/internal/chapter_fetch.h"

#include "core/core.h"
#include "library/library_layout.h"
#include "net/fetcher.h"
#include "rules/rules.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

namespace velunor::internal {
namespace {

// An image may be larger and slower than a page, but not without end: a site must neither fill
// the disk nor hold a chapter task for hours.
constexpr std::uint64_t kImageSizeLimit = 20u * 1024u * 1024u;
constexpr std::chrono::minutes kImageTimeLimit{10};

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

FetchSettings ImageFetchSettings(const SiteAccess& site, std::u16string_view pageUrl) {
    FetchSettings settings = RequestSettings(site, pageUrl);
    settings.TotalTimeout = kImageTimeLimit;
    settings.BodyLimit = kImageSizeLimit;
    return settings;
}

bool HasBytes(const std::string& file) {
    std::error_code error;
    std::uintmax_t size = std::filesystem::file_size(file, error);
    return !error && size > 0;
}

// Replaces the file at `path` by the body of `url`: an image downloaded again must not be
// appended to the copy from the first download. Only a 2xx answer with a body is an image; an
// error page, a refusal, an empty answer or a transfer that broke off or grew too large leaves
// no file behind, so that the name never holds anything but a whole image.
bool StoreImage(const std::u16string& url, const std::u16string& path,
                const FetchSettings& settings) {
    ImageFileClaims& claims = ProcessImageClaims();
    claims.Claim(path);
    std::string file = NativePath(path);
    std::remove(file.c_str());
    FetchResult result;
    bool stored = FetchToFile(result, url, path, settings) && result.StatusCode >= 200 &&
                  result.StatusCode < 300 && HasBytes(file);
    if (!stored) {
        std::remove(file.c_str());
    }
    claims.Release(path);
    return stored;
}

// The file name of an address: what follows its folder, up to its query.
std::u16string_view AddressFileName(std::u16string_view url) {
    std::u16string_view path = url.substr(0, url.find_first_of(u"?#"));
    size_t slash = path.rfind(u'/');
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

// True when `next` looks like a further page of the chapter whose first page is `first`: in the
// same folder, and named as the first page is up to its first ".", followed by anything but a
// digit. "456_2.html" and "456.html?page=2" follow "456.html"; "457.html", "4567.html",
// "index.html" and the folder itself do not.
bool IsOwnPage(std::u16string_view next, std::u16string_view first) {
    std::u16string folder = AddressFolder(first);
    if (folder.empty() || next.substr(0, folder.size()) != folder) {
        return false;
    }
    std::u16string_view rest = next.substr(folder.size());
    std::u16string_view name = rest.substr(0, rest.find_first_of(u"?#"));
    std::u16string_view firstName = AddressFileName(first);
    std::u16string_view stem = firstName.substr(0, firstName.find(u'.'));
    if (name.empty() || name.find(u'/') != std::u16string_view::npos ||
        name.substr(0, stem.size()) != stem) {
        return false;
    }
    // A chapter whose address is a folder names its pages freely.
    if (stem.empty() || name.size() == stem.size()) {
        return true;
    }
    return name[stem.size()] < u'0' || name[stem.size()] > u'9';
}

// What is known of the pages read so far, to tell where the chapter ends.
struct ChapterChain {
    const ChapterBounds& bounds;
    // The first page's final address, for OwnPagesOnly.
    std::u16string first;
    // Every address asked for or redirected to, and every page text.
    std::set<std::u16string> addresses;
    std::set<std::u16string> texts;
};

bool LeadsOn(const ChapterChain& chain, const std::u16string& next) {
    const ChapterBounds& bounds = chain.bounds;
    if (next.empty() || next == bounds.NextChapterUrl || next == bounds.ContentsUrl ||
        chain.addresses.count(next) != 0) {
        return false;
    }
    return !bounds.OwnPagesOnly || IsOwnPage(next, chain.first);
}

// A page after the first that adds nothing is no page of the chapter: a content pattern that
// finds nothing there, or the same text again, means the link led somewhere else.
bool AddsToChapter(const ChapterChain& chain, const ChapterPage& page) {
    if (page.Text.empty()) {
        return !page.Images.empty();
    }
    return chain.texts.count(page.Text) == 0;
}

ChapterPage CutChapterPage(const CSiteRule& rule, const SitePage& fetched,
                           ExtractionProblem& problem) {
    ChapterPage page;
    page.Url = fetched.Url;
    page.Text = ExtractField(rule.ChapterContent, fetched.Text, &problem);
    ExtractImageSources(page.Text, page.Images);
    return page;
}

} // namespace

std::u16string AddressFolder(std::u16string_view url) {
    std::u16string_view path = url.substr(0, url.find_first_of(u"?#"));
    size_t slash = path.rfind(u'/');
    return slash == std::u16string_view::npos ? std::u16string()
                                              : std::u16string(url.substr(0, slash + 1));
}

bool FetchedChapter::HasContent() const {
    for (const ChapterPage& page : Pages) {
        if (!page.Text.empty() || !page.Images.empty()) {
            return true;
        }
    }
    return false;
}

std::u16string FetchedChapter::FailureReason() const {
    if (Blocked) {
        return u"目标站拒绝访问";
    }
    if (StatusCode == -1) {
        return u"无法连接目标站";
    }
    if (StatusCode != 200) {
        return u"目标站返回状态码 " + DecimalText(StatusCode);
    }
    return u"正文过大或规则过慢，未能提取";
}

FetchedChapter FetchChapter(const SiteAccess& site, const std::u16string& url,
                            const ChapterBounds& bounds) {
    FetchedChapter chapter;
    ChapterChain chain{bounds, {}, {}, {}};
    std::u16string address = url;
    std::u16string referer = bounds.ContentsUrl;
    for (int n = 1; n <= kMaxChapterPages; ++n) {
        SitePage fetched = FetchSitePage(site, address, referer);
        chapter.StatusCode = fetched.StatusCode;
        chapter.Blocked = fetched.Blocked;
        if (!fetched.Ok()) {
            return chapter;
        }
        ChapterPage page = CutChapterPage(site.Rule, fetched, chapter.Problem);
        if (chapter.Problem != ExtractionProblem::None) {
            return chapter;
        }
        if (n == 1) {
            chain.first = fetched.Url;
        } else if (!AddsToChapter(chain, page)) {
            break;
        }
        chain.addresses.insert(address);
        chain.addresses.insert(fetched.Url);
        chain.texts.insert(page.Text);
        chapter.Pages.push_back(std::move(page));
        std::u16string next = ExtractField(site.Rule.ChapterNextPageUrl, fetched.Text);
        CompleteUrl(fetched.Url, next);
        if (!LeadsOn(chain, next)) {
            break;
        }
        referer = fetched.Url;
        address = std::move(next);
    }
    return chapter;
}

bool ComposeChapterText(const SiteAccess& site, const FetchedChapter& chapter,
                        std::u16string_view replaceRule, const std::u16string& pageFile,
                        std::u16string& chapterText, const std::function<void(int)>& beforeImage) {
    std::u16string imagesFolder = FolderOfFile(pageFile) + u"/images/";
    int k = 0;
    for (const ChapterPage& page : chapter.Pages) {
        if (page.Images.empty()) {
            chapterText +=
                replaceRule.empty() ? page.Text : ApplyReplaceRule(replaceRule, page.Text);
            continue;
        }
        // A page with images keeps its text as the site sent it.
        chapterText += page.Text;
        FetchSettings settings = ImageFetchSettings(site, page.Url);
        for (const std::u16string& source : page.Images) {
            ++k;
            std::u16string fileName = ImageFileName(source);
            std::u16string address = source;
            CompleteUrl(page.Url, address);
            if (beforeImage) {
                beforeImage(k);
            }
            if (!StoreImage(address, imagesFolder + fileName, settings)) {
                return false;
            }
            chapterText += ImageFragment(fileName);
        }
    }
    return true;
}

} // namespace velunor::internal
