#include "toolkit/binaryImage.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/childProcess.h"
#include "toolkit/List.h"

namespace {

using pixel = std::pair<int, int>;
using pixels = std::vector<pixel>;

binaryImage maskWith(int w, int h, const pixels& set) {
    binaryImage mask(w, h, 0, 0);
    for (auto [x, y] : set)
        mask.set(x, y, 1);
    return mask;
}

pixels block(int x0, int y0, int x1, int y1) {
    pixels p;
    for (int x = x0; x <= x1; ++x)
        for (int y = y0; y <= y1; ++y)
            p.push_back({x, y});
    return p;
}

pixels pointsOf(const pointSet& s) {
    EXPECT_EQ(s.xs.size, s.ys.size);
    pixels p;
    for (int i = 0; i < s.xs.size; ++i)
        p.push_back({static_cast<int>(s.xs[i]), static_cast<int>(s.ys[i])});
    return p;
}

// Every component in the list, oldest first; the list is emptied.
std::vector<pixels> drain(List& list) {
    std::vector<pixels> result;
    for (const listNode* n = list.head->next; n != list.head; n = n->next)
        result.push_back(pointsOf(n->value));
    while (list.count != 0) {
        list.last();
        list.remove();
    }
    return result;
}

pixels setPixels(const binaryImage& mask) {
    pixels p;
    for (int x = 0; x < mask.width; ++x)
        for (int y = 0; y < mask.height; ++y)
            if (mask.get(x, y) != 0)
                p.push_back({x, y});
    return p;
}

TEST(binaryImageConstruction, AllocatesAndClearsBothBuffers) {
    const binaryImage mask(7, 5, 3, 4);
    EXPECT_EQ(mask.width, 7);
    EXPECT_EQ(mask.height, 5);
    EXPECT_EQ(mask.xOrigin, 3);
    EXPECT_EQ(mask.yOrigin, 4);
    EXPECT_EQ(mask.size, 35);
    ASSERT_NE(mask.data, nullptr);
    ASSERT_NE(mask.spare, nullptr);
    for (int i = 0; i < 35; ++i) {
        EXPECT_EQ(mask.data[i], 0);
        EXPECT_EQ(mask.spare[i], 0);
    }
}

TEST(binaryImageAccess, WholeLogicalImageIsAddressableNothingBeyond) {
    binaryImage mask(4, 3, 0, 0);
    const pixel inside[] = {{0, 0}, {3, 0}, {0, 2}, {3, 2}, {1, 1}};
    std::uint8_t v = 1;
    for (auto [x, y] : inside) {
        mask.set(x, y, v);
        EXPECT_EQ(mask.get(x, y), v);
        EXPECT_EQ(mask.data[y * 4 + x], v); // row-major, width bytes per row
        ++v;
    }
    const pixel outside[] = {{-1, 0}, {4, 0}, {0, 3}, {0, -1}, {-5, -5}, {100, 1}};
    for (auto [x, y] : outside) {
        mask.set(x, y, 9);
        EXPECT_EQ(mask.get(x, y), 0);
    }
    int nonZero = 0;
    for (int i = 0; i < mask.size; ++i)
        nonZero += mask.data[i] != 0;
    EXPECT_EQ(nonZero, 5);
}

TEST(binaryImageGeometry, ChangesLogicalSizeAndOriginWithoutTouchingPixels) {
    binaryImage mask(10, 10, 0, 0);
    mask.set(1, 1, 1); // byte 11
    mask.setGeometry(2, 3, 5, 4);
    EXPECT_EQ(mask.xOrigin, 2);
    EXPECT_EQ(mask.yOrigin, 3);
    EXPECT_EQ(mask.width, 5);
    EXPECT_EQ(mask.height, 4);
    EXPECT_EQ(mask.size, 100);
    // Byte 11 is now (1, 2) of a 5-wide image.
    EXPECT_EQ(mask.get(1, 2), 1);
    EXPECT_EQ(mask.get(5, 0), 0); // beyond the new width

    mask.setGeometry(7, 8, -1, 99);
    EXPECT_EQ(mask.xOrigin, 7);
    EXPECT_EQ(mask.yOrigin, 8);
    EXPECT_EQ(mask.width, 5);
    EXPECT_EQ(mask.height, 4);
}

TEST(binaryImageGeometry, SizeBeyondTheAllocationLeavesAnEmptyImage) {
    binaryImage mask(10, 10, 0, 0);
    const std::pair<int, int> refused[] = {{11, 10}, {10, 11}, {-2, 5}, {5, -1}, {2147483647, 2}};
    for (auto [w, h] : refused) {
        mask.setGeometry(0, 0, w, h);
        EXPECT_EQ(mask.width, 0) << w << "x" << h;
        EXPECT_EQ(mask.height, 0) << w << "x" << h;
        mask.set(5, 5, 1);
        EXPECT_EQ(mask.get(5, 5), 0);
    }
    mask.setGeometry(0, 0, 20, 5); // same byte count, other shape
    EXPECT_EQ(mask.width, 20);
    EXPECT_EQ(mask.height, 5);
}

TEST(binaryImageClear, ClearsTheWholeAllocationWhateverTheLogicalSize) {
    binaryImage mask(6, 6, 0, 0);
    for (int i = 0; i < mask.size; ++i) {
        mask.data[i] = 1;
        mask.spare[i] = 1;
    }
    mask.setGeometry(0, 0, 2, 2);
    mask.clear();
    for (int i = 0; i < mask.size; ++i) {
        EXPECT_EQ(mask.data[i], 0) << i;
        EXPECT_EQ(mask.spare[i], 0) << i;
    }
}

TEST(binaryImageCopy, AssignmentIsDeepAndSelfAssignmentHarmless) {
    binaryImage source = maskWith(5, 5, {{1, 1}, {4, 4}});
    binaryImage target(2, 2, 9, 9);
    target = source;
    EXPECT_EQ(target.size, 25);
    EXPECT_EQ(target.width, 5);
    EXPECT_EQ(target.xOrigin, 0);
    source.set(1, 1, 0);
    EXPECT_EQ(target.get(1, 1), 1);
    EXPECT_EQ(target.get(4, 4), 1);

    binaryImage& alias = target;
    target = alias;
    EXPECT_EQ(setPixels(target), (pixels{{1, 1}, {4, 4}}));

    const binaryImage copy(target);
    target.set(4, 4, 0);
    EXPECT_EQ(setPixels(copy), (pixels{{1, 1}, {4, 4}}));
}

struct componentCase {
    const char* name;
    int width, height;
    pixels set;
    int maxPoints;
    int step;
    std::vector<pixels> components;
    pixels remaining;
};

class binaryImageComponents : public ::testing::TestWithParam<componentCase> {};

TEST_P(binaryImageComponents, FindsComponentsInFillOrder) {
    const componentCase& c = GetParam();
    binaryImage mask = maskWith(c.width, c.height, c.set);
    List list;
    mask.findComponents(c.maxPoints, list, c.step);
    EXPECT_EQ(list.count, static_cast<int>(c.components.size()));
    EXPECT_EQ(drain(list), c.components);
    EXPECT_EQ(setPixels(mask), c.remaining);
}

const pixels block3 = block(1, 1, 3, 3);

INSTANTIATE_TEST_SUITE_P(
    Cases, binaryImageComponents,
    ::testing::Values(
        componentCase{"empty", 6, 6, {}, 20000, 2, {}, {}},
        componentCase{"singlePixel", 6, 6, {{1, 1}}, 20000, 2, {{{1, 1}}}, {}},
        componentCase{"offGridStepTwo", 6, 6, {{2, 2}}, 20000, 2, {}, {{2, 2}}},
        componentCase{"offGridStepOne", 6, 6, {{2, 2}}, 20000, 1, {{{2, 2}}}, {}},
        componentCase{"diagonalPair", 6, 6, {{1, 1}, {2, 2}}, 20000, 2, {{{1, 1}, {2, 2}}}, {}},
        componentCase{"block",
                      6,
                      6,
                      block3,
                      20000,
                      2,
                      {{{1, 1}, {1, 2}, {1, 3}, {2, 3}, {2, 2}, {2, 1}, {3, 2}, {3, 1}, {3, 3}}},
                      {}},
        componentCase{"blockCappedAtFour",
                      6,
                      6,
                      block3,
                      4,
                      2,
                      {{{1, 1}, {1, 2}, {1, 3}, {2, 3}}, {{3, 1}, {2, 1}, {2, 2}, {3, 3}}},
                      {{3, 2}}},
        componentCase{"blockCappedAtZero", 6, 6, block3, 0, 2, {{}, {}, {}, {}}, block3},
        // Reaches row 0 and the last column from seed (1, 1).
        componentCase{"reachesTheOuterRing",
                      6,
                      4,
                      {{1, 1}, {1, 0}, {2, 0}, {3, 1}, {4, 1}, {5, 1}},
                      20000,
                      2,
                      {{{1, 1}, {1, 0}, {2, 0}, {3, 1}, {4, 1}, {5, 1}}},
                      {}},
        // Pixels on the outer ring are never seeds.
        componentCase{"ringOnly", 5, 5, {{0, 0}, {4, 2}, {2, 4}}, 20000, 1, {}, {{0, 0}, {2, 4}, {4, 2}}},
        // Scan order: x outer, y inner.
        componentCase{"scanOrder",
                      8,
                      8,
                      {{5, 1}, {1, 5}, {3, 3}},
                      20000,
                      2,
                      {{{1, 5}}, {{3, 3}}, {{5, 1}}},
                      {}}),
    [](const ::testing::TestParamInfo<componentCase>& info) { return std::string(info.param.name); });

TEST(binaryImageComponentsList, EmptyMaskLeavesTheListUnchanged) {
    binaryImage mask(10, 10, 0, 0);
    List list;
    const float one[] = {42};
    list.append(pointSet(1, one, one));
    const listNode* before = list.current;
    mask.findComponents(20000, list, 2);
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list.current, before);
}

