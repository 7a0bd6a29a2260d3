// The frame queue and the capture pump, fed by plain threads (no GStreamer),
// so this program also runs under ThreadSanitizer (configure with
// -DVORN_TSAN=ON).

#include "capture/frameQueue.h"
#include "capture/latestFramePump.h"
#include "capture/pumpThread.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Upper bound for anything that should happen "at once"; only a hang hits it.
constexpr auto hangLimit = 10s;

// A 4x2 frame whose first byte carries its number (and the rest a pattern).
rgbaImage numberedFrame(int number) {
    rgbaImage frame(4, 2);
    for (std::size_t i = 0; i < frame.byteCount(); ++i)
        frame.pixels()[i] = static_cast<std::uint8_t>(number + static_cast<int>(i));
    frame.pixels()[0] = static_cast<std::uint8_t>(number);
    return frame;
}

int numberOf(const rgbaImage& frame) {
    return frame.pixels()[0];
}

// Runs `work` on a thread and says whether it finished within the limit.
template <typename Work>
bool finishesInTime(Work work, std::chrono::seconds limit = hangLimit) {
    auto done = std::async(std::launch::async, work);
    return done.wait_for(limit) == std::future_status::ready;
}

} // namespace

// ---- frameQueue -----------------------------------------------------------

TEST(FrameQueue, PopsInOrderAndCounts) {
    frameQueue queue(3);
    for (int i = 1; i <= 3; ++i)
        ASSERT_TRUE(queue.pushBack(numberedFrame(i), frameQueue::overflow::wait));
    rgbaImage frame;
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(queue.popFront(frame, 0ms));
        EXPECT_EQ(numberOf(frame), i);
        EXPECT_TRUE(frame.samePixels(numberedFrame(i)));
    }
    EXPECT_EQ(queue.framesDelivered(), 3u);
    EXPECT_EQ(queue.framesDropped(), 0u);
    EXPECT_FALSE(queue.popFront(frame, 20ms)); // timed out, stream still flowing
    EXPECT_EQ(queue.state(), streamState::flowing);
}

TEST(FrameQueue, LiveOverflowDropsTheOldest) {
    frameQueue queue(2);
    for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(queue.pushBack(numberedFrame(i), frameQueue::overflow::dropOldest));
    EXPECT_EQ(queue.size(), 2u);
    EXPECT_EQ(queue.framesDropped(), 3u);
    rgbaImage frame;
    ASSERT_TRUE(queue.popFront(frame, 0ms));
    EXPECT_EQ(numberOf(frame), 4);
    ASSERT_TRUE(queue.popFront(frame, 0ms));
    EXPECT_EQ(numberOf(frame), 5);
}

TEST(FrameQueue, FileOverflowWaitsForRoomAndLosesNothing) {
    frameQueue queue(2);
    constexpr int count = 200;
    std::thread producer([&] {
        for (int i = 0; i < count; ++i)
            queue.pushBack(numberedFrame(i % 256), frameQueue::overflow::wait);
        queue.endStream(streamState::ended, "end of stream");
    });
    std::vector<int> seen;
    rgbaImage frame;
    while (queue.popFront(frame, hangLimit)) {
        EXPECT_LE(queue.size(), queue.capacity());
        seen.push_back(numberOf(frame));
    }
    producer.join();
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(seen[i], i % 256);
    EXPECT_TRUE(queue.atEnd());
    EXPECT_EQ(queue.state(), streamState::ended);
    EXPECT_EQ(queue.framesDelivered(), static_cast<unsigned long long>(count));
}

TEST(FrameQueue, EndIsReportedOnlyAfterTheQueuedFrames) {
    frameQueue queue(4);
    queue.pushBack(numberedFrame(7), frameQueue::overflow::wait);
    queue.endStream(streamState::ended, "end of stream");
    EXPECT_FALSE(queue.atEnd());
    rgbaImage frame;
    ASSERT_TRUE(queue.popFront(frame));
    EXPECT_EQ(numberOf(frame), 7);
    EXPECT_TRUE(queue.atEnd());
    // No limit given, yet it returns at once: the stream has ended.
    EXPECT_TRUE(finishesInTime([&] { rgbaImage f; return queue.popFront(f); }));
    EXPECT_EQ(queue.endMessage(), "end of stream");
}

