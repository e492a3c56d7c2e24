// Reading and writing text files in their encodings, and finding the encoding a text names.

#include "core/core.h"
#include "xml/internal/attribute_scanner.h"
#include "xml/internal/code_page_table.h"
#include "xml/internal/result_log_writer.h"
#include "xml/internal/xml_chars.h"
#include "xml/internal/xml_tokenizer.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velunor {
namespace {

using internal::AppendLogEntry;
using internal::LogNumber;
using internal::LogText;

constexpr uint32_t kMarkBits =
    CXmlDocument::kModeUtf8Mark | CXmlDocument::kModeUtf16LeMark | CXmlDocument::kModeUtf16BeMark;
constexpr uint32_t kTransferBits =
    CXmlDocument::kModeReading | CXmlDocument::kModeWriting | CXmlDocument::kModeAppending;
constexpr size_t kProbeSize = 1024;
constexpr size_t kMaxErrorText = 100;

struct ByteOrderMark {
    std::string_view bytes;
    std::u16string_view encoding;
    uint32_t flag;
    size_t unitSize;
};

// Tried in this order, so the UTF-8 mark wins over the UTF-16 ones when flags name several.
constexpr ByteOrderMark kByteOrderMarks[] = {
    {"\xEF\xBB\xBF", u"UTF-8", CXmlDocument::kModeUtf8Mark, 1},
    {"\xFF\xFE", u"UTF-16LE", CXmlDocument::kModeUtf16LeMark, 2},
    {"\xFE\xFF", u"UTF-16BE", CXmlDocument::kModeUtf16BeMark, 2},
};

const ByteOrderMark* MarkForFlags(uint32_t flags) {
    for (const ByteOrderMark& mark : kByteOrderMarks) {
        if ((flags & mark.flag) != 0) {
            return &mark;
        }
    }
    return nullptr;
}

const ByteOrderMark* MarkAtStart(std::string_view bytes) {
    for (const ByteOrderMark& mark : kByteOrderMarks) {
        if (bytes.starts_with(mark.bytes)) {
            return &mark;
        }
    }
    return nullptr;
}

const ByteOrderMark& MarkForWideForm(int codePage) {
    return codePage == internal::kCodePageUtf16Be ? kByteOrderMarks[2] : kByteOrderMarks[1];
}

// What one read or write carries from step to step.
struct TextFileState {
    uint32_t flags = 0;
    std::u16string encoding;
    size_t unitSize = 1;
    std::u16string log;
};

void LogFileError(std::u16string& log, int error) {
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be in the buffer.
    std::string message = strerror_r(error, buffer, sizeof buffer);
    message = message.substr(0, message.find_first_of("\r\n"));
    message = message.substr(0, kMaxErrorText);
    AppendLogEntry(
        &log, u"file_error",
        {LogText(u"msg", Utf8ToWide(message)), LogNumber(u"n", static_cast<uint64_t>(error))});
}

constexpr std::u16string_view kRefusedEntry = u"file_refused";
constexpr std::u16string_view kNotRegularFile = u"not_regular_file";
constexpr std::u16string_view kTooLarge = u"too_large";

void LogNotRegularFile(std::u16string& log) {
    AppendLogEntry(&log, kRefusedEntry, {LogText(u"reason", kNotRegularFile)});
}

void LogTooLarge(std::u16string& log, uint64_t size, uint64_t maxBytes) {
    AppendLogEntry(
        &log, kRefusedEntry,
        {LogText(u"reason", kTooLarge), LogNumber(u"size", size), LogNumber(u"limit", maxBytes)});
}

// Reads the file whole, logging why it was refused or could not be read.
bool ReadWholeFile(std::u16string_view path, uint64_t maxBytes, std::string& bytes,
                   std::u16string& log) {
    FileReadResult result = ReadFileBytes(path, maxBytes, bytes);
    switch (result.Status) {
    case FileReadStatus::Read:
        return true;
    case FileReadStatus::NotRegularFile:
        LogNotRegularFile(log);
        return false;
    case FileReadStatus::TooLarge:
        LogTooLarge(log, result.Size, maxBytes);
        return false;
    case FileReadStatus::Failed:
        break;
    }
    LogFileError(log, result.Error);
    return false;
}

// The lenient UTF-8 test: lead bytes choose one to three continuation bytes, each of which
// needs only its top bit; overlong forms and surrogates pass.
bool PassesUtf8Test(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        auto lead = static_cast<unsigned char>(bytes[i]);
        ++i;
        if (lead < 0x80) {
            continue;
        }
        size_t following = 0;
        if ((lead & 0x20) == 0) {
            following = 1;
        } else if ((lead & 0x10) == 0) {
            following = 2;
        } else if ((lead & 0x08) == 0) {
            following = 3;
        } else {
            return false;
        }
        if (bytes.size() - i < following) {
            return false;
        }
        for (size_t k = 0; k < following; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0x80) == 0) {
                return false;
            }
        }
        i += following;
    }
    return true;
}