TEST(binaryImageComponentsList, AppendsAfterWhatIsAlreadyThere) {
    binaryImage mask = maskWith(6, 6, {{1, 1}});
    List list;
    const float one[] = {42};
    list.append(pointSet(1, one, one));
    mask.findComponents(20000, list, 2);
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list.head->next->value.xs[0], 42);
    EXPECT_EQ(pointsOf(list.head->prev->value), (pixels{{1, 1}}));
}

// The fill written the plain recursive way, as the order is defined.
void referenceCollect(binaryImage& m, int maxPoints, pixels& out, int x, int y) {
    if (static_cast<int>(out.size()) >= maxPoints)
        return;
    if (m.get(x, y) == 0)
        return;
    m.set(x, y, 0);
    out.push_back({x, y});
    const int dx[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
    const int dy[8] = {-1, 0, 1, -1, 1, 1, 0, -1};
    for (int k = 0; k < 8; ++k)
        referenceCollect(m, maxPoints, out, x + dx[k], y + dy[k]);
}

std::vector<pixels> referenceComponents(binaryImage m, int maxPoints, int step) {
    std::vector<pixels> result;
    for (int x = 1; x < m.width - 1; x += step)
        for (int y = 1; y < m.height - 1; y += step)
            if (m.get(x, y) != 0) {
                pixels p;
                referenceCollect(m, maxPoints, p, x, y);
                result.push_back(p);
            }
    return result;
}

TEST(binaryImageComponentsOrder, MatchesTheRecursiveFillOnRandomMasks) {
    std::mt19937 random(20261211);
    const int densities[] = {20, 45, 60, 80};
    const int caps[] = {0, 1, 3, 7, 40, 20000};
    for (int round = 0; round < 60; ++round) {
        const int w = 3 + static_cast<int>(random() % 30);
        const int h = 3 + static_cast<int>(random() % 25);
        const int density = densities[round % 4];
        binaryImage mask(w, h, 0, 0);
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y)
                if (static_cast<int>(random() % 100) < density)
                    mask.set(x, y, static_cast<std::uint8_t>(1 + random() % 255));
        const int maxPoints = caps[round % 6];
        const int step = 1 + round % 3;
        const std::vector<pixels> expected = referenceComponents(mask, maxPoints, step);
        List list;
        mask.findComponents(maxPoints, list, step);
        ASSERT_EQ(drain(list), expected) << "round " << round << " " << w << "x" << h;
    }
}

