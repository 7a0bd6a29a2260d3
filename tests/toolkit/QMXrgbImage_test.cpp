#include "toolkit/QMXrgbImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "tests/support/childProcess.h"

namespace {

constexpr std::uint8_t fill = 0xAA;

// A 4-byte frame of w x h pixels, every byte preset, with its header.
struct frame {
    std::vector<std::uint8_t> pixels;
    QMXrgbImage image;
    frame(int w, int h) : pixels(static_cast<std::size_t>(w) * h * 4, fill) {
        image = makeFrameHeader(pixels.data(), w, h);
    }
    // Pixels (x, y) any of whose four bytes differs from the preset.
    std::set<std::pair<int, int>> changed() const {
        std::set<std::pair<int, int>> result;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                for (int c = 0; c < 4; ++c)
                    if (pixels[(static_cast<std::size_t>(y) * image.width + x) * 4 + c] != fill)
                        result.insert({x, y});
        return result;
    }
    const std::uint8_t* at(int x, int y) const {
        return &pixels[(static_cast<std::size_t>(y) * image.width + x) * 4];
    }
};

TEST(QMXrgbImageHeader, FrameHeaderDescribesPackedFourBytePixels) {
    std::uint8_t byte = 0;
    const QMXrgbImage h = makeFrameHeader(&byte, 640, 480);
    EXPECT_EQ(h.data, &byte);
    EXPECT_EQ(h.width, 640);
    EXPECT_EQ(h.height, 480);
    EXPECT_EQ(h.scaleX, 1.0f);
    EXPECT_EQ(h.scaleY, 1.0f);
    EXPECT_EQ(h.scaleZ, 1.0f);
    EXPECT_EQ(h.rowOffset, 0);
    EXPECT_EQ(h.rowStep, 1);
    EXPECT_EQ(h.memoryFormat, 4);
}

TEST(QMXrgbImagePixels, ReadsRedGreenBlueFromBytesTwoOneZero) {
    frame f(8, 6);
    std::uint8_t* p = &f.pixels[(3 * 8 + 2) * 4];
    p[0] = 10; // blue
    p[1] = 20; // green
    p[2] = 200; // red
    int r = -1, g = -1, b = -1;
    f.image.getPixel(2, 3, r, g, b);
    EXPECT_EQ(r, 200);
    EXPECT_EQ(g, 20);
    EXPECT_EQ(b, 10);
}

TEST(QMXrgbImagePixels, BorderRingAndBeyondReadBlack) {
    frame f(8, 6);
    const std::pair<int, int> outside[] = {{0, 3},  {7, 3},  {3, 0},  {3, 5},  {-1, 3},
                                           {3, -1}, {8, 3},  {3, 6},  {-5, -5}, {1000, 1000}};
    for (auto [x, y] : outside) {
        int r = -1, g = -1, b = -1;
        f.image.getPixel(x, y, r, g, b);
        EXPECT_EQ(r, 0) << x << "," << y;
        EXPECT_EQ(g, 0) << x << "," << y;
        EXPECT_EQ(b, 0) << x << "," << y;
    }
    // The first interior pixel is read normally.
    int r = 0, g = 0, b = 0;
    f.image.getPixel(1, 1, r, g, b);
    EXPECT_EQ(r, fill);
}

TEST(QMXrgbImagePixels, BorderRingAndBeyondAreNeverWritten) {
    frame f(8, 6);
    const std::pair<int, int> outside[] = {{0, 0}, {0, 3}, {7, 3}, {3, 0}, {3, 5}, {7, 5}, {-1, 2}, {8, 2}, {2, 6}};
    for (auto [x, y] : outside)
        f.image.setPixel(x, y, 1, 2, 3);
    EXPECT_TRUE(f.changed().empty());
    // Interior corners are writable.
    f.image.setPixel(1, 1, 1, 2, 3);
    f.image.setPixel(6, 4, 1, 2, 3);
    EXPECT_EQ(f.changed(), (std::set<std::pair<int, int>>{{1, 1}, {6, 4}}));
}

TEST(QMXrgbImagePixels, StoresLowEightBitsAndKeepsFourthByte) {
    frame f(5, 5);
    f.image.setPixel(2, 2, 300, -1, 0);
    const std::uint8_t* p = f.at(2, 2);
    EXPECT_EQ(p[0], 0);   // blue
    EXPECT_EQ(p[1], 255); // green
    EXPECT_EQ(p[2], 44);  // red
    EXPECT_EQ(p[3], fill);
    int r = 0, g = 0, b = 0;
    f.image.getPixel(2, 2, r, g, b);
    EXPECT_EQ(r, 44);
    EXPECT_EQ(g, 255);
    EXPECT_EQ(b, 0);
}

TEST(QMXrgbImagePixels, ThreeBytePixelsFollowEachOtherThreeBytesApart) {
    std::vector<std::uint8_t> bytes(6 * 5 * 3, 0);
    QMXrgbImage image{bytes.data(), 6, 5, 1.0f, 1.0f, 1.0f, 0, 1, 3};
    image.setPixel(2, 1, 1, 2, 3);
    image.setPixel(3, 1, 4, 5, 6);
    const std::size_t first = 3 * (6 * 1 + 2);
    EXPECT_EQ(bytes[first + 0], 3);
    EXPECT_EQ(bytes[first + 1], 2);
    EXPECT_EQ(bytes[first + 2], 1);
    EXPECT_EQ(bytes[first + 3], 6);
    EXPECT_EQ(bytes[first + 4], 5);
    EXPECT_EQ(bytes[first + 5], 4);
    int count = 0;
    for (std::uint8_t v : bytes)
        count += v != 0;
    EXPECT_EQ(count, 6);
}

TEST(QMXrgbImagePixels, OffsetUsesRowOffsetAndRowStep) {
    // Logical row y lives in buffer row rowOffset + rowStep * y.
    std::vector<std::uint8_t> bytes(5 * 8 * 3, 0);
    QMXrgbImage image{bytes.data(), 5, 8, 1.0f, 1.0f, 1.0f, 1, 2, 3};
    image.setPixel(2, 2, 9, 8, 7);
    const std::size_t offset = 3 * (5 * (1 + 2 * 2) + 2);
    EXPECT_EQ(bytes[offset + 0], 7);
    EXPECT_EQ(bytes[offset + 1], 8);
    EXPECT_EQ(bytes[offset + 2], 9);
    int r = 0, g = 0, b = 0;
    image.getPixel(2, 2, r, g, b);
    EXPECT_EQ(r, 9);
    EXPECT_EQ(g, 8);
    EXPECT_EQ(b, 7);
}

TEST(QMXrgbImageFormat, UndefinedFormatIsHarmlessOutsideTheInterior) {
    std::vector<std::uint8_t> bytes(4 * 4 * 5, 0x55);
    QMXrgbImage image{bytes.data(), 4, 4, 1.0f, 1.0f, 1.0f, 0, 1, 5};
    int r = -1, g = -1, b = -1;
    image.getPixel(0, 0, r, g, b);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(b, 0);
    image.setPixel(3, 1, 1, 1, 1);
    image.drawLine(0, 0, 0, 3, 1, 1, 1); // only column 0
    for (std::uint8_t v : bytes)
        EXPECT_EQ(v, 0x55);
}

TEST(QMXrgbImageFormat, UndefinedFormatOnInteriorReadIsFatal) {
    const auto result = testSupport::runInChild([] {
        std::vector<std::uint8_t> bytes(3 * 3 * 5, 0);
        QMXrgbImage image{bytes.data(), 3, 3, 1.0f, 1.0f, 1.0f, 0, 1, 5};
        int r, g, b;
        image.getPixel(1, 1, r, g, b);
        std::printf("continued\n");
    });
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_EQ(result.err, "QMXrgbImage: Undefined memory format\n");
    EXPECT_EQ(result.out, "");
}

void writeInteriorWithFormatTwo() {
    std::vector<std::uint8_t> bytes(3 * 3 * 2, 0);
    QMXrgbImage image{bytes.data(), 3, 3, 1.0f, 1.0f, 1.0f, 0, 1, 2};
    image.setPixel(1, 1, 1, 1, 1);
}

TEST(QMXrgbImageFormat, UndefinedFormatOnInteriorWriteIsFatal) {
    EXPECT_EXIT(writeInteriorWithFormatTwo(), ::testing::ExitedWithCode(1),
                "^QMXrgbImage: Undefined memory format\n$");
}

struct lineCase {
    const char* name;
    int x0, y0, x1, y1;
    std::vector<std::pair<int, int>> written;
};

class QMXrgbImageLine : public ::testing::TestWithParam<lineCase> {};

TEST_P(QMXrgbImageLine, WritesExactlyTheInteriorSamples) {
    const lineCase& c = GetParam();
    frame f(64, 120);
    f.image.drawLine(c.x0, c.y0, c.x1, c.y1, 1, 2, 3);
    const std::set<std::pair<int, int>> expected(c.written.begin(), c.written.end());
    EXPECT_EQ(f.changed(), expected);
    for (auto [x, y] : expected) {
        const std::uint8_t* p = f.at(x, y);
        EXPECT_EQ(p[0], 3);
        EXPECT_EQ(p[1], 2);
        EXPECT_EQ(p[2], 1);
        EXPECT_EQ(p[3], fill); // the fourth byte is never touched
    }
}

std::vector<std::pair<int, int>> row(int y, int fromX, int toX) {
    std::vector<std::pair<int, int>> v;
    for (int x = fromX; x <= toX; ++x)
        v.push_back({x, y});
    return v;
}

std::vector<std::pair<int, int>> diagonal(int from, int to) {
    std::vector<std::pair<int, int>> v;
    for (int i = from; i <= to; ++i)
        v.push_back({i, i});
    return v;
}

std::vector<std::pair<int, int>> column(int x, int fromY, int toY) {
    std::vector<std::pair<int, int>> v;
    for (int y = fromY; y <= toY; ++y)
        v.push_back({x, y});
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Samples, QMXrgbImageLine,
    ::testing::Values(
        // Length 5, steps (0.6, 0.8): samples (0,0) (0,0) (1,1) (1,2) (2,3); the
        // first two are on the border, the end point is not drawn.
        lineCase{"slanted", 0, 0, 3, 4, {{1, 1}, {1, 2}, {2, 3}}},
        // Length 14.14 gives 14 samples, (2,2) to (11,11); (12,12) is not drawn.
        lineCase{"diagonal", 2, 2, 12, 12, diagonal(2, 11)},
        lineCase{"horizontal", 10, 20, 20, 20, row(20, 10, 19)},
        // Nine samples with x stepping by the float nearest 1/3; summed in
        // single precision x reaches only 2.9999998 at the seventh sample, so
        // it lands on (2, 7) where exact arithmetic would give (3, 7).
        lineCase{"singlePrecisionPosition",
                 1, 1, 4, 10,
                 {{1, 1}, {1, 2}, {1, 3}, {2, 4}, {2, 5}, {2, 6}, {2, 7}, {3, 8}, {3, 9}}},
        lineCase{"backwards", 20, 20, 10, 20, row(20, 11, 20)},
        lineCase{"vertical", 5, 10, 5, 15, column(5, 10, 14)},
        lineCase{"point", 10, 10, 10, 10, {}},
        lineCase{"borderColumn", 0, 10, 0, 100, {}},
        lineCase{"clippedBothSides", -50, 10, 50, 10, row(10, 1, 49)},
        lineCase{"leavesTheImage", 60, 30, 70, 30, row(30, 60, 62)},
        lineCase{"entirelyOutside", -100, -100, -10, -100, {}}),
    [](const ::testing::TestParamInfo<lineCase>& info) { return std::string(info.param.name); });

TEST(QMXrgbImageLineEnds, HugeCoordinatesDoNotReachTheImage) {
    // Positions far outside the int range of a sample are skipped, not
    // truncated into the image.
    frame f(16, 16);
    f.image.drawLine(2147483000, 5, 2147483647, 5, 1, 2, 3);
    f.image.drawLine(-2147483647, 5, -2147483000, 5, 1, 2, 3);
    EXPECT_TRUE(f.changed().empty());
}

} // namespace
