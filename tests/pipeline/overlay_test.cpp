// What the overlay draws into the frame.

#include <gtest/gtest.h>

#include <string>

#include "pipeline/overlay.h"
#include "pipeline/pipeline.h"
#include "pipelineTestSupport.h"

namespace {

using rgb = testFrame::rgb;
const rgb untouched{7, 7, 7};
const rgb red{255, 0, 0};
const rgb blue{0, 0, 255};
const rgb yellow{255, 255, 0};

class overlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        startFresh();
        frame.fill(untouched.r, untouched.g, untouched.b);
    }
    static pipelineStateRecord& s() { return pipelineState(); }
    testFrame frame{200, 150};
};

TEST_F(overlayTest, ModelViewShowsTheScoreAsThreeLevels) {
    s().gridWidth = 100;
    struct row {
        float score;
        int level;
    } table[] = {{1.0f, 0}, {0.8f, 128}, {0.5f, 255}, {0.0f, 255}, {0.79999f, 255}};
    int i = 5;
    for (const row& r : table) {
        drawModelState(frame.header, i, 7, r.score);
        EXPECT_EQ(frame.at(100 + i, 7), (rgb{r.level, r.level, r.level})) << "score " << r.score;
        ++i;
    }
    drawModelState(frame.header, 3, 0, 1.0f); // row 0 is the frame's border
    EXPECT_EQ(frame.at(103, 0), untouched);
}

TEST_F(overlayTest, EmotionBarsFillFromRowTenWithTicksAtTheLevels) {
    s().emotionHappy = 0.3f;
    s().emotionSad = 0.0f;
    s().emotionAnger = 1.0f;
    s().emotionSurprise = -0.1f;
    s().emotionSaturation = 0.5f;
    visionSettings.happyLevel = 0.2;
    visionSettings.sadLevel = 0.5;
    visionSettings.angerLevel = 0.75;
    visionSettings.surpriseLevel = 1.0;
    drawEmotionBars(frame.header);

    struct row {
        const char* name;
        int column;
        int redEnd;   // first row not red (red from row 10, or none)
        int blueFrom; // blue from here to row 109
        int tick;     // row of the yellow tick, -1 for none
    } table[] = {
        {"happy", 190, 40, 40, 30},
        {"sad", 180, 10, 10, 60},
        {"anger", 170, 110, 110, 85},
        {"surprise", 160, 10, 1, 110},
        {"saturation", 150, 60, 60, -1},
    };
    for (const row& r : table) {
        SCOPED_TRACE(r.name);
        for (int y = 1; y <= 111; ++y) {
            if (y == r.tick)
                continue;
            rgb expected = untouched;
            if (y >= r.blueFrom && y < 110)
                expected = blue;
            else if (y >= 10 && y < r.redEnd)
                expected = red;
            ASSERT_EQ(frame.at(r.column, y), expected) << "row " << y;
        }
        if (r.tick >= 0) {
            for (int x = r.column - 3; x <= r.column + 2; ++x)
                EXPECT_EQ(frame.at(x, r.tick), yellow) << "tick column " << x;
            EXPECT_NE(frame.at(r.column + 3, r.tick), yellow);
        }
        EXPECT_EQ(frame.at(r.column + 1, 50), untouched);
    }
}

TEST_F(overlayTest, LevelsFarBeyondTheBarDrawNoTick) {
    // Levels come unchecked from emotion.cfg; their ticks land off the frame.
    struct row {
        const char* name;
        double level;
    } table[] = {{"huge", 1.0e12}, {"hugely negative", -1.0e12}, {"largest", 1.7e308}, {"just beyond", 21474837.0}};
    for (const row& r : table) {
        SetUp();
        s().emotionHappy = 0.5f;
        visionSettings.happyLevel = r.level;
        drawEmotionBars(frame.header);
        SCOPED_TRACE(r.name);
        for (int y = 0; y < frame.header.height; ++y) {
            EXPECT_NE(frame.at(187, y), yellow) << "row " << y;
            const rgb expected = y >= 10 && y < 60 ? red : y >= 60 && y < 110 ? blue : untouched;
            EXPECT_EQ(frame.at(190, y), expected) << "row " << y;
        }
    }
}