TEST(binaryImageComponentsLarge, FullBlockBeyondTheCapIsSplitWithoutCrashing) {
    // 200 x 120 = 24000 set pixels, more than the 20000 cap.
    binaryImage mask(200, 120, 0, 0);
    for (int x = 0; x < 200; ++x)
        for (int y = 0; y < 120; ++y)
            mask.set(x, y, 1);
    List list;
    mask.findComponents(20000, list, 2);
    const std::vector<pixels> components = drain(list);
    ASSERT_GE(components.size(), 2u);
    EXPECT_EQ(components[0].size(), 20000u);
    std::set<pixel> seen;
    for (const pixels& c : components) {
        EXPECT_LE(c.size(), 20000u);
        for (const pixel& p : c) {
            EXPECT_TRUE(seen.insert(p).second) << "reported twice";
            EXPECT_EQ(mask.get(p.first, p.second), 0);
        }
    }
    EXPECT_EQ(seen.size() + setPixels(mask).size(), 24000u);
}

TEST(binaryImageComponentsLarge, LongLineFillsToTheCapThenContinues) {
    // One row of 30000 pixels: the fill goes 20000 levels deep.
    binaryImage mask(30000, 3, 0, 0);
    for (int x = 0; x < 30000; ++x)
        mask.set(x, 1, 1);
    List list;
    mask.findComponents(20000, list, 2);
    const std::vector<pixels> components = drain(list);
    ASSERT_EQ(components.size(), 2u);
    ASSERT_EQ(components[0].size(), 20000u);
    EXPECT_EQ(components[0][0], (pixel{1, 1}));
    EXPECT_EQ(components[0][1], (pixel{0, 1}));
    EXPECT_EQ(components[0][2], (pixel{2, 1}));
    EXPECT_EQ(components[0][19999], (pixel{19999, 1}));
    ASSERT_EQ(components[1].size(), 10000u);
    EXPECT_EQ(components[1][0], (pixel{20001, 1}));
    EXPECT_EQ(components[1][1], (pixel{20000, 1}));
    EXPECT_EQ(components[1][9999], (pixel{29999, 1}));
    EXPECT_TRUE(setPixels(mask).empty());
}

