// The message composer and the channel's counter, drop and failure rules,
// checked through the in-memory recorder.

#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "messaging/messageStream.h"
#include "messaging/recordingTransport.h"
#include "toolkit/QMXrgbImage.h"

namespace {

QMXrgbImage frameOf(int width, int height, int rowStep = 1) {
    QMXrgbImage frame{};
    frame.data = nullptr; // only the geometry is read
    frame.width = width;
    frame.height = height;
    frame.scaleX = frame.scaleY = frame.scaleZ = 1.0f;
    frame.rowOffset = 0;
    frame.rowStep = rowStep;
    frame.memoryFormat = 4;
    return frame;
}

struct angleCase {
    const char* name;
    int width, height, rowStep, column, row;
    const char* angles; // "a1 a2" as written
};

const angleCase angleCases[] = {
    {"example target", 320, 240, 1, 200, 60, "0.0978738 -0.0870572"},
    {"centre", 320, 240, 1, 160, 120, "0 0"},
    {"left edge", 320, 240, 1, 0, 120, "-1.00394 0"},
    {"left edge of another size", 640, 480, 1, 0, 240, "-1.00394 0"},
    {"right edge", 320, 240, 1, 320, 120, "1.00394 0"},
    {"top row", 320, 240, 1, 160, 0, "0 -0.335883"},
    {"bottom row", 320, 240, 1, 160, 240, "0 0.335883"},
    {"calibration point 2", 320, 240, 1, 32, 120, "-0.788111 0"},
    {"calibration point 2, 640 wide", 640, 480, 1, 64, 240, "-0.788111 0"},
    {"calibration point 3", 320, 240, 1, 160, 216, "0 0.219821"},
    {"calibration point 3, 480 high", 640, 480, 1, 320, 432, "0 0.219821"},
    {"one column right of centre", 320, 240, 1, 161, 120, "6.13672e-05 0"},
    {"one column left of centre", 320, 240, 1, 159, 120, "-6.13672e-05 0"},
    {"rows counted in row steps", 320, 480, 2, 200, 60, "0.0978738 -0.0870572"},
    // Here a product rounded to single precision would end in ...622 / ...328.
    {"product in double precision", 640, 480, 1, 103, 240, "-0.625621 0"},
    {"product in double precision, 800 wide", 800, 600, 1, 98, 300, "-0.730329 0"},
    {"half-pixel centre of an odd size", 321, 241, 1, 160, 120, "-1.52464e-05 -6.01076e-06"},
};

void PrintTo(const angleCase& c, std::ostream* os) { *os << c.name; }

class composerTest : public ::testing::TestWithParam<angleCase> {};

TEST_P(composerTest, writesAnglesInGeneralNotation) {
    const angleCase& c = GetParam();
    scopedMessageCapture capture;
    sendGazeMessage(frameOf(c.width, c.height, c.rowStep), c.column, c.row, 9, 0.0f, 0);
    ASSERT_EQ(capture.texts().size(), 1u);
    EXPECT_EQ(capture.texts()[0], std::string("1 ") + c.angles + " 9 0 0");
}

INSTANTIATE_TEST_SUITE_P(table, composerTest, ::testing::ValuesIn(angleCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST(composer, exampleMessageIsThirtyTwoBytesWithOneZeroAtTheEnd) {
    scopedMessageCapture capture(messageStream, 17);
    sendGazeMessage(frameOf(320, 240), 200, 60, 0, 0.4f, 0);
    ASSERT_EQ(capture.recorder().datagrams().size(), 1u);
    const std::string& datagram = capture.recorder().datagrams()[0];
    EXPECT_EQ(datagram, std::string("17 0.0978738 -0.0870572 0 0.4 0") + '\0');
    EXPECT_EQ(datagram.size(), 32u);
    EXPECT_EQ(messageStream.bytesWritten, 32u);
    EXPECT_TRUE(messageStream.lastWriteOk);
}

TEST(composer, intensityAndCodesUseDefaultFormatting) {
    struct {
        int code;
        float intensity;
        int step;
        const char* tail;
    } cases[] = {
        {3, 1.6f, 0, "3 1.6 0"},
        {2, 0.123456789f, 0, "2 0.123457 0"},
        {1, 1.0f, 0, "1 1 0"},
        {9, 0.0f, 0, "9 0 0"},
        {0, 0.0f, 3, "0 0 3"},
        {0, 0.00001234f, 0, "0 1.234e-05 0"},
    };
    scopedMessageCapture capture;
    for (const auto& c : cases)
        sendGazeMessage(frameOf(320, 240), 160, 120, c.code, c.intensity, c.step);
    const std::vector<std::string> texts = capture.texts();
    ASSERT_EQ(texts.size(), std::size(cases));
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(texts[i], std::to_string(i + 1) + " 0 0 " + cases[i].tail) << "case " << i;
}

TEST(channel, firstMessageOnTheWireIsOneAndCalibrationSharesTheCounter) {
    scopedMessageCapture capture;
    EXPECT_EQ(messageStream.pendingText(), "1 ");
    sendGazeMessage(frameOf(320, 240), 160, 216, 0, 0.0f, 3); // calibration point
    sendGazeMessage(frameOf(320, 240), 200, 60, 9, 0.0f, 0);  // ordinary
    sendGazeMessage(frameOf(320, 240), 32, 120, 0, 0.0f, 2);  // calibration point
    const std::vector<std::string> texts = capture.texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "1 0 0.219821 0 0 3");
    EXPECT_EQ(texts[1], "2 0.0978738 -0.0870572 9 0 0");
    EXPECT_EQ(texts[2], "3 -0.788111 0 0 0 2");
    EXPECT_EQ(messageStream.sequence, 4u);
    EXPECT_EQ(messageStream.pendingText(), "4 ");
}

TEST(channel, counterWrapsFromLargestValueToZero) {
    scopedMessageCapture capture(messageStream, 4294967294u);
    for (int i = 0; i < 4; ++i)
        sendGazeMessage(frameOf(320, 240), 160, 120, 9, 0.0f, 0);
    const std::vector<std::string> texts = capture.texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], "4294967294 0 0 9 0 0");
    EXPECT_EQ(texts[1], "4294967295 0 0 9 0 0");
    EXPECT_EQ(texts[2], "0 0 0 9 0 0");
    EXPECT_EQ(texts[3], "1 0 0 9 0 0");
}

