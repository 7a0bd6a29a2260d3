// End-to-end runs of the frame driver on small synthetic frames.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "messaging/messageStream.h"
#include "messaging/recordingTransport.h"
#include "pipeline/messageBox.h"
#include "pipeline/pipeline.h"
#include "pipelineTestSupport.h"
#include "settings/visionSettings.h"
#include "toolkit/runningStats.h"

namespace {

constexpr int frameWidth = 64;
constexpr int frameHeight = 48;
const testFrame::rgb grey{100, 100, 100};
const testFrame::rgb red{200, 40, 40};

testFrame plainFrame(testFrame::rgb colour) {
    testFrame frame(frameWidth, frameHeight);
    frame.fill(colour.r, colour.g, colour.b);
    return frame;
}

// Paints grid cells i0..i1, j0..j1 (inclusive) of a frame: their sampled
// pixels are (2 i, 2 j).
void paintCells(testFrame& frame, int i0, int j0, int i1, int j1, testFrame::rgb colour) {
    frame.fillRect(2 * i0, 2 * j0, 2 * i1 + 2, 2 * j1 + 2, colour.r, colour.g, colour.b);
}

void process(testFrame frame) {
    processVisionFrame(frame.header);
}

// Runs the four frames before the first model update and the update frame.
void learnBackground(testFrame::rgb colour) {
    for (int n = 0; n < 5; ++n)
        process(plainFrame(colour));
}

class driverTest : public ::testing::Test {
protected:
    void SetUp() override {
        startFresh();
        setMessageBoxHandler([this](const std::string& text) { boxes.push_back(text); });
    }
    void TearDown() override { setMessageBoxHandler({}); }

