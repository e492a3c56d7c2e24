#pragma once
// Runs a command line and collects what it prints and how it ended.

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace velunor::testing {

struct CommandResult {
    std::string output;
    int exitStatus = -1;
};

/// Runs `command` through the shell; standard error is collected with standard output.
inline CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    size_t count = 0;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, count);
    }
    int status = pclose(pipe);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace velunor::testing
