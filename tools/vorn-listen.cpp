// vorn-listen: receives the gaze messages that vorn sends, prints one line per
// datagram and reports malformed datagrams and gaps in the sequence on stderr.
// It binds the local socket that vorn looks for first (and, on request, a UDP
// address for the broadcast fallback).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/channelOptions.h"
#include "messaging/messageCheck.h"
#include "messaging/uniqueFd.h"

namespace {

const char* const usage =
    "usage: vorn-listen [--socket PATH] [--udp ADDR:PORT] [--no-local] [--count N] [--json]\n"
    "\n"
    "Receives vorn's gaze messages and prints one line per datagram: the six\n"
    "fields as received and the emotion's name. Malformed datagrams and gaps in\n"
    "the sequence are reported on stderr. Ctrl-C ends it.\n"
    "\n"
    "  --socket PATH    local socket to bind (default: $VORN_SOCKET, else\n"
    "                   $XDG_RUNTIME_DIR/kelvat, else /tmp/vorn-<uid>/kelvat)\n"
    "  --udp ADDR:PORT  also receive UDP on this IPv4 address and port\n"
    "                   (0.0.0.0:47474 receives vorn's default broadcast)\n"
    "  --no-local       do not bind the local socket (needs --udp)\n"
    "  --count N        stop after N datagrams\n"
    "  --json           one JSON object per line instead of plain text\n"
    "  --help           this text\n";

struct listenOptions {
    std::string socketPath;
    bool privateDirectory = false;
    bool local = true;
    std::string udpAddress;
    std::uint16_t udpPort = 0;
    bool udp = false;
    std::uint64_t count = 0; // 0: no limit
    bool json = false;
};

[[noreturn]] void usageError(const std::string& message) {
    std::cerr << "vorn-listen: " << message << "\n" << usage;
    std::exit(2);
}

bool parseUdp(std::string_view text, listenOptions& options) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string address(text.substr(0, colon));
    const std::string_view portText = text.substr(colon + 1);
    in_addr probe{};
    unsigned port = 0;
    const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (::inet_pton(AF_INET, address.c_str(), &probe) != 1 || ec != std::errc() ||
        end != portText.data() + portText.size() || port < 1 || port > 65535)
        return false;
    options.udpAddress = address;
    options.udpPort = static_cast<std::uint16_t>(port);
    options.udp = true;
    return true;
}

listenOptions parseArguments(int argc, char** argv) {
    listenOptions options;
    channelOptions channel = defaultChannelOptions();
    std::string error;
    if (!applyChannelEnvironment(channel, error))
        usageError(error);
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc)
                usageError(std::string(arg) + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            std::exit(0);
        } else if (arg == "--socket") {
            if (!setChannelOption(channel, "socket", value(), error))
                usageError(error);
        } else if (arg == "--udp") {
            const std::string_view text = value();
            if (!parseUdp(text, options))
                usageError("--udp needs ADDR:PORT with a numeric IPv4 address and a port 1-65535: '" +
                           std::string(text) + "'");
        } else if (arg == "--no-local") {
            options.local = false;
        } else if (arg == "--count") {
            const std::string_view text = value();
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), options.count);
            if (ec != std::errc() || end != text.data() + text.size() || options.count == 0)
                usageError("--count needs a positive number: '" + std::string(text) + "'");
        } else if (arg == "--json") {
            options.json = true;
        } else {
            usageError("unknown option '" + std::string(arg) + "'");
        }
    }
    if (!options.local && !options.udp)
        usageError("--no-local needs --udp");
    options.socketPath = channel.socketPath;
    options.privateDirectory = channel.privateDirectory;
    return options;
}

[[noreturn]] void fail(const std::string& what, int error) {
    std::cerr << "vorn-listen: " << what << ": " << std::strerror(error) << std::endl;
    std::exit(1);
}

// The bound local socket; removes its file when it goes, unless another
// program has put a new one in its place meanwhile.
class boundLocalSocket {
public:
    explicit boundLocalSocket(const std::string& path) : path_(path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        removeStale(address);
        fd_.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!fd_)
            fail("socket", errno);
        if (::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            fail("cannot bind " + path, errno);
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) {
            device_ = info.st_dev;
            inode_ = info.st_ino;
            owned_ = true;
        }
    }
    ~boundLocalSocket() {
        struct stat info {};
        if (owned_ && ::lstat(path_.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_)
            ::unlink(path_.c_str());
    }
    boundLocalSocket(const boundLocalSocket&) = delete;
    boundLocalSocket& operator=(const boundLocalSocket&) = delete;
    int fd() const { return fd_.get(); }

private:
    // A socket file nobody is bound to is left over from a receiver that died;
    // a live one belongs to another receiver and must not be taken over.
    void removeStale(const sockaddr_un& address) {
        struct stat info {};
        if (::lstat(path_.c_str(), &info) != 0)
            return;
        if (!S_ISSOCK(info.st_mode)) {
            std::cerr << "vorn-listen: " << path_ << " exists and is not a socket; not touching it"
                      << std::endl;
            std::exit(1);
        }
        uniqueFd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (probe && ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            std::cerr << "vorn-listen: another receiver is bound to " << path_ << std::endl;
            std::exit(1);
        }
        ::unlink(path_.c_str());
    }

    std::string path_;
    uniqueFd fd_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool owned_ = false;
};