TEST_F(overlayTest, BoxesCrossesAndTheTargetMark) {
    visionSettings.drawBox = true;
    visionSettings.drawCross = true;
    visionSettings.minObjectSize = 100;
    s().objectRecords[0] = {50.6f, 40.2f, 20.0f, 10.0f, 500};   // box 30..70 x 30..50
    s().objectRecords[1] = {150.0f, 100.0f, 10.0f, 10.0f, 300}; // the target
    s().objectRecords[2] = {120.0f, 30.0f, 5.0f, 5.0f, 100};    // at the minimum: nothing
    s().targetIndex = 1;
    drawObjects(frame.header);

    // Record 0: white box without its bottom-right corner, red cross over it.
    const rgb white{255, 255, 255};
    EXPECT_EQ(frame.at(30, 30), white);
    EXPECT_EQ(frame.at(69, 30), white);
    EXPECT_EQ(frame.at(70, 30), white) << "right edge starts at the top";
    EXPECT_EQ(frame.at(70, 49), white);
    EXPECT_EQ(frame.at(30, 50), white);
    EXPECT_EQ(frame.at(69, 50), white);
    EXPECT_EQ(frame.at(70, 50), untouched) << "bottom-right corner is never drawn";
    EXPECT_EQ(frame.at(42, 40), red) << "cross arm from trunc(x - 8)";
    EXPECT_EQ(frame.at(57, 40), red);
    EXPECT_EQ(frame.at(58, 40), untouched) << "arm stops before trunc(x + 8)";
    EXPECT_EQ(frame.at(50, 32), red);
    EXPECT_EQ(frame.at(50, 47), red);
    EXPECT_EQ(frame.at(50, 48), untouched);
    EXPECT_EQ(frame.at(45, 35), untouched) << "not the target: no diagonal";

    // Record 1: grey box (205) with the blue diagonals of the target.
    EXPECT_EQ(frame.at(140, 90), blue) << "diagonal starts at the top-left corner";
    EXPECT_EQ(frame.at(145, 95), blue);
    EXPECT_EQ(frame.at(140, 110), blue) << "second diagonal starts bottom-left";
    EXPECT_EQ(frame.at(155, 105), blue);
    EXPECT_EQ(frame.at(150, 90), (rgb{205, 205, 205}));
    EXPECT_EQ(frame.at(160, 110), untouched);

    // Record 2 is not larger than the minimum.
    EXPECT_EQ(frame.at(115, 25), untouched);
    EXPECT_EQ(frame.at(120, 30), untouched);

    EXPECT_EQ(s().lastTarget.x, 150.0f);
    EXPECT_EQ(s().lastTarget.size, 300);
}

TEST_F(overlayTest, SmallTargetGetsNoMarkButStaysTheTarget) {
    visionSettings.drawBox = false;
    visionSettings.minObjectSize = 100;
    s().objectRecords[3] = {100.0f, 80.0f, 10.0f, 10.0f, 80};
    s().targetIndex = 3;
    const std::vector<std::uint8_t> before = frame.pixels;
    drawObjects(frame.header);
    EXPECT_TRUE(frame.pixels == before);
    EXPECT_EQ(s().lastTarget.x, 100.0f);
    EXPECT_EQ(s().lastTarget.size, 80);
}

TEST_F(overlayTest, BoxShadesFollowTheRecordIndex) {
    visionSettings.drawBox = true;
    visionSettings.minObjectSize = 0;
    s().targetIndex = 0;
    s().objectRecords[0] = {20, 130, 4, 4, 10}; // the target: its mark covers its own box partly
    for (int k = 1; k < 5; ++k)
        s().objectRecords[k] = {float(20 + 35 * k), 20, 10, 10, 10};
    drawObjects(frame.header);
    for (int k = 1; k < 5; ++k) {
        const int g = 255 - 50 * k;
        EXPECT_EQ(frame.at(20 + 35 * k, 10), (rgb{g, g, g})) << "record " << k;
    }
}

TEST_F(overlayTest, BinaryViewShowsMaskAndModelStateInTheUpperQuarters) {
    testFrame background(64, 48);
    background.fill(100, 100, 100);
    for (int n = 0; n < 5; ++n) {
        testFrame copy = background;
        processVisionFrame(copy.header);
    }
    visionSettings.drawBinary = true;
    visionSettings.emotionsOn = false;
    visionSettings.drawBox = false;
    testFrame frame2 = background;
    frame2.fillRect(20, 10, 30, 20, 200, 40, 40); // cells 10..14 x 5..9
    processVisionFrame(frame2.header);

    const rgb white{255, 255, 255};
    const rgb black{0, 0, 0};
    // Mask at (i, j), model view at (32 + i, j).
    EXPECT_EQ(frame2.at(12, 7), white);
    EXPECT_EQ(frame2.at(3, 3), black);
    EXPECT_EQ(frame2.at(32 + 12, 7), white);
    EXPECT_EQ(frame2.at(32 + 3, 3), black);
    EXPECT_EQ(frame2.at(12, 0), (rgb{100, 100, 100})) << "border ring not drawn";
    // Outside both quarters the frame is as captured.
    EXPECT_EQ(frame2.at(10, 30), (rgb{100, 100, 100}));
}

} // namespace
