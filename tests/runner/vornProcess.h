#pragma once
// Runs the real vorn binary for the end-to-end tests: in its own working
// folder, with standard output and error captured, a time limit, and a test
// receiver bound to a Unix datagram socket in that folder. Every run is given
// that socket and 127.0.0.1 as the fallback address, so nothing leaves the
// machine.

#include "tests/support/childProcess.h"
#include "tests/support/tempFolder.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vornProcess {

// Each run's working folder.
class tempFolder : public testSupport::tempFolder {
public:
    tempFolder() : testSupport::tempFolder("vorn-runner") {}
};

// The graphics machine's side: a Unix datagram socket read by its own thread,
// so the sender's short queue never fills while the test does other work.
class datagramReceiver {
public:
    explicit datagramReceiver(const std::string& socketPath) : path_(socketPath) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            throw std::runtime_error("socket failed");
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        ::unlink(path_.c_str());
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("bind failed: " + path_);
        reader_ = std::thread([this] { readLoop(); });
    }
    ~datagramReceiver() {
        stop();
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    datagramReceiver(const datagramReceiver&) = delete;
    datagramReceiver& operator=(const datagramReceiver&) = delete;

    // Reads what is still queued, then stops reading; returns everything.
    std::vector<std::string> drain() {
        stop();
        return datagrams();
    }
    std::vector<std::string> datagrams() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return datagrams_;
    }
    std::size_t count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return datagrams_.size();
    }

private:
    void stop() {
        stop_ = true;
        if (reader_.joinable())
            reader_.join();
    }
    void readLoop() {
        std::vector<char> buffer(65536);
        while (true) {
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, 20);
            if (ready <= 0) {
                // Only stop once the queue is empty, so nothing sent is missed.
                if (stop_)
                    return;
                continue;
            }
            const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (got >= 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                datagrams_.emplace_back(buffer.data(), static_cast<std::size_t>(got));
            }
        }
    }

    std::string path_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> datagrams_;
    std::thread reader_;
};

struct runResult : testSupport::childResult {
    // Everything the program wrote, for failure messages.
    std::string transcript() const { return "--- stdout:\n" + out + "--- stderr:\n" + err; }
    std::vector<std::string> outLines() const {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
};

// Called while the child runs (after every chunk of output and every 20 ms)
// with its pid and the output so far; may send it a signal.
using watcher = std::function<void(pid_t, const runResult&)>;

// Runs `program` with `args` in `workingDirectory`. The channel is pinned to
// `socketPath` and 127.0.0.1 on the command line and in the environment.
inline runResult run(const std::string& program, std::vector<std::string> args,
                     const std::string& workingDirectory, const std::string& socketPath,
                     watcher watch = {},
                     std::chrono::milliseconds limit = std::chrono::seconds(90)) {
    runResult result;
    args.insert(args.begin(), {"--socket", socketPath, "--broadcast", "127.0.0.1", "--port", "47999"});
    int outPipe[2];
    int errPipe[2];
    if (!testSupport::openOutputPipes(outPipe, errPipe, O_CLOEXEC))
        return result;
    std::vector<std::string> argvStrings = {program};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        testSupport::closeOutputPipes(outPipe, errPipe);
        return result;
    }
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        if (::chdir(workingDirectory.c_str()) != 0)
            ::_exit(127);
        ::setenv("VORN_SOCKET", socketPath.c_str(), 1);
        ::setenv("VORN_BROADCAST_ADDRESS", "127.0.0.1", 1);
        ::setenv("VORN_BROADCAST_PORT", "47999", 1);
        // Signals the test process ignores or blocks must not be passed on.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    result.started = true;
    testSupport::collectChild(pid, outPipe, errPipe, result, limit, std::chrono::milliseconds(20), [&] {
        if (watch)
            watch(pid, result);
    });
    return result;
}

} // namespace vornProcess
