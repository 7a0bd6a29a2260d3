// The process-wide pipeline state: its start values and the reset that
// restores them.

#include <gtest/gtest.h>

#include "messaging/recordingTransport.h"
#include "pipeline/pipeline.h"
#include "pipelineTestSupport.h"

namespace {

void expectStartState() {
    const pipelineStateRecord& s = pipelineState();
    EXPECT_EQ(s.frameCounter, 1);
    EXPECT_EQ(s.gridWidth, 0);
    EXPECT_EQ(s.gridHeight, 0);
    EXPECT_EQ(s.foregroundMask.width, 400);
    EXPECT_EQ(s.foregroundMask.height, 350);
    EXPECT_EQ(s.foregroundMask.size, 400 * 350);
    for (int k = 0; k < s.foregroundMask.size; ++k)
        ASSERT_EQ(s.foregroundMask.data[k], 0) << "mask byte " << k;
    EXPECT_EQ(s.componentList.count, 0);
    for (const objectRecord& r : s.objectRecords) {
        EXPECT_EQ(r.x, 0.0f);
        EXPECT_EQ(r.size, 0.0f);
    }
    EXPECT_EQ(s.targetIndex, 0);
    EXPECT_EQ(s.lastTarget.x, 0.0f);
    EXPECT_EQ(s.lastTarget.size, 0);
    EXPECT_EQ(s.randomState, 173542);
    EXPECT_EQ(s.emotionHappy, 0.0f);
    EXPECT_EQ(s.emotionSaturation, 0.0f);
    EXPECT_EQ(s.dominantEmotion, 9);
    EXPECT_EQ(s.emotionIntensity, 0.0f);
    EXPECT_EQ(s.lastSizeDifference, 0.0f);
    EXPECT_EQ(s.movementStats.mean, 0.0);
    EXPECT_EQ(s.movementStats.variance, 0.0);
    EXPECT_EQ(s.movementStats.rate, static_cast<double>(0.001f));
    EXPECT_EQ(s.sizeChangeStats.rate, static_cast<double>(0.001f));
    // Every model empty, built with 3 channels, 5 modes, 3.0, 0.001, 0.8, 2.0, 0.7.
    for (std::size_t k = 0; k < modelGridArray::size(); k += 997) {
        const pixelModelGS& m = s.modelGrid[k];
        ASSERT_EQ(m.modeCount(), 0) << "cell " << k;
        ASSERT_EQ(m.channels(), 3);
        ASSERT_EQ(m.maxModes(), 5);
        ASSERT_EQ(m.matchDeviations(), 3.0f);
        ASSERT_EQ(m.rate(), 0.001f);
        ASSERT_EQ(m.backgroundWeight(), 0.8f);
        ASSERT_EQ(m.initialDeviation(), 2.0f);
        ASSERT_EQ(m.minBrightness(), 0.7f);
    }
}

TEST(pipelineStateTest, StartsWithTheProgramStartValues) {
    expectStartState();
}

TEST(pipelineStateTest, CellsOfOneGridColumnAreAdjacent) {
    modelGridArray& grid = pipelineState().modelGrid;
    EXPECT_EQ(&grid.cell(2, 5), &grid[2 * 350 + 5]);
    EXPECT_EQ(&grid.cell(2, 6) - &grid.cell(2, 5), 1);
    EXPECT_EQ(&grid.cell(3, 0) - &grid.cell(2, 349), 1);
}

TEST(pipelineStateTest, ResetUndoesAFewFramesOfWork) {
    scopedMessageCapture capture;
    useLoadedSettings();
    for (int n = 0; n < 7; ++n) {
        testFrame frame(120, 90);
        frame.fillRect(10, 10, 40, 40, 200, 100, 50);
        processVisionFrame(frame.header);
    }
    pipelineStateRecord& s = pipelineState();
    s.emotionSaturation = 0.4f;
    s.movementStats.update(5);
    s.lastSizeDifference = 3;
    ASSERT_EQ(s.frameCounter, 8);
    ASSERT_NE(s.randomState, 173542);
    ASSERT_EQ(s.modelGrid.cell(10, 10).modeCount(), 1);

    resetPipelineState();
    expectStartState();
}

} // namespace
