// The channel over real sockets: a receiver bound in a temporary directory,
// the opening order and its texts, the loopback fallback, a receiver that
// stops reading or goes away. Nothing leaves this machine: the fallback
// target is always 127.0.0.1.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "messaging/localSocketTransport.h"
#include "messaging/messageStream.h"
#include "messaging/recordingTransport.h"
#include "messaging/udpBroadcastTransport.h"
#include "toolkit/QMXrgbImage.h"
#include "tests/support/childProcess.h"
#include "tests/support/tempFolder.h"

namespace {

QMXrgbImage frame320x240() {
    QMXrgbImage frame{};
    frame.width = 320;
    frame.height = 240;
    frame.scaleX = frame.scaleY = frame.scaleZ = 1.0f;
    frame.rowStep = 1;
    frame.memoryFormat = 4;
    return frame;
}

// A receiver bound to a Unix datagram socket, as the graphics side would be.
class localReceiver {
public:
    explicit localReceiver(const std::string& path) : path_(path) {
        fd_.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::unlink(path.c_str());
        if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("bind failed");
    }
    ~localReceiver() {
        fd_.reset();
        ::unlink(path_.c_str());
    }
    // Every datagram waiting now, each whole.
    std::vector<std::string> drain() {
        std::vector<std::string> all;
        char buffer[70000];
        for (;;) {
            const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0)
                break;
            all.emplace_back(buffer, static_cast<std::size_t>(n));
        }
        return all;
    }

private:
    std::string path_;
    uniqueFd fd_;
};

class udpReceiver {
public:
    udpReceiver() {
        fd_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    std::uint16_t port() const { return port_; }
    std::string receive() {
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1)
            return "<nothing>";
        char buffer[2048];
        const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
        return n < 0 ? "<error>" : std::string(buffer, static_cast<std::size_t>(n));
    }

private:
    uniqueFd fd_;
    std::uint16_t port_ = 0;
};

struct childResult {
    int exitStatus = -1; // -1 when it did not exit normally
    std::string out, err;
};

// Runs `body` in a child process with its stdout and stderr captured, each
// on its own pipe or both on one (to see their order); the child ends with
// exit(0) after `body` unless body ends it first.
childResult runInChild(const std::function<void()>& body, bool mergeStreams = false) {
    const testSupport::childResult r = testSupport::runInChild([&] {
        if (mergeStreams)
            ::dup2(STDOUT_FILENO, STDERR_FILENO);
        body();
    });
    if (!r.started)
        throw std::runtime_error("fork failed");
    return {r.exited ? r.exitCode : -1, r.out, r.err};
}

channelOptions optionsFor(const std::string& socketPath, std::uint16_t port,
                          const std::string& address = "127.0.0.1") {
    channelOptions options;
    options.socketPath = socketPath;
    options.broadcastAddress = address;
    options.broadcastPort = port;
    return options;
}

class channelTest : public ::testing::Test {
protected:
    void TearDown() override {
        messageStream.setTransport(nullptr);
        messageStream.resetSequence(1);
    }
    testSupport::tempFolder dir{"vorn-channel-test"};
    std::string socketPath = dir.path() + "/kelvat";
};

TEST_F(channelTest, localReceiverGetsWholeDatagramsInOrder) {
    localReceiver receiver(socketPath);
    ::testing::internal::CaptureStdout();
    openMessageChannel(optionsFor(socketPath, 9));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "local connection open\n");

    messageStream.resetSequence(1);
    for (int column = 0; column <= 320; column += 32)
        sendGazeMessage(frame320x240(), column, 120, 9, 0.0f, 0);
    const std::vector<std::string> got = receiver.drain();
    ASSERT_EQ(got.size(), 11u);
    for (std::size_t i = 0; i < got.size(); ++i) {
        const std::string prefix = std::to_string(i + 1) + " ";
        EXPECT_EQ(got[i].compare(0, prefix.size(), prefix), 0) << got[i];
        EXPECT_EQ(got[i].back(), '\0');
        EXPECT_EQ(got[i].find('\0'), got[i].size() - 1) << "one zero byte, at the end";
        EXPECT_EQ(got[i].find('\n'), std::string::npos);
    }
    EXPECT_EQ(got[0], std::string("1 -1.00394 0 9 0 0") + '\0');
    EXPECT_EQ(got[1], std::string("2 -0.788111 0 9 0 0") + '\0');
    EXPECT_EQ(got[10], std::string("11 1.00394 0 9 0 0") + '\0');
    EXPECT_EQ(messageStream.bytesWritten, got[10].size());
}

