#pragma once
// Owns one file descriptor and closes it when it goes.

#include <unistd.h>

#include <utility>

class uniqueFd {
public:
    uniqueFd() = default;
    explicit uniqueFd(int fd) : fd_(fd) {}
    uniqueFd(uniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    uniqueFd& operator=(uniqueFd&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.fd_, -1));
        return *this;
    }
    uniqueFd(const uniqueFd&) = delete;
    uniqueFd& operator=(const uniqueFd&) = delete;
    ~uniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};