size_t RemoveZeroBytes(std::string& bytes) {
    size_t before = bytes.size();
    std::erase(bytes, '\0');
    return before - bytes.size();
}

void LogRemovedNulls(std::u16string& log, size_t removed) {
    if (removed > 0) {
        AppendLogEntry(&log, u"nulls_removed", {LogNumber(u"count", removed)});
    }
}

void LogTransfer(std::u16string& log, std::u16string_view entry, std::u16string_view encoding,
                 size_t length) {
    AppendLogEntry(&log, entry, {LogText(u"encoding", encoding), LogNumber(u"length", length)});
}

// A wide form named for 8-bit bytes (a declaration read as 8-bit text names UTF-16, say) cannot
// describe those bytes; they are read as UTF-8, as the declaration itself was.
const char* ReadCharsetFor(std::u16string_view encoding) {
    int codePage = CXmlDocument::CodePageFromName(encoding);
    if (internal::IsWideForm(codePage)) {
        return "UTF-8";
    }
    return internal::IconvNameForCodePage(codePage);
}

void DecodeBytes(std::string_view bytes, std::u16string_view encoding, std::u16string& text) {
    if (!DecodeCharset(bytes, ReadCharsetFor(encoding), text)) {
        DecodeCharset(bytes, internal::kAnsiIconvName, text);
    }
}

void ReadUtf16(std::string_view bytes, bool bigEndian, TextFileState& state, std::u16string& text) {
    size_t units = bytes.size() / 2;
    text.reserve(units + units / 100);
    for (size_t i = 0; i < units; ++i) {
        auto first = static_cast<unsigned char>(bytes[2 * i]);
        auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        unsigned value = bigEndian ? (first << 8) | second : first | (second << 8);
        text.push_back(static_cast<char16_t>(value));
    }
    LogTransfer(state.log, u"read", state.encoding, units);
    size_t before = text.size();
    std::erase(text, u'\0');
    LogRemovedNulls(state.log, before - text.size());
    if (bigEndian) {
        AppendLogEntry(&state.log, u"endian_swap");
    }
}

void ReadEightBit(std::string& bytes, TextFileState& state, std::u16string& text) {
    LogTransfer(state.log, u"read", state.encoding, bytes.size());
    LogRemovedNulls(state.log, RemoveZeroBytes(bytes));
    if (state.encoding.empty()) {
        if (PassesUtf8Test(bytes)) {
            state.encoding = u"UTF-8";
            internal::UpdateLogEntry(&state.log, u"read", {LogText(u"encoding", u"UTF-8")});
        }
        AppendLogEntry(&state.log, u"utf8_detection");
    }
    DecodeBytes(bytes, state.encoding, text);
    LogTransfer(state.log, u"converted_to", u"UTF-16", text.size());
}

// The caller's non-empty encoding wins for 8-bit text; otherwise the caller learns the one used.
void MergeCallerEncoding(std::u16string* callerEncoding, TextFileState& state) {
    if (callerEncoding == nullptr || *callerEncoding == state.encoding) {
        return;
    }
    if (state.unitSize == 1 && !callerEncoding->empty()) {
        state.encoding = *callerEncoding;
        return;
    }
    *callerEncoding = state.encoding;
}

