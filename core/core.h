#pragma once
// Text and path utilities shared by every part of Velunor.
//
// Wide text is UTF-16 in std::u16string; byte text is std::string. The ANSI
// code page is always code page 936, read and written as GB18030 whatever the
// locale. Every conversion from bytes is lossless: a byte that is not part of a
// valid sequence becomes U+DC00 + byte, and converting back to bytes restores
// exactly that byte. All functions are stateless and may be called from any
// thread at the same time.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velunor {

/// True for an ASCII upper-case letter.
constexpr bool IsAsciiUpper(char16_t c) {
    return c >= u'A' && c <= u'Z';
}

/// True for an ASCII letter.
constexpr bool IsAsciiLetter(char16_t c) {
    return IsAsciiUpper(c) || (c >= u'a' && c <= u'z');
}

/// ASCII letters lower-cased; every other character unchanged.
constexpr char16_t AsciiLower(char16_t c) {
    return IsAsciiUpper(c) ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

/// True for the ASCII white space of HTML: space, tab, LF, FF and CR.
constexpr bool IsAsciiSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r';
}

/// True for the first unit of a surrogate pair.
constexpr bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

/// True for the second unit of a surrogate pair.
constexpr bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

/// The character a surrogate pair stands for.
constexpr char32_t CombineSurrogates(char16_t high, char16_t low) {
    return 0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) + (low - 0xDC00);
}

/// The first unit of the surrogate pair for `codePoint` (U+10000 or above).
constexpr char16_t HighSurrogateOf(char32_t codePoint) {
    return static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
}

/// The second unit of the surrogate pair for `codePoint` (U+10000 or above).
constexpr char16_t LowSurrogateOf(char32_t codePoint) {
    return static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
}

/// `text` with its ASCII letters lower-cased.
std::u16string AsciiLowered(std::u16string_view text);

/// True when the two texts are equal ignoring the case of ASCII letters.
bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);

/// Decodes ANSI (code page 936) bytes up to the first NUL. Never fails.
std::u16string AnsiToWide(std::string_view bytes);

/// Decodes UTF-8 bytes up to the first NUL; invalid bytes become U+DC80..U+DCFF. Never fails.
std::u16string Utf8ToWide(std::string_view bytes);

/// Encodes wide text in code page 936 up to the first NUL; escaped bytes come back as they were.
std::string WideToAnsi(std::u16string_view wide);

/// Encodes wide text as UTF-8 up to the first NUL; an escaped byte or a lone surrogate is
/// written as U+FFFD, since UTF-8 cannot hold it.
std::string WideToUtf8(std::u16string_view wide);

/// Appends the UTF-8 bytes of the code point `codePoint` (at most U+10FFFF) to `bytes`.
void AppendUtf8(char32_t codePoint, std::string& bytes);

/// Re-reads text that was decoded with the ANSI code page as the UTF-8 it really was.
std::u16string ReinterpretAsUtf8(std::u16string_view decodedAsAnsi);

/// Decodes the whole of `bytes` (NULs included) from the iconv charset `charset`; "UTF-8" and
/// "GB18030" use the lossless codecs above. Returns false, leaving `wide` empty, when the system
/// has no such charset.
bool DecodeCharset(std::string_view bytes, const char* charset, std::u16string& wide);

/// Encodes the whole of `wide` in the iconv charset `charset`. A character the charset cannot
/// hold becomes "?" and sets `*lossy` (when given). Returns false, leaving `bytes` empty, when the
/// system has no such charset.
bool EncodeCharset(std::u16string_view wide, const char* charset, std::string& bytes,
                   bool* lossy = nullptr);

/// True when XML 1.0 can hold the code unit `c` as a character: not a C0 control other than tab,
/// LF and CR, and not U+FFFE or U+FFFF. Surrogates count as allowed; XmlSafeText checks that
/// they come in pairs.
constexpr bool IsXmlChar(char16_t c) {
    if (c < 0x20) {
        return c == u'\t' || c == u'\n' || c == u'\r';
    }
    return c != 0xFFFE && c != 0xFFFF;
}