    std::vector<std::string> boxes;
    scopedMessageCapture capture;
};

TEST_F(driverTest, ModelsLearnFirstOnTheFifthCountedFrameFromThatFramesSample) {
    const testFrame::rgb first{10, 200, 30};
    const testFrame::rgb fifth{90, 90, 250};
    pixelModelGS& cell = pipelineState().modelGrid.cell(5, 5);
    for (int n = 1; n <= 4; ++n) {
        process(plainFrame(first));
        EXPECT_EQ(cell.modeCount(), 0) << "frame " << n;
        EXPECT_EQ(pipelineState().frameCounter, n + 1);
    }
    process(plainFrame(fifth));
    ASSERT_EQ(cell.modeCount(), 1);
    EXPECT_EQ(cell.mean(cell.order(0), 0), 90.0f);
    EXPECT_EQ(cell.mean(cell.order(0), 2), 250.0f);

    // Frame 6 shows the fifth frame's colour: background, so no object.
    visionSettings.drawBinary = true;
    testFrame sixth = plainFrame(fifth);
    processVisionFrame(sixth.header);
    const int gridWidth = frameWidth / 2;
    EXPECT_EQ(sixth.at(gridWidth + 5, 5), (testFrame::rgb{0, 0, 0})) << "model view: background";
    EXPECT_EQ(pipelineState().frameCounter, 7);
    EXPECT_EQ(capture.texts().size(), 6u);
}

TEST_F(driverTest, RejectedFrameDoesNotAdvanceTheCountToTheFirstUpdate) {
    pixelModelGS& cell = pipelineState().modelGrid.cell(3, 3);
    process(plainFrame(grey));
    process(plainFrame(grey));
    testFrame tooWide(802, 20);
    processVisionFrame(tooWide.header);
    ASSERT_EQ(boxes.size(), 1u);
    visionSettings.visionOn = true;
    process(plainFrame(grey));
    process(plainFrame(grey));
    EXPECT_EQ(cell.modeCount(), 0) << "only four frames counted";
    process(plainFrame(grey));
    EXPECT_EQ(cell.modeCount(), 1);
    EXPECT_EQ(pipelineState().frameCounter, 6);
}

TEST_F(driverTest, VisitsColumnsOfTheGridAndAllButItsLastRow) {
    // 640 x 480 uses a 320 x 240 grid: columns 0..319, rows 0..238.
    pipelineState().frameCounter = 5;
    testFrame frame(640, 480);
    frame.fill(50, 60, 70);
    processVisionFrame(frame.header);
    modelGridArray& grid = pipelineState().modelGrid;
    EXPECT_EQ(grid.cell(0, 0).modeCount(), 1);
    EXPECT_EQ(grid.cell(319, 238).modeCount(), 1);
    EXPECT_EQ(grid.cell(319, 239).modeCount(), 0);
    EXPECT_EQ(grid.cell(320, 0).modeCount(), 0);
    EXPECT_EQ(grid.cell(0, 239).modeCount(), 0);
    // Grid column 0 and row 0 lie on the frame's border ring and see black.
    EXPECT_EQ(grid.cell(0, 10).mean(0, 0), 0.0f);
    EXPECT_EQ(grid.cell(10, 0).mean(0, 1), 0.0f);
    EXPECT_EQ(grid.cell(10, 10).mean(0, 1), 60.0f);
}

TEST_F(driverTest, ForegroundBecomesAnObjectOnceTheBackgroundIsLearnt) {
    learnBackground(grey);
    // Before learning the whole visited area (32 x 23 cells) is one object.
    EXPECT_EQ(pipelineState().objectRecords[0].size, 32.0f * 23.0f);

    testFrame frame = plainFrame(grey);
    paintCells(frame, 10, 5, 17, 12, red); // 8 x 8 cells
    processVisionFrame(frame.header);
    const objectRecord& record = pipelineState().objectRecords[0];
    EXPECT_FLOAT_EQ(record.x, 27.0f);
    EXPECT_FLOAT_EQ(record.y, 17.0f);
    EXPECT_FLOAT_EQ(record.halfWidth, 12.0f);
    EXPECT_FLOAT_EQ(record.halfHeight, 12.0f);
    EXPECT_EQ(record.size, 64.0f);
    // The object stage consumed the mask.
    EXPECT_EQ(pipelineState().foregroundMask.get(13, 8), 0);

    // The background itself stays background.
    process(plainFrame(grey));
    EXPECT_EQ(pipelineState().objectRecords[0].size, 64.0f) << "no object: records kept";
}

TEST_F(driverTest, ObjectsAreRecordedLargestFirstAndTheLaterFoundWinsATie) {
    learnBackground(grey);
    const objectRecord olderFifth = pipelineState().objectRecords[4];
    testFrame frame = plainFrame(grey);
    paintCells(frame, 2, 2, 3, 3, red);     // 4 cells
    paintCells(frame, 8, 2, 11, 5, red);    // 16 cells
    paintCells(frame, 16, 10, 18, 12, red); // 9 cells, found first
    paintCells(frame, 24, 10, 26, 12, red); // 9 cells, further right
    processVisionFrame(frame.header);

    const objectRecord* records = pipelineState().objectRecords;
    struct expected {
        float size, x;
    } table[] = {{16, 19}, {9, 50}, {9, 34}, {4, 5}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(records[k].size, table[k].size) << "record " << k;
        EXPECT_FLOAT_EQ(records[k].x, table[k].x) << "record " << k;
    }
    EXPECT_EQ(records[4].size, olderFifth.size);
    EXPECT_EQ(records[4].x, olderFifth.x);
    EXPECT_EQ(pipelineState().componentList.count, 0);
}

TEST_F(driverTest, EveryProcessedFrameSendsOneMessageWithTheTargetAndEmotion) {
    learnBackground(grey);
    testFrame frame = plainFrame(grey);
    paintCells(frame, 20, 15, 25, 20, red); // centre (45, 35) in frame pixels
    pipelineState().dominantEmotion = 9;
    processVisionFrame(frame.header);

    const std::vector<std::string> texts = capture.texts();
    ASSERT_EQ(texts.size(), 6u);
    for (std::size_t n = 0; n < texts.size(); ++n)
        EXPECT_EQ(texts[n].substr(0, texts[n].find(' ')), std::to_string(n + 1));
    // The target is the object: the nearest record to the previous target.
    EXPECT_EQ(pipelineState().lastTarget.x, 45.0f);
    EXPECT_EQ(pipelineState().lastTarget.y, 35.0f);
    EXPECT_EQ(pipelineState().lastTarget.size, 36);
    const pipelineStateRecord& s = pipelineState();
    std::ostringstream expectedTail;
    expectedTail << ' ' << s.dominantEmotion << ' ' << s.emotionIntensity << " 0";
    EXPECT_TRUE(texts.back().ends_with(expectedTail.str())) << texts.back();
}

TEST_F(driverTest, RandomDrawsFollowTheFixedOrder) {
    // From the start state the first draw (0.0317) tries a change of target,
    // so the frame draws twice in target choice and once more for emotions.
    struct row {
        bool emotionsOn;
        int draws;
    } table[] = {{true, 3}, {false, 2}};
    for (const row& r : table) {
        startFresh();
        visionSettings.emotionsOn = r.emotionsOn;
        std::int32_t expected = 173542;
        for (int n = 0; n < r.draws; ++n)
            uniformRandom(expected);
        process(plainFrame(grey));
        EXPECT_EQ(pipelineState().randomState, expected) << "emotionsOn " << r.emotionsOn;
    }
}

TEST_F(driverTest, OversizedFramesTurnVisionOffAndAreLeftUntouched) {
    struct row {
        int width, height;
        const char* message; // nullptr: accepted
    } table[] = {
        {802, 600, "Size incompatibility, got 802x600, max 800x700"},
        {640, 703, "Size incompatibility, got 640x702, max 800x700"},
        {800, 702, "Size incompatibility, got 800x702, max 800x700"},
        {800, 700, nullptr},
        {801, 701, nullptr},
    };
    for (const row& r : table) {
        startFresh();
        boxes.clear();
        capture.recorder().clear();
        bool visionOnWhileBoxOpen = true;
        int nestedMessages = -1;
        setMessageBoxHandler([&](const std::string& text) {
            boxes.push_back(text);
            visionOnWhileBoxOpen = visionSettings.visionOn;
            // Frames processed while the box is open stop at the gate.
            testFrame nested(64, 48);
            processVisionFrame(nested.header);
            nestedMessages = static_cast<int>(capture.texts().size());
        });
        testFrame frame(r.width, r.height);
        frame.fill(30, 60, 90);
        const std::vector<std::uint8_t> captured = frame.pixels;
        processVisionFrame(frame.header);

        SCOPED_TRACE(std::to_string(r.width) + "x" + std::to_string(r.height));
        if (r.message) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0], r.message);
            EXPECT_FALSE(visionOnWhileBoxOpen);
            EXPECT_EQ(nestedMessages, 0);
            EXPECT_FALSE(visionSettings.visionOn);
            EXPECT_TRUE(frame.pixels == captured) << "frame displayed unprocessed";
            EXPECT_TRUE(capture.texts().empty());
            EXPECT_EQ(pipelineState().frameCounter, 1);
            // The next frames pass through unprocessed and silent.
            testFrame next(640, 480);
            const std::vector<std::uint8_t> before = next.pixels;
            processVisionFrame(next.header);
            EXPECT_TRUE(next.pixels == before);
            EXPECT_TRUE(capture.texts().empty());
        } else {
            EXPECT_TRUE(boxes.empty());
            EXPECT_TRUE(visionSettings.visionOn);
            EXPECT_EQ(capture.texts().size(), 1u);
            EXPECT_EQ(pipelineState().frameCounter, 2);
            EXPECT_EQ(pipelineState().gridWidth, 400);
            EXPECT_EQ(pipelineState().gridHeight, 350);
        }
    }
}

