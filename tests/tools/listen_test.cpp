// The real vorn-listen binary: it binds a socket in a temporary directory,
// gets messages from the channel and from a raw sender, and ends on --count
// or on a signal. UDP only on 127.0.0.1.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "messaging/localSocketTransport.h"
#include "messaging/messageStream.h"
#include "messaging/udpBroadcastTransport.h"
#include "toolkit/QMXrgbImage.h"
#include "tests/support/tempFolder.h"

namespace {

using namespace std::chrono_literals;

std::string z(std::string text) { return text + '\0'; }

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// vorn-listen running in a child process, its stdout and stderr on pipes.
class listener {
public:
    explicit listener(std::vector<std::string> arguments) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            std::vector<char*> argv;
            static char program[] = VORN_LISTEN_PATH;
            argv.push_back(program);
            for (std::string& a : arguments)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(program, argv.data());
            std::_Exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        ::fcntl(out_, F_SETFL, O_NONBLOCK);
        ::fcntl(err_, F_SETFL, O_NONBLOCK);
    }
    ~listener() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }

    // Waits (up to a generous limit, for a loaded machine) until stderr
    // holds `text`, e.g. the line that says the sockets are bound.
    bool waitForError(const std::string& text) { return waitFor(err, text); }
    bool waitForOutput(const std::string& text) { return waitFor(out, text); }

    // Waits for the process to end and collects all its output; -1 when it
    // did not end within the limit (it is killed then) or died of a signal.
    int finish() {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            pump();
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                status_ = 0;
                return -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        pump();
        status_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void signal(int number) { ::kill(pid_, number); }

    std::string out, err;

private:
    bool waitFor(const std::string& collected, const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (collected.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
            ::poll(p, 2, 50);
            pump();
        }
        return true;
    }

    void pump() {
        char buffer[65536];
        for (ssize_t n; (n = ::read(out_, buffer, sizeof buffer)) > 0;)
            out.append(buffer, static_cast<std::size_t>(n));
        for (ssize_t n; (n = ::read(err_, buffer, sizeof buffer)) > 0;)
            err.append(buffer, static_cast<std::size_t>(n));
    }

    pid_t pid_ = -1;
    int status_ = -1;
    int out_ = -1, err_ = -1;
};

// A blocking raw sender, so a test's datagrams are never lost to a full queue.
void sendRaw(const std::string& path, const std::vector<std::string>& datagrams) {
    uniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    int size = 1 << 20;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    for (const std::string& d : datagrams)
        ASSERT_EQ(::send(fd.get(), d.data(), d.size(), 0), static_cast<ssize_t>(d.size())) << std::strerror(errno);
}

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class listenTest : public ::testing::Test {
protected:
    void TearDown() override {
        messageStream.setTransport(nullptr);
        messageStream.resetSequence(1);
    }
    testSupport::tempFolder dir{"vorn-listen-test"};
    std::string socketPath = dir.path() + "/kelvat";
};

TEST_F(listenTest, printsTheChannelsMessagesAndStopsAfterCount) {
    listener listen({"--socket", socketPath, "--count", "3"});
    ASSERT_TRUE(listen.waitForError("listening on " + socketPath)) << listen.err;

    int error = 0;
    messageStream.setTransport(localSocketTransport::open(socketPath, error));
    ASSERT_NE(messageStream.transport(), nullptr) << error;
    messageStream.resetSequence(1);
    QMXrgbImage frame{};
    frame.width = 320;
    frame.height = 240;
    frame.rowStep = 1;
    frame.memoryFormat = 4;
    sendGazeMessage(frame, 200, 60, 0, 0.4f, 0);
    sendGazeMessage(frame, 32, 120, 0, 0.0f, 2);
    sendGazeMessage(frame, 160, 120, 9, 0.0f, 0);

    EXPECT_EQ(listen.finish(), 0) << listen.err;
    EXPECT_EQ(listen.out,
              "1 0.0978738 -0.0870572 0 0.4 0 Happy\n"
              "2 -0.788111 0 0 0 2 Happy\n"
              "3 0 0 9 0 0 none\n");
    EXPECT_NE(listen.err.find("3 datagrams, 0 malformed, 0 missing"), std::string::npos) << listen.err;
    EXPECT_FALSE(exists(socketPath)) << "socket file left behind";
}