/// `text` with every character that XML 1.0 cannot hold dropped, and an unpaired surrogate (a
/// byte no encoding could read) made U+FFFD, so that any text from a site or a file can be
/// written into an XML file and read back from it.
std::u16string XmlSafeText(std::u16string_view text);

/// Decimal digits of `value`, as wide text.
std::u16string DecimalText(long long value);

/// The number that `text`, decimal digits only, writes; false for an empty text, any other
/// character, or a number of more than 18 digits.
bool ParseDecimal(std::u16string_view text, long long& value);

/// Replaces every occurrence of `from` in `text` by `to`, left to right; text put in is never
/// searched again. Nothing happens when `from` is empty.
void ReplaceAll(std::u16string& text, std::u16string_view from, std::u16string_view to);

/// The absolute address `reference` names when read on the page at `base`, resolved as browsers
/// and redirects resolve references (RFC 3986 section 5), in any scheme libcurl knows; the
/// scheme is written in lower case, every other character as written, nothing percent-encoded.
/// Empty when `base` is not an absolute address or the reference cannot be read.
std::u16string ResolveReference(std::u16string_view base, std::u16string_view reference);

/// The scheme and host of an address, as written: "http://127.0.0.1:8808" of
/// "http://127.0.0.1:8808/a/?b". Empty when it names no scheme.
std::u16string_view AddressOrigin(std::u16string_view url);

/// The folder part of an address, up to and including the last "/" before its query: where
/// sites keep the contents page of the chapters in it. Empty when it has no "/".
std::u16string_view AddressFolder(std::u16string_view url);

/// The file name of an address: what follows its folder, up to its query ("1.jpg" of
/// "http://x/a/1.jpg?v=2").
std::u16string_view AddressFileName(std::u16string_view url);

/// Replaces `link` by its absolute form against `base` (the address of the page the link was
/// found on), or empties it when it cannot be resolved. On top of ResolveReference: the link's
/// text is read as browsers read an href, an empty link stays empty, "#" gives `base` itself,
/// an absolute http(s) link stays as written, a last segment of `base` without "." and without
/// a query names a folder, and a link climbing above the site root or leading to another
/// scheme than http and https is emptied.
void CompleteUrl(std::u16string_view base, std::u16string& link);

/// True when `path` names an existing folder.
bool IsDirectory(std::u16string_view path);

/// Creates `path` and every missing parent; true when the folder exists at the end.
bool CreateFolderPath(std::u16string_view path);

/// Creates the folder `path` below `root` as CreateFolderPath does, except that nothing below
/// `root` is followed: a symbolic link where a folder of `path` belongs is replaced by a real,
/// empty folder (what it pointed to stays as it was), so that no write into `path` can land
/// outside `root`. `root` itself is created when missing and may be a link. False when `path`
/// does not lie below `root`, or a part of it is a file or cannot be made.
bool CreateRealFolderPath(std::u16string_view root, std::u16string_view path);

/// Deletes the folder `path` with everything inside it, read-only files included. A symbolic
/// link, whether `path` itself (with or without a trailing "/") or an entry inside, is removed
/// without following it, so nothing outside the folder is touched. Whatever cannot be deleted
/// stays; nothing is reported.
void DeleteFolderTree(std::u16string_view path);

/// What a folder entry is in itself: a symbolic link is a link, whatever it points to.
enum class EntryKind { File, Folder, Link, Other };

/// One entry of a folder: its name as the file system stores it (not converted, so a name that is
/// not UTF-8 keeps its bytes) and its kind.
struct DirectoryEntry {
    std::string Name;
    EntryKind Kind = EntryKind::Other;
};

