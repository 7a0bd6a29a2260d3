#include "capture/frameRecorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "capture/frameQueue.h"
#include "capture/imageSource.h"
#include "capture/rgbaImage.h"
#include "tests/runner/pngFile.h"
#include "tests/runner/vornProcess.h"

namespace {

namespace fs = std::filesystem;
using vornProcess::tempFolder;

// A frame whose every pixel differs from its neighbours and from the same
// pixel of the other frames, so a lossless round trip is checked byte by byte.
rgbaImage testFrame(int width, int height, int index) {
    rgbaImage frame(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = frame.row(y);
        for (int x = 0; x < width; ++x, p += 4) {
            p[0] = static_cast<std::uint8_t>(x * 3 + index * 11);
            p[1] = static_cast<std::uint8_t>(y * 5 + index * 17);
            p[2] = static_cast<std::uint8_t>((x ^ y) + index * 29);
            p[3] = 0; // the unused byte: never looked at
        }
    }
    return frame;
}

// Every frame a source delivers, read through the capture layer.
std::vector<rgbaImage> readBack(const std::string& sourceText) {
    std::vector<rgbaImage> frames;
    imageSource source;
    EXPECT_TRUE(source.open(sourceText)) << source.errorText();
    if (!source.isValid())
        return frames;
    frameQueue queue(4);
    EXPECT_TRUE(queue.connectToSource(source));
    EXPECT_TRUE(source.setOn(true));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        rgbaImage frame;
        if (queue.popFront(frame, std::chrono::milliseconds(100))) {
            if (!frame.empty())
                frames.push_back(std::move(frame));
        } else if (queue.atEnd()) {
            break;
        }
    }
    EXPECT_EQ(queue.state(), streamState::ended) << queue.endMessage();
    queue.disconnect();
    source.close();
    return frames;
}

bool sameColours(const rgbaImage& a, const rgbaImage& b) {
    if (a.width() != b.width() || a.height() != b.height())
        return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int c = 0; c < 3; ++c)
                if (a.row(y)[x * 4 + c] != b.row(y)[x * 4 + c])
                    return false;
    return true;
}

TEST(FrameRecorder, OutputNamesChooseTheFormat) {
    struct nameCase {
        const char* path;
        bool ok;
        const char* format;
    };
    const std::vector<nameCase> cases = {
        {"out/frame%05d.png", true, "PNG sequence"},
        {"f%d.PNG", true, "PNG sequence"},
        {"clip.webm", true, "VP8/WebM"},
        {"clip.mkv", true, "VP8/Matroska"},
        {"clip.AVI", true, "MJPEG/AVI"},
        {"clip.ogv", true, "Theora/Ogg"},
        {"frame%05d.jpg", false, "unknown"},
        {"clip.mp4", false, "unknown"},
        {"clip", false, "unknown"},
        {"frame.png", false, "unknown"}, // one PNG cannot hold a stream
    };
    for (const nameCase& c : cases) {
        std::string error;
        EXPECT_EQ(frameRecorder::checkOutputPath(c.path, error), c.ok) << c.path;
        EXPECT_EQ(error.empty(), c.ok) << c.path << ": " << error;
        EXPECT_EQ(frameRecorder::formatName(c.path), c.format) << c.path;
    }
}

TEST(FrameRecorder, PngSequenceIsLossless) {
    tempFolder folder;
    const std::string pattern = folder.file("made/on/demand/f%05d.png");
    std::vector<rgbaImage> written;
    {
        frameRecorder recorder(pattern);
        for (int i = 0; i < 4; ++i) {
            written.push_back(testFrame(96, 64, i));
            std::string error;
            ASSERT_TRUE(recorder.write(written.back().pixels(), 96, 64, error)) << error;
        }
        std::string error;
        ASSERT_TRUE(recorder.finish(error)) << error;
        EXPECT_TRUE(recorder.finish(error)) << "a second finish changes nothing";
        EXPECT_EQ(recorder.framesWritten(), 4u);
    }
    for (int i = 0; i < 4; ++i) {
        int width = 0, height = 0;
        ASSERT_TRUE(pngFile::readSize(folder.file("made/on/demand/f0000" + std::to_string(i) + ".png"),
                                      width, height));
        EXPECT_EQ(width, 96);
        EXPECT_EQ(height, 64);
    }
    EXPECT_FALSE(fs::exists(folder.file("made/on/demand/f00004.png")));
    const std::vector<rgbaImage> read = readBack(pattern);
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < read.size(); ++i)
        EXPECT_TRUE(sameColours(read[i], written[i])) << "frame " << i;
}

