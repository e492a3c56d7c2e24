// Exporting a novel of the library to one file.

#include "export/export.h"

#include "core/core.h"
#include "export/internal/chinese_converter.h"
#include "export/internal/epub_book.h"
#include "export/internal/exported_book.h"
#include "export/internal/txt_book.h"
#include "export/internal/zip_archive.h"
#include "library/novel_index.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <thread>

namespace velunor {
namespace {

// Why a file operation failed, for the status line: the system's error `code` in words.
std::u16string FileErrorText(int code) {
    switch (code) {
    case EACCES:
    case EPERM:
        return u"没有写入权限";
    case ENOENT:
        return u"文件夹不存在";
    case ENOTDIR:
        return u"路径中有一部分不是文件夹";
    case EISDIR:
        return u"同名的文件夹已存在";
    case EROFS:
        return u"磁盘是只读的";
    case ENOSPC:
    case EDQUOT:
        return u"磁盘空间不足";
    case ENAMETOOLONG:
        return u"文件名太长";
    default:
        break;
    }
    char buffer[256];
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return Utf8ToWide(text);
}

std::u16string CannotWrite(const std::u16string& target, int code) {
    return u"无法写入“" + target + u"”：" + FileErrorText(code) + u"。";
}

bool ComposeEpub(const internal::ExportedBook& book, std::string& bytes, ExportResult& result) {
    std::vector<internal::ArchiveEntry> entries = internal::EpubEntries(
        book, internal::ModifiedTimestamp(std::time(nullptr)), result.ImagesLeftOut);
    return internal::ZipArchive(entries, bytes, result.Error);
}

bool ComposeTxt(const internal::ExportedBook& book, TextEncoding encoding, std::string& bytes,
                ExportResult& result) {
    if (!internal::EncodeTxt(internal::TxtText(book), encoding, bytes)) {
        result.Error = u"系统无法以所选编码写出文本。";
        return false;
    }
    return true;
}

void CountChapters(const internal::ExportedBook& book, ExportResult& result) {
    result.Chapters = static_cast<int>(book.Chapters.size());
    for (const internal::ExportedChapter& chapter : book.Chapters) {
        if (chapter.State == ChapterState::Pending) {
            ++result.Pending;
        } else if (chapter.State != ChapterState::Stored) {
            ++result.Failed;
        }
    }
}

// Reports at the start, and then each time another tenth of the chapters has been read.
class ProgressLine {
  public:
    explicit ProgressLine(WindowPort& window) : window_(window) {}

    void operator()(int done, int total) {
        if (total <= 0) {
            return;
        }
        int tenths = static_cast<int>(static_cast<long long>(done) * 10 / total);
        if (tenths <= shownTenths_ || done == total) {
            return;
        }
        shownTenths_ = tenths;
        window_.SetStatusText(u"正在导出：已读取 " + DecimalText(done) + u"/" + DecimalText(total) +
                              u" 章……");
    }

  private:
    WindowPort& window_;
    int shownTenths_ = 0;
};

std::u16string FileExtension(ExportFormat format) {
    return format == ExportFormat::Epub ? u".epub" : u".txt";
}

} // namespace

ExportResult ExportNovel(const std::u16string& novelFolder, const std::u16string& target,
                         const ExportOptions& options, const ExportProgress& progress) {
    ExportResult result;
    // The target is tried first, so that a folder the user cannot write to is said at once and
    // not after every chapter has been read.
    CReplacingFile file;
    if (!file.Open(NativePath(target))) {
        result.Error = CannotWrite(target, errno);
        return result;
    }
    internal::CChineseConverter converter(options.Conversion);
    if (!converter.Ready()) {
        result.Error = converter.Error();
        return result;
    }
    internal::ExportedBook book;
    if (!internal::ReadExportedBook(novelFolder, book, progress, result.Error)) {
        return result;
    }
    internal::ConvertBook(converter, book);
    result.NovelName = book.Title;
    CountChapters(book, result);
    std::string bytes;
    bool composed = options.Format == ExportFormat::Epub
                        ? ComposeEpub(book, bytes, result)
                        : ComposeTxt(book, options.Encoding, bytes, result);
    if (!composed) {
        return result;
    }
    if (!file.Write(bytes) || !file.Commit()) {
        result.Error = CannotWrite(target, errno);
        return result;
    }
    result.Ok = true;
    return result;
}

ExportResult RunExportJob(WindowPort& window, const std::u16string& novelFolder,
                          const std::u16string& target, const ExportOptions& options) {
    window.SetStatusText(u"正在导出到“" + target + u"”……");
    ProgressLine line(window);
    ExportResult result = ExportNovel(novelFolder, target, options,
                                      [&line](int done, int total) { line(done, total); });
    window.SetStatusText(ExportSummary(result, target));
    return result;
}

void StartExportJob(WindowPort& window, const std::u16string& novelFolder,
                    const std::u16string& target, const ExportOptions& options) {
    std::thread([&window, novelFolder, target, options] {
        RunExportJob(window, novelFolder, target, options);
    }).detach();
}

std::u16string ExportSummary(const ExportResult& result, const std::u16string& target) {
    if (!result.Ok) {
        return u"导出失败：" + result.Error;
    }
    std::u16string summary =
        u"已导出“" + target + u"”，共 " + DecimalText(result.Chapters) + u" 章";
    std::u16string missing;
    if (result.Failed > 0) {
        missing += DecimalText(result.Failed) + u" 章未能下载";
    }
    if (result.Pending > 0) {
        missing += (missing.empty() ? u"" : u"、") + DecimalText(result.Pending) + u" 章尚未下载";
    }
    if (!missing.empty()) {
        summary += u"，其中 " + missing + u"（书中已注明）";
    }
    if (result.ImagesLeftOut > 0) {
        summary += u"，" + DecimalText(result.ImagesLeftOut) + u" 幅图片未能收入";
    }
    return summary + u"。";
}

std::u16string DefaultExportFileName(const std::u16string& novelName,
                                     const ExportOptions& options) {
    internal::CChineseConverter converter(options.Conversion);
    return CleanPathComponent(converter.Convert(novelName)) + FileExtension(options.Format);
}

std::u16string ExportedNovelName(const std::u16string& novelFolder) {
    NovelIndex index;
    if (LoadNovelIndex(novelFolder, index)) {
        std::u16string name = internal::PlainTextOf(index.NovelName);
        if (!name.empty()) {
            return name;
        }
    }
    size_t slash = novelFolder.rfind(u'/');
    return slash == std::u16string::npos ? novelFolder : novelFolder.substr(slash + 1);
}

} // namespace velunor