/// The entries of the folder at `nativeFolder` (a system path, see NativePath), "." and ".."
/// left out, in the file system's order; links are not followed. Empty when it cannot be read.
std::vector<DirectoryEntry> ListFolder(const std::string& nativeFolder);

/// The folder of the running executable, ending in "/"; empty when it cannot be found.
std::u16string GetProgramFolder();

/// Makes the program folder the current directory (for an installed copy: the folder of its
/// shipped pages, see FolderLayout), so that files found from either are the same files however
/// the program was launched. False when it cannot.
bool EnterProgramFolder();

/// `name` (a site, novel or image name from a site or rule file) made safe as one path
/// component: "/", backslash and what XML cannot hold (see IsXmlChar: NUL, the other C0 controls
/// but tab, LF and CR, U+FFFE, U+FFFF) become "_", a name made only of dots ("." or "..") or an
/// empty name becomes as many "_" (at least one), and the name is cut, never inside a character, to
/// at most 200 bytes of UTF-8. A name that needs none of this comes back unchanged.
std::u16string CleanPathComponent(std::u16string_view name);

/// The path as the system calls take it: UTF-8 bytes.
std::string NativePath(std::u16string_view path);

/// The largest files read, by kind: rule files, configuration files (bookshelf, search
/// results, site selection) and pages (HTML pages and anything else a caller names).
inline constexpr uint64_t kRuleFileLimit = 4 * 1024 * 1024;
inline constexpr uint64_t kConfigFileLimit = 16 * 1024 * 1024;
inline constexpr uint64_t kPageFileLimit = 64 * 1024 * 1024;

/// How a whole-file read ended.
enum class FileReadStatus {
    Read,           ///< the bytes are the whole file
    NotRegularFile, ///< a folder, FIFO, socket or device: refused unread
    TooLarge,       ///< more than the limit: refused
    Failed,         ///< the file could not be opened or read; the error says why
};

/// The outcome of ReadFileBytes.
struct FileReadResult {
    FileReadStatus Status = FileReadStatus::Failed;
    /// The system's error number when Failed.
    int Error = 0;
    /// When TooLarge: the size found, at least the limit plus one.
    uint64_t Size = 0;
};

/// Maps in one call the pages that lie wholly inside the `bytes` bytes at `block`, a block about
/// to be written from front to back, instead of taking a page fault at each page's first
/// write; on a virtual machine a fault can cost more than the work done on the page. A hint:
/// nothing happens where the system cannot do it. Any thread.
void PrefaultForWriting(void* block, size_t bytes);

/// Reads the regular file at `path` whole into `bytes`, when it holds at most `maxBytes`
/// bytes. Anything but a regular file is refused unread (a device such as /dev/zero never
/// ends, a FIFO may never end), and so is a file that grows past the limit while it is read.
/// `bytes` is empty unless the status is Read. Blocks on the disk; any thread may call it.
FileReadResult ReadFileBytes(std::u16string_view path, uint64_t maxBytes, std::string& bytes);

/// A file that replaces its target only once it is whole. It is written under a hidden
/// temporary name beside the target, ".<target name>.tmp-<pid>-<n>" (<n> counting the
/// process's saves), flushed to the disk and renamed onto the target at the end, so that a
/// failure or a crash at any point leaves either the old file or the whole new one. A link at
/// the target is replaced, never written through. From before the temporary file exists until
/// it is renamed or removed it counts as a running save of this process, so that
/// RemoveStaleTemporaries leaves it alone. One thread uses an object.
class CReplacingFile {
  public:
    CReplacingFile() = default;
    /// Removes the temporary file unless Commit renamed it.
    ~CReplacingFile();
    CReplacingFile(const CReplacingFile&) = delete;
    CReplacingFile& operator=(const CReplacingFile&) = delete;

