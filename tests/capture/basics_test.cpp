// The plain parts of the capture layer: images, the rate timer, the source
// texts and the choice of a camera mode. No GStreamer pipeline runs here.

#include "capture/rateTimer.h"
#include "capture/rgbaImage.h"
#include "capture/sourceRequest.h"
#include "tests/support/tempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>

// ---- rgbaImage -------------------------------------------------------------

TEST(RgbaImage, EmptyUntilAllocated) {
    rgbaImage image;
    EXPECT_TRUE(image.empty());
    EXPECT_EQ(image.width(), 0);
    EXPECT_EQ(image.right() - image.left(), 0);
    image.allocate(3, 2);
    EXPECT_FALSE(image.empty());
    EXPECT_EQ(image.byteCount(), 3u * 2u * 4u);
    EXPECT_EQ(image.right(), 3);
    EXPECT_EQ(image.bottom(), 2);
    image.allocate(0, 5);
    EXPECT_TRUE(image.empty());
}

TEST(RgbaImage, AssignmentCopiesDeeplyAndSurvivesTheSource) {
    rgbaImage target;
    {
        rgbaImage source(4, 3);
        source.setOrigin(2, 1);
        for (std::size_t i = 0; i < source.byteCount(); ++i)
            source.pixels()[i] = static_cast<std::uint8_t>(i * 3);
        target = source;
        source.pixels()[5] = 99; // the copy must not follow
        EXPECT_EQ(target.pixels()[5], 15);
        EXPECT_NE(target.pixels(), source.pixels());
    }
    EXPECT_EQ(target.left(), 2);
    EXPECT_EQ(target.top(), 1);
    EXPECT_EQ(target.right(), 6);
    EXPECT_EQ(target.bottom(), 4);
    EXPECT_EQ(target.pixels()[47], static_cast<std::uint8_t>(47 * 3));
}

TEST(RgbaImage, SelfAssignmentKeepsThePixels) {
    rgbaImage image(2, 2);
    image.pixels()[7] = 42;
    const rgbaImage& alias = image;
    image = alias;
    EXPECT_EQ(image.pixels()[7], 42);
    EXPECT_EQ(image.width(), 2);
}

TEST(RgbaImage, DeallocateAndMoveLeaveEmptyImages) {
    rgbaImage image(5, 5);
    rgbaImage moved(std::move(image));
    EXPECT_TRUE(image.empty());
    EXPECT_EQ(image.width(), 0);
    EXPECT_EQ(moved.width(), 5);
    moved.deallocate();
    EXPECT_TRUE(moved.empty());
    EXPECT_EQ(moved.height(), 0);
}

TEST(RgbaImage, ReallocatingTheSameSizeKeepsTheBuffer) {
    rgbaImage image(8, 8);
    const std::uint8_t* before = image.pixels();
    image.allocate(8, 8);
    EXPECT_EQ(image.pixels(), before);
    image.allocate(16, 4); // same byte count, other shape
    EXPECT_EQ(image.pixels(), before);
    EXPECT_EQ(image.width(), 16);
    EXPECT_EQ(image.rowBytes(), 64u);
}

// ---- rateTimer ---------------------------------------------------------------

namespace {
struct fakeClock {
    rateTimer::clock::time_point now{};
    void advance(double seconds) {
        now += std::chrono::duration_cast<rateTimer::clock::duration>(std::chrono::duration<double>(seconds));
    }
};
} // namespace

TEST(RateTimer, NegativeBeforeARateExists) {
    fakeClock clock;
    rateTimer timer(10, [&] { return clock.now; });
    EXPECT_LT(timer.RateUpdate(), 0.0);
    // A second event at the same instant still gives no rate.
    EXPECT_LT(timer.RateUpdate(), 0.0);
    clock.advance(0.5);
    EXPECT_DOUBLE_EQ(timer.RateUpdate(), 2.0 / 0.5);
}

TEST(RateTimer, SteadyEventsGiveTheirRate) {
    fakeClock clock;
    rateTimer timer(10, [&] { return clock.now; });
    double rate = -1.0;
    for (int i = 0; i < 30; ++i) {
        rate = timer.RateUpdate();
        clock.advance(1.0 / 25.0);
    }
    EXPECT_NEAR(rate, 25.0, 1e-6);
}

