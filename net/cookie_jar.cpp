// The cookie jars of the process: libcurl's cookie engine in one share handle per site, and the
// files that keep them between runs.

#include "net/cookie_jar.h"

#include "core/core.h"
#include "net/internal/cookie_jar_access.h"
#include "net/internal/curl_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <ctime>
#include <map>
#include <mutex>

namespace velunor {
namespace {

using Clock = std::chrono::steady_clock;
using internal::CLockedShare;

// A site that sets a cookie on every page (a session refreshed each time, a visit counter)
// would otherwise have its file written and flushed to the disk for every request; a change
// waits at most this long, or until the program ends.
constexpr auto kLeastTimeBetweenWrites = std::chrono::seconds(5);
constexpr std::string_view kFileHeader =
    "# Netscape HTTP Cookie File\n"
    "# The cookies Velunor keeps for one site. They can log the reader in: do not share them.\n";
// libcurl marks a cookie that scripts may not read by this prefix before its domain.
constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";
constexpr std::u16string_view kJarFileSuffix = u".txt";

struct EasyDeleter {
    void operator()(CURL* easy) const {
        curl_easy_cleanup(easy);
    }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct CookieListDeleter {
    void operator()(curl_slist* list) const {
        curl_slist_free_all(list);
    }
};

// The fields of one line of a cookie file, as libcurl writes and reads them.
enum CookieField { kDomain, kSubdomains, kPath, kSecure, kExpires, kName, kValue, kFieldCount };

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

// `line` as a cookie; false when it is no cookie line (a comment, a damaged line).
bool ParseCookieLine(std::string_view line, CookieEntry& entry) {
    entry.HttpOnly = line.starts_with(kHttpOnlyPrefix);
    if (entry.HttpOnly) {
        line.remove_prefix(kHttpOnlyPrefix.size());
    }
    if (line.starts_with('#')) {
        return false;
    }
    std::vector<std::string_view> fields = SplitFields(line);
    if (fields.size() != kFieldCount || fields[kDomain].empty() || fields[kName].empty()) {
        return false;
    }
    std::string_view expires = fields[kExpires];
    auto [end, error] =
        std::from_chars(expires.data(), expires.data() + expires.size(), entry.Expires);
    if (error != std::errc() || end != expires.data() + expires.size() || entry.Expires < 0) {
        return false;
    }
    std::string_view domain = fields[kDomain];
    if (domain.starts_with('.')) {
        domain.remove_prefix(1);
    }
    entry.Domain = std::string(domain);
    entry.IncludeSubdomains = fields[kSubdomains] == "TRUE";
    entry.Path = std::string(fields[kPath]);
    entry.Secure = fields[kSecure] == "TRUE";
    entry.Name = std::string(fields[kName]);
    return true;
}

bool Expired(const CookieEntry& entry, std::int64_t now) {
    return entry.Expires != 0 && entry.Expires <= now;
}

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

// Makes the folder of the jar files, which only the user may enter; its parents as any folder.
bool MakePrivateFolder(const std::u16string& folder) {
    if (IsDirectory(folder)) {
        return true;
    }
    std::size_t slash = folder.rfind(u'/');
    if (slash != std::u16string::npos && slash > 0 && !CreateFolderPath(folder.substr(0, slash))) {
        return false;
    }
    return ::mkdir(NativePath(folder).c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteJarFile(const std::u16string& path, const std::string& text) {
    std::size_t slash = path.rfind(u'/');
    if (slash != std::u16string::npos && !MakePrivateFolder(path.substr(0, slash))) {
        return false;
    }
    CReplacingFile file;
    return file.Open(NativePath(path), true) && file.Write(text) && file.Commit();
}

} // namespace

struct CCookieJar::State {
    CLockedShare share{CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_DNS};
    // Guards what follows and orders the writes of the file.
    std::mutex saveLock;
    // True when an answer set a cookie since the file was last written.
    bool changed = false;
    // The file's text as last read or written, so that a jar that did not change is not
    // written again.
    std::string written;
    Clock::time_point lastWrite{};

    // An easy handle that reaches the jar's cookies, for loading and listing them; libcurl
    // takes the share's cookie lock around each use.
    EasyHandle Reach() const {
        EasyHandle easy(curl_easy_init());
        if (easy != nullptr && share.Handle() != nullptr) {
            curl_easy_setopt(easy.get(), CURLOPT_SHARE, share.Handle());
        }
        return easy;
    }

    // Every cookie line, expired ones included.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        EasyHandle easy = Reach();
        curl_slist* raw = nullptr;
        if (easy == nullptr ||
            curl_easy_getinfo(easy.get(), CURLINFO_COOKIELIST, &raw) != CURLE_OK) {
            return lines;
        }
        std::unique_ptr<curl_slist, CookieListDeleter> list(raw);
        for (curl_slist* item = list.get(); item != nullptr; item = item->next) {
            lines.emplace_back(item->data);
        }
        return lines;
    }

    // The text of the jar's file: the cookies that have not expired.
    std::string FileText() const {
        std::string text(kFileHeader);
        std::int64_t now = Now();
        for (const std::string& line : Lines()) {
            CookieEntry entry;
            if (ParseCookieLine(line, entry) && !Expired(entry, now)) {
                text += line;
                text += '\n';
            }
        }
        return text;
    }

    void Load(std::string_view text) {
        EasyHandle easy = Reach();
        if (easy == nullptr) {
            return;
        }
        std::int64_t now = Now();
        while (!text.empty()) {
            std::size_t end = text.find('\n');
            std::string line(text.substr(0, end));
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            if (line.ends_with('\r')) {
                line.pop_back();
            }
            CookieEntry entry;
            if (ParseCookieLine(line, entry) && !Expired(entry, now)) {
                curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, line.c_str());
            }
        }
    }

