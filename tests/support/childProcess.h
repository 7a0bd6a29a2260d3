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

#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

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

template <class Callable>
childResult runInChild(Callable&& body, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    childResult result;
    int outPipe[2];
    int errPipe[2];
    if (::pipe(outPipe) != 0)
        return result;
    if (::pipe(errPipe) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return result;
    }
    // Nothing buffered in the parent may be written twice by the child.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            ::close(fd);
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
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            ::kill(pid, SIGKILL);
            break;
        }
        for (int i = 0; i < 2; ++i) {
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
    return result;
}

} // namespace testSupport