void DetectEncoding(std::string_view bytes, TextFileState& state, size_t& bodyStart) {
    std::string_view probe = bytes.substr(0, kProbeSize);
    const ByteOrderMark* mark = MarkAtStart(probe);
    if (mark != nullptr) {
        state.flags |= mark->flag;
        state.encoding = mark->encoding;
        state.unitSize = mark->unitSize;
        bodyStart = mark->bytes.size();
        AppendLogEntry(&state.log, u"bom");
        return;
    }
    std::u16string probeText;
    DecodeCharset(probe, "UTF-8", probeText);
    state.encoding = CXmlDocument::FindDeclaredEncoding(probeText);
    if (state.encoding.empty() && !bytes.empty() && bytes[0] == '<') {
        state.encoding = u"UTF-8";
    }
}

void FinishState(TextFileState& state, std::u16string* log, uint32_t* flags) {
    if (log != nullptr) {
        *log = std::move(state.log);
    }
    if (flags != nullptr) {
        *flags = state.flags & ~kTransferBits;
    }
}

bool ReadFile(std::u16string* encoding, std::u16string_view path, uint64_t maxBytes,
              std::u16string& text, TextFileState& state) {
    std::string bytes;
    if (!ReadWholeFile(path, maxBytes, bytes, state.log)) {
        return false;
    }
    size_t bodyStart = 0;
    if (!bytes.empty()) {
        DetectEncoding(bytes, state, bodyStart);
    }
    MergeCallerEncoding(encoding, state);
    bytes.erase(0, bodyStart);
    if (bytes.empty()) {
        LogTransfer(state.log, u"read", state.encoding, 0);
    } else if (state.unitSize == 2) {
        ReadUtf16(bytes, (state.flags & CXmlDocument::kModeUtf16BeMark) != 0, state, text);
    } else {
        ReadEightBit(bytes, state, text);
    }
    return true;
}

// How a text is to be written: which mark, in which encoding.
struct WritePlan {
    const ByteOrderMark* mark = nullptr;
    int codePage = internal::kCodePageAnsi;
};

// The mark the flags name, else the encoding the caller or the text names, else UTF-8. A
// UTF-16 name without a mark is written as UTF-16 with its mark, so that the file reads back
// as it was written; a UTF-32 name is written as UTF-8, which reads back through the same
// name; a UTF-8 mark is dropped when the caller's encoding overrides UTF-8.
WritePlan PlanWrite(std::u16string_view text, std::u16string* callerEncoding,
                    TextFileState& state) {
    WritePlan plan;
    plan.mark = MarkForFlags(state.flags);
    if (plan.mark != nullptr) {
        state.encoding = plan.mark->encoding;
        state.unitSize = plan.mark->unitSize;
    } else if (!text.empty()) {
        state.encoding = CXmlDocument::FindDeclaredEncoding(text);
        if (state.encoding.empty()) {
            state.encoding = u"UTF-8";
        }
    }
    MergeCallerEncoding(callerEncoding, state);
    plan.codePage = CXmlDocument::CodePageFromName(state.encoding);
    if (plan.mark == nullptr || plan.mark->unitSize == 1) {
        if (plan.codePage == internal::kCodePageUtf16Le ||
            plan.codePage == internal::kCodePageUtf16Be) {
            plan.mark = &MarkForWideForm(plan.codePage);
            state.unitSize = 2;
        } else if (internal::IsWideForm(plan.codePage)) {
            plan.codePage = internal::kCodePageUtf8;
        }
    }
    if (plan.mark != nullptr && plan.mark->unitSize == 1 &&
        plan.codePage != internal::kCodePageUtf8) {
        plan.mark = nullptr;
    }
    state.flags &= ~kMarkBits;
    if (plan.mark != nullptr) {
        state.flags |= plan.mark->flag;
    }
    return plan;
}