    // Writes the file unless it already holds the jar. Called with saveLock held.
    bool Write(const std::u16string& path) {
        std::string text = FileText();
        changed = false;
        if (text == written) {
            return true;
        }
        lastWrite = Clock::now();
        if (!WriteJarFile(path, text)) {
            changed = true;
            return false;
        }
        written = std::move(text);
        return true;
    }
};

CCookieJar::CCookieJar() : CCookieJar(std::u16string()) {}

CCookieJar::CCookieJar(std::u16string path) : path_(std::move(path)) {
    // The share needs libcurl's global state.
    internal::CurlSession::Instance();
    state_ = std::make_unique<State>();
    if (path_.empty()) {
        return;
    }
    std::string bytes;
    if (ReadFileBytes(path_, kConfigFileLimit, bytes).Status != FileReadStatus::Read) {
        state_->written = state_->FileText();
        return;
    }
    state_->Load(bytes);
    // A file that held expired or damaged lines differs from what the jar would write, so the
    // next save leaves them out.
    state_->written = std::move(bytes);
}

CCookieJar::~CCookieJar() = default;

std::vector<CookieEntry> CCookieJar::Cookies() const {
    std::vector<CookieEntry> cookies;
    std::int64_t now = Now();
    for (const std::string& line : state_->Lines()) {
        CookieEntry entry;
        if (ParseCookieLine(line, entry) && !Expired(entry, now)) {
            cookies.push_back(std::move(entry));
        }
    }
    return cookies;
}

bool CCookieJar::Save() {
    if (path_.empty()) {
        return true;
    }
    std::lock_guard guard(state_->saveLock);
    return state_->Write(path_);
}

bool CCookieJar::Clear() {
    std::lock_guard guard(state_->saveLock);
    EasyHandle easy = state_->Reach();
    if (easy != nullptr) {
        curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, "ALL");
    }
    state_->changed = false;
    state_->written = state_->FileText();
    if (path_.empty()) {
        return true;
    }
    return ::unlink(NativePath(path_).c_str()) == 0 || errno == ENOENT;
}

namespace internal {

CURLSH* CookieJarAccess::Share(const CCookieJar& jar) {
    return jar.state_->share.Handle();
}

void CookieJarAccess::AfterTransfer(CCookieJar& jar, bool setCookie) {
    CCookieJar::State& state = *jar.state_;
    std::lock_guard guard(state.saveLock);
    state.changed = state.changed || setCookie;
    if (state.changed && !jar.path_.empty() &&
        Clock::now() - state.lastWrite >= kLeastTimeBetweenWrites) {
        state.Write(jar.path_);
    }
}

} // namespace internal

namespace {

// The jars handed out by name, for the cookie folder they were made for.
struct JarRegistry {
    std::mutex lock;
    std::u16string folder;
    std::map<std::u16string, std::shared_ptr<CCookieJar>> jars;
};

JarRegistry& Registry() {
    // Leaked, as detached jobs may still use a jar while the process ends.
    static auto* registry = new JarRegistry;
    return *registry;
}

std::vector<std::shared_ptr<CCookieJar>> HandedOutJars() {
    JarRegistry& registry = Registry();
    std::lock_guard guard(registry.lock);
    std::vector<std::shared_ptr<CCookieJar>> jars;
    for (const auto& [name, jar] : registry.jars) {
        jars.push_back(jar);
    }
    return jars;
}

} // namespace

void SetCookieFolder(std::u16string folder) {
    // The jars of the former folder keep what they learned in their files.
    SaveCookieJars();
    JarRegistry& registry = Registry();
    std::lock_guard guard(registry.lock);
    registry.folder = std::move(folder);
    registry.jars.clear();
}

std::u16string CookieFolder() {
    JarRegistry& registry = Registry();
    std::lock_guard guard(registry.lock);
    return registry.folder;
}

std::u16string CookieFilePath(std::u16string_view folder, std::u16string_view siteName) {
    return std::u16string(folder) + CleanPathComponent(siteName) + std::u16string(kJarFileSuffix);
}

std::shared_ptr<CCookieJar> SiteCookieJar(std::u16string_view siteName) {
    if (siteName.empty()) {
        return std::make_shared<CCookieJar>();
    }
    JarRegistry& registry = Registry();
    std::lock_guard guard(registry.lock);
    std::u16string key = CleanPathComponent(siteName);
    std::shared_ptr<CCookieJar>& jar = registry.jars[key];
    if (jar == nullptr) {
        std::u16string path;
        if (!registry.folder.empty()) {
            path = CookieFilePath(registry.folder, siteName);
        }
        jar = std::make_shared<CCookieJar>(std::move(path));
    }
    return jar;
}

void SaveCookieJars() {
    for (const std::shared_ptr<CCookieJar>& jar : HandedOutJars()) {
        jar->Save();
    }
}

bool ClearSiteCookies(std::u16string_view siteName) {
    std::u16string key = CleanPathComponent(siteName);
    std::shared_ptr<CCookieJar> jar;
    std::u16string folder;
    {
        JarRegistry& registry = Registry();
        std::lock_guard guard(registry.lock);
        auto found = registry.jars.find(key);
        if (found != registry.jars.end()) {
            jar = found->second;
        }
        folder = registry.folder;
    }
    bool cleared = jar == nullptr || jar->Clear();
    if (folder.empty()) {
        return cleared;
    }
    std::string file = NativePath(CookieFilePath(folder, siteName));
    return cleared && (::unlink(file.c_str()) == 0 || errno == ENOENT);
}

std::vector<std::u16string> SitesWithCookieFiles() {
    std::vector<std::u16string> sites;
    std::u16string folder = CookieFolder();
    if (folder.empty()) {
        return sites;
    }
    for (const std::string& name : ListFolderNames(NativePath(folder), "")) {
        std::u16string wide = Utf8ToWide(name);
        // Hidden names are the temporary files of saves under way.
        if (!name.starts_with('.') && wide.ends_with(kJarFileSuffix)) {
            sites.push_back(wide.substr(0, wide.size() - kJarFileSuffix.size()));
        }
    }
    std::sort(sites.begin(), sites.end());
    return sites;
}

} // namespace velunor
