// The receiving side's checker: good datagrams, hostile ones, sequences.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "messaging/messageCheck.h"
#include "messaging/messageStream.h"
#include "messaging/recordingTransport.h"
#include "toolkit/QMXrgbImage.h"

namespace {

std::string z(std::string text) { return text + '\0'; }

struct checkCase {
    const char* name;
    std::string bytes;
    bool ok;
    const char* problem; // part of the reported problem, when not ok
};

const checkCase checkCases[] = {
    {"example", z("17 0.0978738 -0.0870572 0 0.4 0"), true, ""},
    {"centre", z("1 0 0 9 0 0"), true, ""},
    {"exponent form", z("5 6.13672e-05 -1.3561e-05 2 1.234e-05 0"), true, ""},
    {"edges", z("4294967295 -1.00394 0.335883 3 1.6 0"), true, ""},
    {"calibration", z("9 -0.788111 0 0 0 2"), true, ""},
    {"negative zero intensity", z("9 0 0 1 -0 0"), true, ""},
    {"empty", "", false, "empty datagram"},
    {"only a zero byte", std::string(1, '\0'), false, "1 field, expected 6"},
    {"no terminating zero", "1 0 0 9 0 0", false, "no terminating zero byte"},
    {"line end instead of zero", "1 0 0 9 0 0\n", false, "no terminating zero byte"},
    {"two zero bytes", z(z("1 0 0 9 0 0")), false, "zero byte inside the text at offset 11"},
    {"embedded zero", z(std::string("1 0 0\0 9 0 0", 12)), false, "zero byte inside the text at offset 5"},
    {"binary", z("\x01\xff\x80 0 0 9 0 0"), false, "non-text byte 0x01 at offset 0"},
    {"line end inside", z("1 0 0 9 0 0\n"), false, "non-text byte 0x0a"},
    {"tab separator", z("1\t0 0 9 0 0"), false, "non-text byte 0x09"},
    {"five fields", z("1 0 0 9 0"), false, "5 fields, expected 6"},
    {"seven fields", z("1 0 0 9 0 0 0"), false, "7 fields, expected 6"},
    {"double blank", z("1 0  0 9 0 0"), false, "7 fields"},
    {"leading blank", z(" 1 0 0 9 0"), false, "empty sequence"},
    {"trailing blank", z("1 0 0 9 0 "), false, "empty calibration step"},
    {"signed sequence", z("-1 0 0 9 0 0"), false, "sequence is not"},
    {"sequence too large", z("4294967296 0 0 9 0 0"), false, "sequence is not"},
    {"sequence leading zero", z("01 0 0 9 0 0"), false, "sequence is not"},
    {"comma decimal", z("1 0,5 0 9 0 0"), false, "horizontal angle is not a number"},
    {"plus sign", z("1 +0.5 0 9 0 0"), false, "horizontal angle is not a number"},
    {"nan", z("1 0 nan 9 0 0"), false, "vertical angle is not a number"},
    {"inf intensity", z("1 0 0 9 inf 0"), false, "emotion intensity is not a number"},
    {"huge exponent", z("1 0 0 9 1e999 0"), false, "emotion intensity is not a number"},
    {"fractional code", z("1 0 0 9.0 0 0"), false, "emotion code is not an integer"},
    {"fractional step", z("1 0 0 9 0 1.5"), false, "calibration step is not an integer"},
    {"a1 beyond the edge", z("1 1.0041 0 9 0 0"), false, "horizontal angle out of range"},
    {"a1 far beyond", z("1 -3.14159 0 9 0 0"), false, "horizontal angle out of range"},
    {"a2 beyond the edge", z("1 0 -0.336 9 0 0"), false, "vertical angle out of range"},
    {"unknown code 4", z("1 0 0 4 0 0"), false, "unknown emotion code: 4"},
    {"unknown code -1", z("1 0 0 -1 0 0"), false, "unknown emotion code: -1"},
    {"negative intensity", z("1 0 0 0 -0.1 0"), false, "negative emotion intensity"},
    {"step 4", z("1 0 0 0 0 4"), false, "calibration step out of range"},
    {"step -1", z("1 0 0 0 0 -1"), false, "calibration step out of range"},
    {"huge", z(std::string(65535, '7')), false, "1 field, expected 6"},
    {"huge with blanks", z(std::string(65535, ' ')), false, "fields, expected 6"},
};

void PrintTo(const checkCase& c, std::ostream* os) { *os << c.name; }

class checkTest : public ::testing::TestWithParam<checkCase> {};

TEST_P(checkTest, acceptsOrNamesTheProblem) {
    const checkCase& c = GetParam();
    const datagramCheck result = checkDatagram(c.bytes);
    EXPECT_EQ(result.ok, c.ok) << result.problem;
    if (c.ok)
        EXPECT_TRUE(result.problem.empty());
    else
        EXPECT_NE(result.problem.find(c.problem), std::string::npos) << result.problem;
}

INSTANTIATE_TEST_SUITE_P(table, checkTest, ::testing::ValuesIn(checkCases), [](const auto& info) {
    std::string name = info.param.name;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
});

TEST(check, readsTheFieldsOfAGoodMessage) {
    const datagramCheck r = checkDatagram(z("17 0.0978738 -0.0870572 0 0.4 0"));
    ASSERT_TRUE(r.ok) << r.problem;
    EXPECT_EQ(r.message.sequence, 17u);
    EXPECT_FLOAT_EQ(r.message.horizontalAngle, 0.0978738f);
    EXPECT_FLOAT_EQ(r.message.verticalAngle, -0.0870572f);
    EXPECT_EQ(r.message.emotionCode, 0);
    EXPECT_FLOAT_EQ(r.message.emotionIntensity, 0.4f);
    EXPECT_EQ(r.message.calibrationStep, 0);
    EXPECT_EQ(formatMessageLine(r.message), "17 0.0978738 -0.0870572 0 0.4 0 Happy");
    EXPECT_EQ(formatMessageJson(r.message),
              "{\"sequence\":17,\"horizontalAngle\":0.0978738,\"verticalAngle\":-0.0870572,"
              "\"emotionCode\":0,\"emotion\":\"Happy\",\"emotionIntensity\":0.4,\"calibrationStep\":0}");
}

TEST(check, malformedDatagramStillGivesItsSequenceWhenReadable) {
    const datagramCheck bad = checkDatagram(z("42 0 0 7 0 0"));
    EXPECT_FALSE(bad.ok);
    ASSERT_TRUE(bad.sequence.has_value());
    EXPECT_EQ(*bad.sequence, 42u);
    EXPECT_FALSE(checkDatagram(z("x 0 0 9 0 0")).sequence.has_value());
    struct {
        std::string bytes;
        std::optional<std::uint32_t> sequence;
    } cases[] = {
        {"43 0 0 9 0 0", 43u},                      // no terminating zero
        {z(std::string("44\0 0 0 9 0 0", 13)), 44u}, // zero right after the number
        {z("45"), 45u},
        {z("46 0 0 9 0 0 0"), 46u},
        {"", std::nullopt},
        {z("-1 0 0 9 0 0"), std::nullopt},
        {z("99999999999 0 0 9 0 0"), std::nullopt},
    };
    for (const auto& c : cases) {
        const datagramCheck r = checkDatagram(c.bytes);
        EXPECT_FALSE(r.ok) << printableBytes(c.bytes);
        EXPECT_EQ(r.sequence, c.sequence) << printableBytes(c.bytes);
    }
}

TEST(check, emotionNames) {
    const std::pair<int, const char*> names[] = {
        {0, "Happy"}, {1, "Anger"}, {2, "Sad"}, {3, "Surprise"}, {9, "none"}, {4, "unknown"}, {-1, "unknown"}};
    for (const auto& [code, name] : names)
        EXPECT_STREQ(emotionName(code), name) << code;
}

// Whatever the sender composes must pass the receiver's check.
TEST(check, everythingTheComposerWritesPasses) {
    scopedMessageCapture capture;
    QMXrgbImage frame{};
    frame.width = 320;
    frame.height = 240;
    frame.rowStep = 1;
    frame.memoryFormat = 4;
    const int codes[] = {0, 1, 2, 3, 9};
    int sent = 0;
    for (int column = 0; column <= 320; column += 7)
        for (int row = 0; row <= 240; row += 11) {
            sendGazeMessage(frame, column, row, codes[sent % 5], (sent % 17) * 0.1f, sent % 4);
            ++sent;
        }
    sequenceTracker tracker;
    for (const std::string& datagram : capture.recorder().datagrams()) {
        const datagramCheck r = checkDatagram(datagram);
        EXPECT_TRUE(r.ok) << r.problem << ": " << printableBytes(datagram);
        ASSERT_TRUE(r.sequence.has_value());
        EXPECT_FALSE(tracker.next(*r.sequence).has_value());
    }
    EXPECT_EQ(capture.recorder().datagrams().size(), static_cast<std::size_t>(sent));
}

TEST(check, randomBytesNeverCrashAndNeverPass) {
    std::mt19937 random(12345);
    for (int i = 0; i < 2000; ++i) {
        std::string bytes(random() % 300, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 256);
        const datagramCheck r = checkDatagram(bytes);
        if (r.ok) // only possible for a well-formed message, which random bytes are not
            ADD_FAILURE() << printableBytes(bytes);
        EXPECT_FALSE(r.problem.empty());
        printableBytes(bytes);
    }
}

TEST(sequence, followsOnAndDescribesIrregularities) {
    struct step {
        std::uint32_t sequence;
        const char* report; // nullptr: none
    };
    const step steps[] = {
        {5, nullptr},
        {6, nullptr},
        {9, "sequence gap: expected 7, got 9 (2 messages missing)"},
        {11, "sequence gap: expected 10, got 11 (1 message missing)"},
        {11, "sequence out of order: expected 12, got 11"},
        {3, "sequence out of order: expected 12, got 3"},
        {4, nullptr},
        {1, "sequence restarted at 1 after 4 (sender restarted?)"},
        {2, nullptr},
        // More than half the counter's range ahead is read as behind.
        {4294967295u, "sequence out of order: expected 3, got 4294967295"},
        {0, nullptr},
        {1, nullptr},
    };
    sequenceTracker tracker;
    for (const step& s : steps) {
        const std::optional<std::string> report = tracker.next(s.sequence);
        if (s.report) {
            ASSERT_TRUE(report.has_value()) << s.sequence;
            EXPECT_EQ(*report, s.report);
        } else {
            EXPECT_FALSE(report.has_value()) << s.sequence << ": " << report.value_or("");
        }
    }
    EXPECT_EQ(tracker.missing(), 3u);
    sequenceTracker wide;
    wide.next(4294967290u);
    EXPECT_EQ(wide.next(3).value_or(""), "sequence gap: expected 4294967291, got 3 (8 messages missing)");
    EXPECT_EQ(wide.missing(), 8u);
}

TEST(printable, escapesAndCuts) {
    EXPECT_EQ(printableBytes(z("1 0")), "1 0\\0");
    EXPECT_EQ(printableBytes(std::string("a\nb\\\x7f\xff", 6)), "a\\nb\\\\\\x7f\\xff");
    EXPECT_EQ(printableBytes(std::string(100, 'a'), 10), "aaaaaaaaaa...");
    EXPECT_EQ(printableBytes(""), "");
}

} // namespace
