#pragma once
// Reading and checking gaze datagrams on the receiving side: the six fields,
// their ranges, the one terminating zero byte, and the sequence from one
// datagram to the next. Used by vorn-listen and by tests.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Largest angles the sender can produce (a target on the image's edge),
// plus room for the six-digit rounding of the text.
inline constexpr double maxHorizontalAngle = 1.00394;
inline constexpr double maxVerticalAngle = 0.335883;
inline constexpr double angleTolerance = 1e-5;

struct gazeMessage {
    std::array<std::string, 6> fields; // the six fields as received
    std::uint32_t sequence = 0;
    float horizontalAngle = 0;
    float verticalAngle = 0;
    int emotionCode = 0;
    float emotionIntensity = 0;
    int calibrationStep = 0;
};

struct datagramCheck {
    bool ok = false;
    std::string problem;                     // empty when ok
    gazeMessage message;                     // the fields that could be read
    std::optional<std::uint32_t> sequence;   // when the first field was a valid sequence number
};

// Checks one datagram's bytes exactly as received.
datagramCheck checkDatagram(std::string_view bytes);

// "Happy", "Anger", "Sad", "Surprise", "none"; "unknown" for any other code.
const char* emotionName(int code);

// Follows the sequence numbers of consecutive datagrams and describes what
// does not follow on (a gap, a repeat or step back, a restart at 1).
class sequenceTracker {
public:
    // Returns a description of the irregularity, or nothing when `sequence`
    // is the one expected (or the first seen). 4294967295 is followed by 0.
    std::optional<std::string> next(std::uint32_t sequence);
    std::uint64_t missing() const { return missing_; } // datagrams skipped in gaps so far

private:
    std::optional<std::uint32_t> last_;
    std::uint64_t missing_ = 0;
};

// Bytes made readable for a one-line report: printable ASCII as is, the rest
// as \0, \n, \xHH; cut after `limit` bytes with "...".
std::string printableBytes(std::string_view bytes, std::size_t limit = 80);

// One line for a checked message: the six fields and the emotion's name.
std::string formatMessageLine(const gazeMessage& message);
// The same as one JSON object (numbers as received).
std::string formatMessageJson(const gazeMessage& message);
