#include "runner/runReport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "messaging/recordingTransport.h"
#include "runner/messageTee.h"

namespace {

TEST(RunReport, LatencyMedianAndNearestRankPercentile) {
    struct latencyCase {
        std::vector<double> samples;
        double median;
        double p99;
        double max;
    };
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i)
        hundred.push_back(i); // unsorted on purpose
    std::vector<double> thousand;
    for (int i = 1; i <= 1000; ++i)
        thousand.push_back(i * 0.5);
    const std::vector<latencyCase> cases = {
        {{}, 0.0, 0.0, 0.0},
        {{4.0}, 4.0, 4.0, 4.0},
        {{3.0, 1.0, 2.0}, 2.0, 3.0, 3.0},
        {{4.0, 1.0, 3.0, 2.0}, 2.5, 4.0, 4.0},
        {hundred, 50.5, 99.0, 100.0},
        {thousand, 250.25, 495.0, 500.0},
    };
    for (const latencyCase& c : cases) {
        const latencySummary s = summariseLatencies(c.samples);
        EXPECT_EQ(s.count, c.samples.size());
        EXPECT_DOUBLE_EQ(s.medianMs, c.median) << c.samples.size() << " samples";
        EXPECT_DOUBLE_EQ(s.p99Ms, c.p99) << c.samples.size() << " samples";
        EXPECT_DOUBLE_EQ(s.maxMs, c.max);
    }
}

TEST(RunReport, LinesSayWhatHappened) {
    EXPECT_EQ(summaryLine(150, 3, 147, 29.94),
              "vorn: 150 frames processed, 3 dropped, 147 messages sent, mean 29.9 fps");
    EXPECT_EQ(progressLine(300, 1000, 58.25), "vorn: 300 of 1000 frames, 58.2 fps");
    EXPECT_EQ(progressLine(300, -1, 58.25), "vorn: 300 frames, 58.2 fps");
    latencySummary s;
    s.count = 2;
    s.medianMs = 1.5;
    s.p99Ms = 2.25;
    s.maxMs = 2.25;
    latencySummary p;
    p.count = 2;
    p.medianMs = 0.75;
    p.p99Ms = 1.125;
    const std::string line = latencyLine(s, p);
    EXPECT_EQ(line,
              "vorn: latency from frame out of the queue to message sent: 2 frames, median 1.500 ms, "
              "99th percentile 2.250 ms, max 2.250 ms; processing alone: median 0.750 ms, "
              "99th percentile 1.125 ms");
}

// A clock the test moves by hand.
struct fakeClock {
    progressReporter::clock::time_point now{};
    void advance(int ms) { now += std::chrono::milliseconds(ms); }
};

TEST(RunReport, ProgressAtMostOncePerInterval) {
    fakeClock clock;
    std::ostringstream out;
    progressReporter progress(out, 100, std::chrono::milliseconds(1000), [&] { return clock.now; });
    // 40 frames, 100 ms apart: lines at 1, 2, 3 and 4 s, none in between.
    for (int i = 1; i <= 40; ++i) {
        clock.advance(100);
        progress.frameDone(static_cast<std::uint64_t>(i));
    }
    EXPECT_EQ(progress.linesPrinted(), 4);
    std::istringstream lines(out.str());
    std::string first;
    std::getline(lines, first);
    EXPECT_EQ(first, "vorn: 10 of 100 frames, 10.0 fps");
    // 40 frames ending 100 ms apart: 39 intervals in 3.9 s.
    EXPECT_NEAR(progress.meanFps(), 10.0, 1e-9);
}

TEST(RunReport, ShortRunPrintsNoProgress) {
    fakeClock clock;
    std::ostringstream out;
    progressReporter progress(out, -1, std::chrono::milliseconds(1000), [&] { return clock.now; });
    for (int i = 1; i <= 5; ++i) {
        clock.advance(10);
        progress.frameDone(static_cast<std::uint64_t>(i));
    }
    EXPECT_EQ(progress.linesPrinted(), 0);
    EXPECT_TRUE(out.str().empty());
    EXPECT_NEAR(progress.meanFps(), 100.0, 1e-9);
}

TEST(RunReport, MeanRateNeedsTwoFrames) {
    fakeClock clock;
    std::ostringstream out;
    progressReporter progress(out, -1, std::chrono::milliseconds(1000), [&] { return clock.now; });
    EXPECT_EQ(progress.meanFps(), 0.0);
    clock.advance(50);
    progress.frameDone(1);
    EXPECT_EQ(progress.meanFps(), 0.0);
}

