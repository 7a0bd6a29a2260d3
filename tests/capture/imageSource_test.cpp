// Image sources through real GStreamer pipelines: image sequences, a video
// file, pipeline descriptions, the demo scene, and inputs that must fail
// with a reason instead of hanging. No camera and no display needed.

#include "capture/demoScene.h"
#include "capture/frameQueue.h"
#include "capture/imageSource.h"
#include "capture/latestFramePump.h"
#include "capture/listSources.h"

#include "captureTestMedia.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using captureTest::tempFolder;

namespace {

constexpr auto frameLimit = 10s; // longest wait for one frame before calling it a hang

struct readResult {
    std::vector<rgbaImage> frames;
    streamState state = streamState::flowing;
    std::string message;
    bool hung = false;
    unsigned long long delivered = 0;
};

// Connects a queue, switches the source on and takes frames until the end
// of the stream (or `maxFrames`).
readResult readAll(imageSource& source, std::size_t maxFrames = 1000) {
    readResult result;
    frameQueue queue(2);
    if (!queue.connectToSource(source)) {
        result.message = "not connected";
        return result;
    }
    EXPECT_TRUE(source.setOn(true));
    while (result.frames.size() < maxFrames) {
        rgbaImage frame;
        if (queue.popFront(frame, frameLimit)) {
            result.frames.push_back(frame);
        } else if (queue.atEnd()) {
            break;
        } else {
            result.hung = true;
            break;
        }
    }
    result.state = queue.state();
    result.message = queue.endMessage();
    result.delivered = queue.framesDelivered();
    source.setOn(false);
    return result;
}

// Blue, green and red of every pixel equal (the fourth byte is not compared).
::testing::AssertionResult sameColours(const rgbaImage& got, const rgbaImage& wanted) {
    if (got.width() != wanted.width() || got.height() != wanted.height())
        return ::testing::AssertionFailure() << "size " << got.width() << 'x' << got.height() << " instead of "
                                             << wanted.width() << 'x' << wanted.height();
    for (int y = 0; y < got.height(); ++y) {
        for (int x = 0; x < got.width(); ++x) {
            const std::uint8_t* a = got.row(y) + 4 * x;
            const std::uint8_t* b = wanted.row(y) + 4 * x;
            if (a[0] != b[0] || a[1] != b[1] || a[2] != b[2])
                return ::testing::AssertionFailure()
                    << "pixel " << x << ',' << y << ": B,G,R " << int(a[0]) << ',' << int(a[1]) << ',' << int(a[2])
                    << " instead of " << int(b[0]) << ',' << int(b[1]) << ',' << int(b[2]);
        }
    }
    return ::testing::AssertionSuccess();
}

std::string pngPattern(const tempFolder& folder) {
    return folder.file("frame%05d.png");
}

} // namespace

// ---- image sequences -------------------------------------------------------

TEST(ImageSequence, FramesComeBackInOrderWithTheirSizeAndBytes) {
    for (int firstIndex : {0, 1}) {
        tempFolder folder("sequence");
        std::string error;
        ASSERT_TRUE(captureTest::writePngSequence(pngPattern(folder), firstIndex, 5, 33, 21, error)) << error;
        imageSource source(pngPattern(folder));
        ASSERT_TRUE(source.isValid()) << source.errorText();
        EXPECT_EQ(source.kind(), sourceKind::imageSequence);
        EXPECT_FALSE(source.isLive());
        EXPECT_EQ(source.knownFrameCount(), 5);
        int width = 0, height = 0;
        ASSERT_TRUE(source.videoSize(width, height));
        EXPECT_EQ(width, 33);
        EXPECT_EQ(height, 21);
        const readResult result = readAll(source);
        EXPECT_FALSE(result.hung);
        ASSERT_EQ(result.frames.size(), 5u) << "first index " << firstIndex;
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE(sameColours(result.frames[i], captureTest::sequenceFrame(i, 33, 21))) << "frame " << i;
        EXPECT_EQ(result.state, streamState::ended);
        EXPECT_EQ(result.message, "end of stream");
        EXPECT_EQ(result.delivered, 5u);
    }
}

