#include "messaging/messageStream.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <locale>

#include "toolkit/QMXrgbImage.h"

mailslotStream messageStream;

mailslotStream::mailslotStream() : std::ostream(nullptr), now_([] { return clock::now(); }) {
    rdbuf(&buffer_);
    // The receiver parses a C-locale text whatever locale the user runs in.
    imbue(std::locale::classic());
    startMessage();
}

void mailslotStream::startMessage() {
    *this << sequence << ' ';
}

void mailslotStream::resetSequence(std::uint32_t first) {
    clear();
    seekp(0);
    sequence = first;
    startMessage();
}

std::shared_ptr<datagramTransport> mailslotStream::setTransport(
    std::shared_ptr<datagramTransport> transport) {
    std::swap(transport_, transport);
    return transport;
}

void mailslotStream::setClock(std::function<clock::time_point()> now) {
    now_ = std::move(now);
}

void mailslotStream::transmit() {
    const std::size_t count = buffer_.size();
    if (!transport_) {
        lastWriteOk = false;
        bytesWritten = 0;
        return;
    }
    // The buffer is not touched while the transport sends from it.
    const sendResult result = transport_->send(buffer_.begin(), count);
    lastWriteOk = result.ok;
    bytesWritten = static_cast<std::uint32_t>(result.bytesWritten);
    if (!result.ok) {
        std::cerr << "ERROR: Unable to write to mailslot " << static_cast<unsigned>(result.errorNumber)
                  << std::endl;
        transport_.reset();
        // Capture and window threads may still run: end at once rather than
        // tearing down static objects under them.
        std::cout.flush();
        std::_Exit(1);
    }
    if (result.dropped)
        noteDropped(result.errorNumber);
    else if (droppedUnreported_ > 0)
        reportPendingDrops(now_());
}

void mailslotStream::noteDropped(int errorNumber) {
    ++droppedTotal_;
    ++droppedUnreported_;
    lastDropError_ = errorNumber;
    reportPendingDrops(now_());
}

// One line at most every second, however fast frames come, so a stalled
// receiver cannot flood the terminal; the count says how many were lost.
void mailslotStream::reportPendingDrops(clock::time_point now) {
    if (warnedOnce_ && now - lastWarning_ < std::chrono::seconds(1))
        return;
    std::cerr << "WARNING: receiver not taking messages (" << std::strerror(lastDropError_) << "); "
              << droppedUnreported_ << (droppedUnreported_ == 1 ? " message" : " messages")
              << " dropped" << std::endl;
    droppedUnreported_ = 0;
    warnedOnce_ = true;
    lastWarning_ = now;
}

void mailslotStream::endMessage() {
    put('\0');
    transmit();
    seekp(0);
    ++sequence; // wraps from 4294967295 to 0
    startMessage();
}

void sendGazeMessage(const QMXrgbImage& frame, int column, int row, int emotionCode,
                     float emotionIntensity, int calibrationStep) {
    const int w = frame.width;
    const int h = frame.height / frame.rowStep;

    // Squared offsets with their sign kept: slow near the centre, fast at the edges.
    const float u = static_cast<float>((column - w * 0.5) / (w * 0.5));
    const float s = u < 0.0f ? -1.0f : 1.0f;
    const float a1 = static_cast<float>(std::atan(static_cast<double>(s) * u * u * 1.571f));

    const float v = static_cast<float>((row - h * 0.5) / (h * 0.5));
    const float t = v < 0.0f ? -1.0f : 1.0f;
    const float a2 = static_cast<float>(std::atan(static_cast<double>(t) * v * v * 0.3491111f));

    messageStream << a1 << ' ' << a2 << ' ' << emotionCode << ' ' << emotionIntensity << ' '
                  << calibrationStep;
    messageStream.flush();
    messageStream.endMessage();
}
