#pragma once
// XML documents and text files for Velunor.
//
// CXmlDocument keeps a document as one UTF-16 string plus an index of its elements; it never
// builds a tree of node objects. A cursor of three element indices (parent, current, child)
// moves through the index; reads cut text out of the string and edits splice it, patching the
// index in place. Parsing is tolerant: a damaged file still yields the elements that can be
// found, and ResultLog says what was wrong. Every offset and length counts UTF-16 code units.
// The static functions read and write any text file (XML or HTML) with its encoding: byte-order
// marks, the XML declaration, an HTML meta Content-Type, a UTF-8 test and the ANSI code page.
//
// Some members are called only by the tests: FindChildElement, ReadTagName, SetAttribute, the
// AddElement options, and the readers of the cursor, the result log and the mode bits. They stay
// because they are the document's own data and operations, not helpers of one caller.
//
// Only regular files are read, and only up to a size limit that the caller chooses by the kind
// of file; a file refused for either reason is not read at all, and the result log says why.
// Saving writes a temporary file beside the target and renames it over the target; the
// temporary files that interrupted saves left behind are removed when the same file is saved
// again.
//
// A document has no locking: one thread at a time. The static functions share no state and may
// be called from any thread. Nothing here throws for bad input; failures are false or empty.

#include "core/core.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace velunor {

namespace internal {
class ElementIndex;
}

/// Why a read refused a file without reading it.
enum class FileRefusal {
    None,           ///< not refused (it may still have failed to open or read)
    NotRegularFile, ///< a folder, FIFO, socket or device
    TooLarge,       ///< larger than the limit the caller gave
};

/// What a file that the program keeps its own lists or settings in was found to be.
enum class FileCondition {
    Whole,      ///< read and well-formed
    Missing,    ///< there is no file at the path
    Damaged,    ///< read but not well-formed, or far larger than such a file grows: keep it
                ///< aside for the user rather than overwrite it
    Unreadable, ///< cannot be read at all (a folder, a FIFO, no read access): cannot be judged
};

/// The navigation cursor: element indices into the index, 0 meaning none.
struct ElementPosition {
    uint32_t parent = 0;
    uint32_t current = 0;
    uint32_t child = 0;
};

class CXmlDocument {
  public:
    /// DocumentModeBits: the byte-order mark of the file the document was loaded from.
    static constexpr uint32_t kModeUtf16LeMark = 0x1;
    static constexpr uint32_t kModeUtf8Mark = 0x4;
    static constexpr uint32_t kModeUtf16BeMark = 0x80;
    /// DocumentModeBits set only while a file is read, written or appended.
    static constexpr uint32_t kModeReading = 0x10;
    static constexpr uint32_t kModeWriting = 0x20;
    static constexpr uint32_t kModeAppending = 0x40;

    /// EncodeEntities modes: text escapes & < >; attribute also " and '.
    static constexpr uint32_t kEncodeText = 0x0;
    static constexpr uint32_t kEncodeAttribute = 0x1;
    /// EncodeEntities option: copies an "&" that begins a complete reference unchanged.
    static constexpr uint32_t kKeepReferences = 0x2;

    /// AddElement options (none is needed for the ordinary append).
    static constexpr uint32_t kAddNoLineBreak = 0x1;      ///< no CR LF after the element
    static constexpr uint32_t kAddCData = 0x2;            ///< value written as a CDATA section
    static constexpr uint32_t kAddSpaceBeforeSlash = 0x4; ///< empty value written "<name />"
    static constexpr uint32_t kAddAsChild = 0x8;          ///< last child of current, as child
    static constexpr uint32_t kAddBefore = 0x10;          ///< before current instead of after
    static constexpr uint32_t kAddStartTagOnly = 0x20;    ///< "<name>" alone, marked unended

    /// An empty document: no text, empty ResultLog, DocumentModeBits 0, no elements.
    CXmlDocument();
    /// A document holding `text`, parsed as by SetDocumentText.
    explicit CXmlDocument(std::u16string_view text);
    ~CXmlDocument();
    CXmlDocument(CXmlDocument&&) noexcept;
    CXmlDocument& operator=(CXmlDocument&&) noexcept;
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    /// Replaces the text, empties ResultLog and parses; true when the text is well-formed.
    bool SetDocumentText(std::u16string_view text);
    /// The document text as it stands after every edit.
    const std::u16string& GetDocumentText() const {
        return text_;
    }
    /// Rebuilds the element index from the text, appending to ResultLog; true when
    /// well-formed (some element, a single root, no error). Ends with ResetPosition.
    bool ParseDocument();
    /// Moves the cursor before the first root-level element.
    void ResetPosition();

    /// Moves current to the next element of the current level named `name` (nullptr: any);
    /// false, changing nothing, when there is none.
    bool FindElement(const char16_t* name = nullptr);
    /// Moves child to the next child of current named `name` (nullptr: any), first taking the
    /// first element of the level as current when there is none; false when no child matches.
    bool FindChildElement(const char16_t* name = nullptr);
    /// Descends: current becomes the parent, the child position the current one. False when
    /// there is no current element.
    bool EnterElement();
    /// Ascends: the parent becomes current. False at root level.
    bool LeaveElement();
    /// Moves the child position back before the first child of current, so that the next
    /// EnterElement starts the search of its children from the first one again.
    void RewindChildren() {
        position_.child = 0;
    }

    /// The text content of current with references decoded; empty when there is no current
    /// element, no content, or child elements.
    std::u16string GetElementText() const;
    /// The value of attribute `name` of current with references decoded; empty when there is
    /// no current element or it has no such attribute.
    std::u16string GetAttribute(const char16_t* name) const;
    /// The tag name of element `index`; empty for 0, a deleted or an unknown index.
    std::u16string ReadTagName(uint32_t index) const;
    /// The cursor.
    const ElementPosition& Position() const {
        return position_;
    }