std::string Utf16Bytes(std::u16string_view text, bool bigEndian) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        auto high = static_cast<char>(unit >> 8);
        auto low = static_cast<char>(unit & 0xFF);
        bytes.push_back(bigEndian ? high : low);
        bytes.push_back(bigEndian ? low : high);
    }
    return bytes;
}

// The bytes of the text after the mark, logging the conversion as it goes.
std::string EncodeBody(std::u16string_view text, const WritePlan& plan, TextFileState& state) {
    if (state.unitSize == 2) {
        bool bigEndian = plan.mark->flag == CXmlDocument::kModeUtf16BeMark;
        if (bigEndian) {
            AppendLogEntry(&state.log, u"endian_swap");
        }
        return Utf16Bytes(text, bigEndian);
    }
    std::string bytes;
    bool lossy = false;
    if (!EncodeCharset(text, internal::IconvNameForCodePage(plan.codePage), bytes, &lossy)) {
        EncodeCharset(text, internal::kAnsiIconvName, bytes, &lossy);
    }
    LogTransfer(state.log, u"converted_from", u"UTF-16", text.size());
    if (lossy) {
        AppendLogEntry(&state.log, u"conversion_loss");
    }
    return bytes;
}

bool WriteFile(std::u16string_view text, std::u16string_view path, std::u16string* encoding,
               TextFileState& state) {
    WritePlan plan = PlanWrite(text, encoding, state);
    // A link at `path` is replaced by the new file, never written through: every file written
    // so lies in the library or its configuration, and a link must not carry a write elsewhere.
    CReplacingFile file;
    if (!file.Open(NativePath(path))) {
        LogFileError(state.log, errno);
        return false;
    }
    std::string bytes;
    if (plan.mark != nullptr) {
        bytes.assign(plan.mark->bytes);
        AppendLogEntry(&state.log, u"bom");
    }
    std::string body;
    if (!text.empty()) {
        body = EncodeBody(text, plan, state);
    }
    // UTF-16 counts code units written, every other encoding bytes.
    size_t written = state.unitSize == 2 ? text.size() : body.size();
    bytes += body;
    if (!file.Write(bytes) || !file.Commit()) {
        LogFileError(state.log, errno);
        return false;
    }
    LogTransfer(state.log, u"write", state.encoding, written);
    return true;
}

// The name after "charset" and "=" in a meta Content-Type value such as
// "text/html; charset=gbk".
std::u16string CharsetFromContent(std::u16string_view content) {
    std::u16string_view previous;
    std::u16string_view beforePrevious;
    size_t offset = 0;
    while (true) {
        internal::NameSpan span = internal::ReadName(content, offset);
        if (span.length == 0) {
            return {};
        }
        std::u16string_view name = content.substr(span.start, span.length);
        if (previous == u"=" && EqualsIgnoringAsciiCase(beforePrevious, u"charset")) {
            return std::u16string(name);
        }
        beforePrevious = previous;
        previous = name;
        offset = span.start + span.length;
    }
}

std::u16string_view TagName(std::u16string_view text, const internal::XmlNode& node,
                            size_t nameOffset) {
    internal::NameSpan span = internal::ReadName(text, node.start + nameOffset);
    return text.substr(span.start, std::min(span.length, node.start + node.length - span.start));
}

bool IsStartTag(const internal::XmlNode& node) {
    return node.kind == internal::XmlNodeKind::StartTag ||
           node.kind == internal::XmlNodeKind::EmptyElementTag;
}

} // namespace

int CXmlDocument::CodePageFromName(std::u16string_view name) {
    return internal::CodePageFromCharsetName(name);
}