TEST(MessageTee, ForwardsPrintsAndObservesEachDatagram) {
    auto inner = std::make_shared<recordingTransport>();
    std::ostringstream lines;
    std::vector<std::string> seen;
    messageTee tee(inner, &lines, [&](std::string_view text, const sendResult& r) {
        EXPECT_TRUE(r.ok);
        seen.emplace_back(text);
    });
    const std::string first("1 0 0 9 0 0\0", 12);
    const std::string second("2 -1.00394 0.335883 0 0.4 0\0", 28);
    EXPECT_TRUE(tee.send(first.data(), first.size()).ok);
    const sendResult r = tee.send(second.data(), second.size());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytesWritten, second.size());

    ASSERT_EQ(inner->datagrams().size(), 2u);
    EXPECT_EQ(inner->datagrams()[0], first); // bytes unchanged, zero included
    EXPECT_EQ(inner->datagrams()[1], second);
    EXPECT_EQ(lines.str(), "1 0 0 9 0 0\n2 -1.00394 0.335883 0 0.4 0\n");
    EXPECT_EQ(seen, (std::vector<std::string>{"1 0 0 9 0 0", "2 -1.00394 0.335883 0 0.4 0"}));
    EXPECT_EQ(tee.messagesSeen(), 2u);
}

TEST(MessageTee, AFailedWriteIsNotPrinted) {
    auto inner = std::make_shared<recordingTransport>();
    std::ostringstream lines;
    int observed = 0;
    bool lastOk = true;
    messageTee tee(inner, &lines, [&](std::string_view, const sendResult& r) {
        ++observed;
        lastOk = r.ok;
    });
    inner->failNextSend(EPIPE);
    const std::string text("7 0 0 9 0 0\0", 12);
    const sendResult r = tee.send(text.data(), text.size());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorNumber, EPIPE);
    EXPECT_TRUE(lines.str().empty());
    EXPECT_EQ(observed, 1);
    EXPECT_FALSE(lastOk);
}

TEST(MessageTee, WithoutInnerTransportStillPrints) {
    std::ostringstream lines;
    messageTee tee(nullptr, &lines);
    const std::string text("3 0.1 0.2 1 0.5 0\0", 18);
    EXPECT_TRUE(tee.send(text.data(), text.size()).ok);
    EXPECT_EQ(lines.str(), "3 0.1 0.2 1 0.5 0\n");
}

// A receiver whose queue is full for the first `busySends` attempts.
class busyReceiver : public datagramTransport {
public:
    explicit busyReceiver(int busySends) : busy_(busySends) {}
    sendResult send(const char* bytes, std::size_t count) override {
        ++attempts;
        if (busy_ > 0) {
            --busy_;
            return {true, true, 0, EAGAIN};
        }
        delivered.emplace_back(bytes, count);
        return {true, false, count, 0};
    }
    int attempts = 0;
    std::vector<std::string> delivered;

private:
    int busy_;
};

TEST(MessageTee, WaitsForAFullReceiverInsteadOfLosingTheMessage) {
    auto inner = std::make_shared<busyReceiver>(5);
    messageTee tee(inner, nullptr);
    tee.setWaitWhenFull(std::chrono::milliseconds(2000));
    const std::string text("1 0 0 9 0 0\0", 12);
    const sendResult r = tee.send(text.data(), text.size());
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(r.dropped);
    EXPECT_EQ(inner->attempts, 6);
    EXPECT_EQ(inner->delivered, std::vector<std::string>{text});
    EXPECT_FALSE(tee.gaveUpWaiting());
}

TEST(MessageTee, WithoutWaitingAFullReceiverLosesTheMessage) {
    auto inner = std::make_shared<busyReceiver>(1);
    messageTee tee(inner, nullptr);
    const std::string text("1 0 0 9 0 0\0", 12);
    const sendResult r = tee.send(text.data(), text.size());
    EXPECT_TRUE(r.dropped);
    EXPECT_EQ(inner->attempts, 1);
    EXPECT_TRUE(inner->delivered.empty());
}

TEST(MessageTee, GivesUpWaitingForAReceiverThatStoppedReading) {
    auto inner = std::make_shared<recordingTransport>();
    inner->simulateFullQueue(true);
    messageTee tee(inner, nullptr);
    tee.setWaitWhenFull(std::chrono::milliseconds(30));
    const std::string text("1 0 0 9 0 0\0", 12);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(tee.send(text.data(), text.size()).dropped);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_TRUE(tee.gaveUpWaiting());
    const std::size_t attemptsSoFar = inner->droppedCount();
    EXPECT_GT(attemptsSoFar, 1u);
    // From now on one attempt per datagram.
    EXPECT_TRUE(tee.send(text.data(), text.size()).dropped);
    EXPECT_EQ(inner->droppedCount(), attemptsSoFar + 1);
}

} // namespace