    /// Replaces the content of current by `text` (escaped); false when there is no current
    /// element or it has child elements.
    bool SetElementText(std::u16string_view text);
    /// Inserts `<name>value</name>` + CR LF after current (or at the end of the level) and
    /// makes it current; false, changing nothing, for a name that cannot be written.
    bool AddElement(const char16_t* name, std::u16string_view value = {}, uint32_t options = 0);
    /// Deletes current with its content and the line break after it; current becomes the
    /// previous sibling (0 for a first child). False when there is no current element.
    bool RemoveElement();
    /// Sets attribute `name` of current to `value` (escaped), replacing or adding it; false
    /// when there is no current element or the name cannot be written.
    bool SetAttribute(const char16_t* name, std::u16string_view value);

    /// Reads the file at `path` (any encoding, at most `maxBytes` bytes, see ReadTextAsWide)
    /// and parses it; true when it was read and is well-formed. A file that cannot be read or
    /// is refused leaves an empty document, and ResultLog says why. Blocks on the disk.
    bool LoadFile(std::u16string_view path, uint64_t maxBytes = kPageFileLimit);
    /// Writes the text to `path` in the encoding it was loaded with (or that its declaration
    /// names, else UTF-8); true when written. The old file stays intact on failure.
    bool SaveFile(std::u16string_view path);

    /// What the last parse or file operation did: empty-element entries, at most ~1000 chars.
    const std::u16string& ResultLog() const {
        return resultLog_;
    }
    /// The byte-order-mark bits (kMode...Mark) of the loaded file; SaveFile writes that mark.
    uint32_t DocumentModeBits() const {
        return documentModeBits_;
    }
    /// The element index, for tests and invariant checks.
    const internal::ElementIndex& Index() const {
        return *index_;
    }

    /// An escaped copy of `text`: kEncodeText or kEncodeAttribute, optionally kKeepReferences.
    /// Characters XML 1.0 cannot hold are dropped and unpaired surrogates become U+FFFD
    /// (XmlSafeText), so every text and attribute value written reads back well-formed.
    static std::u16string EncodeEntities(std::u16string_view text, uint32_t mode);
    /// A copy of `text` with numeric and HTML 4.01 (plus apos) references decoded; a reference
    /// that is not one stays as written.
    static std::u16string DecodeEntities(std::u16string_view text);

    /// Reads the file at `path` into `text` as UTF-16. `encoding` (optional, in/out): a
    /// non-empty value overrides what an 8-bit file declares; it receives the encoding used.
    /// `log` (optional) is replaced by the entries; `flags` (optional, in/out) receives the
    /// byte-order-mark bit found. False, with `text` empty, when the file cannot be opened or
    /// read, or is refused: not a regular file, or more than `maxBytes` bytes (FindFileRefusal
    /// tells which from the log). Never waits for a writer of a FIFO. Blocks on the disk.
    static bool ReadTextAsWide(std::u16string* encoding, std::u16string_view path,
                               std::u16string& text, std::u16string* log, uint32_t* flags,
                               uint64_t maxBytes = kPageFileLimit);
    /// Writes `text` to `path`: with the mark that `flags` names, else in `encoding` (when
    /// non-empty), else in the encoding the text declares, else UTF-8. The file is replaced
    /// only once everything was written; temporary files that earlier, interrupted saves of
    /// `path` left beside it go first. `log` is replaced; `encoding` receives the encoding
    /// used. False when the file could not be written. Blocks on the disk.
    static bool WriteWideAsText(std::u16string_view text, std::u16string_view path,
                                std::u16string* log, uint32_t* flags, std::u16string* encoding);
    /// Why the read that wrote `log` (the log of ReadTextAsWide, or ResultLog after LoadFile)
    /// refused its file; None when it did not.
    static FileRefusal FindFileRefusal(std::u16string_view log);
    /// The encoding that `text` names in a leading XML declaration or in an HTML meta
    /// Content-Type inside its head; empty when it names none.
    static std::u16string FindDeclaredEncoding(std::u16string_view text);
    /// The Windows code page for an encoding name (ASCII case ignored); 0, the ANSI code page,
    /// for an empty or unknown name.
    static int CodePageFromName(std::u16string_view name);

  private:
    uint32_t NextCandidate(uint32_t previous, uint32_t parent) const;
    uint32_t FindMatching(uint32_t candidate, const char16_t* name) const;
    std::u16string_view TagNameView(uint32_t index) const;
    bool HasCurrent() const;
    bool Splice(size_t offset, size_t removed, std::u16string_view inserted, uint32_t enclosing);
    bool OpenForContent(uint32_t element, std::u16string_view content);
    size_t SkipLineBreak(size_t offset) const;
    size_t EndOfContent(uint32_t element) const;

    std::u16string text_;
    std::u16string resultLog_;
    ElementPosition position_;
    uint32_t documentModeBits_ = 0;
    std::unique_ptr<internal::ElementIndex> index_;
};

/// The text of the next element called `name` at the current level, found with FindElement;
/// empty, with the position unchanged, when there is none, so a missing field never reads the
/// text of the element before it.
std::u16string FindElementText(CXmlDocument& document, const char16_t* name);

/// What the file at `path`, which did not load as a well-formed document, is: Missing, Damaged
/// or Unreadable, never Whole. `text` receives what could be read of it (at most `maxBytes`
/// bytes). Blocks on the disk.
FileCondition JudgeUnloadedFile(std::u16string_view path, uint64_t maxBytes, std::u16string& text);

} // namespace velunor
