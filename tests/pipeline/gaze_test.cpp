// Target choice and the gaze message.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "messaging/messageStream.h"
#include "messaging/recordingTransport.h"
#include "pipeline/gaze.h"
#include "pipeline/overlay.h"
#include "pipeline/pipeline.h"
#include "pipelineTestSupport.h"
#include "toolkit/runningStats.h"

namespace {

constexpr std::int64_t modulus = 2147483647;
constexpr std::int32_t stateMask = 123459876;


std::int64_t power(std::int64_t base, std::int64_t exponent) {
    std::int64_t result = 1;
    base %= modulus;
    while (exponent > 0) {
        if (exponent & 1)
            result = result * base % modulus;
        base = base * base % modulus;
        exponent >>= 1;
    }
    return result;
}

std::int64_t previous(std::int64_t s) {
    static const std::int64_t inverse = power(16807, modulus - 2);
    return s * inverse % modulus;
}

// A generator state whose first draw is `firstBelow`-ish and whose second
// draw times `total` lands in [low, high): found by walking the plain
// minimal-standard sequence backwards from candidate second values.
std::int32_t stateForDraws(bool firstBelowTenth, float total, double low, double high) {
    for (std::int64_t s2 = static_cast<std::int64_t>(low / total * modulus); s2 < modulus; ++s2) {
        const float t = static_cast<float>(s2 * 4.656612875245797e-10 * total);
        if (t < low)
            continue;
        if (t >= high)
            break;
        const std::int64_t s1 = previous(s2);
        const double u1 = s1 * 4.656612875245797e-10;
        if ((u1 < 0.1) != firstBelowTenth)
            continue;
        const std::int64_t s0 = previous(s1);
        return static_cast<std::int32_t>(s0) ^ stateMask;
    }
    ADD_FAILURE() << "no state found";
    return 173542;
}

class gazeTest : public ::testing::Test {
protected:
    void SetUp() override { startFresh(); }
    static pipelineStateRecord& state() { return pipelineState(); }
};

TEST_F(gazeTest, TheStateSearchReproducesTheGenerator) {
    std::int32_t state = stateForDraws(true, 980000.0f, 500000.0, 500010.0);
    const double u1 = uniformRandom(state);
    const double u2 = uniformRandom(state);
    EXPECT_LT(u1, 0.1);
    const float t = static_cast<float>(u2 * 980000.0f);
    EXPECT_GE(t, 500000.0f);
    EXPECT_LT(t, 500010.0f);
}

TEST_F(gazeTest, NearestRecordToThePreviousTargetLowerIndexOnATie) {
    struct row {
        float targetX, targetY;
        int expected;
    } table[] = {
        {100, 100, 2},  // exactly on record 2
        {12, 9, 0},     // closest to record 0
        {50, 50, 1},    // records 1 and 3 equally far: the lower index
    };
    for (const row& r : table) {
        state().objectRecords[0] = {10, 10, 1, 1, 500};
        state().objectRecords[1] = {40, 50, 1, 1, 500};
        state().objectRecords[2] = {100, 100, 1, 1, 500};
        state().objectRecords[3] = {60, 50, 1, 1, 500};
        state().objectRecords[4] = {300, 300, 1, 1, 500};
        state().lastTarget = {r.targetX, r.targetY, 0, 0, 0};
        // A first draw of 0.1 or more: no random change.
        state().randomState = stateForDraws(false, 1.0f, 0.0, 1.0);
        selectTarget();
        EXPECT_EQ(state().targetIndex, r.expected) << r.targetX << "," << r.targetY;
    }
}

TEST_F(gazeTest, RandomChangeFollowsTheSquaredSizes) {
    // Sizes 900, 400, 100, 0, 0 with minimum size 100: squares 810000,
    // 160000, 10000, 0, 0; total 980000. The previous target sits on record 2.
    struct row {
        const char* what;
        bool firstBelowTenth;
        double low, high; // range of t
        int expected;
    } table[] = {
        {"no change tried", false, 0, 980000, 2},
        {"t small", true, 1000, 1010, 0},
        {"t just below 810000", true, 809999, 810000, 0},
        {"t at 810000", true, 810000, 810000.1, 1},
        {"t just below 970000", true, 969999, 970000, 1},
        {"t in record 2's share (too small)", true, 970000, 975000, 2},
        {"t near the total", true, 979990, 980000, 2},
    };
    for (const row& r : table) {
        visionSettings.minObjectSize = 100;
        state().objectRecords[0] = {10, 10, 1, 1, 900};
        state().objectRecords[1] = {200, 10, 1, 1, 400};
        state().objectRecords[2] = {100, 100, 1, 1, 100};
        state().objectRecords[3] = {0, 0, 0, 0, 0};
        state().objectRecords[4] = {0, 0, 0, 0, 0};
        state().lastTarget = {100, 100, 0, 0, 100};
        state().randomState = stateForDraws(r.firstBelowTenth, 980000.0f, r.low, r.high);
        selectTarget();
        EXPECT_EQ(state().targetIndex, r.expected) << r.what;
    }
}

TEST_F(gazeTest, LargeSquaresEnterTheSumsUnrounded) {
    // Sizes 6690, 6689, 6688: 6689^2 = 44742721 is not a float. Added
    // unrounded, the running sum after record 1 is 89498824; rounding the
    // square first would give 89498816 and hand t = 89498816 to record 2.
    // Either way the total is 134228160.
    struct row {
        const char* what;
        double low, high; // range of t
        int expected;
    } table[] = {
        {"t just inside record 1's share", 89498816, 89498817, 1},
        {"t at the end of record 1's share", 89498824, 89498825, 2},
        {"t inside record 0's share", 44756090, 44756100, 0},
    };
    for (const row& r : table) {
        visionSettings.minObjectSize = 100;
        state().objectRecords[0] = {10, 10, 1, 1, 6690};
        state().objectRecords[1] = {200, 10, 1, 1, 6689};
        state().objectRecords[2] = {100, 100, 1, 1, 6688};
        state().objectRecords[3] = {0, 0, 0, 0, 0};
        state().objectRecords[4] = {0, 0, 0, 0, 0};
        state().lastTarget = {300, 300, 0, 0, 100}; // nearest: record 2
        state().randomState = stateForDraws(true, 134228160.0f, r.low, r.high);
        selectTarget();
        EXPECT_EQ(state().targetIndex, r.expected) << r.what;
    }
}

TEST_F(gazeTest, SmallRecordsNeverWinTheRandomChange) {
    visionSettings.minObjectSize = 100;
    const float sizes[] = {100, 90, 50, 100, 10};
    float total = 0;
    for (int k = 0; k < 5; ++k) {
        state().objectRecords[k] = {float(30 * k), 0, 1, 1, sizes[k]};
        total += sizes[k] * sizes[k];
    }
    for (double low : {0.0, 0.3, 0.6, 0.95}) {
        state().lastTarget = {60, 0, 0, 0, 0}; // record 2
        state().randomState = stateForDraws(true, total, low * total, (low + 0.04) * total);
        selectTarget();
        EXPECT_EQ(state().targetIndex, 2) << "t from " << low << " of the total";
    }
}

TEST_F(gazeTest, MessageCarriesTheTruncatedTargetAndEmotion) {
    // The 17th message for a target at (200, 60) of a 320 x 240 frame.
    scopedMessageCapture capture(messageStream, 17);
    testFrame frame(320, 240);
    state().targetIndex = 3;
    state().objectRecords[3] = {200.9f, 60.7f, 4, 4, 500};
    state().dominantEmotion = 0;
    state().emotionIntensity = 0.4f;
    visionSettings.calibrationStep = 0;
    drawObjects(frame.header);
    EXPECT_EQ(state().lastTarget.x, 200.9f);
    EXPECT_EQ(state().lastTarget.size, 500);
    sendTargetMessage(frame.header);
    ASSERT_EQ(capture.recorder().datagrams().size(), 1u);
    const std::string& datagram = capture.recorder().datagrams()[0];
    EXPECT_EQ(datagram.size(), 32u);
    EXPECT_EQ(capture.texts()[0], "17 0.0978738 -0.0870572 0 0.4 0");
}

} // namespace
