// The background stage against a plain re-enactment of its rules: a copy of
// every cell is scored through getPixel in the same visiting order, updated
// on learning frames, and its mask bit and model-view pixel are written with
// set() and setPixel(). The stage reads standard frames straight from memory
// and other headers through getPixel; both must agree with the plain run bit
// for bit, frame after frame.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "pipeline/backgroundSubtraction.h"
#include "pipeline/overlay.h"
#include "pipeline/pipeline.h"
#include "pipelineTestSupport.h"
#include "settings/visionSettings.h"
#include "toolkit/QMXrgbImage.h"
#include "toolkit/binaryImage.h"

namespace {

constexpr int frameWidth = 90; // grid 45 x 33, rows 0 to 31 visited
constexpr int frameHeight = 67;
constexpr int gridWidth = frameWidth / 2;
constexpr int gridHeight = frameHeight / 2;
constexpr int frameCount = 41; // eight learning frames

std::uint32_t mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// Colour of pixel (x, y) in frame n: a texture with noise, a block moving
// across, a shadow on every other frame, scattered black pixels and a bright
// outer ring (which the stage must see as black).
testFrame::rgb sceneColour(int n, int x, int y) {
    if (x == 0 || y == 0 || x == frameWidth - 1 || y == frameHeight - 1)
        return {250, 240, 230};
    if ((x * 7 + y * 3 + n) % 53 == 0)
        return {0, 0, 0};
    const auto noise = [&](int c) {
        return static_cast<int>(mix(static_cast<std::uint32_t>((n * 131 + y) * 977 + x * 3 + c)) % 7) - 3;
    };
    int r = 60 + (x * 2) % 90 + noise(0);
    int g = 80 + (y * 3) % 70 + noise(1);
    int b = 120 + ((x / 6 + y / 6) % 2) * 40 + noise(2);
    if (x >= 50 && y >= 30 && n % 2 == 1) { // a soft shadow
        r = r * 8 / 10;
        g = g * 8 / 10;
        b = b * 8 / 10;
    }
    if (x >= 4 + 3 * n && x < 20 + 3 * n && y >= 10 && y < 40) // a block crossing
        return {210, 170 - y, 35};
    if (n > 20 && x > 70 && y < 20) // a colour that arrives late and stays
        return {20 + (x % 3) * 60, 220, 90};
    return {r, g, b};
}

// The same picture as 4-byte pixels (the frame entry's layout, read
// directly) or as 3-byte pixels (read through getPixel).
struct sceneFrame {
    sceneFrame(int n, int bytesPerPixel) : pixels(static_cast<std::size_t>(frameWidth) * frameHeight * bytesPerPixel, 7) {
        header = QMXrgbImage{pixels.data(), frameWidth, frameHeight, 1.0f, 1.0f, 1.0f, 0, 1, bytesPerPixel};
        for (int y = 0; y < frameHeight; ++y)
            for (int x = 0; x < frameWidth; ++x) {
                const testFrame::rgb c = sceneColour(n, x, y);
                std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * frameWidth + x) * bytesPerPixel];
                p[0] = static_cast<std::uint8_t>(c.b);
                p[1] = static_cast<std::uint8_t>(c.g);
                p[2] = static_cast<std::uint8_t>(c.r);
            }
    }
    std::vector<std::uint8_t> pixels;
    QMXrgbImage header;
};

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

::testing::AssertionResult sameModel(const pixelModelGS& got, const pixelModelGS& want) {
    bool same = got.modeCount() == want.modeCount() && got.backgroundModes() == want.backgroundModes() &&
        got.matchedPosition() == want.matchedPosition() && got.learnCount() == want.learnCount() &&
        got.updateCount() == want.updateCount() && got.learning() == want.learning() &&
        got.lastShadow() == want.lastShadow() && sameBits(got.rate(), want.rate()) &&
        sameBits(got.newDeviation(), want.newDeviation());
    for (int k = 0; k < want.maxModes() && same; ++k) {
        same = sameBits(got.weight(k), want.weight(k)) && sameBits(got.deviation(k), want.deviation(k)) &&
            sameBits(got.ratio(k), want.ratio(k)) && got.order(k) == want.order(k) &&
            got.matchCount(k) == want.matchCount(k);
        for (int j = 0; j < want.channels() && same; ++j)
            same = sameBits(got.mean(k, j), want.mean(k, j));
    }
    for (int j = 0; j < want.channels() && same; ++j)
        same = sameBits(got.sample(j), want.sample(j));
    if (same)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "modes " << got.modeCount() << " vs " << want.modeCount() << ", matched "
                                         << got.matchedPosition() << " vs " << want.matchedPosition();
}

