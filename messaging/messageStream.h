#pragma once
// The result channel: one short text datagram per processed frame (and per
// frame while a calibration point is shown), telling the graphics machine
// where the head should look and which emotion it should show.
//
// Wire format: "<sequence> <a1> <a2> <emotionCode> <intensity> <calibrationStep>"
// in the C locale, single blanks, default stream formatting (six significant
// digits), followed by exactly one zero byte and no line end.
//
// Typical use:
//   main():   openMessageChannel(channelOptionsFromEnvironment());
//   per frame: sendGazeMessage(frame, column, row, code, intensity, step);
//   tests:    scopedMessageCapture capture;   (messaging/recordingTransport.h)

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

#include "messaging/channelOptions.h"
#include "messaging/datagramTransport.h"

struct QMXrgbImage;

// A string buffer that lets the channel send from its start to the put
// position without copying, and rewind for the next message.
class messageBuffer : public std::stringbuf {
public:
    messageBuffer() : std::stringbuf(std::ios_base::out) {}
    const char* begin() const { return pbase(); }
    std::size_t size() const { return pbase() ? static_cast<std::size_t>(pptr() - pbase()) : 0; }
};

class mailslotStream : public std::ostream {
public:
    using clock = std::chrono::steady_clock;

    // Sequence 1, "1 " in the buffer, no transport yet (see setTransport).
    mailslotStream();
    mailslotStream(const mailslotStream&) = delete;
    mailslotStream& operator=(const mailslotStream&) = delete;

    std::uint32_t sequence = 1; // number of the message being composed
    bool lastWriteOk = false;   // result of the last write
    std::uint32_t bytesWritten = 0; // byte count of the last write

    // Ends the message in the buffer with one zero byte, sends it and starts
    // the next one ("<sequence+1> "). The counter wraps from 4294967295 to 0.
    void endMessage();

    // Sends the buffer, from its start to the put position, as one datagram.
    // A full receiver queue loses the datagram (warning on stderr at most once
    // a second); any other failure writes "ERROR: Unable to write to mailslot
    // <errno>" to stderr, closes the transport and exits with status 1.
    // Without a transport the message is discarded and lastWriteOk is false.
    void transmit();

    // Installs the transport datagrams go to; returns the previous one.
    std::shared_ptr<datagramTransport> setTransport(std::shared_ptr<datagramTransport> transport);
    datagramTransport* transport() const { return transport_.get(); }

    // Discards the message under construction and starts again at `first`.
    void resetSequence(std::uint32_t first = 1);

    // The message under construction (sequence, blank, whatever was put since).
    std::string_view pendingText() const { return {buffer_.begin(), buffer_.size()}; }

    // Datagrams lost to a receiver that does not read, since start.
    std::uint64_t droppedCount() const { return droppedTotal_; }

    // Time source for the rate limit of the drop warning (tests substitute it).
    void setClock(std::function<clock::time_point()> now);

private:
    void startMessage();
    void noteDropped(int errorNumber);
    void reportPendingDrops(clock::time_point now);

    messageBuffer buffer_;
    std::shared_ptr<datagramTransport> transport_;
    std::function<clock::time_point()> now_;
    std::uint64_t droppedTotal_ = 0;
    std::uint64_t droppedUnreported_ = 0;
    int lastDropError_ = 0;
    bool warnedOnce_ = false;
    clock::time_point lastWarning_{};
};

// The one channel of the process.
extern mailslotStream messageStream;

// Composes one gaze message into messageStream and sends it. Only the frame's
// width, height and rowStep are used. Angles in radians; left of centre and
// above the middle row are negative.
void sendGazeMessage(const QMXrgbImage& frame, int column, int row, int emotionCode,
                     float emotionIntensity, int calibrationStep);

// Opens the channel: the local receiver's socket first, UDP broadcast second.
// Prints "local connection open" or "broadcasting to network" on stdout; when
// neither opens, prints the errors on stderr and exits with status 1.
// Call it first thing in main, after reading the program's options.
void openMessageChannel(const channelOptions& options);