TEST_F(listenTest, hostileDatagramsAreReportedWithoutStoppingIt) {
    const std::vector<std::string> datagrams = {
        z("1 0 0 1 0.5 0"),
        "",                                          // empty
        std::string(65536, 'A'),                     // 64 KiB, no zero byte
        std::string("\xff\xfe\x00\x01 binary", 10),  // binary with a zero inside
        "2 0 0 9 0 0",                               // no terminating zero
        z(std::string("3 0 0\0 9 0 0", 12)),         // embedded zero
        z(z("4 0 0 9 0 0")),                         // two zeros at the end
        z("6 -0.5 0.1 3 1.2 0"),                     // skips sequence 5
    };
    listener listen({"--socket", socketPath, "--count", std::to_string(datagrams.size())});
    ASSERT_TRUE(listen.waitForError("listening on")) << listen.err;
    sendRaw(socketPath, datagrams);

    EXPECT_EQ(listen.finish(), 0) << listen.err;
    EXPECT_EQ(listen.out, "1 0 0 1 0.5 0 Anger\n6 -0.5 0.1 3 1.2 0 Surprise\n");
    EXPECT_EQ(countOf(listen.err, "malformed datagram"), 6) << listen.err;
    EXPECT_NE(listen.err.find("malformed datagram (0 bytes, local): empty datagram"), std::string::npos);
    EXPECT_NE(listen.err.find("malformed datagram (65536 bytes, local): no terminating zero byte"),
              std::string::npos);
    // Malformed datagrams with a readable sequence number keep the count going.
    EXPECT_NE(listen.err.find("sequence gap: expected 5, got 6 (1 message missing)"), std::string::npos)
        << listen.err;
    EXPECT_NE(listen.err.find("8 datagrams, 6 malformed, 1 missing"), std::string::npos) << listen.err;
    EXPECT_FALSE(exists(socketPath));
}

TEST_F(listenTest, jsonLines) {
    listener listen({"--socket", socketPath, "--count", "2", "--json"});
    ASSERT_TRUE(listen.waitForError("listening on")) << listen.err;
    sendRaw(socketPath, {z("7 6.13672e-05 -0.335883 2 1.6 0"), z("8 0 0 9 0 1")});
    EXPECT_EQ(listen.finish(), 0) << listen.err;
    EXPECT_EQ(listen.out,
              "{\"source\":\"local\",\"sequence\":7,\"horizontalAngle\":6.13672e-05,"
              "\"verticalAngle\":-0.335883,\"emotionCode\":2,\"emotion\":\"Sad\","
              "\"emotionIntensity\":1.6,\"calibrationStep\":0}\n"
              "{\"source\":\"local\",\"sequence\":8,\"horizontalAngle\":0,\"verticalAngle\":0,"
              "\"emotionCode\":9,\"emotion\":\"none\",\"emotionIntensity\":0,\"calibrationStep\":1}\n");
}

TEST_F(listenTest, signalsEndItCleanly) {
    for (int number : {SIGINT, SIGTERM}) {
        listener listen({"--socket", socketPath});
        ASSERT_TRUE(listen.waitForError("listening on")) << listen.err;
        ASSERT_TRUE(exists(socketPath));
        sendRaw(socketPath, {z("1 0 0 9 0 0")});
        ASSERT_TRUE(listen.waitForOutput("none\n")) << listen.err;
        listen.signal(number);
        EXPECT_EQ(listen.finish(), 0) << strsignal(number) << ": " << listen.err;
        EXPECT_EQ(listen.out, "1 0 0 9 0 0 none\n");
        EXPECT_FALSE(exists(socketPath)) << strsignal(number);
    }
}