TEST(binaryImageComponentsLarge, CollectComponentAloneRunsDeep) {
    binaryImage mask(100, 300, 0, 0);
    for (int x = 0; x < 100; ++x)
        for (int y = 0; y < 300; ++y)
            mask.set(x, y, 1);
    std::vector<binaryImage::point> buffer(25000);
    std::int32_t n = 0;
    mask.collectComponent(25000, n, buffer.data(), 50, 150);
    EXPECT_EQ(n, 25000);
    EXPECT_EQ(buffer[0].x, 50);
    EXPECT_EQ(buffer[0].y, 150);
    // A second fill continues into the same buffer after n.
    mask.collectComponent(30000, n, buffer.data(), 0, 0); // (0, 0) may already be cleared
    EXPECT_LE(n, 30000);
}

// A frame of w x h 4-byte pixels preset to 0x77.
struct frame {
    std::vector<std::uint8_t> pixels;
    QMXrgbImage image;
    frame(int w, int h) : pixels(static_cast<std::size_t>(w) * h * 4, 0x77) {
        image = makeFrameHeader(pixels.data(), w, h);
    }
    const std::uint8_t* at(int x, int y) const {
        return &pixels[(static_cast<std::size_t>(y) * image.width + x) * 4];
    }
};

TEST(binaryImageDraw, FullMaskIntoTheTopLeftQuarterOfADoubleSizeFrame) {
    binaryImage mask(400, 350, 0, 0);
    for (int x = 0; x < 400; ++x)
        for (int y = 0; y < 350; ++y)
            mask.set(x, y, static_cast<std::uint8_t>((x + y) % 2));
    frame f(800, 700);
    mask.drawInto(f.image);
    for (int y = 0; y < 700; ++y) {
        for (int x = 0; x < 800; ++x) {
            const std::uint8_t* p = f.at(x, y);
            const bool painted = x >= 1 && x < 400 && y >= 1 && y < 350;
            const std::uint8_t grey = painted ? ((x + y) % 2 ? 255 : 0) : 0x77;
            ASSERT_EQ(p[0], grey) << x << "," << y;
            ASSERT_EQ(p[1], grey) << x << "," << y;
            ASSERT_EQ(p[2], grey) << x << "," << y;
            ASSERT_EQ(p[3], 0x77) << x << "," << y;
        }
    }
}