TEST(ImageSequence, AMissingFirstImageFailsAtOnceWithNoFrame) {
    tempFolder folder("sequence-late");
    std::string error;
    ASSERT_TRUE(captureTest::writePngSequence(pngPattern(folder), 2, 3, 8, 8, error)) << error;
    imageSource source(pngPattern(folder));
    EXPECT_FALSE(source.isValid());
    EXPECT_NE(source.errorText().find("no image"), std::string::npos) << source.errorText();
    frameQueue queue;
    EXPECT_FALSE(queue.connectToSource(source));
    EXPECT_EQ(queue.framesDelivered(), 0u);
}

TEST(ImageSequence, AGapOrABrokenImageEndsEarlyAndSaysSo) {
    struct row {
        const char* name;
        void (*spoil)(const tempFolder&);
        long long known;
        std::vector<int> images; // which images arrive, in order
        const char* message;
    };
    const row rows[] = {
        {"gap", [](const tempFolder& f) { std::filesystem::remove(f.file("frame00002.png")); }, 2, {0, 1},
         "end of stream"},
        {"truncated", [](const tempFolder& f) { std::filesystem::resize_file(f.file("frame00002.png"), 60); }, 4,
         {0, 1}, "end of stream after 2 of 4 images"},
        // The decoder skips an image it cannot read at all: the numbering shifts.
        {"garbage", [](const tempFolder& f) { std::ofstream(f.file("frame00002.png")) << "not a picture"; }, 4,
         {0, 1, 3}, "end of stream after 3 of 4 images"},
    };
    for (const row& r : rows) {
        tempFolder folder("sequence-spoilt");
        std::string error;
        ASSERT_TRUE(captureTest::writePngSequence(pngPattern(folder), 0, 4, 16, 12, error)) << error;
        r.spoil(folder);
        imageSource source(pngPattern(folder));
        ASSERT_TRUE(source.isValid()) << r.name << ": " << source.errorText();
        EXPECT_EQ(source.knownFrameCount(), r.known) << r.name;
        const readResult result = readAll(source);
        EXPECT_FALSE(result.hung) << r.name;
        ASSERT_EQ(result.frames.size(), r.images.size()) << r.name;
        EXPECT_EQ(result.state, streamState::ended) << r.name;
        EXPECT_EQ(result.message, r.message) << r.name;
        for (std::size_t i = 0; i < result.frames.size(); ++i)
            EXPECT_TRUE(sameColours(result.frames[i], captureTest::sequenceFrame(r.images[i], 16, 12))) << r.name;
    }
}

// ---- files -----------------------------------------------------------------

TEST(VideoFile, IsDecodedWithItsSizeAndFrameCount) {
    tempFolder folder("file");
    const std::string path = folder.file("clip.avi");
    std::string error;
    ASSERT_TRUE(captureTest::writeVideoFile(path, 12, 64, 48, error)) << error;
    imageSource source(path);
    ASSERT_TRUE(source.isValid()) << source.errorText();
    EXPECT_EQ(source.kind(), sourceKind::file);
    EXPECT_FALSE(source.isLive());
    EXPECT_EQ(source.knownFrameCount(), 12);
    int width = 0, height = 0;
    ASSERT_TRUE(source.videoSize(width, height));
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 48);
    EXPECT_NE(source.description().find("64x48"), std::string::npos) << source.description();
    const readResult result = readAll(source);
    EXPECT_FALSE(result.hung);
    EXPECT_EQ(result.frames.size(), 12u);
    EXPECT_EQ(result.state, streamState::ended);
    for (const rgbaImage& frame : result.frames) {
        EXPECT_EQ(frame.width(), 64);
        EXPECT_EQ(frame.height(), 48);
    }
    // videotestsrc's colour bars: white at the left, blue at the right.
    ASSERT_FALSE(result.frames.empty());
    const std::uint8_t* left = result.frames[0].row(10) + 4 * 2;
    const std::uint8_t* right = result.frames[0].row(10) + 4 * 62;
    EXPECT_GT(left[0] + left[1] + left[2], 600);
    EXPECT_GT(right[0], 150); // blue byte first
    EXPECT_LT(right[2], 80);
}

