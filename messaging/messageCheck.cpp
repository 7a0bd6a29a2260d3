#include "messaging/messageCheck.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digits without a superfluous leading zero, from `i`; returns the end.
std::size_t scanInteger(std::string_view s, std::size_t i) {
    if (i >= s.size() || !isDigit(s[i]))
        return std::string_view::npos;
    if (s[i] == '0')
        return i + 1;
    while (i < s.size() && isDigit(s[i]))
        ++i;
    return i;
}

std::size_t scanDigits(std::string_view s, std::size_t i) {
    const std::size_t start = i;
    while (i < s.size() && isDigit(s[i]))
        ++i;
    return i == start ? std::string_view::npos : i;
}

// The forms the sender writes: [-]int and [-]int[.digits][e(+|-)digits], which
// are also valid JSON numbers, so scripts can take them as they are.
bool isIntegerText(std::string_view s, bool allowSign) {
    std::size_t i = 0;
    if (allowSign && i < s.size() && s[i] == '-')
        ++i;
    return scanInteger(s, i) == s.size();
}

bool isFloatText(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && s[i] == '-')
        ++i;
    i = scanInteger(s, i);
    if (i == std::string_view::npos)
        return false;
    if (i < s.size() && s[i] == '.') {
        i = scanDigits(s, i + 1);
        if (i == std::string_view::npos)
            return false;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        i = scanDigits(s, i);
        if (i == std::string_view::npos)
            return false;
    }
    return i == s.size();
}

template <typename T>
bool parseNumber(std::string_view s, T& value) {
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size();
}

std::string hexByte(unsigned char c) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", c);
    return text;
}

const char* fieldNames[6] = {"sequence", "horizontal angle", "vertical angle", "emotion code",
                             "emotion intensity", "calibration step"};

// Built by appending: `"'" + std::string&&` inserts at the front of the
// temporary, which g++ 12 misreads as an overlapping copy (-Wrestrict).
std::string quoted(std::string_view field) {
    std::string text(1, '\'');
    text += printableBytes(field, 24);
    text += '\'';
    return text;
}

} // namespace

const char* emotionName(int code) {
    switch (code) {
    case 0: return "Happy";
    case 1: return "Anger";
    case 2: return "Sad";
    case 3: return "Surprise";
    case 9: return "none";
    default: return "unknown";
    }
}