    /// Creates the temporary file beside `nativeTarget` (a system path). The first save into a
    /// folder in a process first removes the temporaries that interrupted saves left there.
    /// False, with errno set, when it cannot: EISDIR when the target is a folder or ends in
    /// "/", EACCES when an existing target may not be written (replacing it by rename would
    /// bypass its write protection). Call once. With `ownerOnly` the file is created readable
    /// and writable by its owner alone (mode 0600) and keeps that mode whatever the target had,
    /// so that its content is never open to others, not even while it is written.
    bool Open(const std::string& nativeTarget, bool ownerOnly = false);
    /// Appends `bytes`; false, with errno set, when the disk refuses them.
    bool Write(std::string_view bytes);
    /// Flushes the file to the disk and renames it onto the target, which keeps the
    /// permissions an existing target had; false, with errno set, when that fails, and the
    /// temporary file is gone.
    bool Commit();
    /// The temporary file's path while it exists; empty otherwise.
    const std::string& TemporaryPath() const {
        return temporary_;
    }

  private:
    void Discard();

    int fd_ = -1;
    std::string temporary_;
    std::string target_;
    unsigned number_ = 0;
    bool running_ = false;
};

/// The parts of a hidden name ".<stem><infix><pid>-<n>" that a process gives a file or folder
/// while it saves or deletes it, so that a later run can tell whether that process has ended.
struct ProcessMarkedName {
    std::string Stem;
    int Pid = 0;
    unsigned Number = 0;
};

/// Reads `name` as ".<stem><infix><pid>-<n>": a stem of one character at least, a process number
/// above 0 and a count, both decimal as written (no sign, no leading zero). False for any other
/// name.
bool ParseProcessMarkedName(std::string_view name, std::string_view infix,
                            ProcessMarkedName& parsed);

/// True when no process has the number `pid` any more; one of another user still runs.
bool HasProcessEnded(int pid);

/// Removes from the folder `nativeFolder` the temporary files of CReplacingFile that belong to
/// no running save: those of processes that are gone, and those of this process that no
/// CReplacingFile holds. The temporary files of live processes (which may be saving the same
/// file at this moment), other names, folders and links stay. Errors are ignored. Costs one
/// read of the folder; CReplacingFile::Open calls it once per folder and process.
void RemoveStaleTemporaries(const std::string& nativeFolder);

/// Moves the file at `path` aside, into the same folder, as "<name>.damaged-<local time>" (with
/// "-2", "-3", ... when that name is taken), so that a damaged file is kept for the user rather
/// than overwritten. Returns its new path; empty, with the file left where it was, when it
/// cannot be moved. Blocks on the disk.
std::u16string MoveDamagedFileAside(const std::u16string& path);

/// An exclusive lock on the lock file at `lockFilePath` (created when missing, never removed),
/// held from construction to destruction. Every read-modify-write of a file that two processes
/// may edit runs inside one, so neither undoes the other's change; two threads of one process
/// take turns too. A link at `lockFilePath` is replaced by a plain file, never followed. When
/// the lock file can neither be created nor opened (a missing folder) nothing is locked and
/// Locked() is false: the caller goes on, as the file it guards cannot be edited there either.
/// With `wait` (the default) blocks until the lock is free; without, takes it only when it is
/// free now, and Busy() tells that someone else holds it.
class CFileLock {
  public:
    explicit CFileLock(std::u16string_view lockFilePath, bool wait = true);
    ~CFileLock();
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

    bool Locked() const {
        return fd_ >= 0;
    }
    /// True when the lock was not taken because another opening of the file holds it.
    bool Busy() const {
        return busy_;
    }

  private:
    int fd_ = -1;
    bool busy_ = false;
};

/// The names in the folder at `nativeFolder` (a system path) that begin with `prefix`, as the
/// file system stores them, "." and ".." left out, in the file system's order. Unlike
/// ListFolder it asks for no entry's status, so it costs one read of the folder and nothing per
/// entry. Empty when the folder cannot be read.
std::vector<std::string> ListFolderNames(const std::string& nativeFolder, std::string_view prefix);

} // namespace velunor
