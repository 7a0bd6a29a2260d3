#pragma once
// Datagrams to a receiver on this machine through a Unix datagram socket
// (by default "kelvat" in the user's runtime directory). Opening connects to
// the socket a receiver has bound, so it fails when nobody listens.

#include <chrono>
#include <memory>
#include <string>

#include "messaging/datagramTransport.h"
#include "messaging/uniqueFd.h"

class localSocketTransport : public datagramTransport {
public:
    using clock = std::chrono::steady_clock;

    // Connected transport, or nullptr with the errno in `errorNumber`.
    static std::unique_ptr<localSocketTransport> open(const std::string& path, int& errorNumber);

    // Never blocks. A full receiver queue (EAGAIN, ENOBUFS) drops the
    // datagram. A receiver that went away (ECONNREFUSED, ENOENT, ...) drops it
    // too, and the socket path is tried again at most once per reconnect
    // interval, so a restarted receiver gets the messages that follow.
    sendResult send(const char* bytes, std::size_t count) override;

    void setReconnectInterval(std::chrono::milliseconds interval) { reconnectInterval_ = interval; }
    bool connected() const { return static_cast<bool>(fd_); }

private:
    localSocketTransport(std::string path, uniqueFd fd);
    static uniqueFd connectTo(const std::string& path, int& errorNumber);

    std::string path_;
    uniqueFd fd_;
    clock::time_point lastAttempt_{};
    std::chrono::milliseconds reconnectInterval_{1000};
};