struct stageCase {
    const char* name;
    int bytesPerPixel;  // 4: read directly; 3: read through getPixel
    bool drawBinary;    // model view drawn into the frame
    int maskColumnsCut; // mask narrower / shorter than the grid by these
    int maskRowsCut;
};

class backgroundStageTest : public ::testing::TestWithParam<stageCase> {};

TEST_P(backgroundStageTest, AgreesWithThePlainRulesOnEveryFrame) {
    const stageCase c = GetParam();
    startFresh();
    visionSettings.drawBinary = c.drawBinary;
    pipelineStateRecord& s = pipelineState();
    s.gridWidth = gridWidth;
    s.gridHeight = gridHeight;
    const int maskWidth = gridWidth - c.maskColumnsCut;
    const int maskHeight = gridHeight - c.maskRowsCut;

    // The plain run's own copies: one column and one row more than visited,
    // which must stay as they are.
    std::vector<pixelModelGS> cells;
    for (int i = 0; i <= gridWidth; ++i)
        for (int j = 0; j < gridHeight; ++j)
            cells.push_back(s.modelGrid.cell(i, j));
    const auto copyOf = [&](int i, int j) -> pixelModelGS& { return cells[static_cast<std::size_t>(i) * gridHeight + j]; };
    binaryImage expectedMask(modelGridColumns, modelGridRows, 0, 0);

    int scored[4] = {}; // 0.0, 0.5, 0.8, 1.0
    for (int n = 0; n < frameCount; ++n) {
        s.frameCounter = n + 1;
        const bool learn = s.frameCounter % 5 == 0;
        sceneFrame frame(n, c.bytesPerPixel);
        sceneFrame expectedFrame(n, c.bytesPerPixel);
        s.foregroundMask.setGeometry(0, 0, maskWidth, maskHeight);
        expectedMask.setGeometry(0, 0, maskWidth, maskHeight);
        std::memset(s.foregroundMask.data.get(), 9, static_cast<std::size_t>(s.foregroundMask.size));
        std::memset(expectedMask.data.get(), 9, static_cast<std::size_t>(expectedMask.size));

        for (int i = gridWidth - 1; i >= 0; --i)
            for (int j = 0; j < gridHeight - 1; ++j) {
                int r, g, b;
                expectedFrame.header.getPixel(2 * i, 2 * j, r, g, b);
                const float sample[3] = {float(r), float(g), float(b)};
                const float score = copyOf(i, j).probability(sample);
                ++scored[score == 0.0f ? 0 : score == 0.5f ? 1 : score == 0.8f ? 2 : 3];
                if (learn)
                    copyOf(i, j).update();
                expectedMask.set(i, j, score < 0.6f ? 1 : 0);
                if (c.drawBinary)
                    drawModelState(expectedFrame.header, i, j, score);
            }
        subtractBackground(frame.header);

        for (int i = 0; i <= gridWidth; ++i)
            for (int j = 0; j < gridHeight; ++j)
                ASSERT_TRUE(sameModel(s.modelGrid.cell(i, j), copyOf(i, j)))
                    << "frame " << n << ", cell (" << i << ", " << j << ")";
        ASSERT_EQ(std::memcmp(s.foregroundMask.data.get(), expectedMask.data.get(),
                              static_cast<std::size_t>(expectedMask.size)),
                  0)
            << "mask of frame " << n;
        ASSERT_EQ(frame.pixels, expectedFrame.pixels) << "pixels of frame " << n;
    }
    // The run went through every outcome.
    for (int k = 0; k < 4; ++k)
        EXPECT_GT(scored[k], 0) << "outcome " << k;
}

INSTANTIATE_TEST_SUITE_P(
    layouts, backgroundStageTest,
    ::testing::Values(stageCase{"directPixels", 4, false, 0, 0}, stageCase{"directWithModelView", 4, true, 0, 0},
                      stageCase{"directSmallerMask", 4, false, 6, 5}, stageCase{"checkedPixels", 3, false, 0, 0},
                      stageCase{"checkedWithModelView", 3, true, 0, 0}, stageCase{"checkedSmallerMask", 3, true, 6, 5}),
    [](const ::testing::TestParamInfo<stageCase>& info) { return std::string(info.param.name); });

} // namespace