TEST_F(listenTest, staleSocketIsReplacedButALiveReceiverOrOtherFileIsNot) {
    {
        // Bound and closed: the file stays behind, as after a crash.
        uniqueFd stale(::socket(AF_UNIX, SOCK_DGRAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, socketPath.c_str());
        ASSERT_EQ(::bind(stale.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    {
        listener first({"--socket", socketPath, "--count", "1"});
        ASSERT_TRUE(first.waitForError("listening on")) << first.err;

        listener second({"--socket", socketPath});
        EXPECT_EQ(second.finish(), 1);
        EXPECT_NE(second.err.find("another receiver is bound to " + socketPath), std::string::npos)
            << second.err;

        sendRaw(socketPath, {z("1 0 0 9 0 0")});
        EXPECT_EQ(first.finish(), 0);
        EXPECT_EQ(first.out, "1 0 0 9 0 0 none\n");
    }
    const std::string plainFile = dir.path() + "/plain";
    std::system(("echo keep > '" + plainFile + "'").c_str());
    listener third({"--socket", plainFile});
    EXPECT_EQ(third.finish(), 1);
    EXPECT_NE(third.err.find("exists and is not a socket"), std::string::npos) << third.err;
    EXPECT_TRUE(exists(plainFile));
}

TEST_F(listenTest, receivesUdpOnLoopback) {
    std::uint16_t port = 0;
    {
        uniqueFd probe(::socket(AF_INET, SOCK_DGRAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    listener listen({"--no-local", "--udp", "127.0.0.1:" + std::to_string(port), "--count", "2"});
    ASSERT_TRUE(listen.waitForError("listening on UDP 127.0.0.1:" + std::to_string(port))) << listen.err;
    int error = 0;
    auto transport = udpBroadcastTransport::open("127.0.0.1", port, error);
    ASSERT_TRUE(transport) << error;
    for (const std::string& d : {z("1 0.1 0.2 0 0.3 0"), z("2 0.1 0.2 0 0.3 0")})
        ASSERT_TRUE(transport->send(d.data(), d.size()).ok);
    EXPECT_EQ(listen.finish(), 0) << listen.err;
    EXPECT_EQ(listen.out, "1 0.1 0.2 0 0.3 0 Happy\n2 0.1 0.2 0 0.3 0 Happy\n");
    EXPECT_FALSE(exists(socketPath));
}

TEST_F(listenTest, optionErrorsAndHelp) {
    struct {
        std::vector<std::string> arguments;
        int exitStatus;
        const char* err;
    } cases[] = {
        {{"--count", "0"}, 2, "--count needs a positive number"},
        {{"--count", "x"}, 2, "--count needs a positive number"},
        {{"--count"}, 2, "--count needs a value"},
        {{"--udp", "127.0.0.1"}, 2, "--udp needs ADDR:PORT"},
        {{"--udp", "localhost:5000"}, 2, "--udp needs ADDR:PORT"},
        {{"--udp", "127.0.0.1:70000"}, 2, "--udp needs ADDR:PORT"},
        {{"--no-local"}, 2, "--no-local needs --udp"},
        {{"--loud"}, 2, "unknown option '--loud'"},
        {{"--socket", std::string(120, 'a')}, 2, "socket path must have"},
    };
    for (const auto& c : cases) {
        listener listen(c.arguments);
        EXPECT_EQ(listen.finish(), c.exitStatus) << c.err;
        EXPECT_NE(listen.err.find(c.err), std::string::npos) << listen.err;
        EXPECT_NE(listen.err.find("usage: vorn-listen"), std::string::npos);
    }
    listener help({"--help"});
    EXPECT_EQ(help.finish(), 0);
    EXPECT_EQ(help.out.rfind("usage: vorn-listen", 0), 0u) << help.out;
}

} // namespace
