// The emotion rules, one frame at a time.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "messaging/messageStream.h"
#include "messaging/recordingTransport.h"
#include "pipeline/emotion.h"
#include "pipeline/pipeline.h"
#include "pipelineTestSupport.h"
#include "toolkit/runningStats.h"

namespace {

class emotionTest : public ::testing::Test {
protected:
    void SetUp() override {
        startFresh();
        // A still target of 500 pixels that was there before; nothing else.
        place(0, {100, 100, 10, 10, 500});
        s().lastTarget = {100, 100, 10, 10, 500};
        s().targetIndex = 0;
    }
    static pipelineStateRecord& s() { return pipelineState(); }
    static void place(int k, objectRecord record) { s().objectRecords[k] = record; }
    void run() { updateEmotions(frame.header); }
    // The draw the next update will make, times 0.01.
    static double nextDrain() {
        std::int32_t copy = s().randomState;
        return uniformRandom(copy) * 0.01;
    }
    testFrame frame{8, 8};
};

TEST_F(emotionTest, SadRisesWhileNothingLargeIsInViewAndDominatesOnTheTwelfthFrame) {
    place(0, {100, 100, 10, 10, 50});
    s().lastTarget = {100, 100, 10, 10, 50};
    visionSettings.sadLevel = 0.5;
    for (int n = 1; n <= 12; ++n) {
        run();
        SCOPED_TRACE("frame " + std::to_string(n));
        EXPECT_NEAR(s().emotionSad, 0.0625 + 0.0425 * (n - 1), 1e-5);
        EXPECT_EQ(s().dominantEmotion, n < 12 ? 9 : 2);
        EXPECT_EQ(s().emotionHappy, 0.0f);
        EXPECT_EQ(s().emotionAnger, 0.0f);
    }
    EXPECT_NEAR(s().emotionIntensity, 0.06, 1e-5);
}

TEST_F(emotionTest, WithoutAnyRuleEveryAccumulatorDecays) {
    s().emotionHappy = 0.7f;
    s().emotionAnger = 0.58f;
    s().emotionSad = 0.3f;
    s().emotionSurprise = 0.6f;
    s().randomState = 123459876; // the generator's fixed point: every drain is 0
    struct row {
        int frame;
        double happy, anger, sad, surprise;
        int dominant;
    } table[] = {{1, 0.68, 0.56, 0.28, 0.59, 0},  {5, 0.60, 0.48, 0.20, 0.55, 0},
                 {9, 0.52, 0.40, 0.12, 0.51, 0},  {11, 0.48, 0.36, 0.08, 0.49, 9},
                 {15, 0.40, 0.28, 0.0, 0.45, 9}, {40, 0.0, 0.0, 0.0, 0.20, 9}};
    int done = 0;
    for (const row& r : table) {
        while (done < r.frame) {
            run();
            ++done;
        }
        SCOPED_TRACE("frame " + std::to_string(r.frame));
        EXPECT_NEAR(s().emotionHappy, r.happy, 1e-5);
        EXPECT_NEAR(s().emotionAnger, r.anger, 1e-5);
        EXPECT_NEAR(s().emotionSad, r.sad, 1e-5);
        EXPECT_NEAR(s().emotionSurprise, r.surprise, 1e-5);
        EXPECT_EQ(s().dominantEmotion, r.dominant);
        const double expectedIntensity = r.dominant == 0 ? (s().emotionHappy - 0.5) * 2 : 0.0;
        EXPECT_NEAR(s().emotionIntensity, expectedIntensity, 1e-6);
    }
}

TEST_F(emotionTest, MovementEarlyInTheRunMakesHappyWhateverTheLevel) {
    for (double level : {0.0, 0.5, 1.0}) {
        SetUp();
        visionSettings.happyLevel = level;
        place(0, {110, 100, 10, 10, 500}); // moved 10 pixels
        run();
        SCOPED_TRACE("happyLevel " + std::to_string(level));
        EXPECT_NEAR(s().emotionHappy, 0.1, 1e-6);
        EXPECT_NEAR(s().emotionSad, -0.1, 1e-6) << "no floor until the next decay";
        EXPECT_NEAR(s().movementStats.mean, 0.001 * 10, 1e-9);
        EXPECT_EQ(s().sizeChangeStats.mean, 0.0);
    }
}

TEST_F(emotionTest, SmallPreviousTargetOrSmallMovesTeachNothing) {
    struct row {
        const char* what;
        float moveX;
        std::int32_t previousSize;
        bool happy, learns;
    } table[] = {
        {"one pixel: below the threshold of any mean, but not learnt", 1, 500, true, false},
        {"no move", 0, 500, false, false},
        {"previous target at the minimum", 10, 100, false, true},
        {"previous target above the minimum", 10, 101, true, true},
    };
    for (const row& r : table) {
        SetUp();
        s().lastTarget.size = r.previousSize;
        place(0, {100 + r.moveX, 100, 10, 10, static_cast<float>(r.previousSize)});
        run();
        SCOPED_TRACE(r.what);
        EXPECT_EQ(s().emotionHappy > 0.0f, r.happy);
        EXPECT_EQ(s().movementStats.mean > 0.0, r.learns);
    }
}

TEST_F(emotionTest, SurpriseJumpsOnASizeChangeWithoutMovementAndDrainsIntoHappy) {
    s().movementStats.mean = 5.0;
    s().sizeChangeStats.mean = 1.0;
    visionSettings.surpriseLevel = 0.5;
    s().lastTarget.size = 600; // size drops by 100 pixels: change 50 > 0.5 x 1 x 10
    const double drain = nextDrain();
    run();
    EXPECT_FLOAT_EQ(s().lastSizeDifference, 100.0f);
    EXPECT_NEAR(s().emotionSurprise, 0.3 - drain, 1e-6);
    EXPECT_NEAR(s().emotionHappy, drain, 1e-6);
    EXPECT_NEAR(s().emotionSaturation, -0.05, 1e-6);
    EXPECT_GT(s().sizeChangeStats.mean, 1.0) << "change 50 was learnt";
}

TEST_F(emotionTest, AngerCreepsWhileTwoLargeObjectsStayStill) {
    // Movement statistics: mean 2, deviation 1; the target moves 1 pixel
    // (too little to be learnt) and keeps its size. Anger needs
    // 1 < 2 - 1 x (1.5 - 3 angerLevel), that is angerLevel above 1/6.
    struct row {
        double angerLevel;
        float secondSize;
        bool anger;
    } table[] = {{0.5, 400, true}, {0.2, 400, true}, {1.0 / 6.0, 400, false},
                 {0.1, 400, false}, {0.5, 100, false}, {0.5, 101, true}};
    for (const row& r : table) {
        SetUp();
        place(0, {101, 100, 10, 10, 500});
        place(1, {300, 100, 10, 10, r.secondSize});
        s().movementStats.mean = 2.0;
        s().movementStats.variance = 1.0;
        s().sizeChangeStats.mean = 2.0;
        s().sizeChangeStats.variance = 1.0;
        visionSettings.angerLevel = r.angerLevel;
        run();
        SCOPED_TRACE("angerLevel " + std::to_string(r.angerLevel) + ", second object " +
                     std::to_string(r.secondSize));
        EXPECT_NEAR(s().emotionAnger, r.anger ? 0.03 : 0.0, 1e-6);
        EXPECT_NEAR(s().emotionSaturation, r.anger ? -0.05 : 0.0, 1e-6);
        EXPECT_EQ(s().movementStats.mean, 2.0) << "a one-pixel move is not learnt";
    }
}

TEST_F(emotionTest, AngerFactorIsHeldAsAFloat) {
    // A huge movement deviation magnifies the rounding of k = 1.5 - 3 angerLevel
    // to single precision: the movement mean is put half way between the
    // threshold with k in double and the one with k as a float, and the target
    // moves 0.5 pixels (too little to be learnt). Only the single-precision
    // threshold decides.
    struct row {
        double angerLevel;
        bool anger; // float k above the double one lowers the threshold
    } table[] = {{0.35, true}, {0.30, false}, {0.15, true}, {0.45, false}};
    const double deviation = 1.0e6;
    for (const row& r : table) {
        SetUp();
        const double kDouble = 1.5 - 3.0 * r.angerLevel;
        const double kFloat = static_cast<float>(kDouble);
        ASSERT_NE(kDouble, kFloat) << "the level must not round exactly";
        ASSERT_EQ(kDouble > kFloat, r.anger) << "table row inconsistent";
        place(0, {100.5f, 100, 10, 10, 500});
        place(1, {300, 100, 10, 10, 400});
        s().movementStats.mean = 0.5 + deviation * (kDouble + kFloat) / 2;
        s().movementStats.variance = deviation * deviation;
        s().sizeChangeStats.mean = 10.0;
        s().sizeChangeStats.variance = 0.0;
        visionSettings.angerLevel = r.angerLevel;
        run();
        SCOPED_TRACE("angerLevel " + std::to_string(r.angerLevel));
        EXPECT_EQ(s().emotionAnger, r.anger ? 0.03f : 0.0f);
        EXPECT_EQ(s().emotionSaturation, r.anger ? -0.05f : 0.0f);
    }
}

TEST_F(emotionTest, DrainAmountIsHeldAsAFloat) {
    // A drain whose amount rounds up to single precision, and a surprise that
    // decays onto exactly that float: it is not above the drain, so nothing
    // drains (compared with the unrounded amount it would be).
    std::int32_t state = 173542;
    float drain = 0.0f;
    float start = 0.0f;
    for (int n = 0; n < 1000 && start == 0.0f; ++n) {
        std::int32_t probe = state;
        const double amount = uniformRandom(probe) * 0.01;
        const float rounded = static_cast<float>(amount);
        if (rounded > amount) {
            // A surprise before the decay of 0.01 that lands on the float.
            float candidate = static_cast<float>(static_cast<double>(rounded) + 0.01);
            while (static_cast<float>(static_cast<double>(candidate) - 0.01) < rounded)
                candidate = std::nextafter(candidate, 1.0f);
            for (int step = 0; step < 8; ++step) {
                const float below = std::nextafter(candidate, 0.0f);
                if (static_cast<float>(static_cast<double>(below) - 0.01) >= rounded)
                    candidate = below;
            }
            if (static_cast<float>(static_cast<double>(candidate) - 0.01) == rounded) {
                drain = rounded;
                start = candidate;
                break;
            }
        }
        state = probe;
    }
    ASSERT_NE(start, 0.0f) << "no suitable draw found";
    s().randomState = state;
    s().emotionSurprise = start;
    run();
    EXPECT_EQ(s().emotionSurprise, drain);
    EXPECT_EQ(s().emotionHappy, 0.0f);
    EXPECT_EQ(s().emotionSaturation, 0.0f);
}

TEST_F(emotionTest, SadNeedsTheLargestObjectBelowTheMinimum) {
    struct row {
        float size;
        bool sad;
    } table[] = {{99, true}, {100, false}, {0, true}, {101, false}};
    for (const row& r : table) {
        SetUp();
        place(0, {100, 100, 10, 10, r.size});
        visionSettings.sadLevel = 0.8;
        run();
        EXPECT_NEAR(s().emotionSad, r.sad ? 0.1 : 0.0, 1e-6) << "size " << r.size;
    }
}

TEST_F(emotionTest, IntensityUsesTheValueBeforeItsCeiling) {
    s().emotionHappy = 0.95f;
    s().emotionAnger = 0.95f;
    place(0, {110, 100, 10, 10, 500});
    run();
    // Happy: 0.95 - 0.02 + 0.1 = 1.03 before the ceiling.
    EXPECT_EQ(s().dominantEmotion, 0);
    EXPECT_NEAR(s().emotionIntensity, 1.06, 1e-5);
    EXPECT_EQ(s().emotionHappy, 1.0f);
    EXPECT_NEAR(s().emotionAnger, 0.9, 1e-6) << "0.93 capped at 0.9";
    EXPECT_NEAR(s().emotionSaturation, 0.2, 1e-6) << "two ceilings reached";
}

TEST_F(emotionTest, FullSaturationPullsEveryEmotionDown) {
    s().emotionSaturation = 0.95f;
    s().emotionHappy = 1.0f;
    s().emotionSad = 0.6f;
    place(0, {110, 100, 10, 10, 500});
    run();
    EXPECT_EQ(s().emotionSaturation, 1.0f);
    EXPECT_NEAR(s().emotionHappy, 0.95, 1e-6);
    EXPECT_NEAR(s().emotionSad, 0.6 - 0.02 - 0.1 - 0.05, 1e-6);
    EXPECT_NEAR(s().emotionAnger, -0.05, 1e-6);
    EXPECT_NEAR(s().emotionSurprise, -0.05, 1e-6);
}

TEST_F(emotionTest, TiesGoToTheLowerIndex) {
    struct row {
        float happy, anger, sad, surprise;
        int dominant;
    } table[] = {
        {0.8f, 0.8f, 0.1f, 0.01f, 0},
        {0.1f, 0.8f, 0.8f, 0.01f, 1},
        {0.1f, 0.1f, 0.8f, 0.79f, 2},
        {0.1f, 0.1f, 0.1f, 0.8f, 3},
    };
    for (const row& r : table) {
        SetUp();
        s().emotionHappy = r.happy;
        s().emotionAnger = r.anger;
        s().emotionSad = r.sad;
        s().emotionSurprise = r.surprise;
        // Surprise must not drain for this comparison.
        s().randomState = 123459876; // the generator's fixed point: draws 0
        run();
        EXPECT_EQ(s().dominantEmotion, r.dominant);
    }
}

TEST_F(emotionTest, WithEmotionsOffFramesKeepTheStateAndCarryIt) {
    scopedMessageCapture capture;
    visionSettings.emotionsOn = false;
    s().emotionSad = 0.7f;
    s().dominantEmotion = 2;
    s().emotionIntensity = 0.4f;
    for (int n = 0; n < 3; ++n) {
        testFrame frame(64, 48);
        processVisionFrame(frame.header);
    }
    EXPECT_EQ(s().emotionSad, 0.7f);
    ASSERT_EQ(capture.texts().size(), 3u);
    for (const std::string& text : capture.texts())
        EXPECT_TRUE(text.ends_with(" 2 0.4 0")) << text;
}

} // namespace