TEST(channel, shorterMessageAfterLongerOneCarriesNoLeftovers) {
    scopedMessageCapture capture(messageStream, 99);
    sendGazeMessage(frameOf(320, 240), 1, 1, 3, 0.123456f, 0);
    sendGazeMessage(frameOf(320, 240), 160, 120, 9, 0.0f, 0);
    const auto& datagrams = capture.recorder().datagrams();
    ASSERT_EQ(datagrams.size(), 2u);
    EXPECT_EQ(datagrams[1], std::string("100 0 0 9 0 0") + '\0');
}

TEST(channel, endMessageSendsWhateverWasInserted) {
    scopedMessageCapture capture;
    messageStream << "hello" << ' ' << 2.5;
    messageStream.endMessage();
    messageStream.endMessage();
    const auto& datagrams = capture.recorder().datagrams();
    ASSERT_EQ(datagrams.size(), 2u);
    EXPECT_EQ(datagrams[0], std::string("1 hello 2.5") + '\0');
    EXPECT_EQ(datagrams[1], std::string("2 ") + '\0');
}

TEST(channel, withoutTransportMessagesAreDiscardedButCounted) {
    auto previous = messageStream.setTransport(nullptr);
    messageStream.resetSequence(1);
    sendGazeMessage(frameOf(320, 240), 160, 120, 9, 0.0f, 0);
    EXPECT_FALSE(messageStream.lastWriteOk);
    EXPECT_EQ(messageStream.bytesWritten, 0u);
    EXPECT_EQ(messageStream.sequence, 2u);
    messageStream.setTransport(previous);
}