TEST_F(driverTest, ReinitialiseWaitsUntilVisionIsOnAgain) {
    learnBackground(grey);
    pixelModelGS& cell = pipelineState().modelGrid.cell(7, 7);
    ASSERT_EQ(cell.modeCount(), 1);

    visionSettings.visionOn = false;
    visionSettings.reinitialiseRequested = true;
    for (int n = 0; n < 3; ++n)
        process(plainFrame(grey));
    EXPECT_TRUE(visionSettings.reinitialiseRequested);
    EXPECT_EQ(cell.modeCount(), 1);
    EXPECT_EQ(pipelineState().frameCounter, 6);
    EXPECT_EQ(capture.texts().size(), 5u);

    visionSettings.visionOn = true;
    process(plainFrame(grey));
    EXPECT_FALSE(visionSettings.reinitialiseRequested);
    EXPECT_EQ(cell.modeCount(), 0);
    // Every visited cell is foreground again: one object over the whole area.
    EXPECT_EQ(pipelineState().objectRecords[0].size, 32.0f * 23.0f);
    EXPECT_EQ(pipelineState().frameCounter, 7);
}

TEST_F(driverTest, VisionOffLeavesTheFrameAndTheStateAlone) {
    learnBackground(grey);
    visionSettings.visionOn = false;
    const std::int32_t randomBefore = pipelineState().randomState;
    testFrame frame = plainFrame(grey);
    paintCells(frame, 10, 5, 17, 12, red);
    const std::vector<std::uint8_t> captured = frame.pixels;
    processVisionFrame(frame.header);
    EXPECT_TRUE(frame.pixels == captured);
    EXPECT_EQ(capture.texts().size(), 5u);
    EXPECT_EQ(pipelineState().randomState, randomBefore);
    EXPECT_EQ(pipelineState().objectRecords[0].size, 32.0f * 23.0f);
}

TEST_F(driverTest, CalibrationCrossAndMessageAlsoWhileVisionIsOff) {
    visionSettings.visionOn = false;
    visionSettings.calibrationStep = 2;
    testFrame frame(320, 240);
    processVisionFrame(frame.header);
    processVisionFrame(frame.header);
    const std::vector<std::string> texts = capture.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "1 -0.788111 0 0 0 2");
    EXPECT_EQ(texts[1], "2 -0.788111 0 0 0 2");
    EXPECT_EQ(frame.at(32, 50), (testFrame::rgb{255, 0, 0}));
    EXPECT_EQ(frame.at(100, 120), (testFrame::rgb{255, 0, 0}));
    EXPECT_EQ(pipelineState().frameCounter, 1);
}

} // namespace
