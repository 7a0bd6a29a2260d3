#pragma once
// An in-memory transport that keeps every datagram it is given, for tests.
// It can also act as a receiver that stopped reading (every datagram dropped)
// or as a channel whose next write fails.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "messaging/datagramTransport.h"

class mailslotStream;

class recordingTransport : public datagramTransport {
public:
    sendResult send(const char* bytes, std::size_t count) override;

    // Every datagram delivered so far, bytes as sent (terminating zero included).
    const std::vector<std::string>& datagrams() const { return datagrams_; }
    // The same without each datagram's last byte (the terminating zero).
    std::vector<std::string> texts() const;
    void clear() { datagrams_.clear(); }

    // While on, every datagram is dropped as by a full queue (EAGAIN).
    void simulateFullQueue(bool on) { fullQueue_ = on; }
    // The next send fails with this errno (0 cancels).
    void failNextSend(int errorNumber) { failNext_ = errorNumber; }
    std::size_t droppedCount() const { return dropped_; }

private:
    std::vector<std::string> datagrams_;
    bool fullQueue_ = false;
    int failNext_ = 0;
    std::size_t dropped_ = 0;
};

// Installs a recorder on a channel (messageStream by default) and restarts its
// counter; puts the previous transport and counter back when it goes.
class scopedMessageCapture {
public:
    scopedMessageCapture();
    explicit scopedMessageCapture(mailslotStream& stream, std::uint32_t firstSequence = 1);
    ~scopedMessageCapture();
    scopedMessageCapture(const scopedMessageCapture&) = delete;
    scopedMessageCapture& operator=(const scopedMessageCapture&) = delete;

    recordingTransport& recorder() { return *recorder_; }
    std::vector<std::string> texts() const { return recorder_->texts(); }

private:
    mailslotStream& stream_;
    std::shared_ptr<recordingTransport> recorder_;
    std::shared_ptr<datagramTransport> previous_;
    std::uint32_t previousSequence_;
};