// A numpunct that writes a decimal comma and groups thousands, as many user
// locales do.
struct commaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

class globalLocaleGuard {
public:
    globalLocaleGuard() : saved_(std::locale()) {}
    ~globalLocaleGuard() {
        std::locale::global(saved_);
        std::setlocale(LC_ALL, "C");
    }

private:
    std::locale saved_;
};

TEST(locale, textStaysInCLocaleUnderACommaDecimalGlobalLocale) {
    globalLocaleGuard guard;
    std::locale::global(std::locale(std::locale::classic(), new commaDecimal));
    {
        std::ostringstream probe; // the global locale really is in force
        probe << 0.5 << ' ' << 12345;
        ASSERT_EQ(probe.str(), "0,5 12.345");
    }
    // Both the process-wide channel and one made under the new locale.
    scopedMessageCapture capture(messageStream, 12345);
    sendGazeMessage(frameOf(320, 240), 200, 60, 0, 0.4f, 0);
    mailslotStream fresh;
    scopedMessageCapture freshCapture(fresh, 12345);
    fresh << 0.4f << ' ' << 1234567;
    fresh.endMessage();
    ASSERT_EQ(capture.texts().size(), 1u);
    EXPECT_EQ(capture.texts()[0], "12345 0.0978738 -0.0870572 0 0.4 0");
    ASSERT_EQ(freshCapture.texts().size(), 1u);
    EXPECT_EQ(freshCapture.texts()[0], "12345 0.4 1234567");
}

// A comma-decimal system locale: an installed one, else one compiled into a
// temporary directory with localedef when the locale sources are there.
class systemCommaLocale {
public:
    systemCommaLocale() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8"})
            if (tryLocale(name))
                return;
        if (::access("/usr/share/i18n/locales/de_DE", R_OK) != 0 || ::access("/usr/bin/localedef", X_OK) != 0)
            return;
        char pattern[] = "/tmp/vorn-locale-XXXXXX";
        if (!::mkdtemp(pattern))
            return;
        directory_ = pattern;
        const std::string command = "/usr/bin/localedef -i de_DE -f UTF-8 '" + directory_ +
                                    "/de_DE.UTF-8' >/dev/null 2>&1";
        std::system(command.c_str()); // warnings give a non-zero status; the result decides
        ::setenv("LOCPATH", directory_.c_str(), 1);
        tryLocale("de_DE.UTF-8");
    }
    ~systemCommaLocale() {
        ::unsetenv("LOCPATH");
        if (!directory_.empty())
            std::system(("rm -rf '" + directory_ + "'").c_str());
    }
    const std::string& name() const { return name_; }

private:
    bool tryLocale(const char* name) {
        try {
            std::ostringstream probe;
            probe.imbue(std::locale(name));
            probe << 0.5;
            if (probe.str() != "0,5")
                return false;
            name_ = name;
            return true;
        } catch (const std::runtime_error&) {
            return false;
        }
    }
    std::string directory_, name_;
};

TEST(locale, textStaysInCLocaleUnderASystemCommaLocale) {
    systemCommaLocale comma;
    if (comma.name().empty())
        GTEST_SKIP() << "no comma-decimal system locale available";
    globalLocaleGuard guard;
    std::locale::global(std::locale(comma.name().c_str())); // also sets the C library's locale
    char text[16];
    std::snprintf(text, sizeof text, "%g", 0.5);
    ASSERT_STREQ(text, "0,5");
    scopedMessageCapture capture(messageStream, 1000);
    mailslotStream fresh;
    scopedMessageCapture freshCapture(fresh, 1000);
    sendGazeMessage(frameOf(320, 240), 200, 60, 0, 0.4f, 0);
    fresh << 1.5f << ' ' << 1234567;
    fresh.endMessage();
    EXPECT_EQ(capture.texts().at(0), "1000 0.0978738 -0.0870572 0 0.4 0");
    EXPECT_EQ(freshCapture.texts().at(0), "1000 1.5 1234567");
}

