// The files of an EPUB 3 book.

#include "export/internal/epub_book.h"

#include "core/core.h"
#include "xml/xml_document.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>

namespace velunor::internal {
namespace {

constexpr std::string_view kContentFolder = "OEBPS/";
// An image larger than this is no chapter illustration, and reading it would only slow the
// export down.
constexpr uint64_t kMaxImageBytes = 64 * 1024 * 1024;

constexpr std::u16string_view kXmlDeclaration = u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

constexpr std::string_view kStyleSheet =
    "body { margin: 0 5%; line-height: 1.8; font-family: serif; }\n"
    "h1, h2 { text-align: center; font-weight: normal; margin: 1em 0; }\n"
    "p { text-indent: 2em; margin: 0.4em 0; }\n"
    "p.author { text-indent: 0; text-align: center; }\n"
    "p.notice { text-indent: 0; text-align: center; color: #9a5b2a; }\n"
    "div.image { text-align: center; margin: 0.8em 0; }\n"
    "div.image img { max-width: 100%; }\n"
    "h1.volume { margin-top: 30%; }\n"
    "nav ol { list-style: none; padding: 0; }\n"
    "nav ol ol { padding-left: 2em; }\n";

constexpr std::string_view kContainer =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
    "<rootfiles>\n"
    "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>\n"
    "</rootfiles>\n"
    "</container>\n";

// Text and attribute values of the book's XML documents, escaped as the project's XML writer
// escapes attributes, so one escaping serves both.
std::u16string Escaped(std::u16string_view text) {
    return CXmlDocument::EncodeEntities(text, CXmlDocument::kEncodeAttribute);
}

void AppendEscaped(std::u16string& out, std::u16string_view text) {
    out += Escaped(text);
}

std::u16string Wide(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// The head of an XHTML document of the book, up to and with its <body>; `styleSheet` is the
// style sheet's address from the document.
std::u16string DocumentStart(std::u16string_view title, std::u16string_view styleSheet,
                             bool withEpubNamespace = false) {
    std::u16string text(kXmlDeclaration);
    text += u"<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"";
    if (withEpubNamespace) {
        text += u" xmlns:epub=\"http://www.idpf.org/2007/ops\"";
    }
    text += u" xml:lang=\"zh\" lang=\"zh\">\n<head>\n<title>";
    AppendEscaped(text, title);
    text += u"</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"";
    text += styleSheet;
    text += u"\"/>\n</head>\n<body>\n";
    return text;
}

constexpr std::u16string_view kDocumentEnd = u"</body>\n</html>\n";

void AppendParagraph(std::u16string& text, std::u16string_view paragraph,
                     std::u16string_view className = {}) {
    text += className.empty() ? u"<p>" : u"<p class=\"" + std::u16string(className) + u"\">";
    AppendEscaped(text, paragraph);
    text += u"</p>\n";
}

bool ReadImageFile(const std::u16string& path, std::string& bytes) {
    return ReadFileBytes(path, kMaxImageBytes, bytes).Status == FileReadStatus::Read;
}

// The file name in images/ that an image address of a chapter page names ("images/3_1.jpg");
// empty when it names anything else: an address on a site, a path leading out of images/.
std::u16string LocalImageName(std::u16string_view source) {
    while (source.starts_with(u"./")) {
        source.remove_prefix(2);
    }
    constexpr std::u16string_view kImagesFolder = u"images/";
    if (!source.starts_with(kImagesFolder)) {
        return {};
    }
    std::u16string_view name = source.substr(kImagesFolder.size());
    if (name.empty() || name == u"." || name == u".." ||
        name.find_first_of(u"/\\?#") != std::u16string_view::npos) {
        return {};
    }
    return std::u16string(name);
}

// The images of the book: each different address that names a readable image of a kind EPUB
// readers show gets one file in the archive, in the order the text first shows them.
class ImageCollection {
  public:
    explicit ImageCollection(const std::u16string& folder) : folder_(folder) {}

    /// The archive path, from OEBPS/, of the image that `source` names; empty when it is left
    /// out.
    const std::string& Take(const std::u16string& source) {
        auto known = archivePaths_.find(source);
        if (known != archivePaths_.end()) {
            return known->second;
        }
        std::string& path = archivePaths_[source];
        std::u16string name = LocalImageName(source);
        std::string bytes;
        ImageKind kind;
        if (!name.empty() && ReadImageFile(folder_ + u"/images/" + name, bytes)) {
            kind = SniffImageKind(bytes);
        }
        if (kind.MediaType == nullptr) {
            ++leftOut_;
            return path;
        }
        char number[32];
        std::snprintf(number, sizeof number, "%04zu", entries_.size() + 1);
        path = std::string("images/") + number + "." + kind.Extension;
        entries_.push_back({std::string(kContentFolder) + path, std::move(bytes), false});
        mediaTypes_.push_back(kind.MediaType);
        return path;
    }

    const std::vector<ArchiveEntry>& Entries() const {
        return entries_;
    }
    std::vector<ArchiveEntry> TakeEntries() {
        return std::move(entries_);
    }
    const std::vector<const char*>& MediaTypes() const {
        return mediaTypes_;
    }
    int LeftOut() const {
        return leftOut_;
    }

  private:
    std::u16string folder_;
    std::map<std::u16string, std::string> archivePaths_;
    std::vector<ArchiveEntry> entries_;
    std::vector<const char*> mediaTypes_;
    int leftOut_ = 0;
};

std::string ItemId(const char* prefix, size_t position) {
    char id[32];
    std::snprintf(id, sizeof id, "%s%04zu", prefix, position + 1);
    return id;
}

std::string ChapterFileName(size_t position) {
    return "text/" + ItemId("c", position) + ".xhtml";
}

std::string VolumeFileName(size_t position) {
    return "text/" + ItemId("v", position) + ".xhtml";
}

// A volume's title page, which opens its chapters in the reading order.
std::string VolumeDocument(const VolumeHeading& heading) {
    std::u16string text = DocumentStart(heading.Name, u"../style.css");
    text += u"<h1 class=\"volume\">";
    AppendEscaped(text, heading.Name);
    text += u"</h1>\n";
    text += kDocumentEnd;
    return WideToUtf8(text);
}

// Walks the book's table of contents in reading order: `open(name, file, nested)` starts the
// entry of a chapter or a volume, and `close(nested)` ends it; the chapters of a volume are
// nested in its entry (`nested` true), a volume without chapters has none.
void WalkContents(const ExportedBook& book,
                  const std::function<void(std::u16string_view, const std::string&, bool)>& open,
                  const std::function<void(bool)>& close) {
    const size_t count = book.Chapters.size();
    bool inVolume = false;
    auto heading = [&](size_t k) {
        if (inVolume) {
            close(true);
        }
        inVolume = VolumeEnd(book.Volumes, k, count) > book.Volumes[k].Before;
        open(book.Volumes[k].Name, VolumeFileName(k), inVolume);
        if (!inVolume) {
            close(false);
        }
    };
    auto chapter = [&](size_t i) {
        open(book.Chapters[i].Name, ChapterFileName(i), false);
        close(false);
    };
    ForEachContentsEntry(book.Volumes, count, heading, chapter);
    if (inVolume) {
        close(true);
    }
}

// The manifest id of each document of the reading order after the title page, in that order.
std::vector<std::string> ReadingOrder(const ExportedBook& book) {
    std::vector<std::string> ids;
    ForEachContentsEntry(
        book.Volumes, book.Chapters.size(), [&](size_t k) { ids.push_back(ItemId("v", k)); },
        [&](size_t i) { ids.push_back(ItemId("c", i)); });
    return ids;
}

std::string ChapterDocument(const ExportedChapter& chapter, ImageCollection& images) {
    std::u16string text = DocumentStart(chapter.Name, u"../style.css");
    text += u"<h2>";
    AppendEscaped(text, chapter.Name);
    text += u"</h2>\n";
    const std::u16string_view paragraphClass =
        chapter.State == ChapterState::Stored ? u"" : u"notice";
    for (const TextBlock& block : chapter.Blocks) {
        if (block.BlockKind == TextBlock::Kind::Paragraph) {
            AppendParagraph(text, block.Text, paragraphClass);
            continue;
        }
        const std::string& path = images.Take(block.Text);
        if (!path.empty()) {
            text += u"<div class=\"image\"><img src=\"../" + Wide(path) + u"\" alt=\"\"/></div>\n";
        }
    }
    text += kDocumentEnd;
    return WideToUtf8(text);
}

std::string TitleDocument(const ExportedBook& book) {
    std::u16string text = DocumentStart(book.Title, u"style.css");
    text += u"<h1>";
    AppendEscaped(text, book.Title);
    text += u"</h1>\n";
    if (!book.Author.empty()) {
        AppendParagraph(text, book.AuthorCaption + book.Author, u"author");
    }
    for (const TextBlock& block : book.Intro) {
        AppendParagraph(text, block.Text);
    }
    text += kDocumentEnd;
    return WideToUtf8(text);
}

std::string NavigationDocument(const ExportedBook& book) {
    std::u16string text = DocumentStart(book.ContentsCaption, u"style.css", true);
    text += u"<nav epub:type=\"toc\" id=\"toc\">\n<h1>";
    AppendEscaped(text, book.ContentsCaption);
    text += u"</h1>\n<ol>\n";
    auto open = [&](std::u16string_view name, const std::string& file, bool nested) {
        text += u"<li><a href=\"" + Wide(file) + u"\">";
        AppendEscaped(text, name);
        text += nested ? u"</a>\n<ol>\n" : u"</a>";
    };
    auto close = [&](bool nested) { text += nested ? u"</ol>\n</li>\n" : u"</li>\n"; };
    WalkContents(book, open, close);
    text += u"</ol>\n</nav>\n";
    text += kDocumentEnd;
    return WideToUtf8(text);
}

// How deep the table of contents goes: 2 when a volume holds chapters.
int NavigationDepth(const ExportedBook& book) {
    for (size_t k = 0; k < book.Volumes.size(); ++k) {
        if (VolumeEnd(book.Volumes, k, book.Chapters.size()) > book.Volumes[k].Before) {
            return 2;
        }
    }
    return 1;
}

std::string NcxDocument(const ExportedBook& book, std::u16string_view identifier) {
    std::u16string text(kXmlDeclaration);
    text += u"<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\" "
            u"xml:lang=\"zh\">\n<head>\n<meta name=\"dtb:uid\" content=\"";
    AppendEscaped(text, identifier);
    text += u"\"/>\n<meta name=\"dtb:depth\" content=\"" + DecimalText(NavigationDepth(book)) +
            u"\"/>\n"
            u"<meta name=\"dtb:totalPageCount\" content=\"0\"/>\n"
            u"<meta name=\"dtb:maxPageNumber\" content=\"0\"/>\n</head>\n<docTitle><text>";
    AppendEscaped(text, book.Title);
    text += u"</text></docTitle>\n";
    if (!book.Author.empty()) {
        text += u"<docAuthor><text>" + Escaped(book.Author) + u"</text></docAuthor>\n";
    }
    text += u"<navMap>\n";
    long long played = 0;
    auto open = [&](std::u16string_view name, const std::string& file, bool nested) {
        std::u16string order = DecimalText(++played);
        text += u"<navPoint id=\"nav" + order + u"\" playOrder=\"" + order + u"\"><navLabel><text>";
        AppendEscaped(text, name);
        text += u"</text></navLabel><content src=\"" + Wide(file) + u"\"/>";
        text += nested ? u"\n" : u"";
    };
    auto close = [&](bool) { text += u"</navPoint>\n"; };
    WalkContents(book, open, close);
    text += u"</navMap>\n</ncx>\n";
    return WideToUtf8(text);
}

void AppendMetadata(std::u16string& text, const ExportedBook& book, std::u16string_view identifier,
                    std::u16string_view modified) {
    text += u"<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n";
    text += u"<dc:identifier id=\"book-id\">" + Escaped(identifier) + u"</dc:identifier>\n";
    text += u"<dc:title>" + Escaped(book.Title) + u"</dc:title>\n";
    if (!book.Author.empty()) {
        text += u"<dc:creator>" + Escaped(book.Author) + u"</dc:creator>\n";
    }
    text += u"<dc:language>zh</dc:language>\n";
    if (!book.Site.empty()) {
        text += u"<dc:publisher>" + Escaped(book.Site) + u"</dc:publisher>\n";
    }
    std::u16string description;
    for (const TextBlock& block : book.Intro) {
        description += description.empty() ? u"" : u"\n";
        description += block.Text;
    }
    if (!description.empty()) {
        text += u"<dc:description>" + Escaped(description) + u"</dc:description>\n";
    }
    std::u16string source = XmlSafeText(book.InfoPageUrl);
    if (!source.empty()) {
        text += u"<dc:source>" + Escaped(source) + u"</dc:source>\n";
    }
    text += u"<meta property=\"dcterms:modified\">" + std::u16string(modified) + u"</meta>\n";
    text += u"</metadata>\n";
}

std::u16string ManifestItem(std::string_view id, std::string_view href, std::string_view mediaType,
                            std::string_view properties = {}) {
    std::u16string item = u"<item id=\"" + Wide(id) + u"\" href=\"" + Wide(href) +
                          u"\" media-type=\"" + Wide(mediaType) + u"\"";
    if (!properties.empty()) {
        item += u" properties=\"" + Wide(properties) + u"\"";
    }
    return item + u"/>\n";
}

std::string PackageDocument(const ExportedBook& book, std::u16string_view identifier,
                            std::u16string_view modified, const ImageCollection& images) {
    std::u16string text(kXmlDeclaration);
    text += u"<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
            u"unique-identifier=\"book-id\" xml:lang=\"zh\">\n";
    AppendMetadata(text, book, identifier, modified);
    text += u"<manifest>\n";
    text += ManifestItem("nav", "nav.xhtml", "application/xhtml+xml", "nav");
    text += ManifestItem("ncx", "toc.ncx", "application/x-dtbncx+xml");
    text += ManifestItem("style", "style.css", "text/css");
    text += ManifestItem("title", "title.xhtml", "application/xhtml+xml");
    for (size_t k = 0; k < book.Volumes.size(); ++k) {
        text += ManifestItem(ItemId("v", k), VolumeFileName(k), "application/xhtml+xml");
    }
    for (size_t i = 0; i < book.Chapters.size(); ++i) {
        text += ManifestItem(ItemId("c", i), ChapterFileName(i), "application/xhtml+xml");
    }
    const std::vector<ArchiveEntry>& imageEntries = images.Entries();
    for (size_t i = 0; i < imageEntries.size(); ++i) {
        std::string_view href(imageEntries[i].Name);
        href.remove_prefix(kContentFolder.size());
        text += ManifestItem(ItemId("img", i), href, images.MediaTypes()[i]);
    }
    text += u"</manifest>\n<spine toc=\"ncx\">\n<itemref idref=\"title\"/>\n";
    for (const std::string& id : ReadingOrder(book)) {
        text += u"<itemref idref=\"" + Wide(id) + u"\"/>\n";
    }
    text += u"</spine>\n</package>\n";
    return WideToUtf8(text);
}

uint64_t Fnv1a(std::string_view bytes, uint64_t basis) {
    uint64_t hash = basis;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

} // namespace

ImageKind SniffImageKind(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xD8\xFF")) {
        return {"image/jpeg", "jpg"};
    }
    if (bytes.starts_with("\x89PNG\r\n\x1A\n")) {
        return {"image/png", "png"};
    }
    if (bytes.starts_with("GIF87a") || bytes.starts_with("GIF89a")) {
        return {"image/gif", "gif"};
    }
    return {};
}

std::u16string BookIdentifier(const ExportedBook& book) {
    std::string key = WideToUtf8(book.InfoPageUrl);
    if (key.empty()) {
        // Without an address the novel is known by where the library keeps it: site/novel.
        std::u16string_view folder(book.Folder);
        size_t novelSlash = folder.rfind(u'/');
        size_t siteSlash = novelSlash == std::u16string_view::npos
                               ? novelSlash
                               : folder.rfind(u'/', novelSlash - 1);
        key = "velunor:" + WideToUtf8(siteSlash == std::u16string_view::npos
                                          ? folder
                                          : folder.substr(siteSlash + 1));
    }
    uint64_t high = Fnv1a(key, 0xcbf29ce484222325ULL);
    uint64_t low = Fnv1a(key, high ^ 0x9e3779b97f4a7c15ULL);
    // Version 8 (a UUID of the maker's own scheme) and the RFC variant.
    high = (high & ~0xF000ULL) | 0x8000ULL;
    low = (low & 0x3FFFFFFFFFFFFFFFULL) | 0x8000000000000000ULL;
    char text[48];
    std::snprintf(text, sizeof text, "urn:uuid:%08llx-%04llx-%04llx-%04llx-%012llx",
                  static_cast<unsigned long long>(high >> 32),
                  static_cast<unsigned long long>((high >> 16) & 0xFFFF),
                  static_cast<unsigned long long>(high & 0xFFFF),
                  static_cast<unsigned long long>(low >> 48),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
    return Wide(text);
}

std::u16string ModifiedTimestamp(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return Wide(text);
}

std::string ChapterEntryName(size_t position) {
    return std::string(kContentFolder) + ChapterFileName(position);
}

std::vector<ArchiveEntry> EpubEntries(const ExportedBook& book, std::u16string_view modified,
                                      int& imagesLeftOut) {
    const std::u16string identifier = BookIdentifier(book);
    std::vector<ArchiveEntry> entries;
    entries.reserve(book.Chapters.size() + book.Volumes.size() + 8);
    // Readers find out what the archive is from its first entry, stored so they can read it
    // without inflating anything.
    entries.push_back({"mimetype", "application/epub+zip", true});
    entries.push_back({"META-INF/container.xml", std::string(kContainer), false});
    ImageCollection images(book.Folder);
    std::vector<ArchiveEntry> chapters;
    chapters.reserve(book.Chapters.size());
    for (size_t i = 0; i < book.Chapters.size(); ++i) {
        chapters.push_back({ChapterEntryName(i), ChapterDocument(book.Chapters[i], images)});
    }
    const std::string folder(kContentFolder);
    entries.push_back(
        {folder + "content.opf", PackageDocument(book, identifier, modified, images), false});
    entries.push_back({folder + "nav.xhtml", NavigationDocument(book), false});
    entries.push_back({folder + "toc.ncx", NcxDocument(book, identifier), false});
    entries.push_back({folder + "style.css", std::string(kStyleSheet), false});
    entries.push_back({folder + "title.xhtml", TitleDocument(book), false});
    for (size_t k = 0; k < book.Volumes.size(); ++k) {
        entries.push_back({folder + VolumeFileName(k), VolumeDocument(book.Volumes[k]), false});
    }
    for (ArchiveEntry& chapter : chapters) {
        entries.push_back(std::move(chapter));
    }
    for (ArchiveEntry& image : images.TakeEntries()) {
        entries.push_back(std::move(image));
    }
    imagesLeftOut = images.LeftOut();
    return entries;
}

} // namespace velunor::internal
