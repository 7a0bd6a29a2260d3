#pragma once
// Runs a callable in a forked child process and hands back everything it
// wrote to standard output and standard error, and how it ended. Meant for
// the fatal paths that end the process (exit status 1 plus a message on a
// given stream), which a test must not run in its own process.
//
//   auto r = testSupport::runInChild([] { List().remove(); });
//   EXPECT_TRUE(r.exitedWith(1));
//   EXPECT_EQ(r.out, "\nList empty in remove\n");
//
// A callable that returns normally ends the child with exit status 0. A child
// still running after the time limit is killed (timedOut is then set).
// openOutputPipes and collectChild are the parent's half on their own, for a
// test that forks and execs a program itself.

#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <utility>

namespace testSupport {

struct childResult {
    bool started = false;  // false when the pipes or the fork failed
    bool exited = false;   // ended through exit / _exit
    int exitCode = -1;     // valid when exited
    int signal = 0;        // terminating signal when not exited
    bool timedOut = false; // killed after the time limit
    std::string out;       // everything written to standard output
    std::string err;       // everything written to standard error

    bool exitedWith(int code) const { return exited && exitCode == code; }
};

// Opens the pipes for a child's standard output and error (pipe2 `flags`,
// e.g. O_CLOEXEC); on failure nothing is left open.
inline bool openOutputPipes(int outPipe[2], int errPipe[2], int flags = 0) {
    if (::pipe2(outPipe, flags) != 0)
        return false;
    if (::pipe2(errPipe, flags) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return false;
    }
    return true;
}

inline void closeOutputPipes(int outPipe[2], int errPipe[2]) {
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
        ::close(fd);
}

// The parent's side once `pid` runs with its output on the pipes: closes the
// write ends, reads both pipes into `result` until the child closes them,
// kills it after `limit`, then reaps it and records how it ended. `tick` runs
// after every wait, which lasts `step` at the most, so a caller can watch the
// output as it comes and signal the child.
template <class Tick>
void collectChild(pid_t pid, int outPipe[2], int errPipe[2], childResult& result,
                  std::chrono::milliseconds limit, std::chrono::milliseconds step, Tick&& tick) {
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        const int ready = ::poll(fds, 2, static_cast<int>(std::min(left, step).count()));
        if (ready < 0 && errno != EINTR) {
            ::kill(pid, SIGKILL);
            break;
        }
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char chunk[4096];
            const ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1; // poll ignores negative descriptors
                --open;
            }
        }
        tick();
    }
    for (const pollfd& p : fds)
        if (p.fd >= 0)
            ::close(p.fd);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
}

template <class Callable>
childResult runInChild(Callable&& body, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    childResult result;
    int outPipe[2];
    int errPipe[2];
    if (!openOutputPipes(outPipe, errPipe))
        return result;
    // Nothing buffered in the parent may be written twice by the child.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        closeOutputPipes(outPipe, errPipe);
        return result;
    }
    if (pid == 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        body();
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
        ::_exit(0);
    }

    result.started = true;
    collectChild(pid, outPipe, errPipe, result, limit, limit, [] {});
    return result;
}

} // namespace testSupport