TEST(FrameQueue, AnErrorReplacesACleanEndButNotTheOtherWayRound) {
    frameQueue queue;
    queue.endStream(streamState::ended, "end of stream");
    queue.endStream(streamState::failed, "decoder: broken data");
    EXPECT_EQ(queue.state(), streamState::failed);
    EXPECT_EQ(queue.endMessage(), "decoder: broken data");
    queue.endStream(streamState::ended, "end of stream");
    queue.endStream(streamState::failed, "a later consequence");
    EXPECT_EQ(queue.state(), streamState::failed);
    EXPECT_EQ(queue.endMessage(), "decoder: broken data");
    queue.restart();
    EXPECT_EQ(queue.state(), streamState::flowing);
    EXPECT_TRUE(queue.endMessage().empty());
}

TEST(FrameQueue, PushBackEmptyWakesAWaitingPopAtOnce) {
    frameQueue queue(1);
    queue.pushBack(numberedFrame(1), frameQueue::overflow::wait);
    queue.pushBackEmpty(); // even beyond the capacity
    rgbaImage frame;
    ASSERT_TRUE(queue.popFront(frame, 0ms));
    EXPECT_EQ(numberOf(frame), 1);

    std::promise<void> waiting;
    auto popper = std::async(std::launch::async, [&] {
        rgbaImage f = numberedFrame(3);
        waiting.set_value();
        const bool got = queue.popFront(f); // no time limit
        return got && f.empty();
    });
    waiting.get_future().wait();
    std::this_thread::sleep_for(20ms); // let it reach the wait
    queue.pushBackEmpty();
    ASSERT_EQ(popper.wait_for(hangLimit), std::future_status::ready);
    EXPECT_TRUE(popper.get());
    EXPECT_EQ(queue.framesDelivered(), 1u); // the empty image is not a frame
}

TEST(FrameQueue, FlushingClearingAndPausingReleaseAWaitingProducer) {
    struct row {
        const char* name;
        void (*release)(frameQueue&);
        bool pushed;     // pushBack's result
        std::size_t left; // frames queued afterwards
    };
    const row rows[] = {
        {"flushing", [](frameQueue& q) { q.setFlushing(true); }, false, 1},
        {"clear", [](frameQueue& q) { q.clear(); }, true, 1},
        {"wait not allowed", [](frameQueue& q) { q.setWaitAllowed(false); }, true, 2},
    };
    for (const row& r : rows) {
        frameQueue queue(1);
        queue.pushBack(numberedFrame(1), frameQueue::overflow::wait);
        auto producer = std::async(std::launch::async, [&] {
            return queue.pushBack(numberedFrame(2), frameQueue::overflow::wait);
        });
        EXPECT_EQ(producer.wait_for(30ms), std::future_status::timeout) << r.name; // it waits
        r.release(queue);
        ASSERT_EQ(producer.wait_for(hangLimit), std::future_status::ready) << r.name;
        EXPECT_EQ(producer.get(), r.pushed) << r.name;
        EXPECT_EQ(queue.size(), r.left) << r.name;
    }
}

TEST(FrameQueue, PoppedBuffersComeBackAsSpares) {
    frameQueue queue(2);
    queue.pushBack(numberedFrame(1), frameQueue::overflow::wait);
    queue.pushBack(numberedFrame(2), frameQueue::overflow::wait);
    rgbaImage frame;
    queue.popFront(frame);
    const std::uint8_t* firstBuffer = frame.pixels();
    queue.popFront(frame); // the first buffer goes back to the queue
    rgbaImage spare = queue.takeSpare();
    EXPECT_EQ(spare.pixels(), firstBuffer);
    EXPECT_TRUE(queue.takeSpare().empty());
}

// ---- pumpThread -------------------------------------------------------------

namespace {
class countingPump : public pumpThread {
public:
    ~countingPump() override { KillThread(); }
    std::atomic<int> steps{0};
    std::atomic<int> runs{0};
    std::atomic<int> pauses{0};
    std::atomic<int> stopAfter{-1};

protected:
    bool PumpCore() override {
        const int done = ++steps;
        std::this_thread::sleep_for(1ms);
        return stopAfter < 0 || done < stopAfter;
    }
    void OnRun() override { ++runs; }
    void OnPause() override { ++pauses; }
};

template <typename Condition>
bool eventually(Condition condition) {
    const auto until = std::chrono::steady_clock::now() + hangLimit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}
} // namespace

