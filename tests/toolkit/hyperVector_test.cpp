#include "toolkit/hyperVector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "tests/support/childProcess.h"

namespace {

std::vector<float> elements(const hyperVector& v) {
    return std::vector<float>(v.data.get(), v.data.get() + v.size);
}

TEST(hyperVectorConstruction, ZerosWithoutSourceCopiesWithSource) {
    const hyperVector zeros(4);
    EXPECT_EQ(zeros.size, 4);
    EXPECT_EQ(elements(zeros), (std::vector<float>{0, 0, 0, 0}));

    const float source[] = {1.5f, -2.0f, 7.25f, 99.0f};
    const hyperVector copied(3, source);
    EXPECT_EQ(copied.size, 3);
    EXPECT_EQ(elements(copied), (std::vector<float>{1.5f, -2.0f, 7.25f}));
}

TEST(hyperVectorAccess, ValidIndicesReadAndWrite) {
    hyperVector v(3);
    v[0] = 1.0f;
    v[2] = 3.0f;
    EXPECT_EQ(elements(v), (std::vector<float>{1.0f, 0.0f, 3.0f}));
    const hyperVector& cv = v;
    EXPECT_EQ(cv[2], 3.0f);
}

class hyperVectorBadIndex : public ::testing::TestWithParam<int> {};

TEST_P(hyperVectorBadIndex, EndsTheProgramWithTheRangeMessage) {
    const int index = GetParam();
    const auto result = testSupport::runInChild([index] {
        hyperVector v(3);
        v[index] = 1.0f;
        std::printf("continued\n");
    });
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_EQ(result.err, "error  :  hyperVector::operator[] access out of range\n");
    EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(Indices, hyperVectorBadIndex, ::testing::Values(3, -1, 4, -2147483647 - 1));

TEST(hyperVectorAccess, ConstAccessIsCheckedToo) {
    EXPECT_EXIT(
        {
            const hyperVector v(2);
            volatile float x = v[2];
            (void)x;
        },
        ::testing::ExitedWithCode(1), "^error  :  hyperVector::operator\\[\\] access out of range\n$");
}

TEST(hyperVectorAccess, EmptyVectorHasNoValidIndex) {
    EXPECT_EXIT(
        {
            hyperVector v(0);
            v[0] = 1.0f;
        },
        ::testing::ExitedWithCode(1), "access out of range");
}

TEST(hyperVectorAssignment, SelfAssignmentChangesNothing) {
    const float source[] = {1, 2, 3};
    hyperVector v(3, source);
    const float* storage = v.data.get();
    hyperVector& alias = v;
    v = alias;
    EXPECT_EQ(v.size, 3);
    EXPECT_EQ(v.data.get(), storage);
    EXPECT_EQ(elements(v), (std::vector<float>{1, 2, 3}));
}

TEST(hyperVectorAssignment, TakesTheSourceSizeAndElements) {
    const float five[] = {5, 4, 3, 2, 1};
    const hyperVector source(5, five);
    hyperVector target(3);
    target = source;
    EXPECT_EQ(target.size, 5);
    EXPECT_EQ(elements(target), elements(source));
    EXPECT_NE(target.data.get(), source.data.get());

    // Shrinking works the same way.
    const float one[] = {42};
    target = hyperVector(1, one);
    EXPECT_EQ(target.size, 1);
    EXPECT_EQ(elements(target), (std::vector<float>{42}));
}

TEST(hyperVectorAssignment, EqualSizesReuseTheStorage) {
    const float values[] = {7, 8};
    const hyperVector source(2, values);
    hyperVector target(2);
    const float* storage = target.data.get();
    target = source;
    EXPECT_EQ(target.data.get(), storage);
    EXPECT_EQ(elements(target), (std::vector<float>{7, 8}));
}

TEST(hyperVectorAssignment, CopiesAreIndependent) {
    const float values[] = {1, 2};
    hyperVector source(2, values);
    hyperVector copy(source);
    hyperVector assigned(2);
    assigned = source;
    source[0] = 100;
    EXPECT_EQ(copy[0], 1);
    EXPECT_EQ(assigned[0], 1);
}

TEST(hyperVectorAssignment, MovingLeavesTheSourceEmpty) {
    const float values[] = {1, 2, 3};
    hyperVector source(3, values);
    hyperVector moved(std::move(source));
    EXPECT_EQ(moved.size, 3);
    EXPECT_EQ(elements(moved), (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(source.size, 0); // NOLINT: checking the moved-from state on purpose
    hyperVector target(1);
    target = std::move(moved);
    EXPECT_EQ(target.size, 3);
    EXPECT_EQ(moved.size, 0); // NOLINT
}

TEST(hyperVectorSums, SumOfSquares) {
    const float threeFour[] = {3, 4};
    EXPECT_EQ(hyperVector(2, threeFour).sumOfSquares(), 25.0);
    EXPECT_EQ(hyperVector(0).sumOfSquares(), 0.0);
    // Summed in double precision: 0.1f squared is not the float product.
    const float tenth[] = {0.1f};
    EXPECT_EQ(hyperVector(1, tenth).sumOfSquares(), static_cast<double>(0.1f) * static_cast<double>(0.1f));
}

pointSet makeSet(const std::vector<float>& xs, const std::vector<float>& ys) {
    return pointSet(static_cast<std::int32_t>(xs.size()), xs.data(), ys.data());
}

struct statsCase {
    std::vector<float> values;
    double mean;
    double spread;
};

class pointSetStatistics : public ::testing::TestWithParam<statsCase> {};

TEST_P(pointSetStatistics, MeanAndMeanAbsoluteDeviationOnBothAxes) {
    const statsCase& c = GetParam();
    std::vector<float> shifted;
    for (float v : c.values)
        shifted.push_back(v + 10.0f);
    const pointSet s = makeSet(c.values, shifted);
    EXPECT_DOUBLE_EQ(s.meanX(), c.mean);
    EXPECT_DOUBLE_EQ(s.spreadX(), c.spread);
    EXPECT_DOUBLE_EQ(s.meanY(), c.mean + 10.0);
    EXPECT_DOUBLE_EQ(s.spreadY(), c.spread);
}

INSTANTIATE_TEST_SUITE_P(Cases, pointSetStatistics,
                         ::testing::Values(statsCase{{1, 2, 3, 6}, 3.0, 1.5}, statsCase{{5}, 5.0, 0.0},
                                           statsCase{{0, 0, 10}, 10.0 / 3.0, (10.0 / 3 + 10.0 / 3 + 20.0 / 3) / 3},
                                           statsCase{{-4, 4}, 0.0, 4.0}));

TEST(pointSetStatistics, EmptySetGivesNotANumber) {
    const pointSet s(0);
    EXPECT_TRUE(std::isnan(s.meanX()));
    EXPECT_TRUE(std::isnan(s.spreadY()));
}

TEST(pointSetConstruction, DefaultHoldsTwoThreeElementZeroVectors) {
    const pointSet s;
    EXPECT_EQ(elements(s.xs), (std::vector<float>{0, 0, 0}));
    EXPECT_EQ(elements(s.ys), (std::vector<float>{0, 0, 0}));
    const pointSet sized(5);
    EXPECT_EQ(sized.xs.size, 5);
    EXPECT_EQ(sized.ys.size, 5);
}

TEST(pointSetCopy, CopyOfSevenPointsIsDeep) {
    const std::vector<float> xs = {1, 2, 3, 4, 5, 6, 7};
    const std::vector<float> ys = {7, 6, 5, 4, 3, 2, 1};
    pointSet source = makeSet(xs, ys);
    const pointSet copy(source);
    pointSet assigned;
    assigned = source;
    source.xs[0] = 100;
    source.ys[6] = 100;
    for (const pointSet* s : {static_cast<const pointSet*>(&copy), static_cast<const pointSet*>(&assigned)}) {
        EXPECT_EQ(s->xs.size, 7);
        EXPECT_EQ(s->ys.size, 7);
        EXPECT_EQ(elements(s->xs), xs);
        EXPECT_EQ(elements(s->ys), ys);
    }
}

TEST(pointSetCopy, SelfAssignmentKeepsThePoints) {
    pointSet s = makeSet({1, 2}, {3, 4});
    pointSet& alias = s;
    s = alias;
    EXPECT_EQ(elements(s.xs), (std::vector<float>{1, 2}));
    EXPECT_EQ(elements(s.ys), (std::vector<float>{3, 4}));
}

} // namespace