TEST(BadInput, FailsWithAOneLineReasonAndDoesNotHang) {
    tempFolder folder("bad");
    {
        std::ofstream(folder.file("corrupt.avi")) << "this is not a video at all, just some text\n";
        std::ofstream(folder.file("empty.mp4"));
    }
    struct row {
        std::string text;
        std::string reasonPart;
    };
    const row rows[] = {
        {folder.file("missing.mp4"), "file not found"},
        {folder.file("corrupt.avi"), "Could not determine type of stream"},
        {folder.file("empty.mp4"), "empty file"},
        {"videotestsrc ! nosuchelementanywhere ! appsink", "pipeline does not parse"},
        {"videotestsrc ! ! appsink", "pipeline does not parse"},
        {"videotestsrc ! videoconvert ! appsink caps=video/x-raw,format=RGB", "delivers RGB frames, not BGRx"},
        {"filesrc location=" + folder.file("missing.raw") + " ! appsink name=sink", "pipeline: filesrc0: Resource not found"},
        {"/dev/video-none-here", "no camera at /dev/video-none-here"},
        {"camera:No Such Camera Anywhere", "no camera named"},
        {"demo:sideways", "unknown option"},
        {"", "no source given"},
    };
    for (const row& r : rows) {
        auto opening = std::async(std::launch::async, [&] {
            imageSource source(r.text);
            return std::make_pair(source.isValid(), source.errorText());
        });
        ASSERT_EQ(opening.wait_for(40s), std::future_status::ready) << r.text;
        const auto [valid, reason] = opening.get();
        EXPECT_FALSE(valid) << r.text;
        EXPECT_FALSE(reason.empty()) << r.text;
        EXPECT_NE(reason.find(r.reasonPart), std::string::npos) << r.text << " -> " << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    }
}

TEST(BadInput, AnErrorAfterTheStartEndsTheStreamAsFailed) {
    // identity fails on its fourth buffer: three frames, then the error.
    imageSource source("videotestsrc num-buffers=10 ! video/x-raw,width=16,height=16 ! identity error-after=4 ! "
                       "videoconvert ! appsink name=sink");
    ASSERT_TRUE(source.isValid()) << source.errorText();
    const readResult result = readAll(source);
    EXPECT_FALSE(result.hung);
    EXPECT_EQ(result.frames.size(), 3u);
    EXPECT_EQ(result.state, streamState::failed);
    EXPECT_EQ(result.message, "pipeline: identity0: Failed after iterations as requested.");
}

// ---- pipeline descriptions ------------------------------------------------------

TEST(PipelineText, WithoutAnAppsinkOneIsAdded) {
    imageSource source("videotestsrc num-buffers=5 pattern=red ! video/x-raw,width=32,height=16");
    ASSERT_TRUE(source.isValid()) << source.errorText();
    EXPECT_EQ(source.kind(), sourceKind::pipeline);
    EXPECT_FALSE(source.isLive());
    const readResult result = readAll(source);
    ASSERT_EQ(result.frames.size(), 5u);
    const std::uint8_t* p = result.frames[4].row(8) + 4 * 16;
    EXPECT_EQ(result.frames[4].width(), 32);
    EXPECT_EQ(result.frames[4].height(), 16);
    EXPECT_LE(p[0], 5);   // blue
    EXPECT_LE(p[1], 5);   // green
    EXPECT_GE(p[2], 250); // red: the bytes are in B,G,R order
    EXPECT_EQ(result.state, streamState::ended);
}

TEST(PipelineText, ItsOwnAppsinkNamedSinkIsUsed) {
    imageSource source("videotestsrc num-buffers=3 pattern=blue ! video/x-raw,width=20,height=10 ! "
                       "videoconvert ! appsink name=sink");
    ASSERT_TRUE(source.isValid()) << source.errorText();
    const readResult result = readAll(source);
    ASSERT_EQ(result.frames.size(), 3u);
    const std::uint8_t* p = result.frames[0].row(5) + 4 * 10;
    EXPECT_GE(p[0], 250);
    EXPECT_LE(p[2], 5);
}

TEST(PipelineText, ALiveSourceIsLiveAndKeepsComing) {
    imageSource source("videotestsrc is-live=true ! video/x-raw,width=24,height=18,framerate=60/1");
    ASSERT_TRUE(source.isValid()) << source.errorText();
    EXPECT_TRUE(source.isLive());
    const readResult result = readAll(source, 4);
    EXPECT_FALSE(result.hung);
    ASSERT_EQ(result.frames.size(), 4u);
    EXPECT_EQ(result.state, streamState::flowing);
    int width = 0, height = 0;
    ASSERT_TRUE(source.videoSize(width, height)); // known once frames came
    EXPECT_EQ(width, 24);
}