TEST(PumpThread, RunsOnlyWhileRunningAndCallsItsHooks) {
    countingPump pump;
    EXPECT_FALSE(pump.isRunning());
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(pump.steps, 0); // paused at construction: no worker at all
    pump.Run();
    EXPECT_TRUE(pump.isRunning());
    EXPECT_EQ(pump.runs, 1);
    ASSERT_TRUE(eventually([&] { return pump.steps > 3; }));
    pump.Pause();
    EXPECT_FALSE(pump.isRunning());
    EXPECT_EQ(pump.pauses, 1);
    const int afterPause = pump.steps + 1; // one step may have been under way
    std::this_thread::sleep_for(20ms);
    EXPECT_LE(pump.steps, afterPause);
    pump.Run();
    ASSERT_TRUE(eventually([&] { return pump.steps > afterPause + 2; }));
    pump.KillThread();
    EXPECT_TRUE(pump.isKillRequested());
    EXPECT_FALSE(pump.isRunning());
    const int afterKill = pump.steps;
    pump.Run(); // a killed pump stays ended
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(pump.steps, afterKill);
}

TEST(PumpThread, AFalseStepEndsPumpingUntilTheNextRun) {
    countingPump pump;
    pump.stopAfter = 3;
    pump.Run();
    ASSERT_TRUE(eventually([&] { return pump.hasFinished(); }));
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(pump.steps, 3);
    pump.stopAfter = 5;
    pump.Run();
    ASSERT_TRUE(eventually([&] { return pump.steps >= 5 && pump.hasFinished(); }));
    EXPECT_EQ(pump.steps, 5);
}

TEST(PumpThread, KillWithoutAWorkerDoesNothing) {
    countingPump pump;
    EXPECT_TRUE(finishesInTime([&] { pump.KillThread(); }));
    EXPECT_FALSE(pump.isKillRequested());
}

TEST(PumpThread, WorkerRunsOneStepBelowNormalPriority) {
    class niceReader : public pumpThread {
    public:
        ~niceReader() override { KillThread(); }
        std::atomic<int> niceness{-100};
        std::atomic<int> processNiceness{-100};

    protected:
        bool PumpCore() override {
            niceness = getpriority(PRIO_PROCESS, 0); // this thread on Linux
            return false;
        }
    };
    niceReader pump;
    pump.SetThreadPriority(-1);
    EXPECT_EQ(pump.threadPriority(), -1);
    const int normal = getpriority(PRIO_PROCESS, 0);
    pump.Run();
    ASSERT_TRUE(eventually([&] { return pump.hasFinished(); }));
    EXPECT_EQ(pump.niceness, normal + 1);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), normal); // the caller is not touched
}

// ---- latestFramePump ------------------------------------------------------------

namespace {
// A consumer that is told about frames by the pump's notify hook.
struct notifications {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
    void notify() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++count;
        }
        changed.notify_all();
    }
    // Waits until the count exceeds `seen`; returns the new count.
    int waitBeyond(int seen) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, hangLimit, [&] { return count > seen; });
        return count;
    }
};
} // namespace

TEST(LatestFramePump, FastProducerSlowConsumerSeesOnlyTheNewest) {
    notifications notes; // outlives the pump, whose worker calls it
    frameQueue queue(2);
    latestFramePump pump(queue);
    pump.setKeepEveryFrame(false);
    pump.setNotify([&] { notes.notify(); });
    pump.Run();

    constexpr int count = 120;
    std::thread producer([&] {
        for (int i = 0; i < count; ++i) {
            queue.pushBack(numberedFrame(i), frameQueue::overflow::dropOldest);
            std::this_thread::sleep_for(200us);
        }
        queue.endStream(streamState::ended, "end of stream");
    });
    // A slow consumer: it takes a frame now and then.
    std::vector<int> taken;
    int seen = 0;
    rgbaImage frame;
    while (!pump.streamEnded() || pump.hasNewFrame()) {
        seen = notes.waitBeyond(seen);
        if (pump.takeLatest(frame)) {
            EXPECT_TRUE(frame.samePixels(numberedFrame(numberOf(frame)))) << "a torn frame";
            taken.push_back(numberOf(frame));
            std::this_thread::sleep_for(3ms); // processing
        }
    }
    producer.join();
    ASSERT_FALSE(taken.empty());
    for (std::size_t i = 1; i < taken.size(); ++i)
        EXPECT_LT(taken[i - 1], taken[i]); // newest first, never an older one again
    EXPECT_EQ(taken.back(), count - 1);    // the last frame is the newest
    EXPECT_LT(taken.size(), static_cast<std::size_t>(count)); // frames were skipped...
    const unsigned long long skipped = pump.framesOverwritten() + queue.framesDropped();
    EXPECT_EQ(taken.size() + skipped, static_cast<std::size_t>(count)); // ...and all counted
    EXPECT_EQ(queue.state(), streamState::ended);
}