TEST(FrameRecorder, VideoFilesPlayBackWithEveryFrame) {
    for (const char* name : {"clip.webm", "clip.mkv", "clip.avi", "clip.ogv"}) {
        SCOPED_TRACE(name);
        tempFolder folder;
        const std::string path = folder.file(name);
        {
            frameRecorder recorder(path, 30.0);
            for (int i = 0; i < 12; ++i) {
                const rgbaImage frame = testFrame(128, 96, i);
                std::string error;
                ASSERT_TRUE(recorder.write(frame.pixels(), 128, 96, error)) << error;
            }
            std::string error;
            ASSERT_TRUE(recorder.finish(error)) << error;
        }
        ASSERT_TRUE(fs::exists(path));
        const std::vector<rgbaImage> read = readBack(path);
        ASSERT_EQ(read.size(), 12u);
        EXPECT_EQ(read.front().width(), 128);
        EXPECT_EQ(read.front().height(), 96);
    }
}

TEST(FrameRecorder, DestructionFinishesTheFile) {
    tempFolder folder;
    const std::string path = folder.file("unfinished.avi");
    {
        frameRecorder recorder(path);
        for (int i = 0; i < 5; ++i) {
            const rgbaImage frame = testFrame(64, 48, i);
            std::string error;
            ASSERT_TRUE(recorder.write(frame.pixels(), 64, 48, error)) << error;
        }
    }
    EXPECT_EQ(readBack(path).size(), 5u);
}

TEST(FrameRecorder, ASizeChangeStopsTheRecording) {
    tempFolder folder;
    frameRecorder recorder(folder.file("f%03d.png"));
    std::string error;
    const rgbaImage small = testFrame(32, 24, 0);
    const rgbaImage large = testFrame(64, 48, 1);
    ASSERT_TRUE(recorder.write(small.pixels(), 32, 24, error)) << error;
    EXPECT_FALSE(recorder.write(large.pixels(), 64, 48, error));
    EXPECT_NE(error.find("frame size changed from 32x24 to 64x48"), std::string::npos) << error;
    // Failed for good: later frames of the right size are refused too.
    std::string again;
    EXPECT_FALSE(recorder.write(small.pixels(), 32, 24, again));
    EXPECT_EQ(again, error);
    EXPECT_FALSE(recorder.finish(again));
}

TEST(FrameRecorder, UnwritablePlacesFailWithAReason) {
    tempFolder folder;
    std::ofstream(folder.file("plainfile")) << "x";
    struct placeCase {
        std::string path;
    };
    const std::vector<placeCase> cases = {
        {folder.file("plainfile/f%05d.png")}, // a file where a folder must be
        {folder.file("plainfile/clip.webm")},
        {folder.file("unsupported.mp4")},
    };
    for (const placeCase& c : cases) {
        frameRecorder recorder(c.path);
        const rgbaImage frame = testFrame(32, 24, 0);
        std::string error;
        bool ok = recorder.write(frame.pixels(), 32, 24, error);
        // Some sinks only notice when the first buffer reaches them.
        if (ok)
            ok = recorder.finish(error);
        EXPECT_FALSE(ok) << c.path;
        EXPECT_NE(error.find("recording to " + c.path + " failed: "), std::string::npos) << error;
    }
}

TEST(FrameRecorder, EmptyFramesAreRefused) {
    tempFolder folder;
    frameRecorder recorder(folder.file("f%05d.png"));
    std::string error;
    EXPECT_FALSE(recorder.write(nullptr, 32, 24, error));
    EXPECT_NE(error.find("empty frame"), std::string::npos) << error;
}

} // namespace