// ---- the demo scene through the pipeline --------------------------------------

TEST(DemoSource, DeliversTheSceneFramesExactly) {
    imageSource source("demo:unpaced:frames=6");
    ASSERT_TRUE(source.isValid()) << source.errorText();
    EXPECT_EQ(source.kind(), sourceKind::demo);
    EXPECT_FALSE(source.isLive());
    EXPECT_EQ(source.knownFrameCount(), 6);
    const readResult result = readAll(source);
    ASSERT_EQ(result.frames.size(), 6u);
    const demoScene scene;
    for (int i = 0; i < 6; ++i) {
        rgbaImage expected;
        scene.render(i, expected);
        EXPECT_TRUE(result.frames[i].samePixels(expected)) << "frame " << i;
    }
    EXPECT_EQ(result.state, streamState::ended);
}

TEST(DemoSource, PacedItIsLive) {
    imageSource source("demo");
    ASSERT_TRUE(source.isValid()) << source.errorText();
    EXPECT_TRUE(source.isLive());
    int width = 0, height = 0;
    ASSERT_TRUE(source.videoSize(width, height));
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    const readResult result = readAll(source, 3);
    EXPECT_EQ(result.frames.size(), 3u);
}

// ---- the pump on a real source -----------------------------------------------

TEST(PumpOnSource, RunSwitchesTheSourceOnAndEveryFileFrameArrives) {
    imageSource source("demo:unpaced:frames=25");
    ASSERT_TRUE(source.isValid()) << source.errorText();
    frameQueue queue(2);
    ASSERT_TRUE(queue.connectToSource(source));
    std::mutex mutex; // these outlive the pump, whose worker uses them
    std::condition_variable changed;
    int notices = 0;
    latestFramePump pump(queue);
    pump.SetThreadPriority(-1);
    pump.setNotify([&] {
        std::lock_guard<std::mutex> lock(mutex);
        ++notices;
        changed.notify_all();
    });
    EXPECT_FALSE(source.isOn());
    pump.Run();
    EXPECT_TRUE(source.isOn());
    const demoScene scene;
    int taken = 0;
    int seen = 0;
    rgbaImage frame, expected;
    while (!pump.streamEnded() || pump.hasNewFrame()) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, frameLimit, [&] { return notices > seen; })) << "no notice";
            seen = notices;
        }
        if (pump.takeLatest(frame)) {
            scene.render(taken, expected);
            EXPECT_TRUE(frame.samePixels(expected)) << "frame " << taken;
            ++taken;
        }
    }
    EXPECT_EQ(taken, 25);
    EXPECT_EQ(queue.state(), streamState::ended);
    pump.Pause();
    EXPECT_FALSE(source.isOn());
}