uniqueFd bindUdp(const std::string& address, std::uint16_t port) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    uniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd)
        fail("socket", errno);
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0)
        fail("cannot bind UDP " + address + ":" + std::to_string(port), errno);
    return fd;
}

struct source {
    int fd;
    const char* name;
    sequenceTracker sequence;
};

} // namespace

int main(int argc, char** argv) {
    const listenOptions options = parseArguments(argc, argv);

    // Signals arrive as readable data on a descriptor, so the receive loop
    // ends cleanly and the destructors remove the socket file.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    if (::sigprocmask(SIG_BLOCK, &signals, nullptr) != 0)
        fail("sigprocmask", errno);
    uniqueFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC));
    if (!signalFd)
        fail("signalfd", errno);

    std::unique_ptr<boundLocalSocket> local;
    if (options.local) {
        if (options.privateDirectory) {
            const std::string directory = options.socketPath.substr(0, options.socketPath.rfind('/'));
            if (const int error = checkPrivateDirectory(directory, true); error != 0)
                fail(directory + " is not a private directory of this user", error);
        }
        local = std::make_unique<boundLocalSocket>(options.socketPath);
    }
    uniqueFd udp;
    if (options.udp)
        udp = bindUdp(options.udpAddress, options.udpPort);

    std::vector<source> sources;
    if (local) {
        sources.push_back({local->fd(), "local", {}});
        std::cerr << "vorn-listen: listening on " << options.socketPath << std::endl;
    }
    if (udp) {
        sources.push_back({udp.get(), "udp", {}});
        std::cerr << "vorn-listen: listening on UDP " << options.udpAddress << ":" << options.udpPort
                  << std::endl;
    }

    std::vector<pollfd> polls;
    polls.push_back({signalFd.get(), POLLIN, 0});
    for (const source& s : sources)
        polls.push_back({s.fd, POLLIN, 0});

    // Larger than any datagram we accept, so that MSG_TRUNC tells us the real length.
    std::vector<char> buffer(65536);
    std::uint64_t received = 0, malformed = 0;
    bool stop = false, countReached = false;
    int exitStatus = 0;
    while (!stop) {
        if (::poll(polls.data(), polls.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            // Leave through the loop's end so the socket file is removed.
            std::cerr << "vorn-listen: poll: " << std::strerror(errno) << std::endl;
            exitStatus = 1;
            break;
        }
        // Datagrams already here are handled before a signal ends the loop.
        if (polls[0].revents & POLLIN)
            stop = true;
        for (std::size_t i = 0; i < sources.size() && !countReached; ++i) {
            if (!(polls[i + 1].revents & POLLIN))
                continue;
            source& from = sources[i];
            const ssize_t length = ::recv(from.fd, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
            if (length < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    continue;
                std::cerr << "vorn-listen: recv: " << std::strerror(errno) << std::endl;
                exitStatus = 1;
                stop = countReached = true;
                break;
            }
            ++received;
            const std::size_t size = static_cast<std::size_t>(length);
            const std::string_view bytes(buffer.data(), size < buffer.size() ? size : buffer.size());
            datagramCheck check = checkDatagram(bytes);
            if (size > buffer.size()) {
                check.ok = false;
                check.problem = "datagram of " + std::to_string(size) + " bytes is too long";
            }
            if (check.ok) {
                const std::string line = options.json
                    ? formatMessageJson(check.message).insert(1, std::string("\"source\":\"") + from.name + "\",")
                    : formatMessageLine(check.message);
                std::fwrite(line.data(), 1, line.size(), stdout);
                std::fputc('\n', stdout);
                std::fflush(stdout);
            } else {
                ++malformed;
                std::cerr << "vorn-listen: malformed datagram (" << size << " bytes, " << from.name
                          << "): " << check.problem << ": \"" << printableBytes(bytes) << "\"" << std::endl;
            }
            if (check.sequence)
                if (const auto irregular = from.sequence.next(*check.sequence))
                    std::cerr << "vorn-listen: " << *irregular << std::endl;
            if (options.count != 0 && received >= options.count)
                countReached = stop = true;
        }
    }

    std::uint64_t missing = 0;
    for (const source& s : sources)
        missing += s.sequence.missing();
    std::cerr << "vorn-listen: " << received << " datagrams, " << malformed << " malformed, " << missing
              << " missing in sequence gaps" << std::endl;
    return exitStatus;
}
