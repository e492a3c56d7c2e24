// Zip archives through libzip, written to a buffer of libzip's own.

#include "export/internal/zip_archive.h"

#include "core/core.h"

#include <zip.h>

#include <memory>

namespace velunor::internal {
namespace {

struct SourceRelease {
    void operator()(zip_source_t* source) const {
        zip_source_free(source);
    }
};

struct ArchiveDiscard {
    void operator()(zip_t* archive) const {
        zip_discard(archive);
    }
};

using SourceOwner = std::unique_ptr<zip_source_t, SourceRelease>;
using ArchiveOwner = std::unique_ptr<zip_t, ArchiveDiscard>;

std::u16string ZipError(zip_error_t* error) {
    return u"无法生成压缩文件（" + Utf8ToWide(zip_error_strerror(error)) + u"）。";
}

bool AddEntry(zip_t* archive, const ArchiveEntry& entry, std::u16string& error) {
    zip_source_t* data = zip_source_buffer(archive, entry.Data.data(), entry.Data.size(), 0);
    if (data == nullptr) {
        error = ZipError(zip_get_error(archive));
        return false;
    }
    zip_int64_t index = zip_file_add(archive, entry.Name.c_str(), data, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(data);
        error = ZipError(zip_get_error(archive));
        return false;
    }
    zip_int32_t method = entry.Stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
    if (zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), method, 0) != 0) {
        error = ZipError(zip_get_error(archive));
        return false;
    }
    return true;
}

bool ReadBuffer(zip_source_t* buffer, std::string& bytes, std::u16string& error) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_source_open(buffer) != 0) {
        error = ZipError(zip_source_error(buffer));
        return false;
    }
    bool read = zip_source_stat(buffer, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) != 0;
    if (read) {
        bytes.resize(stat.size);
        read =
            zip_source_read(buffer, bytes.data(), stat.size) == static_cast<zip_int64_t>(stat.size);
    }
    if (!read) {
        error = ZipError(zip_source_error(buffer));
    }
    zip_source_close(buffer);
    return read;
}

} // namespace

bool ZipArchive(const std::vector<ArchiveEntry>& entries, std::string& bytes,
                std::u16string& error) {
    bytes.clear();
    zip_error_t zipError;
    zip_error_init(&zipError);
    SourceOwner buffer(zip_source_buffer_create(nullptr, 0, 0, &zipError));
    if (!buffer) {
        error = ZipError(&zipError);
        zip_error_fini(&zipError);
        return false;
    }
    // The archive releases its source when it closes; the buffer must outlive it to be read.
    zip_source_keep(buffer.get());
    ArchiveOwner archive(zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &zipError));
    if (!archive) {
        zip_source_free(buffer.get());
        error = ZipError(&zipError);
        zip_error_fini(&zipError);
        return false;
    }
    zip_error_fini(&zipError);
    for (const ArchiveEntry& entry : entries) {
        if (!AddEntry(archive.get(), entry, error)) {
            return false;
        }
    }
    if (zip_close(archive.get()) != 0) {
        error = ZipError(zip_get_error(archive.get()));
        return false;
    }
    archive.release();
    return ReadBuffer(buffer.get(), bytes, error);
}

} // namespace velunor::internal
