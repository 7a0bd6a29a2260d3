// The calibration procedure: prompts, crosses and the messages sent while a
// point is shown.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "messaging/messageStream.h"
#include "messaging/recordingTransport.h"
#include "pipeline/messageBox.h"
#include "pipeline/pipeline.h"
#include "settings/calibration.h"
#include "settings/visionSettings.h"
#include "toolkit/QMXrgbImage.h"

namespace {

struct frameBuffer {
    frameBuffer(int w, int h) : pixels(static_cast<std::size_t>(w) * h * 4, 0), header(makeFrameHeader(pixels.data(), w, h)) {}
    bool isRed(int x, int y) const {
        const std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * header.width + x) * 4];
        return p[2] == 255 && p[1] == 0 && p[0] == 0;
    }
    int redCount() const {
        int n = 0;
        for (int y = 0; y < header.height; ++y)
            for (int x = 0; x < header.width; ++x)
                n += isRed(x, y);
        return n;
    }
    std::vector<std::uint8_t> pixels;
    QMXrgbImage header;
};

class calibrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetPipelineState();
        visionSettings = visionSettingsRecord{};
        visionSettings.emotionsOn = true;
        visionSettings.drawBox = true;
        visionSettings.minObjectSize = 100;
    }
    void TearDown() override { setMessageBoxHandler({}); }
    scopedMessageCapture capture;
};

TEST_F(calibrationTest, CrossAndMessageForEachStep) {
    struct row {
        int step;
        int column, row;
        const char* message;
    } table[] = {
        {1, 160, 120, "1 0 0 0 0 1"},
        {2, 32, 120, "2 -0.788111 0 0 0 2"},
        {3, 160, 216, "3 0 0.219821 0 0 3"},
    };
    for (const row& r : table) {
        frameBuffer frame(320, 240);
        visionSettings.calibrationStep = r.step;
        drawCalibrationTarget(frame.header);
        SCOPED_TRACE("step " + std::to_string(r.step));
        // Both lines, without the border ring and without their end points.
        EXPECT_TRUE(frame.isRed(1, r.row));
        EXPECT_TRUE(frame.isRed(318, r.row));
        EXPECT_FALSE(frame.isRed(0, r.row));
        EXPECT_TRUE(frame.isRed(r.column, 1));
        EXPECT_TRUE(frame.isRed(r.column, 238));
        EXPECT_FALSE(frame.isRed(r.column, 0));
        EXPECT_EQ(frame.redCount(), 318 + 238 - 1);
        ASSERT_FALSE(capture.texts().empty());
        EXPECT_EQ(capture.texts().back(), r.message);
    }
}

TEST_F(calibrationTest, OddFrameSizesTruncateThePoints) {
    frameBuffer frame(333, 247); // H/2 = 123, 9H/10 = 222, W/10 = 33, W/2 = 166
    visionSettings.calibrationStep = 3;
    drawCalibrationTarget(frame.header);
    EXPECT_TRUE(frame.isRed(10, 222));
    EXPECT_TRUE(frame.isRed(166, 10));
    visionSettings.calibrationStep = 2;
    drawCalibrationTarget(frame.header);
    EXPECT_TRUE(frame.isRed(33, 10));
    EXPECT_TRUE(frame.isRed(10, 123));
}

TEST_F(calibrationTest, OtherStepValuesDrawAndSendNothing) {
    for (int step : {0, 4, -1}) {
        frameBuffer frame(320, 240);
        visionSettings.calibrationStep = step;
        drawCalibrationTarget(frame.header);
        EXPECT_EQ(frame.redCount(), 0) << "step " << step;
    }
    EXPECT_TRUE(capture.texts().empty());
}

TEST_F(calibrationTest, ProcedureShowsEachPointWhileItsPromptIsOpen) {
    struct prompt {
        std::string text;
        int step;
        bool visionOn;
    };
    std::vector<prompt> prompts;
    // The operator's box: two frames arrive while it is open.
    setMessageBoxHandler([&](const std::string& text) {
        prompts.push_back({text, visionSettings.calibrationStep, visionSettings.visionOn});
        for (int n = 0; n < 2; ++n) {
            frameBuffer frame(320, 240);
            processVisionFrame(frame.header);
        }
    });
    visionSettings.visionOn = false; // pressed while processing was stopped
    runCalibration();

    const char* expectedTexts[] = {
        "Calibrate Center (1)\nYou should see a cross drawn in the video window\nUsing the mouse on the "
        "graphics machine please\nturn the head to look in the direction of the cross,\nthen click OK",
        "Calibrate Horizontal (2)\nYou should see a cross drawn in the video window\nUsing the mouse on the "
        "graphics machine pleas\nturn the head to look in the direction of the cross,\nthen click OK",
        "Calibrate Vertical (3)\nYou should see a cross drawn in the video window\nUsing the mouse on the "
        "graphics machine please\nturn the head to look in the direction of the cross,\nthen click OK",
        "Calibration complete thank you\n Try moving in front of the system to see if it has worked\n",
    };
    ASSERT_EQ(prompts.size(), 4u);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(prompts[k].text, expectedTexts[k]) << "prompt " << k + 1;
        EXPECT_EQ(prompts[k].step, k < 3 ? k + 1 : 0);
        EXPECT_EQ(prompts[k].visionOn, k == 3);
    }
    EXPECT_TRUE(visionSettings.visionOn);
    EXPECT_EQ(visionSettings.calibrationStep, 0);

    // Two calibration messages per point, then ordinary messages, all from
    // the one counter.
    const std::vector<std::string> texts = capture.texts();
    ASSERT_EQ(texts.size(), 8u);
    const char* expectedCalibration[] = {"1 0 0 0 0 1", "2 0 0 0 0 1", "3 -0.788111 0 0 0 2",
                                         "4 -0.788111 0 0 0 2", "5 0 0.219821 0 0 3", "6 0 0.219821 0 0 3"};
    for (int n = 0; n < 6; ++n)
        EXPECT_EQ(texts[n], expectedCalibration[n]);
    EXPECT_TRUE(texts[6].starts_with("7 ")) << texts[6];
    EXPECT_TRUE(texts[6].ends_with(" 0")) << texts[6];
    EXPECT_TRUE(texts[7].starts_with("8 ")) << texts[7];
    EXPECT_EQ(pipelineState().frameCounter, 3) << "only the frames after the procedure were processed";
}

TEST_F(calibrationTest, ProcedureAdvancesWithoutFrames) {
    int boxesShown = 0;
    setMessageBoxHandler([&](const std::string&) { ++boxesShown; });
    visionSettings.visionOn = true;
    runCalibration();
    EXPECT_EQ(boxesShown, 4);
    EXPECT_TRUE(capture.texts().empty());
    EXPECT_TRUE(visionSettings.visionOn);
    EXPECT_EQ(visionSettings.calibrationStep, 0);
}

} // namespace