TEST(RateTimer, OnlyTheLastEventsCount) {
    fakeClock clock;
    rateTimer timer(10, [&] { return clock.now; });
    for (int i = 0; i < 10; ++i) { // slow: 1 per second
        timer.RateUpdate();
        clock.advance(1.0);
    }
    double rate = 0.0;
    for (int i = 0; i < 10; ++i) { // fast: 100 per second, fills the window
        clock.advance(0.01);
        rate = timer.RateUpdate();
    }
    // The window holds the last 10 events only: 9 intervals of 0.01 s.
    EXPECT_NEAR(rate, 100.0, 1e-6);
    timer.reset();
    EXPECT_LT(timer.RateUpdate(), 0.0);
}

// ---- source texts -------------------------------------------------------------

namespace {
struct tempFolder : testSupport::tempFolder {
    tempFolder() : testSupport::tempFolder("vorn-capture-basics") {}
    std::string touch(const std::string& name, const std::string& content = "x") const {
        const std::string path = file(name);
        std::ofstream(path) << content;
        return path;
    }
};
} // namespace

TEST(SourceText, ClassifiesEveryForm) {
    tempFolder folder;
    const std::string clip = folder.touch("clip.avi");
    struct row {
        std::string text;
        sourceKind kind;
        std::string device;
    };
    const row rows[] = {
        {"camera", sourceKind::camera, ""},
        {"/dev/video0", sourceKind::camera, "/dev/video0"},
        {"HD Webcam", sourceKind::camera, "HD Webcam"},
        {"camera:USB2.0 Camera", sourceKind::camera, "USB2.0 Camera"},
        {clip, sourceKind::file, ""},
        {"file:///tmp/x.mp4", sourceKind::file, ""},
        {"frames/%05d.png", sourceKind::imageSequence, ""},
        {"videotestsrc ! appsink name=sink", sourceKind::pipeline, ""},
        {"demo", sourceKind::demo, ""},
        {"  demo:unpaced:frames=12 ", sourceKind::demo, ""},
    };
    for (const row& r : rows) {
        const sourceRequest request = parseSourceText(r.text);
        EXPECT_EQ(request.kind, r.kind) << r.text;
        EXPECT_TRUE(request.error.empty()) << r.text << ": " << request.error;
        EXPECT_EQ(request.device, r.device) << r.text;
    }
    const sourceRequest file = parseSourceText(clip);
    EXPECT_EQ(file.uri.rfind("file:///", 0), 0u);
    EXPECT_NE(file.uri.find("clip.avi"), std::string::npos);
    const sourceRequest demo = parseSourceText("demo:unpaced:frames=12");
    EXPECT_FALSE(demo.demo.paced);
    EXPECT_EQ(demo.demo.frameLimit, 12);
    EXPECT_TRUE(parseSourceText("demo").demo.paced);
    EXPECT_LT(parseSourceText("demo").demo.frameLimit, 0);
}

TEST(SourceText, RejectsWhatCannotBeUsedWithAReason) {
    tempFolder folder;
    struct row {
        std::string text;
        std::string reasonPart;
    };
    const row rows[] = {
        {"", "no source"},
        {"   ", "no source"},
        {"missing.mp4", "file not found: missing.mp4"},
        {"some/folder/missing", "file not found"},
        {folder.path(), "folder"},
        {"demo:fast", "unknown option"},
        {"demo:frames=0", "positive"},
        {"demo:frames=12x", "positive"},
    };
    for (const row& r : rows) {
        const sourceRequest request = parseSourceText(r.text);
        EXPECT_EQ(request.kind, sourceKind::none) << r.text;
        EXPECT_NE(request.error.find(r.reasonPart), std::string::npos) << r.text << ": " << request.error;
        EXPECT_EQ(request.error.find('\n'), std::string::npos);
    }
}

