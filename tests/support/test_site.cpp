#include "support/test_site.h"

#include "core/core.h"
#include "support/temp_folder.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <stdexcept>

extern char** environ;

namespace velunor::testing {
namespace {

constexpr int kStartTimeoutMs = 10000;

// Owns one end of a pipe.
class PipeEnd {
  public:
    explicit PipeEnd(int fd) : fd_(fd) {}
    ~PipeEnd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    PipeEnd(const PipeEnd&) = delete;
    PipeEnd& operator=(const PipeEnd&) = delete;
    int Get() const {
        return fd_;
    }

  private:
    int fd_;
};

pid_t SpawnServer(const std::string& root, int stdoutFd, int unusedFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, unusedFd);
    std::string python = VELUNOR_PYTHON;
    std::string script = VELUNOR_TEST_SITE_SCRIPT;
    char* argv[] = {python.data(), script.data(), const_cast<char*>(root.c_str()), nullptr};
    pid_t pid = -1;
    int failed = posix_spawn(&pid, python.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

// Reads the server's "PORT <n>" line; 0 when it does not come in time.
int ReadPort(int fd) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            return 0;
        }
        char buffer[64];
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0) {
            return 0;
        }
        line.append(buffer, static_cast<std::size_t>(count));
    }
    int port = 0;
    if (std::sscanf(line.c_str(), "PORT %d", &port) != 1) {
        return 0;
    }
    return port;
}

} // namespace

std::string TestSite::DefaultRoot() {
    return VELUNOR_TEST_SITE_ROOT;
}

TestSite::TestSite(const std::string& root) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("test site: no pipe");
    }
    PipeEnd readEnd(ends[0]);
    PipeEnd writeEnd(ends[1]);
    pid_ = SpawnServer(root, writeEnd.Get(), readEnd.Get());
    if (pid_ < 0) {
        throw std::runtime_error("test site: cannot start " VELUNOR_PYTHON);
    }
    port_ = ReadPort(readEnd.Get());
    if (port_ == 0) {
        Stop();
        throw std::runtime_error("test site: the server did not report its port");
    }
}

TestSite::~TestSite() {
    Stop();
}

void TestSite::Stop() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

std::string TestSite::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::u16string TestSite::Url(std::string_view path) const {
    return Utf8ToWide(BaseUrl() + std::string(path));
}

namespace {

void ReplaceBytes(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

} // namespace

std::string TestSite::RuleFile(const std::string& fixturePath,
                               const std::string& siteNumber) const {
    std::string text = ReadFileBytes(fixturePath);
    ReplaceBytes(text, "{SITE}", BaseUrl());
    ReplaceBytes(text, "{N}", siteNumber);
    return text;
}

} // namespace velunor::testing
