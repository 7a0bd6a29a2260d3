// findObjects on masks written directly.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "pipeline/objects.h"
#include "pipeline/pipeline.h"
#include "pipelineTestSupport.h"

namespace {

struct cellBlock {
    int x0, y0, x1, y1; // inclusive mask coordinates
    int size() const { return (x1 - x0 + 1) * (y1 - y0 + 1); }
};

class objectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        startFresh();
        mask().setGeometry(0, 0, 100, 80);
    }
    static binaryImage& mask() { return pipelineState().foregroundMask; }
    static void paint(const cellBlock& block) {
        for (int y = block.y0; y <= block.y1; ++y)
            for (int x = block.x0; x <= block.x1; ++x)
                mask().set(x, y, 1);
    }
    static objectRecord* records() { return pipelineState().objectRecords; }
};

TEST_F(objectsTest, RecordsFollowDecreasingSizeAndKeepOlderContentsBeyond) {
    const objectRecord marker{1, 2, 3, 4, 5};
    records()[3] = marker;
    records()[4] = marker;
    // 50, 300 and 120 pixels.
    paint({1, 1, 10, 5});   // 50
    paint({20, 1, 39, 15}); // 300
    paint({50, 1, 61, 10}); // 120
    findObjects();
    EXPECT_EQ(records()[0].size, 300.0f);
    EXPECT_EQ(records()[1].size, 120.0f);
    EXPECT_EQ(records()[2].size, 50.0f);
    for (int k = 3; k < 5; ++k) {
        EXPECT_EQ(records()[k].x, marker.x);
        EXPECT_EQ(records()[k].size, marker.size);
    }
    EXPECT_EQ(pipelineState().componentList.count, 0);
}

TEST_F(objectsTest, EqualSizesGoToTheComponentFoundLater) {
    struct row {
        const char* what;
        cellBlock first, later; // "first" is met first by the seed scan
    } table[] = {
        {"further right", {1, 1, 8, 10}, {41, 1, 48, 10}},
        {"same seed column, further down", {11, 1, 18, 10}, {11, 41, 18, 50}},
    };
    for (const row& r : table) {
        startFresh();
        mask().setGeometry(0, 0, 100, 80);
        paint(r.first);
        paint(r.later);
        findObjects();
        SCOPED_TRACE(r.what);
        const float laterX = static_cast<float>(r.later.x0 + r.later.x1); // 2 x mean
        const float laterY = static_cast<float>(r.later.y0 + r.later.y1);
        EXPECT_EQ(records()[0].size, 80.0f);
        EXPECT_EQ(records()[0].x, laterX);
        EXPECT_EQ(records()[0].y, laterY);
        EXPECT_EQ(records()[1].x, static_cast<float>(r.first.x0 + r.first.x1));
    }
}

TEST_F(objectsTest, SevenComponentsKeepTheFiveLargest) {
    const int sizes[] = {3, 7, 1, 6, 4, 5, 2}; // heights of 1-wide columns
    for (int c = 0; c < 7; ++c)
        paint({1 + 4 * c, 1, 1 + 4 * c, sizes[c]});
    findObjects();
    const float expected[] = {7, 6, 5, 4, 3};
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(records()[k].size, expected[k]) << "record " << k;
    EXPECT_EQ(pipelineState().componentList.count, 0);
    for (int x = 0; x < 100; ++x)
        for (int y = 0; y < 80; ++y)
            ASSERT_EQ(mask().get(x, y), 0) << x << "," << y;
}

TEST_F(objectsTest, EmptyMaskLeavesAllRecords) {
    for (int k = 0; k < 5; ++k)
        records()[k] = {float(k), 1, 2, 3, float(10 * k)};
    findObjects();
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(records()[k].x, float(k));
        EXPECT_EQ(records()[k].size, float(10 * k));
    }
}

TEST_F(objectsTest, RecordGeometryIsInFramePixels) {
    // Mask columns 10..13, rows 20..21.
    paint({10, 20, 13, 21});
    findObjects();
    const objectRecord& r = records()[0];
    EXPECT_EQ(r.x, 23.0f);
    EXPECT_EQ(r.y, 41.0f);
    EXPECT_EQ(r.halfWidth, 6.0f);
    EXPECT_EQ(r.halfHeight, 3.0f);
    EXPECT_EQ(r.size, 8.0f);
}

TEST_F(objectsTest, RegionBeyondTheComponentCapFillsSeveralRecords) {
    mask().setGeometry(0, 0, 400, 350);
    paint({1, 1, 200, 149}); // 29800 pixels
    findObjects();
    EXPECT_EQ(records()[0].size, 20000.0f);
    float total = 0;
    for (int k = 0; k < 5; ++k) {
        EXPECT_LE(records()[k].size, 20000.0f);
        total += records()[k].size;
    }
    EXPECT_GT(records()[1].size, 0.0f) << "the rest comes out as further components";
    EXPECT_LE(total, 29800.0f);
    EXPECT_EQ(pipelineState().componentList.count, 0);
}

} // namespace
