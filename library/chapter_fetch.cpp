// Fetching a chapter page and storing its images.

#include "library/internal/chapter_fetch.h"

#include "core/core.h"
#include "html/html.h"
#include "library/library_layout.h"
#include "net/fetcher.h"
#include "rules/rules.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <system_error>

namespace velunor::internal {
namespace {

// An image may be larger and slower than a page, but not without end: a site must neither fill
// the disk nor hold a chapter task for hours.
constexpr std::uint64_t kImageSizeLimit = 20u * 1024u * 1024u;
constexpr std::chrono::minutes kImageTimeLimit{10};

// The image files being stored right now, by full path. Images are named after their chapter
// page, but two stores of one chapter (two jobs of the same novel, or a job and an on-demand
// fetch) may still aim at the same file; as FetchToFile appends, each store must have the file
// to itself.
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

bool IsAsciiLetterOrDigit(char16_t unit) {
    return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') ||
           (unit >= u'0' && unit <= u'9');
}

std::u16string_view SpanText(std::u16string_view text, const ImageSourceSpan& span) {
    return text.substr(span.Start, span.Length);
}

// The extension of `fileName` when it is short and plain enough to name a file on any system;
// empty otherwise.
std::u16string_view PlainExtension(std::u16string_view fileName) {
    size_t dot = fileName.rfind(u'.');
    if (dot == std::u16string_view::npos) {
        return {};
    }
    std::u16string_view extension = fileName.substr(dot + 1);
    bool plain = !extension.empty() && extension.size() <= 5;
    for (char16_t unit : extension) {
        plain = plain && IsAsciiLetterOrDigit(unit);
    }
    return plain ? extension : std::u16string_view();
}

std::u16string_view FileStem(std::u16string_view path) {
    size_t slash = path.rfind(u'/');
    std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    return name.substr(0, name.rfind(u'.'));
}

// The link to the stored copy of each image of a page, by its src value as the page writes it.
using ImageLinks = std::map<std::u16string, std::u16string>;

// The images of one chapter stored so far. An image that several tags or pages show is fetched
// and stored once, under the number of its first showing.
struct ChapterImageStore {
    const SiteAccess& site;
    const std::u16string& pageFile;
    const std::function<void(int)>& beforeImage;
    std::u16string folder;
    // The stored file name of each image by its complete address.
    std::map<std::u16string, std::u16string> fileNames;
};

// Stores the image at `address` unless this chapter has stored it already; its file name goes
// to `fileName`. False when it could not be stored.
bool StoreImageOnce(ChapterImageStore& store, const std::u16string& address,
                    const FetchSettings& settings, std::u16string& fileName) {
    auto known = store.fileNames.find(address);
    if (known != store.fileNames.end()) {
        fileName = known->second;
        return true;
    }
    int number = static_cast<int>(store.fileNames.size()) + 1;
    fileName = ChapterImageFileName(store.pageFile, number, address);
    if (store.beforeImage) {
        store.beforeImage(number);
    }
    if (!StoreImage(address, store.folder + fileName, settings)) {
        return false;
    }
    store.fileNames.emplace(address, fileName);
    return true;
}

// Stores the images of `page` and gives the link of each to `links`; false at the first that
// could not be stored.
bool StorePageImages(ChapterImageStore& store, const ChapterPage& page, ImageLinks& links) {
    FetchSettings settings = ImageFetchSettings(store.site, page.Url);
    for (const std::u16string& source : page.Images) {
        std::u16string address = source;
        CompleteUrl(page.Url, address);
        std::u16string fileName;
        if (!StoreImageOnce(store, address, settings, fileName)) {
            return false;
        }
        // "/", not "\\": the link is read by the reader's browser on any system.
        links[source] = u"images/" + fileName;
    }
    return true;
}

// `text` with the src value of each image tag that `links` knows replaced by its link.
std::u16string PointImagesAtCopies(std::u16string_view text, const ImageLinks& links) {
    std::u16string pointed;
    size_t copied = 0;
    for (const ImageSourceSpan& span : FindImageSources(text)) {
        auto link = links.find(std::u16string(SpanText(text, span)));
        if (link == links.end()) {
            continue;
        }
        pointed += text.substr(copied, span.Start - copied);
        pointed += link->second;
        copied = span.Start + span.Length;
    }
    pointed += text.substr(copied);
    return pointed;
}

ChapterPage CutChapterPage(const CSiteRule& rule, const SitePage& fetched,
                           ExtractionProblem& problem) {
    ChapterPage page;
    page.Url = fetched.Url;
    page.Text = ExtractField(rule.ChapterContent, fetched.Text, &problem);
    for (const ImageSourceSpan& span : FindImageSources(page.Text)) {
        page.Images.emplace_back(SpanText(page.Text, span));
    }
    return page;
}

} // namespace

std::vector<ImageSourceSpan> FindImageSources(std::u16string_view text) {
    std::vector<ImageSourceSpan> sources;
    for (const html::SourceSpan& span : html::ImageSources(text)) {
        sources.push_back({span.Start, span.Length});
    }
    return sources;
}

std::u16string ChapterImageFileName(std::u16string_view pageFile, int number,
                                    std::u16string_view address) {
    std::u16string name = std::u16string(FileStem(pageFile)) + u"_" + DecimalText(number);
    std::u16string_view extension = PlainExtension(AddressFileName(address));
    if (!extension.empty()) {
        name += u".";
        name += extension;
    }
    return CleanPathComponent(name);
}

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
    ChapterImageStore images{site, pageFile, beforeImage, FolderOfFile(pageFile) + u"/images/", {}};
    for (const ChapterPage& page : chapter.Pages) {
        if (page.Images.empty()) {
            chapterText +=
                replaceRule.empty() ? page.Text : ApplyReplaceRule(replaceRule, page.Text);
            continue;
        }
        ImageLinks links;
        if (!StorePageImages(images, page, links)) {
            return false;
        }
        // A page with images keeps its text as the site sent it, image addresses aside.
        chapterText += PointImagesAtCopies(page.Text, links);
    }
    return true;
}

} // namespace velunor::internal
