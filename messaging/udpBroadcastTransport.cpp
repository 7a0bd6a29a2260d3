#include "messaging/udpBroadcastTransport.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>

udpBroadcastTransport::udpBroadcastTransport(uniqueFd fd, const sockaddr_in& target)
    : fd_(std::move(fd)), target_(target) {}

std::unique_ptr<udpBroadcastTransport> udpBroadcastTransport::open(const std::string& address,
                                                                   std::uint16_t port,
                                                                   int& errorNumber) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    if (port == 0 || ::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) {
        errorNumber = EINVAL;
        return nullptr;
    }
    uniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        errorNumber = errno;
        return nullptr;
    }
    const int on = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        errorNumber = errno;
        return nullptr;
    }
    // Connecting a UDP socket sends nothing; it only finds a route, so that a
    // machine without network fails here rather than on the first frame.
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        errorNumber = errno;
        return nullptr;
    }
    // Unconnect again: a connected socket would report each "port
    // unreachable" of a listener-less target as an error of a later send.
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    ::connect(fd.get(), &unspecified, sizeof unspecified);
    errorNumber = 0;
    return std::unique_ptr<udpBroadcastTransport>(new udpBroadcastTransport(std::move(fd), target));
}

sendResult udpBroadcastTransport::send(const char* bytes, std::size_t count) {
    for (;;) {
        const ssize_t sent = ::sendto(fd_.get(), bytes, count, MSG_DONTWAIT | MSG_NOSIGNAL,
                                      reinterpret_cast<const sockaddr*>(&target_), sizeof target_);
        if (sent >= 0)
            return {true, false, static_cast<std::size_t>(sent), 0};
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS || error == ECONNREFUSED)
            return {true, true, 0, error};
        return {false, false, 0, error};
    }
}
