// rule-draft: a rule file started for a site without one, proved on the site before it is
// written.

#include "cli/rule_draft_command.h"

#include "cli/cli_support.h"
#include "core/core.h"
#include "draft/draft.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace velunor::cli {
namespace {

struct RuleDraftArguments {
    std::u16string url;
    std::u16string search;
    std::u16string out;
};

bool ParseArguments(int argc, char** argv, RuleDraftArguments& arguments) {
    for (int i = 2; i < argc; ++i) {
        bool search = std::strcmp(argv[i], "--search") == 0;
        bool out = std::strcmp(argv[i], "--out") == 0;
        if ((search || out) && i + 1 >= argc) {
            return false;
        }
        if (search) {
            arguments.search = Wide(argv[++i]);
        } else if (out) {
            arguments.out = ResolveArgumentPath(argv[++i]);
        } else if (arguments.url.empty()) {
            arguments.url = Wide(argv[i]);
        } else {
            return false;
        }
    }
    return !arguments.url.empty();
}

// Writes `text` to a new file at `path`; false, having said why, when the file exists or cannot
// be written. A draft never replaces a rule someone may have worked on.
bool WriteNewFile(const std::u16string& path, std::u16string_view text) {
    std::string native = NativePath(path);
    int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        PrintError(errno == EEXIST
                       ? u"the file " + path + u" exists already; name another with --out"
                       : u"cannot create " + path + u": " + Utf8ToWide(std::strerror(errno)));
        return false;
    }
    std::string bytes = WideToUtf8(text);
    bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    written = close(fd) == 0 && written;
    if (!written) {
        PrintError(u"cannot write " + path);
        unlink(native.c_str());
    }
    return written;
}

} // namespace

int RunRuleDraft(int argc, char** argv) {
    RuleDraftArguments arguments;
    if (!ParseArguments(argc, argv, arguments)) {
        PrintError(u"usage: velunor-cli rule-draft URL [--search URL_WITH_{KEY}] [--out FILE]");
        return 2;
    }
    draft::SiteRuleDraft drafted = draft::DraftSiteRule(arguments.url, arguments.search);
    std::u16string path =
        arguments.out.empty() ? ResolveArgumentPath(WideToUtf8(drafted.FileName)) : arguments.out;
    for (const std::u16string& line : drafted.Check.Lines) {
        PrintLine(line);
    }
    if (!drafted.Refusal.empty()) {
        PrintError(u"no rule was drafted: " + drafted.Refusal);
    }
    if (drafted.Xml.empty() || !WriteNewFile(path, drafted.Xml)) {
        return 1;
    }
    PrintLine(u"规则草稿：" + path);
    if (!drafted.Passed) {
        PrintLine(u"草稿没有通过检查，没有通过的地方在文件里用注释标出。");
        return 1;
    }
    return 0;
}

} // namespace velunor::cli