TEST_F(channelTest, fullReceiverQueueDropsWithoutBlockingAndCounterAdvances) {
    localReceiver receiver(socketPath);
    int error = 0;
    auto transport = localSocketTransport::open(socketPath, error);
    ASSERT_TRUE(transport) << error;
    mailslotStream channel;
    channel.setTransport(std::move(transport));
    auto now = mailslotStream::clock::time_point{};
    channel.setClock([&now] { return now; });

    // The receiver reads nothing; its queue fills and further messages are lost.
    ::testing::internal::CaptureStderr();
    const int sent = 2000;
    for (int i = 0; i < sent; ++i) {
        channel << "frame " << i;
        channel.endMessage();
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(channel.sequence, static_cast<std::uint32_t>(sent + 1));
    EXPECT_GT(channel.droppedCount(), 0u);
    EXPECT_EQ(err.find("WARNING"), err.rfind("WARNING")) << "one warning within the second: " << err;
    EXPECT_NE(err.find("WARNING"), std::string::npos);

    // What did arrive is whole, in order, and the first message is number 1.
    std::vector<std::string> got = receiver.drain();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.size() + channel.droppedCount(), static_cast<std::size_t>(sent));
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], std::to_string(i + 1) + " frame " + std::to_string(i) + '\0');

    // Once the receiver reads again, the next message arrives with its own number.
    channel << "again";
    channel.endMessage();
    got = receiver.drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], std::to_string(sent + 1) + " again" + '\0');
}

TEST_F(channelTest, receiverThatGoesAwayLosesMessagesAndARestartedOneGetsTheNext) {
    auto receiver = std::make_unique<localReceiver>(socketPath);
    int error = 0;
    auto transport = localSocketTransport::open(socketPath, error);
    ASSERT_TRUE(transport);
    transport->setReconnectInterval(std::chrono::milliseconds(0));
    mailslotStream channel;
    auto shared = std::shared_ptr<localSocketTransport>(std::move(transport));
    channel.setTransport(shared);

    channel << "before";
    channel.endMessage();
    EXPECT_EQ(receiver->drain().size(), 1u);

    receiver.reset(); // receiver ends; its socket file goes too
    ::testing::internal::CaptureStderr();
    channel << "while away";
    channel.endMessage();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(channel.droppedCount(), 1u);
    EXPECT_FALSE(shared->connected());
    EXPECT_NE(err.find("WARNING"), std::string::npos) << err;

    receiver = std::make_unique<localReceiver>(socketPath);
    channel << "after";
    channel.endMessage();
    const std::vector<std::string> got = receiver->drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], std::string("3 after") + '\0');
}

