#include "messaging/localSocketTransport.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

localSocketTransport::localSocketTransport(std::string path, uniqueFd fd)
    : path_(std::move(path)), fd_(std::move(fd)) {}

uniqueFd localSocketTransport::connectTo(const std::string& path, int& errorNumber) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        errorNumber = ENAMETOOLONG;
        return {};
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    uniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        errorNumber = errno;
        return {};
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        errorNumber = errno;
        return {};
    }
    errorNumber = 0;
    return fd;
}

std::unique_ptr<localSocketTransport> localSocketTransport::open(const std::string& path,
                                                                 int& errorNumber) {
    uniqueFd fd = connectTo(path, errorNumber);
    if (!fd)
        return nullptr;
    return std::unique_ptr<localSocketTransport>(new localSocketTransport(path, std::move(fd)));
}

namespace {
bool receiverGone(int error) {
    return error == ECONNREFUSED || error == ENOENT || error == ENOTCONN || error == ECONNRESET;
}
} // namespace

sendResult localSocketTransport::send(const char* bytes, std::size_t count) {
    if (!fd_) {
        const clock::time_point now = clock::now();
        if (now - lastAttempt_ < reconnectInterval_)
            return {true, true, 0, ECONNREFUSED};
        lastAttempt_ = now;
        int error = 0;
        fd_ = connectTo(path_, error);
        if (!fd_)
            return {true, true, 0, error};
    }
    for (;;) {
        const ssize_t sent = ::send(fd_.get(), bytes, count, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0)
            return {true, false, static_cast<std::size_t>(sent), 0};
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS)
            return {true, true, 0, error};
        if (receiverGone(error)) {
            // The peer socket is gone for good; a new receiver binds a new one.
            fd_.reset();
            lastAttempt_ = clock::now();
            return {true, true, 0, error};
        }
        return {false, false, 0, error};
    }
}