TEST(SourceText, SequencePatterns) {
    EXPECT_TRUE(isSequencePattern("a/%05d.png"));
    EXPECT_TRUE(isSequencePattern("%d.jpg"));
    EXPECT_FALSE(isSequencePattern("a/%s.png"));
    EXPECT_FALSE(isSequencePattern("100%%.png"));
    EXPECT_FALSE(isSequencePattern("%d-%d.png"));
    EXPECT_FALSE(isSequencePattern("plain.png"));
    EXPECT_EQ(formatSequencePath("a/%05d.png", 42), "a/00042.png");
    EXPECT_EQ(formatSequencePath("%d.jpg", 7), "7.jpg");
    EXPECT_EQ(formatSequencePath("50%%_%03d.png", 3), "50%_003.png");
}

TEST(SourceText, FirstIndexAndCountOfASequence) {
    tempFolder folder;
    const std::string pattern = folder.file("f%03d.png");
    EXPECT_EQ(firstSequenceIndex(pattern), -1);
    EXPECT_EQ(countSequenceFiles(pattern, -1), 0);
    folder.touch("f001.png");
    folder.touch("f002.png");
    folder.touch("f004.png"); // after a gap: not part of the run
    EXPECT_EQ(firstSequenceIndex(pattern), 1);
    EXPECT_EQ(countSequenceFiles(pattern, 1), 2);
    folder.touch("f000.png");
    EXPECT_EQ(firstSequenceIndex(pattern), 0);
    EXPECT_EQ(countSequenceFiles(pattern, 0), 3);
}

// ---- camera modes ---------------------------------------------------------------

namespace {
videoMode mode(int w, int h, int fps, const char* media = "video/x-raw", const char* format = "YUY2") {
    videoMode m;
    m.mediaType = media;
    m.format = std::string(media) == "video/x-raw" ? format : "";
    m.width = w;
    m.height = h;
    m.rateNumerator = fps;
    m.rateDenominator = 1;
    return m;
}
} // namespace

TEST(CameraModes, PrefersVgaThenTheLargestThatFits) {
    struct row {
        std::vector<videoMode> offered;
        int width, height;
    };
    const row rows[] = {
        {{mode(1920, 1080, 30), mode(1280, 720, 30), mode(640, 480, 30), mode(320, 240, 30)}, 640, 480},
        {{mode(1280, 720, 30), mode(800, 600, 20), mode(640, 360, 30)}, 800, 600},
        {{mode(801, 700, 30), mode(800, 701, 30), mode(352, 288, 30)}, 352, 288},
        // Nothing fits: the smallest, scaled down later.
        {{mode(1920, 1080, 30), mode(1280, 720, 30)}, 1280, 720},
    };
    for (const row& r : rows) {
        bool found = false;
        const videoMode chosen = chooseCameraMode(r.offered, found);
        EXPECT_TRUE(found);
        EXPECT_EQ(chosen.width, r.width);
        EXPECT_EQ(chosen.height, r.height);
    }
    bool found = true;
    chooseCameraMode({}, found);
    EXPECT_FALSE(found);
}

TEST(CameraModes, UsableModesAreWithinTheGridLargestFirstBestRate) {
    const std::vector<videoMode> offered = {
        mode(640, 480, 15), mode(640, 480, 30, "image/jpeg"), mode(640, 480, 30),
        mode(1280, 720, 30), mode(320, 240, 30), mode(800, 600, 10),
    };
    const std::vector<videoMode> usable = usableModes(offered);
    ASSERT_EQ(usable.size(), 3u);
    EXPECT_EQ(usable[0].width, 800);
    EXPECT_EQ(usable[1].width, 640);
    EXPECT_EQ(usable[1].rateNumerator, 30);
    EXPECT_EQ(usable[1].mediaType, "video/x-raw"); // raw wins at an equal rate
    EXPECT_EQ(usable[2].width, 320);
    EXPECT_EQ(usable[1].describe(), "640x480 at 30 fps (YUY2)");
    EXPECT_EQ(mode(640, 480, 30, "image/jpeg").describe(), "640x480 at 30 fps (MJPEG)");
}

TEST(CameraModes, FitWithinKeepsTheAspect) {
    int w = 0, h = 0;
    fitWithin(1280, 720, 800, 700, w, h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 450);
    fitWithin(1920, 1440, 800, 700, w, h);
    EXPECT_LE(w, 800);
    EXPECT_LE(h, 700);
    EXPECT_EQ(h, 600);
    fitWithin(640, 480, 800, 700, w, h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
}
