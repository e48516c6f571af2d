#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/TempFolder.h"

extern char** environ;

namespace varek::test {

struct ProgramResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs program with args, standard input empty, and collects its two output streams.
// With errorOnTerminal its standard error is a terminal, as when a person runs it.
// whileRunning, when given, is called with the program's process and the file its
// standard error goes to (not a terminal) once it has started.
inline ProgramResult RunProgram(
    const std::string& program, const std::vector<std::string>& args, bool errorOnTerminal = false,
    const std::function<void(pid_t, const std::filesystem::path&)>& whileRunning = {})
{
    const TempFolder streams;
    const std::string outPath = (streams / "out").string();
    const std::string errPath = (streams / "err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0600);
    const int terminal = errorOnTerminal ? posix_openpt(O_RDWR | O_NOCTTY) : -1;
    if (terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0) {
        posix_spawn_file_actions_addopen(&actions, 2, ptsname(terminal), O_WRONLY | O_NOCTTY, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT, 0600);
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    ProgramResult result;
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        if (whileRunning) {
            whileRunning(child, errPath);
        }
        // Read the terminal until the program has closed it.
        char buffer[4096];
        for (pollfd ready{terminal, POLLIN, 0}; terminal >= 0 && poll(&ready, 1, 10000) > 0;) {
            const ssize_t count = read(terminal, buffer, sizeof buffer);
            if (count <= 0) {
                break;
            }
            result.err.append(buffer, static_cast<std::size_t>(count));
        }
        int status = 0;
        waitpid(child, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    const ByteArray out = ReadAll(outPath);
    const ByteArray err = ReadAll(errPath);
    result.out.assign(out.begin(), out.end());
    if (terminal >= 0) {
        close(terminal);
    } else {
        result.err.assign(err.begin(), err.end());
    }
    return result;
}

}  // namespace varek::test
