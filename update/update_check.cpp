#include "update/update_check.h"

#include "core/core.h"
#include "update/internal/run_program.h"

#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velunor {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);

std::optional<pid_t> Spawn(const std::u16string& program,
                           const std::vector<std::string>& arguments) {
    std::string path = NativePath(program);
    std::vector<std::string> owned = {path};
    owned.insert(owned.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : owned) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return std::nullopt;
    }
    return pid;
}

// A child nobody waits for any more is reaped in the background, so it leaves no zombie.
void ReapLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        waitpid(pid, &status, 0);
    }).detach();
}

} // namespace

namespace internal {

std::optional<int> RunAndWait(const std::u16string& program,
                              const std::vector<std::string>& arguments,
                              std::chrono::milliseconds timeout) {
    std::optional<pid_t> pid = Spawn(program, arguments);
    if (!pid) {
        return std::nullopt;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        int status = 0;
        pid_t ended = waitpid(*pid, &status, WNOHANG);
        if (ended == *pid) {
            if (!WIFEXITED(status)) {
                return std::nullopt;
            }
            return WEXITSTATUS(status);
        }
        if (ended < 0 || std::chrono::steady_clock::now() >= deadline) {
            ReapLater(*pid);
            return std::nullopt;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

bool StartProgram(const std::u16string& program, const std::vector<std::string>& arguments) {
    std::optional<pid_t> pid = Spawn(program, arguments);
    if (!pid) {
        return false;
    }
    ReapLater(*pid);
    return true;
}

} // namespace internal

bool RunUpdateCheck(WindowPort& window, const std::u16string& programFolder,
                    std::chrono::milliseconds answerTime) {
    std::u16string updater = programFolder + u"tolvane";
    if (access(NativePath(updater).c_str(), X_OK) != 0) {
        return false;
    }
    // An updater that has not answered in time has found nothing: its still-running state is
    // no number of updates.
    std::optional<int> updates = internal::RunAndWait(updater, {"-checkforupdates"}, answerTime);
    if (!updates || *updates == 0) {
        return false;
    }
    std::u16string question = u"检测到程序有 " + DecimalText(*updates) + u" 个更新，是否立即更新？";
    if (window.ShowMessage(question, MessageIcon::Question, MessageButtons::YesNo) !=
        MessageAnswer::Yes) {
        return false;
    }
    return internal::StartProgram(updater, {});
}

} // namespace velunor