datagramCheck checkDatagram(std::string_view bytes) {
    datagramCheck result;
    auto fail = [&result](std::string problem) {
        result.problem = std::move(problem);
        return result;
    };
    // The sequence number is read first, so that a datagram malformed further
    // on still tells the receiver where the sender's count stands.
    const std::string_view first = bytes.substr(0, bytes.find_first_of(std::string_view(" \0", 2)));
    std::uint32_t sequence = 0;
    if (isIntegerText(first, false) && parseNumber(first, sequence))
        result.sequence = sequence;

    if (bytes.empty())
        return fail("empty datagram");
    if (bytes.back() != '\0')
        return fail("no terminating zero byte");
    const std::string_view text = bytes.substr(0, bytes.size() - 1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0)
            return fail("zero byte inside the text at offset " + std::to_string(i));
        if (c < 0x20 || c > 0x7e)
            return fail("non-text byte " + hexByte(c) + " at offset " + std::to_string(i));
    }

    // Exactly one blank between fields: an empty field means a stray blank.
    std::size_t count = 0, start = 0;
    for (;;) {
        const std::size_t blank = text.find(' ', start);
        const std::string_view field =
            text.substr(start, blank == std::string_view::npos ? std::string_view::npos : blank - start);
        if (count < 6)
            result.message.fields[count] = std::string(field);
        ++count;
        if (blank == std::string_view::npos)
            break;
        start = blank + 1;
    }

    gazeMessage& m = result.message;
    m.sequence = sequence;

    if (count != 6)
        return fail(std::to_string(count) + (count == 1 ? " field" : " fields") + ", expected 6");
    for (std::size_t i = 0; i < 6; ++i)
        if (m.fields[i].empty())
            return fail(std::string("empty ") + fieldNames[i] + " (stray blank)");

    if (!result.sequence)
        return fail("sequence is not an unsigned 32-bit number: " + quoted(m.fields[0]));

    double a1 = 0, a2 = 0, intensity = 0;
    if (!isFloatText(m.fields[1]) || !parseNumber(std::string_view(m.fields[1]), a1) || !std::isfinite(a1))
        return fail("horizontal angle is not a number: " + quoted(m.fields[1]));
    if (!isFloatText(m.fields[2]) || !parseNumber(std::string_view(m.fields[2]), a2) || !std::isfinite(a2))
        return fail("vertical angle is not a number: " + quoted(m.fields[2]));
    if (!isIntegerText(m.fields[3], true) || !parseNumber(std::string_view(m.fields[3]), m.emotionCode))
        return fail("emotion code is not an integer: " + quoted(m.fields[3]));
    if (!isFloatText(m.fields[4]) || !parseNumber(std::string_view(m.fields[4]), intensity) ||
        !std::isfinite(intensity))
        return fail("emotion intensity is not a number: " + quoted(m.fields[4]));
    if (!isIntegerText(m.fields[5], true) || !parseNumber(std::string_view(m.fields[5]), m.calibrationStep))
        return fail("calibration step is not an integer: " + quoted(m.fields[5]));

    if (std::fabs(a1) > maxHorizontalAngle + angleTolerance)
        return fail("horizontal angle out of range: " + m.fields[1]);
    if (std::fabs(a2) > maxVerticalAngle + angleTolerance)
        return fail("vertical angle out of range: " + m.fields[2]);
    if (m.emotionCode != 0 && m.emotionCode != 1 && m.emotionCode != 2 && m.emotionCode != 3 &&
        m.emotionCode != 9)
        return fail("unknown emotion code: " + m.fields[3]);
    if (intensity < 0)
        return fail("negative emotion intensity: " + m.fields[4]);
    if (m.calibrationStep < 0 || m.calibrationStep > 3)
        return fail("calibration step out of range: " + m.fields[5]);

    m.horizontalAngle = static_cast<float>(a1);
    m.verticalAngle = static_cast<float>(a2);
    m.emotionIntensity = static_cast<float>(intensity);
    result.ok = true;
    return result;
}

std::optional<std::string> sequenceTracker::next(std::uint32_t sequence) {
    const std::optional<std::uint32_t> last = last_;
    last_ = sequence;
    if (!last)
        return std::nullopt;
    const std::uint32_t expected = *last + 1; // wraps to 0 after 4294967295
    if (sequence == expected)
        return std::nullopt;
    if (sequence == 1)
        return "sequence restarted at 1 after " + std::to_string(*last) + " (sender restarted?)";
    const std::uint32_t ahead = sequence - expected;
    if (ahead < 0x80000000u) {
        missing_ += ahead;
        return "sequence gap: expected " + std::to_string(expected) + ", got " +
               std::to_string(sequence) + " (" + std::to_string(ahead) +
               (ahead == 1 ? " message" : " messages") + " missing)";
    }
    return "sequence out of order: expected " + std::to_string(expected) + ", got " +
           std::to_string(sequence);
}

std::string printableBytes(std::string_view bytes, std::size_t limit) {
    std::string out;
    const std::size_t shown = bytes.size() < limit ? bytes.size() : limit;
    for (std::size_t i = 0; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == 0)
            out += "\\0";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else if (c >= 0x20 && c <= 0x7e)
            out += static_cast<char>(c);
        else
            out += "\\x" + hexByte(c).substr(2);
    }
    if (shown < bytes.size())
        out += "...";
    return out;
}

std::string formatMessageLine(const gazeMessage& m) {
    std::string line;
    for (const std::string& field : m.fields)
        line += field + ' ';
    line += emotionName(m.emotionCode);
    return line;
}

std::string formatMessageJson(const gazeMessage& m) {
    return "{\"sequence\":" + m.fields[0] + ",\"horizontalAngle\":" + m.fields[1] +
           ",\"verticalAngle\":" + m.fields[2] + ",\"emotionCode\":" + m.fields[3] +
           ",\"emotion\":\"" + emotionName(m.emotionCode) + "\",\"emotionIntensity\":" + m.fields[4] +
           ",\"calibrationStep\":" + m.fields[5] + "}";
}