TEST(LatestFramePump, EveryFrameModeHandsOverEachFrameInOrder) {
    notifications notes;
    frameQueue queue(2);
    latestFramePump pump(queue);
    pump.setKeepEveryFrame(true);
    pump.setRenotifyInterval(5ms);
    pump.setNotify([&] { notes.notify(); });
    pump.Run();
    constexpr int count = 60;
    std::thread producer([&] {
        for (int i = 0; i < count; ++i)
            queue.pushBack(numberedFrame(i), frameQueue::overflow::wait);
        queue.endStream(streamState::ended, "end of stream");
    });
    std::vector<int> taken;
    int seen = 0;
    int turn = 0;
    rgbaImage frame;
    while (!pump.streamEnded() || pump.hasNewFrame()) {
        seen = notes.waitBeyond(seen);
        // Skip some notifications on purpose: the pump must ask again.
        if (++turn % 3 == 0)
            continue;
        if (pump.takeLatest(frame))
            taken.push_back(numberOf(frame));
    }
    producer.join();
    ASSERT_EQ(taken.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(taken[i], i);
    EXPECT_EQ(pump.framesOverwritten(), 0u);
    EXPECT_EQ(pump.framesStored(), static_cast<unsigned long long>(count));
}

TEST(LatestFramePump, CopyLatestKeepsGivingTheLastFrame) {
    notifications notes;
    frameQueue queue(2);
    latestFramePump pump(queue);
    pump.setNotify([&] { notes.notify(); });
    rgbaImage frame;
    EXPECT_FALSE(pump.copyLatest(frame)); // nothing yet
    pump.Run();
    queue.pushBack(numberedFrame(9), frameQueue::overflow::dropOldest);
    notes.waitBeyond(0);
    ASSERT_TRUE(pump.takeLatest(frame));
    EXPECT_EQ(numberOf(frame), 9);
    EXPECT_FALSE(pump.takeLatest(frame)); // taken already
    rgbaImage again;
    ASSERT_TRUE(pump.copyLatest(again));
    EXPECT_TRUE(again.samePixels(numberedFrame(9)));
}

TEST(LatestFramePump, KillThreadWakesAPumpWaitingWithoutLimit) {
    frameQueue queue(2);
    auto pump = std::make_unique<latestFramePump>(queue);
    pump->Run(); // the worker now waits for a frame that never comes
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(finishesInTime([&] { pump->KillThread(); }, 5s));
    EXPECT_FALSE(pump->isRunning());
    EXPECT_TRUE(finishesInTime([&] { pump.reset(); }, 5s));
    EXPECT_EQ(queue.size(), 0u); // the wake-up image does not linger
}

TEST(LatestFramePump, KillThreadAlsoEndsAWaitForTheConsumer) {
    frameQueue queue(2);
    latestFramePump pump(queue);
    pump.setKeepEveryFrame(true);
    pump.Run();
    queue.pushBack(numberedFrame(1), frameQueue::overflow::wait);
    queue.pushBack(numberedFrame(2), frameQueue::overflow::wait);
    // Frame 1 is stored, frame 2 waits for the consumer, who never comes.
    ASSERT_TRUE(eventually([&] { return pump.framesStored() == 1 && queue.size() == 0; }));
    EXPECT_TRUE(finishesInTime([&] { pump.KillThread(); }, 5s));
}

TEST(LatestFramePump, EndOfStreamIsNotifiedAndStopsThePump) {
    notifications notes;
    frameQueue queue(2);
    latestFramePump pump(queue);
    pump.setNotify([&] { notes.notify(); });
    pump.Run();
    queue.endStream(streamState::failed, "camera: device unplugged");
    notes.waitBeyond(0);
    ASSERT_TRUE(eventually([&] { return pump.hasFinished(); }));
    EXPECT_TRUE(pump.streamEnded());
    EXPECT_EQ(queue.state(), streamState::failed);
    EXPECT_EQ(queue.endMessage(), "camera: device unplugged");
    EXPECT_EQ(pump.framesStored(), 0u);
}

TEST(LatestFramePump, TimedWaitReturnsAndTriesAgain) {
    notifications notes;
    frameQueue queue(2);
    latestFramePump pump(queue);
    pump.setTimedWait(5ms);
    pump.setNotify([&] { notes.notify(); });
    pump.Run();
    std::this_thread::sleep_for(30ms); // several empty waits
    EXPECT_FALSE(pump.hasFinished());
    queue.pushBack(numberedFrame(4), frameQueue::overflow::dropOldest);
    notes.waitBeyond(0);
    rgbaImage frame;
    ASSERT_TRUE(pump.takeLatest(frame));
    EXPECT_EQ(numberOf(frame), 4);
}