TEST(binaryImageDraw, ValuesTimes255ModuloAndOrigin) {
    binaryImage mask(4, 2, 5, 7);
    const std::uint8_t values[] = {0, 1, 2, 3, 128, 255, 254, 7};
    for (int i = 0; i < 8; ++i)
        mask.set(i % 4, i / 4, values[i]);
    frame f(20, 20);
    mask.drawInto(f.image);
    for (int i = 0; i < 8; ++i) {
        const std::uint8_t expected = static_cast<std::uint8_t>((values[i] * 255) % 256);
        EXPECT_EQ(f.at(5 + i % 4, 7 + i / 4)[2], expected) << int(values[i]);
    }
    EXPECT_EQ(f.at(5 + 2, 7)[0], 254); // value 2 paints 254
    EXPECT_EQ(f.at(4, 7)[0], 0x77);
    EXPECT_EQ(f.at(9, 7)[0], 0x77);
    EXPECT_EQ(f.at(5, 9)[0], 0x77);
}

// Caps the child's address space a little above what it uses already, so a
// large allocation fails for real.
void limitAddressSpace(long long extraBytes) {
    std::ifstream statm("/proc/self/statm");
    long long pages = 0;
    statm >> pages;
    const long long current = pages * 4096;
    rlimit limit{};
    limit.rlim_cur = static_cast<rlim_t>(current + extraBytes);
    limit.rlim_max = static_cast<rlim_t>(current + extraBytes);
    setrlimit(RLIMIT_AS, &limit);
}

TEST(binaryImageFailure, DataAllocationFailureOnTheErrorStream) {
    const auto result = testSupport::runInChild([] {
        limitAddressSpace(64LL << 20);
        binaryImage mask(40000, 40000, 0, 0);
        std::printf("allocated %d\n", mask.size);
    });
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_EQ(result.err, "cant allocate memory for binary image\n");
    EXPECT_EQ(result.out, "");
}

TEST(binaryImageFailure, SpareAllocationFailureOnTheErrorStream) {
    const auto result = testSupport::runInChild([] {
        // Room for the first 300 MB buffer, not for the second.
        limitAddressSpace(400LL << 20);
        binaryImage mask(20000, 15000, 0, 0);
        std::printf("allocated %d\n", mask.size);
    });
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_EQ(result.err, "cant allocate memory for (spare) binary image\n");
    EXPECT_EQ(result.out, "");
}

TEST(binaryImageFailure, NegativeSizeIsAnAllocationFailure) {
    const auto result = testSupport::runInChild([] { binaryImage mask(-4, 10, 0, 0); });
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_EQ(result.err, "cant allocate memory for binary image\n");
}

TEST(binaryImageFailure, PointBufferFailureOnStandardOutput) {
    const auto result = testSupport::runInChild([] {
        binaryImage mask(10, 10, 0, 0);
        List list;
        limitAddressSpace(64LL << 20);
        mask.findComponents(2000000000, list, 2);
        std::printf("returned\n");
    });
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_EQ(result.out, "cant allocate that much tempory memory\n");
    EXPECT_EQ(result.err, "");
}

TEST(binaryImageComponentsStep, StepBelowOneIsTakenAsOne) {
    for (int step : {0, -3}) {
        binaryImage mask = maskWith(6, 6, {{2, 2}});
        List list;
        mask.findComponents(20000, list, step);
        EXPECT_EQ(drain(list), (std::vector<pixels>{{{2, 2}}})) << step;
    }
}

} // namespace
