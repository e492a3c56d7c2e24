// Storing a fetched chapter's text and its images beside its page file.

#include "library/internal/chapter_fetch.h"

#include "core/core.h"
#include "library/library_layout.h"
#include "rules/rules.h"

#include <algorithm>
#include <map>
#include <vector>

namespace velunor::internal {
namespace {

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
        plain = plain && (IsAsciiLetter(unit) || (unit >= u'0' && unit <= u'9'));
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
    const Site& site;
    const std::u16string& pageFile;
    const std::function<void(int)>& beforeImage;
    std::u16string folder;
    // The stored file name of each image by its complete address.
    std::map<std::u16string, std::u16string> fileNames;
};

// Stores the image at `address`, found on the page at `pageUrl`, unless this chapter has stored
// it already; its file name goes to `fileName`. The error of a store that failed.
SiteError StoreImageOnce(ChapterImageStore& store, const std::u16string& address,
                         std::u16string_view pageUrl, std::u16string& fileName) {
    auto known = store.fileNames.find(address);
    if (known != store.fileNames.end()) {
        fileName = known->second;
        return {};
    }
    int number = static_cast<int>(store.fileNames.size()) + 1;
    fileName = ChapterImageFileName(store.pageFile, number, address);
    if (store.beforeImage) {
        store.beforeImage(number);
    }
    SiteError error = store.site.FetchImage(address, pageUrl, store.folder + fileName);
    if (!error.Failed()) {
        store.fileNames.emplace(address, fileName);
    }
    return error;
}

// Stores the images of `page` and gives the link of each to `links`; the error of the first
// that could not be stored.
SiteError StorePageImages(ChapterImageStore& store, const ChapterPage& page, ImageLinks& links) {
    for (const std::u16string& source : page.Images) {
        std::u16string address = source;
        CompleteUrl(page.Url, address);
        std::u16string fileName;
        SiteError error = StoreImageOnce(store, address, page.Url, fileName);
        if (error.Failed()) {
            return error;
        }
        // "/", not "\\": the link is read by the reader's browser on any system.
        links[source] = u"images/" + fileName;
    }
    return {};
}

// One piece of `text` to be replaced.
struct LinkEdit {
    size_t start;
    size_t length;
    std::u16string replacement;
};

// `text` with the address of each image tag that `links` knows replaced by its link. A
// lazy-loading tag has its src placeholder replaced too, or a src written when it has none, so
// that the stored page shows the stored image without the site's script.
std::u16string PointImagesAtCopies(std::u16string_view text, const ImageLinks& links) {
    std::vector<LinkEdit> edits;
    for (const ImageSourceSpan& span : FindImageSources(text)) {
        auto link = links.find(std::u16string(text.substr(span.Start, span.Length)));
        if (link == links.end()) {
            continue;
        }
        edits.push_back({span.Start, span.Length, link->second});
        if (span.ShownLength == 0) {
            edits.push_back({span.ShownStart, 0, u" src=\"" + link->second + u"\""});
        } else if (span.ShownStart != span.Start) {
            edits.push_back({span.ShownStart, span.ShownLength, link->second});
        }
    }
    std::sort(edits.begin(), edits.end(),
              [](const LinkEdit& a, const LinkEdit& b) { return a.start < b.start; });
    std::u16string pointed;
    size_t copied = 0;
    for (const LinkEdit& edit : edits) {
        pointed += text.substr(copied, edit.start - copied);
        pointed += edit.replacement;
        copied = edit.start + edit.length;
    }
    pointed += text.substr(copied);
    return pointed;
}

} // namespace

std::u16string ChapterFailureReason(const FetchedChapter& chapter) {
    if (chapter.Error.Kind == SiteErrorKind::Limit && !chapter.Error.TooLarge) {
        return u"正文过大或规则过慢，未能提取";
    }
    return ReaderReason(chapter.Error);
}

std::u16string ImageFailureReason(const SiteError& error) {
    // The reader's words for a body too large speak of a page; an image has a limit of its own.
    std::u16string reason = error.TooLarge ? u"图片过大" : ReaderReason(error);
    // An answer without a body says nothing a reader could act on.
    if (error.Kind == SiteErrorKind::NoMatch || reason.empty()) {
        return std::u16string(kImageFailedReason);
    }
    return std::u16string(kImageFailedReason) + u"（" + reason + u"）";
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

SiteError ComposeChapterText(const Site& site, const FetchedChapter& chapter,
                             std::u16string_view replaceRule, const std::u16string& pageFile,
                             std::u16string& chapterText,
                             const std::function<void(int)>& beforeImage) {
    ChapterImageStore images{site, pageFile, beforeImage, FolderOfFile(pageFile) + u"/images/", {}};
    for (const ChapterPage& page : chapter.Pages) {
        if (page.Images.empty()) {
            chapterText +=
                replaceRule.empty() ? page.Text : ApplyReplaceRule(replaceRule, page.Text);
            continue;
        }
        ImageLinks links;
        SiteError error = StorePageImages(images, page, links);
        if (error.Failed()) {
            return error;
        }
        // A page with images keeps its text as the site sent it, image addresses aside.
        chapterText += PointImagesAtCopies(page.Text, links);
    }
    return {};
}

std::shared_ptr<const Site> NovelSite(const std::u16string& programFolder,
                                      const NovelIndex& index) {
    if (index.FoundByFinder) {
        return Site::WithoutRule(index.SiteName, index.InfoPageUrl);
    }
    return Site::FromRuleFile(ResolveRuleFile(programFolder, index.RuleFile));
}

} // namespace velunor::internal