TEST_F(channelTest, openingWithoutReceiverFailsWithTheSystemError) {
    int error = 0;
    EXPECT_FALSE(localSocketTransport::open(socketPath, error));
    EXPECT_EQ(error, ENOENT);
    // A socket file nobody is bound to any more.
    { localReceiver gone(socketPath + "2"); }
    {
        uniqueFd stale(::socket(AF_UNIX, SOCK_DGRAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, (socketPath + "3").c_str());
        ASSERT_EQ(::bind(stale.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    EXPECT_FALSE(localSocketTransport::open(socketPath + "3", error));
    EXPECT_EQ(error, ECONNREFUSED);
    EXPECT_FALSE(localSocketTransport::open(std::string(200, 'x'), error));
    EXPECT_EQ(error, ENAMETOOLONG);
}

TEST_F(channelTest, openingOrderAndTexts) {
    udpReceiver loopback;
    struct {
        const char* name;
        bool receiverBound;
        std::string address;
        int exitStatus;
        std::string out, err;
    } cases[] = {
        {"local receiver", true, "127.0.0.1", 0, "local connection open\n", ""},
        {"fallback to loopback", false, "127.0.0.1", 0, "broadcasting to network\n",
         "ERROR: Unable to create local mailslot 2\n"},
        {"neither opens", false, "not-an-address", 1, "",
         "ERROR: Unable to create local mailslot 2\nERROR: Unable to create broadcast mailslot 22\n"},
        {"local receiver, bad fallback never tried", true, "not-an-address", 0,
         "local connection open\n", ""},
    };
    for (const auto& c : cases) {
        std::unique_ptr<localReceiver> receiver;
        if (c.receiverBound)
            receiver = std::make_unique<localReceiver>(socketPath);
        const childResult r = runInChild([&] {
            openMessageChannel(optionsFor(socketPath, loopback.port(), c.address));
        });
        EXPECT_EQ(r.exitStatus, c.exitStatus) << c.name;
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
    }
}

TEST_F(channelTest, fallbackReportsLocalFailureFirstThenSendsOverLoopback) {
    udpReceiver loopback;
    const childResult r = runInChild(
        [&] {
            openMessageChannel(optionsFor(socketPath, loopback.port()));
            sendGazeMessage(frame320x240(), 200, 60, 0, 0.4f, 0);
            sendGazeMessage(frame320x240(), 160, 120, 9, 0.0f, 0);
        },
        true);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "ERROR: Unable to create local mailslot 2\nbroadcasting to network\n");
    EXPECT_EQ(loopback.receive(), std::string("1 0.0978738 -0.0870572 0 0.4 0") + '\0');
    EXPECT_EQ(loopback.receive(), std::string("2 0 0 9 0 0") + '\0');
}

TEST_F(channelTest, defaultDirectoryUnderTmpMustBePrivate) {
    struct {
        const char* name;
        mode_t mode;
        bool expectLocal;
    } cases[] = {
        {"private", 0700, true},
        {"group-writable", 0770, false},
        {"world-writable", 0777, false},
    };
    udpReceiver loopback;
    for (const auto& c : cases) {
        const std::string sub = dir.path() + "/private";
        ::mkdir(sub.c_str(), 0700);
        localReceiver receiver(sub + "/kelvat");
        ::chmod(sub.c_str(), c.mode);
        channelOptions options = optionsFor(sub + "/kelvat", loopback.port());
        options.privateDirectory = true;
        const childResult r = runInChild([&] { openMessageChannel(options); });
        EXPECT_EQ(r.exitStatus, 0) << c.name;
        if (c.expectLocal) {
            EXPECT_EQ(r.out, "local connection open\n") << c.name;
        } else {
            EXPECT_EQ(r.out, "broadcasting to network\n") << c.name;
            EXPECT_EQ(r.err, "ERROR: Unable to create local mailslot 13\n") << c.name;
        }
    }
    // Not a directory at all (a symbolic link to one is refused too).
    const std::string link = dir.path() + "/link";
    ASSERT_EQ(::symlink(dir.path().c_str(), link.c_str()), 0);
    EXPECT_EQ(checkPrivateDirectory(link, false), EACCES);
    EXPECT_EQ(checkPrivateDirectory(dir.path() + "/missing", false), ENOENT);
    EXPECT_EQ(checkPrivateDirectory(dir.path() + "/made", true), 0);
    struct stat info {};
    ASSERT_EQ(::stat((dir.path() + "/made").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(channelOptions, defaultsEnvironmentAndProgramOptions) {
    ::unsetenv("VORN_SOCKET");
    ::unsetenv("VORN_BROADCAST_ADDRESS");
    ::unsetenv("VORN_BROADCAST_PORT");
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    channelOptions options = defaultChannelOptions();
    EXPECT_EQ(options.socketPath, "/run/user/4242/kelvat");
    EXPECT_FALSE(options.privateDirectory);
    EXPECT_EQ(options.broadcastAddress, "255.255.255.255");
    EXPECT_EQ(options.broadcastPort, 47474);

    for (const char* unusable : {"", "relative/dir"}) {
        ::setenv("XDG_RUNTIME_DIR", unusable, 1);
        options = defaultChannelOptions();
        EXPECT_EQ(options.socketPath, "/tmp/vorn-" + std::to_string(::getuid()) + "/kelvat");
        EXPECT_TRUE(options.privateDirectory);
    }
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(defaultChannelOptions().socketPath, "/tmp/vorn-" + std::to_string(::getuid()) + "/kelvat");

    ::setenv("VORN_SOCKET", "/tmp/elsewhere/k", 1);
    ::setenv("VORN_BROADCAST_ADDRESS", "127.0.0.1", 1);
    ::setenv("VORN_BROADCAST_PORT", "5000", 1);
    std::string error;
    options = defaultChannelOptions();
    ASSERT_TRUE(applyChannelEnvironment(options, error)) << error;
    EXPECT_EQ(options.socketPath, "/tmp/elsewhere/k");
    EXPECT_FALSE(options.privateDirectory);
    EXPECT_EQ(options.broadcastAddress, "127.0.0.1");
    EXPECT_EQ(options.broadcastPort, 5000);

    ::setenv("VORN_BROADCAST_PORT", "70000", 1);
    EXPECT_FALSE(applyChannelEnvironment(options, error));
    EXPECT_NE(error.find("VORN_BROADCAST_PORT"), std::string::npos) << error;
    EXPECT_EXIT(channelOptionsFromEnvironment(), ::testing::ExitedWithCode(1),
                "^ERROR: VORN_BROADCAST_PORT: broadcast port");
    ::unsetenv("VORN_SOCKET");
    ::unsetenv("VORN_BROADCAST_ADDRESS");
    ::unsetenv("VORN_BROADCAST_PORT");

    struct {
        const char* name;
        const char* value;
        bool ok;
    } table[] = {
        {"broadcast-port", "1", true},          {"broadcast-port", "65535", true},
        {"broadcast-port", "0", false},         {"broadcast-port", "65536", false},
        {"broadcast-port", "12x", false},       {"broadcast-port", "", false},
        {"broadcast-port", "-5", false},        {"broadcast-address", "127.0.0.1", true},
        {"broadcast-address", "127.0.0.255", true}, {"broadcast-address", "localhost", false},
        {"broadcast-address", "1.2.3", false},  {"broadcast-address", "::1", false},
        {"socket", "/tmp/x", true},             {"socket", "", false},
        {"color", "red", false},
    };
    for (const auto& row : table) {
        channelOptions o = defaultChannelOptions();
        EXPECT_EQ(setChannelOption(o, row.name, row.value, error), row.ok) << row.name << "=" << row.value;
    }
    channelOptions o;
    EXPECT_FALSE(setChannelOption(o, "socket", std::string(108, 'a'), error));
}

TEST(udpTransport, refusesBadTargetsAndSendsToLoopback) {
    int error = 0;
    EXPECT_FALSE(udpBroadcastTransport::open("300.1.1.1", 5000, error));
    EXPECT_EQ(error, EINVAL);
    EXPECT_FALSE(udpBroadcastTransport::open("127.0.0.1", 0, error));
    EXPECT_EQ(error, EINVAL);

    udpReceiver receiver;
    auto transport = udpBroadcastTransport::open("127.0.0.1", receiver.port(), error);
    ASSERT_TRUE(transport) << error;
    const std::string datagram = std::string("7 0 0 9 0 0") + '\0';
    const sendResult result = transport->send(datagram.data(), datagram.size());
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.dropped);
    EXPECT_EQ(result.bytesWritten, datagram.size());
    EXPECT_EQ(receiver.receive(), datagram);
}

TEST(udpTransport, noListenerOnTheTargetIsNotAFailure) {
    int port = 0;
    {
        udpReceiver closedAgain; // a port that was free a moment ago
        port = closedAgain.port();
    }
    int error = 0;
    auto transport = udpBroadcastTransport::open("127.0.0.1", static_cast<std::uint16_t>(port), error);
    ASSERT_TRUE(transport);
    for (int i = 0; i < 3; ++i) {
        const sendResult result = transport->send("1 0 0 9 0 0", 12);
        EXPECT_TRUE(result.ok) << "send " << i << " errno " << result.errorNumber;
    }
}

} // namespace
