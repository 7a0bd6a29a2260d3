#pragma once
// A transport that passes every datagram on to the real one and lets the
// runner see it: --print-messages writes its text as one line, and the
// latency measurement notes the moment it went out.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string_view>

#include "messaging/datagramTransport.h"

class messageTee : public datagramTransport {
public:
    // Called after each send with the text (terminating zero removed) and
    // the transport's answer.
    using observer = std::function<void(std::string_view text, const sendResult& result)>;

    // `inner` may be null (nothing is sent; the observer still sees the text).
    // `lines`, when given, receives each text and a line end, flushed, so a
    // reader of a pipe sees every message as it is sent.
    messageTee(std::shared_ptr<datagramTransport> inner, std::ostream* lines, observer watch = {});

    sendResult send(const char* bytes, std::size_t count) override;

    // When the receiver's queue is full, try again for up to `limit` before
    // the datagram counts as lost, so a file processed faster than the
    // receiver reads is paced by it instead of losing messages. After one
    // datagram is lost anyway, waiting stops for good (a receiver that has
    // stopped reading must not slow every frame). Zero (the default): no wait.
    void setWaitWhenFull(std::chrono::milliseconds limit) { waitLimit_ = limit; }
    // True once waiting was given up.
    bool gaveUpWaiting() const { return gaveUp_; }

    std::uint64_t messagesSeen() const { return seen_; }
    const std::shared_ptr<datagramTransport>& inner() const { return inner_; }

private:
    std::shared_ptr<datagramTransport> inner_;
    std::ostream* lines_;
    observer watch_;
    std::uint64_t seen_ = 0;
    std::chrono::milliseconds waitLimit_{0};
    bool gaveUp_ = false;
};