std::u16string CXmlDocument::FindDeclaredEncoding(std::u16string_view text) {
    using internal::XmlNodeKind;
    internal::XmlTokenizer tokenizer(text, nullptr);
    internal::XmlNode node;
    bool inHtml = false;
    while (tokenizer.Next(node)) {
        std::u16string_view tag = text.substr(node.start, node.length);
        if (node.start == 0 && node.kind == XmlNodeKind::ProcessingInstruction &&
            EqualsIgnoringAsciiCase(TagName(text, node, 2), u"xml")) {
            return std::u16string(
                internal::FindAttributeValue(tag, u"encoding", true).value_or(u""));
        }
        if (node.kind == XmlNodeKind::Error) {
            return {};
        }
        if (node.kind == XmlNodeKind::EndTag && inHtml &&
            EqualsIgnoringAsciiCase(TagName(text, node, 2), u"head")) {
            return {};
        }
        if (!IsStartTag(node)) {
            continue;
        }
        std::u16string_view name = TagName(text, node, 1);
        if (!inHtml) {
            if (!EqualsIgnoringAsciiCase(name, u"html")) {
                return {};
            }
            inHtml = true;
            continue;
        }
        if (!EqualsIgnoringAsciiCase(name, u"meta")) {
            continue;
        }
        auto httpEquiv = internal::FindAttributeValue(tag, u"http-equiv", true);
        if (httpEquiv && EqualsIgnoringAsciiCase(*httpEquiv, u"Content-Type")) {
            return CharsetFromContent(
                internal::FindAttributeValue(tag, u"content", true).value_or(u""));
        }
    }
    return {};
}

bool CXmlDocument::ReadTextAsWide(std::u16string* encoding, std::u16string_view path,
                                  std::u16string& text, std::u16string* log, uint32_t* flags,
                                  uint64_t maxBytes) {
    TextFileState state;
    state.flags = (flags != nullptr ? *flags : 0) | kModeReading;
    text.clear();
    bool read = ReadFile(encoding, path, maxBytes, text, state);
    if (!read) {
        text.clear();
    }
    FinishState(state, log, flags);
    return read;
}

FileRefusal CXmlDocument::FindFileRefusal(std::u16string_view log) {
    std::u16string opening = u"<";
    opening += kRefusedEntry;
    opening += u" reason=\"";
    size_t found = log.find(opening);
    if (found == std::u16string_view::npos) {
        return FileRefusal::None;
    }
    std::u16string_view reason = log.substr(found + opening.size());
    if (reason.starts_with(kNotRegularFile)) {
        return FileRefusal::NotRegularFile;
    }
    if (reason.starts_with(kTooLarge)) {
        return FileRefusal::TooLarge;
    }
    return FileRefusal::None;
}

bool CXmlDocument::WriteWideAsText(std::u16string_view text, std::u16string_view path,
                                   std::u16string* log, uint32_t* flags, std::u16string* encoding) {
    TextFileState state;
    state.flags = (flags != nullptr ? *flags : 0) | kModeWriting;
    bool written = WriteFile(text, path, encoding, state);
    FinishState(state, log, flags);
    return written;
}

bool CXmlDocument::LoadFile(std::u16string_view path, uint64_t maxBytes) {
    // Each load describes its own file: a mark found by an earlier load does not survive.
    documentModeBits_ &= ~kMarkBits;
    bool read = ReadTextAsWide(nullptr, path, text_, &resultLog_, &documentModeBits_, maxBytes);
    if (!read) {
        text_.clear();
        ParseDocument();
        return false;
    }
    return ParseDocument();
}

bool CXmlDocument::SaveFile(std::u16string_view path) {
    return WriteWideAsText(text_, path, &resultLog_, &documentModeBits_, nullptr);
}

FileCondition JudgeUnloadedFile(std::u16string_view path, uint64_t maxBytes, std::u16string& text) {
    struct stat status {};
    if (lstat(NativePath(path).c_str(), &status) != 0 && errno == ENOENT) {
        return FileCondition::Missing;
    }
    std::u16string log;
    if (CXmlDocument::ReadTextAsWide(nullptr, path, text, &log, nullptr, maxBytes) ||
        CXmlDocument::FindFileRefusal(log) == FileRefusal::TooLarge) {
        return FileCondition::Damaged;
    }
    return FileCondition::Unreadable;
}

} // namespace velunor
