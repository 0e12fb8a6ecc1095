#include "support/run_binary.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ; // NOLINT(readability-redundant-declaration): not declared by every libc

namespace focusprobe::testing {
namespace {

void closeIfOpen(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

BinaryResult runFocusprobe(const BinaryRun& run)
{
    std::array<int, 2> in{-1, -1};
    std::array<int, 2> out{-1, -1};
    std::array<int, 2> err{-1, -1};
    if (::pipe(in.data()) != 0 || ::pipe(out.data()) != 0 || ::pipe(err.data()) != 0) {
        return {};
    }
    if (run.outputReaderGone) {
        closeIfOpen(out[0]);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
        if (fd < 0) {
            continue;
        }
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    for (const int fd : run.closedDescriptors) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }

    std::vector<std::string> argStrings{FOCUSPROBE_BINARY};
    argStrings.insert(argStrings.end(), run.arguments.begin(), run.arguments.end());
    std::vector<char*> argv;
    argv.reserve(argStrings.size() + 1);
    for (auto& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "WAYLAND_DISPLAY=", 16) != 0) {
            envStrings.emplace_back(*e);
        }
    }
    envStrings.insert(envStrings.end(), run.environment.begin(), run.environment.end());
    std::vector<char*> envp;
    envp.reserve(envStrings.size() + 1);
    for (auto& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    // SIGPIPE as a host leaves it: at its default action, whatever this test process does with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, FOCUSPROBE_BINARY, &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    BinaryResult result;
    if (spawned != 0) {
        ::close(in[1]);
        closeIfOpen(out[0]);
        ::close(err[0]);
        return result;
    }

    int inFd = in[1];
    // The child may exit without reading: a write to the closed pipe must not kill the test.
    std::signal(SIGPIPE, SIG_IGN);
    if (!run.input.empty()) {
        [[maybe_unused]] const ssize_t written = ::write(inFd, run.input.data(), run.input.size());
    }
    if (!run.keepInputOpen) {
        closeIfOpen(inFd);
    }

    int outFd = out[0];
    int errFd = err[0];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(run.timeoutSeconds);
    while (outFd >= 0 || errFd >= 0) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        std::array<pollfd, 2> fds{pollfd{outFd, POLLIN, 0}, pollfd{errFd, POLLIN, 0}};
        if (::poll(fds.data(), fds.size(), static_cast<int>(left.count())) < 0 && errno != EINTR) {
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            int& fd = i == 0 ? outFd : errFd;
            if (fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            std::array<char, 4096> buffer{};
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got <= 0) {
                closeIfOpen(fd);
            } else {
                (i == 0 ? result.standardOutput : result.standardError)
                    .append(buffer.data(), static_cast<std::size_t>(got));
            }
        }
    }
    closeIfOpen(inFd);
    closeIfOpen(outFd);
    closeIfOpen(errFd);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace focusprobe::testing