class dropTest : public ::testing::Test {
protected:
    void SetUp() override {
        channel.setClock([this] { return now; });
    }
    int warningsIn(const std::string& text) {
        int count = 0;
        for (std::size_t at = text.find("WARNING"); at != std::string::npos; at = text.find("WARNING", at + 1))
            ++count;
        return count;
    }
    void send(int n) {
        for (int i = 0; i < n; ++i)
            sendVia(channel);
    }
    static void sendVia(mailslotStream& stream) {
        stream << "x";
        stream.endMessage();
    }

    mailslotStream channel;
    scopedMessageCapture capture{channel};
    mailslotStream::clock::time_point now{std::chrono::seconds(100)};
};

TEST_F(dropTest, fullQueueDropsWarnsAtMostOnceASecondAndCounterAdvances) {
    capture.recorder().simulateFullQueue(true);
    ::testing::internal::CaptureStderr();
    send(50);                                   // first drop warns at once
    now += std::chrono::milliseconds(999);
    send(50);                                   // still inside the second: silent
    now += std::chrono::milliseconds(1);
    send(1);                                    // a second after the warning
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(warningsIn(err), 2) << err;
    EXPECT_NE(err.find(" 1 message dropped"), std::string::npos) << err;
    EXPECT_NE(err.find(" 100 messages dropped"), std::string::npos) << err;
    EXPECT_EQ(channel.droppedCount(), 101u);
    EXPECT_EQ(channel.sequence, 102u);
    EXPECT_TRUE(capture.recorder().datagrams().empty());

    // The receiver reads again: the next message goes out with its own number.
    capture.recorder().simulateFullQueue(false);
    ::testing::internal::CaptureStderr();
    send(1);
    EXPECT_EQ(warningsIn(::testing::internal::GetCapturedStderr()), 0);
    ASSERT_EQ(capture.texts().size(), 1u);
    EXPECT_EQ(capture.texts()[0], "102 x");
}

TEST_F(dropTest, lossesAfterTheLastWarningAreReportedOnceTheSecondHasPassed) {
    capture.recorder().simulateFullQueue(true);
    ::testing::internal::CaptureStderr();
    send(1);
    send(4);
    capture.recorder().simulateFullQueue(false);
    now += std::chrono::seconds(2);
    send(1); // delivered; the four silent losses are reported now
    send(1);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(warningsIn(err), 2) << err;
    EXPECT_NE(err.find(" 4 messages dropped"), std::string::npos) << err;
    EXPECT_EQ(capture.texts().size(), 2u);
}

TEST(channelDeathTest, writeFailureEndsTheProcessWithTheErrorNumber) {
    struct {
        int error;
        const char* expected;
    } cases[] = {
        {EIO, "^ERROR: Unable to write to mailslot 5\n$"},
        {EMSGSIZE, "^ERROR: Unable to write to mailslot 90\n$"},
    };
    for (const auto& c : cases) {
        EXPECT_EXIT(
            {
                scopedMessageCapture capture;
                capture.recorder().failNextSend(c.error);
                sendGazeMessage(frameOf(320, 240), 160, 120, 9, 0.0f, 0);
            },
            ::testing::ExitedWithCode(1), c.expected);
    }
}

TEST(channel, writeFailureClosesTheTransport) {
    // In a child: the transport must be gone (closed) before the process ends.
    EXPECT_EXIT(
        {
            struct watching : recordingTransport {
                ~watching() override { std::fputs("transport closed\n", stderr); }
            };
            auto transport = std::make_shared<watching>();
            transport->failNextSend(EIO);
            messageStream.setTransport(transport);
            transport.reset();
            messageStream.endMessage();
        },
        ::testing::ExitedWithCode(1), "ERROR: Unable to write to mailslot 5\ntransport closed\n$");
}

} // namespace
