#pragma once
// Cookies as a browser keeps them: every site has one jar, which every request of the process
// to that site sends from and stores into (a search, a download, a reader's click, an image,
// the rule author's checks), on any thread at once. libcurl's cookie engine applies the rules
// of domain, path, expiry, Secure and HttpOnly, so a cookie never goes to a host its domain
// does not cover, and one site's jar never serves another site's requests.
//
// A jar lives in memory, and, when the process names a cookie folder, also in a file of its
// own there that only the user may read, so that a login or a passed challenge survives a
// restart. Session cookies (those without an expiry) are kept in the file too, as a browser
// that restores its session keeps them: sites remember a reader with them. Expired cookies are
// never kept. A file is written whole under a temporary name and renamed, soon after an answer
// set a cookie, at most once every few seconds, and at the end of a job and of the program.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velunor {

namespace internal {
struct CookieJarAccess;
}

/// One cookie as a jar lists it. Its value is left out: it is the site's secret for the reader.
struct CookieEntry {
    std::string Name;
    /// The host the cookie goes to, or with IncludeSubdomains the domain whose hosts all get it.
    std::string Domain;
    bool IncludeSubdomains = false;
    std::string Path;
    /// When it expires, in seconds since 1970; 0 for a session cookie.
    std::int64_t Expires = 0;
    bool Secure = false;
    bool HttpOnly = false;
};

/// A site's cookies. Every member may be called from any thread at the same time, also while
/// transfers use the jar.
class CCookieJar {
  public:
    /// An empty jar kept in memory only.
    CCookieJar();
    /// The jar kept in the file at `path`, filled from it now: a missing file gives an empty
    /// jar, a damaged one the cookies that can still be read from it. Blocks on the disk.
    explicit CCookieJar(std::u16string path);
    ~CCookieJar();
    CCookieJar(const CCookieJar&) = delete;
    CCookieJar& operator=(const CCookieJar&) = delete;

    /// The file of the jar; empty for a jar in memory only.
    const std::u16string& FilePath() const {
        return path_;
    }
    /// The cookies held now, expired ones left out, in libcurl's order.
    std::vector<CookieEntry> Cookies() const;
    /// Every cookie held now, expired ones left out, as lines of the Netscape cookie file with
    /// their values: what the browser that loads the site's pages starts with. Never shown.
    std::vector<std::string> CookieLines() const;
    /// Takes in the cookies of `lines` (Netscape cookie file lines: what the browser ended
    /// with); each replaces the jar's cookie of the same name, domain and path. A line that is
    /// no cookie, or an expired one, is skipped.
    void TakeCookieLines(const std::vector<std::string>& lines);
    /// Writes the jar to its file (mode 0600) when it holds something that the file does not.
    /// False when the file could not be written; true for a jar in memory only. Blocks.
    bool Save();
    /// Empties the jar and removes its file. False when the file is still there. Blocks.
    bool Clear();

  private:
    friend struct internal::CookieJarAccess;
    struct State;

    std::u16string path_;
    std::unique_ptr<State> state_;
};

/// Where the process keeps its jars from now on: one file per site in the folder `folder` (a
/// path ending in "/"; made, only the user may enter it, when the first jar is saved). Empty:
/// jars are kept in memory only, which is where they are until a program names a folder. Jars
/// already handed out keep their files. Any thread.
void SetCookieFolder(std::u16string folder);

/// The folder SetCookieFolder named last; empty when none.
std::u16string CookieFolder();

/// The file of the jar of the site named `siteName` in `folder`: folder + the name made a
/// single path component (CleanPathComponent) + ".txt".
std::u16string CookieFilePath(std::u16string_view folder, std::u16string_view siteName);

/// The jar of the site named `siteName`: one object for every call with that name while the
/// cookie folder stays the same, read from its file on the first call. A nameless site gets a
/// jar of its own, in memory only, that no other call returns. Blocks on the disk the first
/// time; any thread.
std::shared_ptr<CCookieJar> SiteCookieJar(std::u16string_view siteName);

/// Saves every jar handed out that holds a change not yet written: at the end of a job or of
/// the program. Blocks on the disk; any thread.
void SaveCookieJars();

/// Empties the jar of `siteName` in this process and removes its file in the cookie folder.
/// False when the file is still there. Blocks; any thread.
bool ClearSiteCookies(std::u16string_view siteName);

/// The sites that have a jar file in the cookie folder, by their file names without ".txt", in
/// the order of their names. Empty without a cookie folder.
std::vector<std::u16string> SitesWithCookieFiles();

} // namespace velunor