TEST(PumpOnSource, PausingWhileTheStreamWaitsForRoomLosesNothing) {
    imageSource source("demo:unpaced:frames=40");
    ASSERT_TRUE(source.isValid()) << source.errorText();
    frameQueue queue(1);
    ASSERT_TRUE(queue.connectToSource(source));
    const demoScene scene;
    std::vector<rgbaImage> frames;
    rgbaImage frame;
    for (int round = 0; round < 4; ++round) {
        ASSERT_TRUE(source.setOn(true));
        ASSERT_TRUE(queue.popFront(frame, frameLimit));
        frames.push_back(frame);
        // The queue is full again and the streaming thread waits for room:
        // switching off must not get stuck behind it.
        const auto until = std::chrono::steady_clock::now() + frameLimit;
        while (queue.size() < queue.capacity() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
        auto pausing = std::async(std::launch::async, [&] { return source.setOn(false); });
        ASSERT_EQ(pausing.wait_for(frameLimit), std::future_status::ready) << "round " << round;
        EXPECT_TRUE(pausing.get());
        EXPECT_FALSE(source.isOn());
    }
    ASSERT_TRUE(source.setOn(true));
    while (queue.popFront(frame, frameLimit))
        frames.push_back(frame);
    EXPECT_EQ(queue.state(), streamState::ended);
    ASSERT_EQ(frames.size(), 40u);
    rgbaImage expected;
    for (int i = 0; i < 40; ++i) {
        scene.render(i, expected);
        EXPECT_TRUE(frames[i].samePixels(expected)) << "frame " << i;
    }
}

TEST(PumpOnSource, SwitchedOnBeforeTheQueueIsConnectedNoFrameIsLost) {
    imageSource source("demo:unpaced:frames=4");
    ASSERT_TRUE(source.setOn(true)); // as at start-up: on first, queue later
    EXPECT_TRUE(source.isOn());
    std::this_thread::sleep_for(50ms);
    frameQueue queue(2);
    ASSERT_TRUE(queue.connectToSource(source));
    rgbaImage frame, expected;
    const demoScene scene;
    int count = 0;
    while (queue.popFront(frame, frameLimit)) {
        scene.render(count, expected);
        EXPECT_TRUE(frame.samePixels(expected)) << "frame " << count;
        ++count;
    }
    EXPECT_EQ(count, 4);
    EXPECT_EQ(queue.state(), streamState::ended);
}

TEST(PumpOnSource, ReopeningGivesTheQueueANewStream) {
    imageSource source("demo:unpaced:frames=2");
    frameQueue queue(2);
    ASSERT_TRUE(queue.connectToSource(source));
    source.setOn(true);
    rgbaImage frame;
    while (queue.popFront(frame, frameLimit)) {
    }
    EXPECT_EQ(queue.state(), streamState::ended);
    ASSERT_TRUE(source.open("videotestsrc num-buffers=2 ! video/x-raw,width=8,height=8"));
    EXPECT_EQ(queue.state(), streamState::flowing);
    EXPECT_EQ(queue.source(), &source);
    source.setOn(true);
    ASSERT_TRUE(queue.popFront(frame, frameLimit));
    EXPECT_EQ(frame.width(), 8);
    // A failed open ends the stream with its reason, so a waiting pump wakes.
    EXPECT_FALSE(source.open("no/such/file.mp4"));
    EXPECT_EQ(queue.state(), streamState::failed);
    EXPECT_EQ(queue.endMessage(), "file not found: no/such/file.mp4");
}

TEST(PumpOnSource, TheSourceCanGoBeforeTheQueueAndTheQueueBeforeTheSource) {
    {
        frameQueue queue;
        {
            imageSource source("demo");
            ASSERT_TRUE(queue.connectToSource(source));
            source.setOn(true);
            rgbaImage frame;
            ASSERT_TRUE(queue.popFront(frame, frameLimit));
        }
        EXPECT_FALSE(queue.isConnected());
        EXPECT_EQ(queue.state(), streamState::ended);
    }
    {
        imageSource source("demo:unpaced");
        {
            frameQueue queue(1);
            ASSERT_TRUE(queue.connectToSource(source));
            source.setOn(true); // the streaming thread soon waits for room
            rgbaImage frame;
            ASSERT_TRUE(queue.popFront(frame, frameLimit));
        }
        // The queue left while a frame waited for room: the source goes on.
        EXPECT_TRUE(source.setOn(false));
        frameQueue second;
        ASSERT_TRUE(second.connectToSource(source));
        source.setOn(true);
        rgbaImage frame;
        EXPECT_TRUE(second.popFront(frame, frameLimit));
    }
}

TEST(ListSources, DescribesTheSourceFormsEvenWithoutCameras) {
    const std::string none = describeSources({});
    EXPECT_NE(none.find("No camera found"), std::string::npos);
    EXPECT_NE(none.find("demo"), std::string::npos);
    cameraInfo camera;
    camera.name = "Test Cam";
    camera.devicePath = "/dev/video7";
    videoMode big, vga;
    big.mediaType = vga.mediaType = "video/x-raw";
    big.format = vga.format = "YUY2";
    big.width = 1280;
    big.height = 720;
    vga.width = 640;
    vga.height = 480;
    vga.rateNumerator = 30;
    camera.modes = {big, vga};
    const std::string one = describeSources({camera});
    EXPECT_NE(one.find("Test Cam  (/dev/video7)"), std::string::npos) << one;
    EXPECT_NE(one.find("640x480 at 30 fps"), std::string::npos);
    EXPECT_EQ(one.find("1280x720"), std::string::npos); // too large for the grid
    // Whatever this machine has, listing must not fail.
    const std::vector<cameraInfo> found = listCameras();
    for (const cameraInfo& c : found)
        EXPECT_FALSE(c.name.empty());
}
