#include "cli/child_page_renderer.h"

#include "site/render_message.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velunor::cli {
namespace {

// A cancelled load is answered by the child at once; should it not be, the caller is let go
// after this long anyway, so that a stop always ends a load within half a second.
constexpr std::chrono::milliseconds kCancelGrace{350};

const char kChildEnded[] = "浏览器渲染程序意外退出";

RenderedPage Unavailable(std::string detail) {
    RenderedPage page;
    page.Failure = RenderFailure::Unavailable;
    page.Detail = std::move(detail);
    return page;
}

RenderedPage Cancelled(const RenderRequest& request) {
    RenderedPage page;
    page.Url = request.Url;
    page.Failure = RenderFailure::Cancelled;
    page.Detail = "cancelled";
    return page;
}

// Writes all of `bytes` to a pipe whose reader may have gone. The broken pipe's signal is kept
// from ending velunor-cli: it is blocked on this thread while writing and taken back if raised.
bool WriteAll(int descriptor, const std::string& bytes) {
    sigset_t brokenPipe;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &brokenPipe, &before);
    size_t written = 0;
    bool broken = false;
    while (written < bytes.size()) {
        const ssize_t count = write(descriptor, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            broken = true;
            break;
        }
        written += static_cast<size_t>(count);
    }
    if (broken) {
        const timespec none{0, 0};
        sigtimedwait(&brokenPipe, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return !broken;
}

} // namespace

// One running renderer program, the loads waiting for it, and the thread reading its answers.
struct CChildPageRenderer::Child {
    pid_t pid = -1;
    int toChild = -1;
    int fromChild = -1;

    std::mutex writeLock;
    std::mutex lock;
    std::condition_variable answered;
    std::map<std::uint64_t, std::optional<RenderedPage>> waiting;
    std::uint64_t nextLoad = 1;
    bool ended = false;

    bool Send(const RenderMessage& message) {
        std::lock_guard<std::mutex> guard(writeLock);
        return WriteAll(toChild, EncodeRenderMessage(message));
    }

    void ReadAnswers() {
        CRenderMessageReader reader(fromChild);
        RenderMessage message;
        while (reader.Next(message)) {
            RenderedPage page;
            if (!ReadRenderedPage(message, page)) {
                continue;
            }
            std::lock_guard<std::mutex> guard(lock);
            auto found = waiting.find(message.Load);
            if (found != waiting.end()) {
                found->second = std::move(page);
                answered.notify_all();
            }
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            ended = true;
            answered.notify_all();
        }
        close(fromChild);
        std::lock_guard<std::mutex> guard(writeLock);
        close(toChild);
        toChild = -1;
        waitpid(pid, nullptr, 0);
    }
};

CChildPageRenderer::CChildPageRenderer(std::string programPath)
    : programPath_(std::move(programPath)) {}

CChildPageRenderer::~CChildPageRenderer() {
    // Closing its input ends the child; its reading thread then reaps it.
    if (child_) {
        std::lock_guard<std::mutex> guard(child_->writeLock);
        if (child_->toChild >= 0) {
            close(child_->toChild);
            child_->toChild = -1;
        }
    }
}

std::shared_ptr<CChildPageRenderer::Child> CChildPageRenderer::RunningChild(std::string& whyNot) {
    std::lock_guard<std::mutex> guard(lock_);
    if (child_) {
        std::lock_guard<std::mutex> childGuard(child_->lock);
        if (!child_->ended) {
            return child_;
        }
    }
    child_.reset();
    if (access(programPath_.c_str(), X_OK) != 0) {
        whyNot = "找不到浏览器渲染程序 " + programPath_;
        return nullptr;
    }
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0) {
        whyNot = "无法启动浏览器渲染程序";
        return nullptr;
    }
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        whyNot = "无法启动浏览器渲染程序";
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    // The browser reports its set-up and the sites' troubles on its error output; nobody but a
    // developer wants that on the terminal.
    if (std::getenv("VELUNOR_DEBUG") == nullptr) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    // Its own process group, so that Ctrl-C at the terminal reaches velunor-cli only, which
    // then ends the loads itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    auto child = std::make_shared<Child>();
    char* arguments[] = {programPath_.data(), nullptr};
    const int spawned =
        posix_spawn(&child->pid, programPath_.c_str(), &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(input[0]);
    close(output[1]);
    if (spawned != 0) {
        close(input[1]);
        close(output[0]);
        whyNot = "无法启动浏览器渲染程序 " + programPath_;
        return nullptr;
    }
    child->toChild = input[1];
    child->fromChild = output[0];
    std::thread([child] { child->ReadAnswers(); }).detach();
    child_ = child;
    return child;
}

RenderedPage CChildPageRenderer::Render(const RenderRequest& request,
                                        const std::function<bool()>& cancelled) {
    std::string whyNot;
    std::shared_ptr<Child> child = RunningChild(whyNot);
    if (!child) {
        return Unavailable(whyNot);
    }
    std::uint64_t load = 0;
    {
        std::lock_guard<std::mutex> guard(child->lock);
        load = child->nextLoad++;
        child->waiting[load];
    }
    std::optional<RenderedPage> answer;
    if (child->Send(RenderRequestMessage(load, request))) {
        std::unique_lock<std::mutex> guard(child->lock);
        std::optional<std::chrono::steady_clock::time_point> cancelSent;
        auto ready = [&] { return child->waiting[load].has_value() || child->ended; };
        while (!child->answered.wait_for(guard, std::chrono::milliseconds(50), ready)) {
            if (cancelSent) {
                if (std::chrono::steady_clock::now() - *cancelSent > kCancelGrace) {
                    answer = Cancelled(request);
                    break;
                }
            } else if (cancelled && cancelled()) {
                cancelSent = std::chrono::steady_clock::now();
                guard.unlock();
                child->Send(CancelRenderMessage(load));
                guard.lock();
            }
        }
        if (!answer) {
            answer = std::move(child->waiting[load]);
        }
    }
    std::lock_guard<std::mutex> guard(child->lock);
    child->waiting.erase(load);
    return answer ? std::move(*answer) : Unavailable(kChildEnded);
}

} // namespace velunor::cli
