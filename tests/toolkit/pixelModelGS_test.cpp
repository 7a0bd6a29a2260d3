#include "toolkit/pixelModelGS.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// A plain model written straight from the rules, one std::vector per array,
// no layout tricks: the optimised model must agree with it bit for bit.
struct referenceModel {
    int D, K;
    int modeCount = 0, backgroundModes = 0, matchedPosition = -1;
    std::uint32_t learnCount = 0;
    int updateCount = 0, learning = 1, lastShadow = 0;
    float backgroundWeight, minBrightness, rate, minRate, matchDeviations, initialDeviation, newDeviation;
    std::vector<float> weight, mean, deviation, ratio, sample;
    std::vector<int> order;
    std::vector<std::uint32_t> matchCount;
    // What a run went through, so a run can show it covered the rules.
    int replacements = 0, renormalisations = 0, phaseEnds = 0;

    referenceModel(int d, int k, float lambda, float alpha, float bgWeight, float initDev, float minBright)
        : D(d), K(k), backgroundWeight(bgWeight), minBrightness(minBright), rate(alpha), minRate(alpha),
          matchDeviations(lambda), initialDeviation(initDev), newDeviation(initDev), weight(k), mean(k * d),
          deviation(k), ratio(k), sample(d), order(k), matchCount(k) {
        for (int i = 0; i < k; ++i)
            order[i] = i;
    }

    int isShadow() const {
        for (int r = 0; r < backgroundModes; ++r) {
            int k = order[r];
            double mm = 0, sm = 0, ss = 0;
            for (int j = 0; j < D; ++j) {
                mm += double(mean[k * D + j]) * double(mean[k * D + j]);
                sm += double(sample[j]) * double(mean[k * D + j]);
                ss += double(sample[j]) * double(sample[j]);
            }
            float m = float(std::sqrt(mm));
            float a = float(sm / double(m));
            double c2 = ss - double(a) * double(a);
            double q = double(a) / double(m);
            double t = double(matchDeviations) * double(deviation[k]);
            if (c2 < t * t && double(minBrightness) < q && q < 1.0)
                return 1;
        }
        return 0;
    }

    float probability(const float* s) {
        lastShadow = 0;
        for (int j = 0; j < D; ++j)
            sample[j] = s[j];
        for (int r = 0; r < modeCount; ++r) {
            int k = order[r];
            double d2 = 0;
            for (int j = 0; j < D; ++j) {
                double d = double(sample[j]) - double(mean[k * D + j]);
                d2 += d * d;
            }
            double t = double(matchDeviations) * double(deviation[k]);
            if (d2 < t * t) {
                matchedPosition = r;
                if (r < backgroundModes)
                    return 1.0f;
                lastShadow = isShadow();
                return lastShadow ? 0.8f : 0.5f;
            }
        }
        matchedPosition = -1;
        lastShadow = isShadow();
        return lastShadow ? 0.8f : 0.0f;
    }

    void recount() {
        if (backgroundWeight > 0 && modeCount > 0) {
            double sum = 0;
            for (int b = 1; b <= modeCount; ++b) {
                sum += weight[order[b - 1]];
                if (sum >= backgroundWeight) {
                    backgroundModes = b;
                    return;
                }
            }
            backgroundModes = modeCount;
        } else {
            backgroundModes = 0;
        }
    }

    void rise(int i) {
        while (i > 0 && ratio[order[i]] > ratio[order[i - 1]]) {
            std::swap(order[i], order[i - 1]);
            --i;
        }
    }

    void addMode() {
        if (modeCount == 0) {
            for (int r = 0; r < K; ++r)
                if (order[r] == 0)
                    std::swap(order[r], order[0]);
            for (int j = 0; j < D; ++j)
                mean[j] = sample[j];
            deviation[0] = initialDeviation;
            weight[0] = 1;
            ratio[0] = float(1.0 / double(initialDeviation));
            matchCount[0] = 1;
            modeCount = 1;
            backgroundModes = 1;
        } else if (modeCount < K) {
            int k = order[modeCount];
            for (int j = 0; j < D; ++j)
                mean[k * D + j] = sample[j];
            deviation[k] = newDeviation;
            weight[k] = rate;
            ratio[k] = float(double(rate) / double(newDeviation));
            matchCount[k] = 1;
            for (int r = 0; r < modeCount; ++r) {
                weight[order[r]] = float((1.0 - double(rate)) * double(weight[order[r]]));
                ratio[order[r]] = float((1.0 - double(rate)) * double(ratio[order[r]]));
            }
            ++modeCount;
            rise(modeCount - 1);
            recount();
        } else {
            ++replacements;
            int k = order[K - 1];
            if (learning) {
                learnCount -= matchCount[k];
                rate = float(1.0 / double(learnCount));
                matchCount[k] = 1;
            }
            if (deviation[k] >= newDeviation) {
                float big = 0;
                for (int r = 0; r < K - 1; ++r)
                    big = std::max(big, deviation[order[r]]);
                newDeviation = big;
            }
            float f = float((1.0 - double(rate)) / (1.0 - double(weight[k])));
            for (int j = 0; j < D; ++j)
                mean[k * D + j] = sample[j];
            deviation[k] = newDeviation;
            weight[k] = rate;
            ratio[k] = float(double(rate) / double(newDeviation));
            for (int r = 0; r < K - 1; ++r) {
                weight[order[r]] = float(double(weight[order[r]]) * double(f));
                ratio[order[r]] = float(double(ratio[order[r]]) * double(f));
            }
            rise(K - 1);
            recount();
        }
    }

    void renormalise() {
        ++renormalisations;
        double total = 0;
        for (int r = 0; r < modeCount; ++r)
            total += weight[order[r]];
        for (int r = 0; r < modeCount; ++r) {
            int k = order[r];
            weight[k] = float(double(weight[k]) / total);
            ratio[k] = float(double(weight[k]) / double(deviation[k]));
        }
        std::vector<int> keep, drop;
        for (int r = 0; r < modeCount; ++r) {
            int k = order[r];
            if (weight[k] > 0) {
                keep.push_back(k);
            } else {
                weight[k] = 0;
                ratio[k] = 0;
                drop.push_back(k);
            }
        }
        int r = 0;
        for (int k : keep)
            order[r++] = k;
        for (int k : drop)
            order[r++] = k;
        modeCount = int(keep.size());
        float big = 0;
        for (int p = 0; p < modeCount; ++p)
            big = std::max(big, deviation[order[p]]);
        newDeviation = big;
        for (int p = 0; p < modeCount; ++p)
            if (double(deviation[order[p]]) < 1e-15)
                deviation[order[p]] = float(1e-15);
        for (int p = 1; p < modeCount; ++p)
            for (int i = p; i > 0 && ratio[order[i]] > ratio[order[i - 1]]; --i)
                std::swap(order[i], order[i - 1]);
        recount();
    }

    void update() {
        if (learning) {
            ++learnCount;
            rate = float(1.0 / double(learnCount));
            if (1.0 / double(learnCount) < double(minRate)) {
                learning = 0;
                rate = minRate;
                ++phaseEnds;
            }
        }
        int p = matchedPosition < modeCount ? matchedPosition : -1;
        ++updateCount;
        if (updateCount == 100000) {
            updateCount = 0;
            int matched = p >= 0 ? order[p] : -1;
            renormalise();
            p = -1;
            for (int r = 0; r < modeCount; ++r)
                if (order[r] == matched)
                    p = r;
        }
        if (p == -1) {
            addMode();
            return;
        }
        int k = order[p];
        weight[k] = float((1.0 - double(rate)) * double(weight[k]) + double(rate));
        if (deviation[k] >= newDeviation) {
            float big = 0;
            for (int r = 0; r < modeCount; ++r)
                if (r != p)
                    big = std::max(big, deviation[order[r]]);
            newDeviation = big;
        }
        if (learning) {
            matchCount[k] += 1;
            double rho = 1.0 / double(matchCount[k]);
            for (int j = 0; j < D; ++j)
                mean[k * D + j] = float(rho * double(sample[j]) + (1.0 - rho) * double(mean[k * D + j]));
            double d2 = 0;
            for (int j = 0; j < D; ++j) {
                double d = double(sample[j]) - double(mean[k * D + j]);
                d2 += d * d;
            }
            double dev = deviation[k];
            deviation[k] = float(std::sqrt((1.0 - rho) * (dev * dev) + rho * d2));
        }
        if (deviation[k] > newDeviation)
            newDeviation = deviation[k];
        ratio[k] = float(double(weight[k]) / double(deviation[k]));
        for (int r = 0; r < modeCount; ++r)
            if (r != p) {
                weight[order[r]] = float((1.0 - double(rate)) * double(weight[order[r]]));
                ratio[order[r]] = float((1.0 - double(rate)) * double(ratio[order[r]]));
            }
        int i = p;
        while (i > 0 && ratio[order[i]] > ratio[order[i - 1]]) {
            std::swap(order[i], order[i - 1]);
            --i;
        }
        while (i < modeCount - 1 && ratio[order[i]] < ratio[order[i + 1]]) {
            std::swap(order[i], order[i + 1]);
            ++i;
        }
        recount();
    }
};

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Every member and every slot of both models, bit for bit.
::testing::AssertionResult sameState(const pixelModelGS& m, const referenceModel& r) {
    auto fail = [](const char* what, int index, double got, double want) {
        return ::testing::AssertionFailure() << what << "[" << index << "]: model " << got << ", reference " << want;
    };
    if (m.channels() != r.D || m.maxModes() != r.K)
        return ::testing::AssertionFailure() << "sizes differ";
    if (m.modeCount() != r.modeCount)
        return fail("modeCount", 0, m.modeCount(), r.modeCount);
    if (m.backgroundModes() != r.backgroundModes)
        return fail("backgroundModes", 0, m.backgroundModes(), r.backgroundModes);
    if (m.matchedPosition() != r.matchedPosition)
        return fail("matchedPosition", 0, m.matchedPosition(), r.matchedPosition);
    if (m.learnCount() != r.learnCount)
        return fail("learnCount", 0, m.learnCount(), r.learnCount);
    if (m.updateCount() != r.updateCount)
        return fail("updateCount", 0, m.updateCount(), r.updateCount);
    if (m.learning() != r.learning)
        return fail("learning", 0, m.learning(), r.learning);
    if (m.lastShadow() != r.lastShadow)
        return fail("lastShadow", 0, m.lastShadow(), r.lastShadow);
    const float scalars[][2] = {{m.backgroundWeight(), r.backgroundWeight}, {m.minBrightness(), r.minBrightness},
                                {m.rate(), r.rate},
                                {m.minRate(), r.minRate},
                                {m.matchDeviations(), r.matchDeviations},
                                {m.initialDeviation(), r.initialDeviation},
                                {m.newDeviation(), r.newDeviation}};
    for (int i = 0; i < 7; ++i)
        if (!sameBits(scalars[i][0], scalars[i][1]))
            return fail("float scalar", i, scalars[i][0], scalars[i][1]);
    for (int k = 0; k < r.K; ++k) {
        if (!sameBits(m.weight(k), r.weight[k]))
            return fail("weight", k, m.weight(k), r.weight[k]);
        if (!sameBits(m.deviation(k), r.deviation[k]))
            return fail("deviation", k, m.deviation(k), r.deviation[k]);
        if (!sameBits(m.ratio(k), r.ratio[k]))
            return fail("ratio", k, m.ratio(k), r.ratio[k]);
        if (m.order(k) != r.order[k])
            return fail("order", k, m.order(k), r.order[k]);
        if (m.matchCount(k) != r.matchCount[k])
            return fail("matchCount", k, m.matchCount(k), r.matchCount[k]);
        for (int j = 0; j < r.D; ++j)
            if (!sameBits(m.mean(k, j), r.mean[k * r.D + j]))
                return fail("mean", k * r.D + j, m.mean(k, j), r.mean[k * r.D + j]);
    }
    for (int j = 0; j < r.D; ++j)
        if (!sameBits(m.sample(j), r.sample[j]))
            return fail("sample", j, m.sample(j), r.sample[j]);
    return ::testing::AssertionSuccess();
}

// The same comparison between two models.
::testing::AssertionResult sameState(const pixelModelGS& a, const pixelModelGS& b) {
    referenceModel copy(b.channels(), b.maxModes(), b.matchDeviations(), b.minRate(), b.backgroundWeight(),
                        b.initialDeviation(), b.minBrightness());
    copy.modeCount = b.modeCount();
    copy.backgroundModes = b.backgroundModes();
    copy.matchedPosition = b.matchedPosition();
    copy.learnCount = b.learnCount();
    copy.updateCount = b.updateCount();
    copy.learning = b.learning();
    copy.lastShadow = b.lastShadow();
    copy.rate = b.rate();
    copy.newDeviation = b.newDeviation();
    for (int k = 0; k < b.maxModes(); ++k) {
        copy.weight[k] = b.weight(k);
        copy.deviation[k] = b.deviation(k);
        copy.ratio[k] = b.ratio(k);
        copy.order[k] = b.order(k);
        copy.matchCount[k] = b.matchCount(k);
        for (int j = 0; j < b.channels(); ++j)
            copy.mean[k * b.channels() + j] = b.mean(k, j);
    }
    for (int j = 0; j < b.channels(); ++j)
        copy.sample[j] = b.sample(j);
    return sameState(a, copy);
}

// The system's model: 3 channels, 5 modes, lambda 3, rate 0.001, background
// weight 0.8, initial deviation 2, minimum brightness 0.7.
pixelModelGS systemModel() { return pixelModelGS(3, 5, 3.0f, 0.001f, 0.8f, 2.0f, 0.7f); }

// probability + update with one colour.
float learnFrom(pixelModelGS& m, float r, float g, float b) {
    const float s[3] = {r, g, b};
    const float score = m.probability(s);
    m.update();
    return score;
}

float scoreOf(pixelModelGS& m, float r, float g, float b) {
    const float s[3] = {r, g, b};
    return m.probability(s);
}

double weightSum(const pixelModelGS& m) {
    double sum = 0;
    for (int r = 0; r < m.modeCount(); ++r)
        sum += m.weight(m.order(r));
    return sum;
}

// ---------------------------------------------------------------------------

TEST(pixelModelGSConstruction, StartsEmptyWithTheGivenParameters) {
    const struct {
        int D, K;
        bool inlineStorage;
    } sizes[] = {{3, 5, true}, {3, 1, true}, {3, 6, false}, {4, 5, false}, {1, 2, false}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(::testing::Message() << "D=" << size.D << " K=" << size.K);
        const pixelModelGS m(size.D, size.K, 2.5f, 0.01f, 0.7f, 3.0f, 0.6f);
        EXPECT_EQ(m.storedInline(), size.inlineStorage);
        EXPECT_EQ(m.channels(), size.D);
        EXPECT_EQ(m.maxModes(), size.K);
        EXPECT_EQ(m.modeCount(), 0);
        EXPECT_EQ(m.backgroundModes(), 0);
        EXPECT_EQ(m.matchedPosition(), -1);
        EXPECT_EQ(m.learnCount(), 0u);
        EXPECT_EQ(m.updateCount(), 0);
        EXPECT_EQ(m.learning(), 1);
        EXPECT_EQ(m.lastShadow(), 0);
        EXPECT_EQ(m.matchDeviations(), 2.5f);
        EXPECT_EQ(m.rate(), 0.01f);
        EXPECT_EQ(m.minRate(), 0.01f);
        EXPECT_EQ(m.backgroundWeight(), 0.7f);
        EXPECT_EQ(m.initialDeviation(), 3.0f);
        EXPECT_EQ(m.newDeviation(), 3.0f);
        EXPECT_EQ(m.minBrightness(), 0.6f);
        for (int k = 0; k < size.K; ++k) {
            EXPECT_EQ(m.order(k), k);
            EXPECT_EQ(m.weight(k), 0.0f);
            EXPECT_EQ(m.deviation(k), 0.0f);
            EXPECT_EQ(m.ratio(k), 0.0f);
            EXPECT_EQ(m.matchCount(k), 0u);
            for (int j = 0; j < size.D; ++j)
                EXPECT_EQ(m.mean(k, j), 0.0f);
        }
        for (int j = 0; j < size.D; ++j)
            EXPECT_EQ(m.sample(j), 0.0f);
    }
}

TEST(pixelModelGSFirstUpdates, FreshModelScoresZeroAndFirstUpdateMakesTheWholeBackground) {
    pixelModelGS m = systemModel();
    const float s[3] = {10.0f, 200.0f, 37.0f};
    EXPECT_EQ(m.probability(s), 0.0f);
    EXPECT_EQ(m.matchedPosition(), -1);
    EXPECT_EQ(m.sample(0), 10.0f);
    EXPECT_EQ(m.sample(1), 200.0f);
    EXPECT_EQ(m.sample(2), 37.0f);
    m.update();
    EXPECT_EQ(m.modeCount(), 1);
    EXPECT_EQ(m.backgroundModes(), 1);
    EXPECT_EQ(m.order(0), 0);
    EXPECT_EQ(m.mean(0, 0), 10.0f);
    EXPECT_EQ(m.mean(0, 1), 200.0f);
    EXPECT_EQ(m.mean(0, 2), 37.0f);
    EXPECT_EQ(m.deviation(0), 2.0f);
    EXPECT_EQ(m.weight(0), 1.0f);
    EXPECT_EQ(m.ratio(0), 0.5f);
    EXPECT_EQ(m.matchCount(0), 1u);
    EXPECT_EQ(m.learnCount(), 1u);
    EXPECT_EQ(m.rate(), 1.0f);
    EXPECT_EQ(m.probability(s), 1.0f);
    EXPECT_EQ(m.matchedPosition(), 0);
    EXPECT_EQ(m.lastShadow(), 0);
}

TEST(pixelModelGSFirstUpdates, SecondColourEntersAtHalfWeightAndBothModesAreBackground) {
    pixelModelGS m = systemModel();
    learnFrom(m, 100, 100, 100);
    EXPECT_EQ(learnFrom(m, 20, 200, 50), 0.0f);
    EXPECT_EQ(m.rate(), 0.5f);
    EXPECT_EQ(m.learnCount(), 2u);
    EXPECT_EQ(m.modeCount(), 2);
    EXPECT_EQ(m.weight(0), 0.5f);
    EXPECT_EQ(m.weight(1), 0.5f);
    EXPECT_EQ(m.deviation(1), 2.0f);
    EXPECT_EQ(m.mean(1, 1), 200.0f);
    EXPECT_EQ(m.ratio(0), 0.25f);
    EXPECT_EQ(m.ratio(1), 0.25f);
    EXPECT_EQ(m.matchCount(1), 1u);
    // Equal ratios never exchange: the older mode keeps position 0.
    EXPECT_EQ(m.order(0), 0);
    EXPECT_EQ(m.order(1), 1);
    EXPECT_EQ(m.backgroundModes(), 2);
    EXPECT_EQ(scoreOf(m, 20, 200, 50), 1.0f);
    EXPECT_EQ(m.matchedPosition(), 1);
}

TEST(pixelModelGSClassification, MatchesStrictlyInsideLambdaDeviations) {
    const float justInside = 100.0f + std::sqrt(35.9f);
    const struct {
        float s[3];
        bool matches;
        float score;
    } cases[] = {
        {{justInside, 100, 100}, true, 1.0f}, // squared distance 35.9
        {{100, 106, 100}, false, 0.0f},       // exactly 36, brighter: no shadow
        {{104, 104, 102}, false, 0.0f},       // 16 + 16 + 4 = 36
        {{104, 104, 101.99f}, true, 1.0f},    // just under 36
        {{94, 100, 100}, false, 0.8f},        // 36 on the darker side: a shadow
        {{100, 100, 100}, true, 1.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.s[0] << "," << c.s[1] << "," << c.s[2]);
        // Independent check of the squared distance the case claims.
        double d2 = 0;
        for (float v : c.s)
            d2 += (double(v) - 100.0) * (double(v) - 100.0);
        ASSERT_EQ(d2 < 36.0, c.matches);
        pixelModelGS m = systemModel();
        learnFrom(m, 100, 100, 100);
        EXPECT_EQ(m.probability(c.s), c.score);
        EXPECT_EQ(m.matchedPosition(), c.matches ? 0 : -1);
    }
}

TEST(pixelModelGSClassification, ShadowsOfTheBackgroundScoreEightTenths) {
    const struct {
        float level;
        float score;
        int shadow;
        int matched;
    } cases[] = {
        {80, 0.8f, 1, -1},  // ratio 0.8, on the mean's line
        {69, 0.0f, 0, -1},  // ratio 0.69, too dark
        {71, 0.8f, 1, -1},  // ratio 0.71
        {99, 1.0f, 0, 0},   // matches the mode itself
        {120, 0.0f, 0, -1}, // brighter than the mean
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        pixelModelGS m = systemModel();
        learnFrom(m, 100, 100, 100);
        EXPECT_EQ(scoreOf(m, c.level, c.level, c.level), c.score);
        EXPECT_EQ(m.lastShadow(), c.shadow);
        EXPECT_EQ(m.matchedPosition(), c.matched);
    }
}

TEST(pixelModelGSClassification, ShadowNeedsTheMeanDirection) {
    pixelModelGS m = systemModel();
    learnFrom(m, 100, 100, 100);
    // Ratio about 0.8 but 12 away from the line through black and the mean.
    EXPECT_EQ(scoreOf(m, 90, 80, 70), 0.0f);
    EXPECT_EQ(m.lastShadow(), 0);
    // A black background mean never yields a shadow.
    pixelModelGS black = systemModel();
    learnFrom(black, 0, 0, 0);
    EXPECT_EQ(scoreOf(black, 40, 40, 40), 0.0f);
    EXPECT_EQ(black.lastShadow(), 0);
}

TEST(pixelModelGSClassification, NonBackgroundMatchScoresHalfOrShadow) {
    const struct {
        float second[3];
        float score;
        int shadow;
    } cases[] = {
        {{200, 50, 50}, 0.5f, 0},
        {{80, 80, 80}, 0.8f, 1}, // also a shadow of the background mode
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.score);
        pixelModelGS m = systemModel();
        learnFrom(m, 100, 100, 100);
        learnFrom(m, c.second[0], c.second[1], c.second[2]);
        // Keep feeding the first colour until the second mode drops out of
        // the background (its weight becomes 1/n).
        while (m.backgroundModes() != 1)
            ASSERT_EQ(learnFrom(m, 100, 100, 100), 1.0f);
        ASSERT_EQ(m.modeCount(), 2);
        EXPECT_EQ(scoreOf(m, c.second[0], c.second[1], c.second[2]), c.score);
        EXPECT_EQ(m.matchedPosition(), 1);
        EXPECT_EQ(m.lastShadow(), c.shadow);
    }
}

TEST(pixelModelGSClassification, FirstMatchingPositionWins) {
    pixelModelGS m = systemModel();
    learnFrom(m, 100, 100, 100);
    learnFrom(m, 108, 100, 100); // 8 away: a second mode
    ASSERT_EQ(m.modeCount(), 2);
    // 104 is within 6 of both means.
    EXPECT_EQ(scoreOf(m, 104, 100, 100), 1.0f);
    EXPECT_EQ(m.matchedPosition(), 0);
}

TEST(pixelModelGSBackground, CrossingModeBelongsToTheBackground) {
    // Ranked weights 0.4, 0.5, 0.1 (cumulative 0.4, 0.9, 1.0): the mode whose
    // weight crosses the threshold is the last background mode; a threshold
    // never reached makes every mode background, one of 0 none.
    const struct {
        float threshold;
        int modes;
    } cases[] = {{0.8f, 2}, {0.3f, 1}, {0.5f, 2}, {0.95f, 3}, {0.0f, 0}, {2.0f, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.threshold);
        pixelModelGS m(3, 5, 3.0f, 0.001f, c.threshold, 2.0f, 0.7f);
        const float colours[3][3] = {{10, 10, 10}, {100, 100, 100}, {200, 200, 200}};
        const int counts[3] = {5, 4, 1};
        for (int i = 0; i < 3; ++i)
            for (int n = 0; n < counts[i]; ++n)
                learnFrom(m, colours[i][0], colours[i][1], colours[i][2]);
        // Repeated identical samples narrow a mode, so the second colour (four
        // samples from a narrower start) outranks the first: ranked weights
        // 0.4, 0.5, 0.1.
        ASSERT_EQ(m.modeCount(), 3);
        ASSERT_EQ(m.mean(m.order(0), 0), 100.0f);
        ASSERT_NEAR(m.weight(m.order(0)), 0.4, 1e-6);
        ASSERT_NEAR(m.weight(m.order(1)), 0.5, 1e-6);
        ASSERT_NEAR(m.weight(m.order(2)), 0.1, 1e-6);
        EXPECT_EQ(m.backgroundModes(), c.modes);
    }
}

TEST(pixelModelGSLearning, PhaseEndsExactlyAtTheThousandthUpdate) {
    pixelModelGS m = systemModel();
    // Two alternating colours of one mode keep moving its mean and deviation.
    auto colour = [](int n) { return n % 2 ? 103.0f : 100.0f; };
    learnFrom(m, colour(0), 50, 50);
    int n = 1;
    while (m.learnCount() < 998) {
        ASSERT_EQ(learnFrom(m, colour(n), 50, 50), 1.0f);
        ++n;
    }
    ASSERT_EQ(m.modeCount(), 1);
    ASSERT_EQ(m.matchCount(0), 998u);

    // The 999th still averages with rho = 1/999.
    {
        const float s = colour(n++);
        const double rho = 1.0 / 999.0;
        const float oldMean = m.mean(0, 0);
        const double oldDeviation = m.deviation(0);
        const float expectedMean = float(rho * s + (1.0 - rho) * double(oldMean));
        const double d = double(s) - double(expectedMean);
        const float expectedDeviation =
            float(std::sqrt((1.0 - rho) * (oldDeviation * oldDeviation) + rho * (d * d)));
        ASSERT_EQ(learnFrom(m, s, 50, 50), 1.0f);
        EXPECT_EQ(m.learning(), 1);
        EXPECT_EQ(m.rate(), float(1.0 / 999.0));
        EXPECT_EQ(m.matchCount(0), 999u);
        EXPECT_EQ(m.mean(0, 0), expectedMean);
        EXPECT_NE(m.mean(0, 0), oldMean);
        EXPECT_EQ(m.deviation(0), expectedDeviation);
    }
    // The 1000th switches to the fixed rate and leaves mean and deviation.
    for (int later = 0; later < 3; ++later) {
        const float oldMean = m.mean(0, 0);
        const float oldDeviation = m.deviation(0);
        ASSERT_EQ(learnFrom(m, colour(n++), 50, 50), 1.0f);
        EXPECT_EQ(m.learning(), 0);
        EXPECT_EQ(m.rate(), 0.001f);
        EXPECT_EQ(m.learnCount(), 1000u);
        EXPECT_EQ(m.matchCount(0), 999u);
        EXPECT_EQ(m.mean(0, 0), oldMean);
        EXPECT_EQ(m.deviation(0), oldDeviation);
        EXPECT_EQ(m.weight(0), float(0.999 * 1.0 + 0.001));
    }
}

TEST(pixelModelGSLearning, MatchedModeDoesNotPassAnEqualRatio) {
    pixelModelGS m = systemModel();
    learnFrom(m, 200, 10, 10);
    learnFrom(m, 10, 200, 10);
    learnFrom(m, 10, 200, 10);
    learnFrom(m, 100, 100, 100);
    // The second match of (100, 100, 100) lifts its mode to weight 0.4 and
    // deviation sqrt(2): exactly the ratio of the mode above it.
    EXPECT_EQ(scoreOf(m, 100, 100, 100), 1.0f); // weights 0.5, 0.25, 0.25: all background
    ASSERT_EQ(m.matchedPosition(), 1);
    const int matched = m.order(1);
    const int above = m.order(0);
    m.update();
    ASSERT_EQ(m.ratio(matched), m.ratio(above));
    EXPECT_EQ(m.order(0), above);
    EXPECT_EQ(m.order(1), matched);
}

TEST(pixelModelGSLearning, NewModeTakesTheLargestDeviation) {
    pixelModelGS m = systemModel();
    learnFrom(m, 100, 100, 100);
    learnFrom(m, 105, 100, 100); // widens mode 0 beyond 2
    const float wide = m.deviation(0);
    ASSERT_GT(wide, 2.0f);
    EXPECT_EQ(m.newDeviation(), wide);
    learnFrom(m, 10, 10, 10);
    EXPECT_EQ(m.deviation(1), wide);
    // Repeating mode 0's colour narrows it; the maximum follows it down to
    // the larger of the two.
    for (int i = 0; i < 20; ++i)
        learnFrom(m, 102.5f, 100, 100);
    EXPECT_LT(m.deviation(0), wide);
    EXPECT_EQ(m.newDeviation(), std::max(m.deviation(0), m.deviation(1)));
}

TEST(pixelModelGSReplacement, FullModelReplacesTheLastPlacedMode) {
    pixelModelGS m(3, 2, 3.0f, 0.001f, 0.8f, 2.0f, 0.7f);
    // Mode A: many spread samples, high weight but wide.
    learnFrom(m, 100, 100, 100);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(learnFrom(m, i % 2 ? 103.0f : 97.0f, 100, 100), 1.0f);
    // Mode B: one repeated colour, narrow, fewer samples.
    for (int i = 0; i < 16; ++i)
        learnFrom(m, 10, 200, 10);
    ASSERT_EQ(m.modeCount(), 2);
    const int last = m.order(1);
    const int first = m.order(0);
    // Precondition: the last-placed mode is the heavier one.
    ASSERT_GT(m.weight(last), m.weight(first));
    ASSERT_EQ(m.mean(last, 0) > 50.0f, true);

    const std::uint32_t countBefore = m.learnCount();
    const std::uint32_t lastCount = m.matchCount(last);
    const float oldWeight = m.weight(last);
    const float firstWeight = m.weight(first);
    const float firstRatio = m.ratio(first);
    const float firstDeviation = m.deviation(first);

    EXPECT_EQ(learnFrom(m, 30, 30, 250), 0.0f);

    const std::uint32_t learnt = countBefore + 1 - lastCount;
    const float rate = float(1.0 / double(learnt));
    const float f = float((1.0 - double(rate)) / (1.0 - double(oldWeight)));
    EXPECT_EQ(m.modeCount(), 2);
    EXPECT_EQ(m.learnCount(), learnt);
    EXPECT_EQ(m.rate(), rate);
    EXPECT_EQ(m.matchCount(last), 1u);
    EXPECT_EQ(m.mean(last, 0), 30.0f);
    EXPECT_EQ(m.mean(last, 2), 250.0f);
    EXPECT_EQ(m.weight(last), rate);
    // The replaced mode held the largest deviation; the rest's maximum is taken.
    EXPECT_EQ(m.newDeviation(), firstDeviation);
    EXPECT_EQ(m.deviation(last), firstDeviation);
    EXPECT_EQ(m.ratio(last), float(double(rate) / double(firstDeviation)));
    EXPECT_EQ(m.weight(first), float(double(firstWeight) * double(f)));
    EXPECT_EQ(m.ratio(first), float(double(firstRatio) * double(f)));
    EXPECT_EQ(m.order(0), first);
    EXPECT_EQ(m.order(1), last);
    EXPECT_NEAR(weightSum(m), 1.0, 1e-6);
}

TEST(pixelModelGSRenormalisation, WeightsSumToOneBeforeTheHundredThousandthFoldIn) {
    pixelModelGS m = systemModel();
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1.5f, 1.5f);
    // A mostly stable colour with an occasional other one.
    for (int n = 0; n < 99999; ++n) {
        if (n % 97 == 0)
            learnFrom(m, 30, 60, 90);
        else
            learnFrom(m, 120 + noise(random), 80 + noise(random), 40 + noise(random));
    }
    ASSERT_EQ(m.updateCount(), 99999);
    ASSERT_EQ(m.learning(), 0);
    ASSERT_GE(m.modeCount(), 2);

    const float s[3] = {120, 80, 40};
    m.probability(s);
    ASSERT_EQ(m.matchedPosition(), 0);
    const int n = m.modeCount();
    std::vector<float> w(5), ratio(5);
    double total = 0;
    for (int r = 0; r < n; ++r)
        total += m.weight(m.order(r));
    for (int r = 0; r < n; ++r) {
        const int k = m.order(r);
        w[k] = float(double(m.weight(k)) / total);
        ratio[k] = float(double(w[k]) / double(m.deviation(k)));
    }
    const int matched = m.order(0);
    const double keep = 1.0 - 0.001;
    m.update();
    EXPECT_EQ(m.updateCount(), 0);
    for (int r = 0; r < n; ++r) {
        const int k = m.order(r);
        if (k == matched) {
            EXPECT_EQ(m.weight(k), float(keep * double(w[k]) + double(0.001f)));
            EXPECT_EQ(m.ratio(k), float(double(m.weight(k)) / double(m.deviation(k))));
        } else {
            EXPECT_EQ(m.weight(k), float(keep * double(w[k])));
            EXPECT_EQ(m.ratio(k), float(keep * double(ratio[k])));
        }
    }
}

TEST(pixelModelGSRenormalisation, EmptiedModesLeaveBeforeTheSampleIsFoldedIn) {
    // With rate 1 after the learning phase a mode that is not matched drops
    // to weight 0 at once.
    pixelModelGS m(3, 2, 3.0f, 1.0f, 0.8f, 2.0f, 0.7f);
    learnFrom(m, 100, 100, 100);
    learnFrom(m, 10, 10, 10);
    ASSERT_EQ(m.learning(), 0);
    ASSERT_EQ(m.modeCount(), 2);
    while (m.updateCount() < 99999)
        learnFrom(m, 10, 10, 10);
    const int empty = m.order(1);
    ASSERT_EQ(m.weight(empty), 0.0f);
    ASSERT_EQ(m.mean(empty, 0), 100.0f);

    // The emptied mode is removed first, so the new colour finds room and
    // the mode of (10, 10, 10) stays.
    EXPECT_EQ(learnFrom(m, 200, 50, 50), 0.0f);
    EXPECT_EQ(m.updateCount(), 0);
    EXPECT_EQ(m.modeCount(), 2);
    EXPECT_EQ(m.mean(empty, 0), 200.0f);
    EXPECT_EQ(m.weight(empty), 1.0f);
    EXPECT_EQ(m.order(0), empty);
    const int other = m.order(1);
    EXPECT_EQ(m.mean(other, 0), 10.0f);
    EXPECT_EQ(m.weight(other), 0.0f);
}

TEST(pixelModelGSRenormalisation, ZeroDeviationsAreRaisedToTheFloor) {
    // With a zero initial deviation nothing ever matches, until the
    // renormalisation raises the deviations.
    pixelModelGS m(3, 2, 3.0f, 0.001f, 0.8f, 0.0f, 0.7f);
    for (int n = 0; n < 99999; ++n)
        ASSERT_EQ(learnFrom(m, n % 2 ? 50.0f : 150.0f, 60, 70), 0.0f);
    ASSERT_EQ(m.deviation(0), 0.0f);
    ASSERT_EQ(m.deviation(1), 0.0f);
    ASSERT_EQ(m.newDeviation(), 0.0f);
    EXPECT_EQ(learnFrom(m, 250, 60, 70), 0.0f);
    EXPECT_EQ(m.updateCount(), 0);
    EXPECT_EQ(m.deviation(0), float(1e-15));
    EXPECT_EQ(m.deviation(1), float(1e-15));
    EXPECT_EQ(m.newDeviation(), float(1e-15));
    // An exact repeat now lies within lambda times the floor.
    EXPECT_NE(scoreOf(m, 250, 60, 70), 0.0f);
    EXPECT_NE(m.matchedPosition(), -1);
}

TEST(pixelModelGSRenormalisation, RemovingTheMatchedModeTreatsTheSampleAsNew) {
    pixelModelGS m(3, 3, 3.0f, 1.0f, 0.8f, 2.0f, 0.7f);
    learnFrom(m, 100, 100, 100);
    learnFrom(m, 10, 10, 10);
    while (m.updateCount() < 99999)
        learnFrom(m, 10, 10, 10);
    // (100, 100, 100) still matches its emptied mode, which is removed by
    // the renormalisation of this very update.
    EXPECT_EQ(scoreOf(m, 100, 100, 100), 0.5f);
    const int emptied = m.order(m.matchedPosition());
    ASSERT_EQ(m.weight(emptied), 0.0f);
    m.update();
    EXPECT_EQ(m.modeCount(), 2);
    for (int r = 0; r < 3; ++r) // order stays a permutation
        for (int q = r + 1; q < 3; ++q)
            EXPECT_NE(m.order(r), m.order(q));
    EXPECT_EQ(m.mean(m.order(0), 0), 100.0f);
    EXPECT_EQ(m.weight(m.order(0)), 1.0f);
    EXPECT_EQ(m.weight(m.order(1)), 0.0f);
}

// ---------------------------------------------------------------------------

TEST(pixelModelGSAssignmentDeathTest, SizeMismatchEndsTheProgram) {
    const struct {
        int D, K;
    } sources[] = {{3, 4}, {2, 5}, {3, 6}};
    for (const auto& source : sources) {
        SCOPED_TRACE(::testing::Message() << source.D << "x" << source.K);
        EXPECT_EXIT(
            {
                pixelModelGS cell = systemModel();
                const pixelModelGS other(source.D, source.K, 3.0f, 0.001f, 0.8f, 2.0f, 0.7f);
                cell = other;
            },
            ::testing::ExitedWithCode(1), "^pixelModelGS::operator= Size mismatch!\n$");
    }
}

// A model with every slot in use and a shuffled ranking.
pixelModelGS trainedModel(int D, int K, unsigned seed) {
    pixelModelGS m(D, K, 3.0f, 0.01f, 0.8f, 2.0f, 0.7f);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> colour(0, 255);
    std::vector<float> s(D);
    for (int n = 0; n < 300; ++n) {
        for (float& v : s)
            v = float(colour(random) / 16 * 16);
        m.probability(s.data());
        m.update();
    }
    m.probability(s.data());
    return m;
}

TEST(pixelModelGSAssignment, CopiesEveryMemberAndSlotDeeply) {
    const struct {
        int D, K;
    } sizes[] = {{3, 5}, {3, 3}, {4, 7}, {1, 2}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(::testing::Message() << size.D << "x" << size.K);
        const pixelModelGS source = trainedModel(size.D, size.K, 11);
        ASSERT_EQ(source.modeCount(), size.K);
        pixelModelGS target(size.D, size.K, 1.0f, 0.5f, 0.5f, 9.0f, 0.1f);
        target = source;
        EXPECT_TRUE(sameState(target, source));
        pixelModelGS constructed(source);
        EXPECT_TRUE(sameState(constructed, source));

        // Both copies go on learning on their own: identical to each other,
        // and the source stays untouched.
        pixelModelGS original = source;
        std::vector<float> s(size.D, 77.0f);
        for (int n = 0; n < 5; ++n) {
            target.probability(s.data());
            target.update();
            constructed.probability(s.data());
            constructed.update();
        }
        EXPECT_TRUE(sameState(target, constructed));
        EXPECT_TRUE(sameState(original, source));
        EXPECT_FALSE(sameState(target, source));

        // Assigning an empty model resets a trained one.
        const pixelModelGS empty(size.D, size.K, 3.0f, 0.001f, 0.8f, 2.0f, 0.7f);
        target = empty;
        EXPECT_TRUE(sameState(target, empty));
    }
}

TEST(pixelModelGSAssignment, SelfAssignmentChangesNothing) {
    for (int K : {5, 7}) {
        pixelModelGS m = trainedModel(3, K, 5);
        const pixelModelGS before = m;
        pixelModelGS& alias = m;
        m = alias;
        EXPECT_TRUE(sameState(m, before));
    }
}

TEST(pixelModelGSAssignment, ModelWithoutStorageTakesTheSourceSize) {
    const pixelModelGS source = trainedModel(4, 6, 3);
    for (int D : {0, 3}) {
        pixelModelGS target(D, 0, 3.0f, 0.001f, 0.8f, 2.0f, 0.7f);
        target = source;
        EXPECT_EQ(target.channels(), 4);
        EXPECT_EQ(target.maxModes(), 6);
        EXPECT_TRUE(sameState(target, source));
    }
    // And into a model whose arrays fit inside the object.
    const pixelModelGS small = trainedModel(3, 5, 3);
    pixelModelGS target(4, 0, 3.0f, 0.001f, 0.8f, 2.0f, 0.7f);
    target = small;
    EXPECT_TRUE(target.storedInline());
    EXPECT_TRUE(sameState(target, small));
}

TEST(pixelModelGSRobustness, ModelWithoutModeSlotsNeverMatches) {
    pixelModelGS m(3, 0, 3.0f, 0.001f, 0.8f, 2.0f, 0.7f);
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(learnFrom(m, 5, 5, 5), 0.0f);
    EXPECT_EQ(m.modeCount(), 0);
}

// ---------------------------------------------------------------------------
// Long random runs against the reference, for the system's sizes and others.

struct runCase {
    int D, K;
    float lambda, rate, backgroundWeight, initialDeviation, minBrightness;
    int steps;
    bool expectPhaseEnd;
};

class pixelModelGSAgainstReference : public ::testing::TestWithParam<runCase> {};

TEST_P(pixelModelGSAgainstReference, AgreesBitForBitOnEveryStep) {
    const runCase c = GetParam();
    pixelModelGS model(c.D, c.K, c.lambda, c.rate, c.backgroundWeight, c.initialDeviation, c.minBrightness);
    referenceModel reference(c.D, c.K, c.lambda, c.rate, c.backgroundWeight, c.initialDeviation, c.minBrightness);
    std::mt19937 random(1234u + unsigned(c.D * 10 + c.K));
    std::uniform_real_distribution<float> noise(-2.5f, 2.5f);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> pick(0, 99);
    // A few recurring colours, their shadows, and now and then something new.
    std::vector<std::vector<float>> colours(4, std::vector<float>(c.D));
    for (auto& colour : colours)
        for (float& v : colour)
            v = float(byte(random));
    std::vector<float> s(c.D);
    int checked = 0;
    int scores[4] = {}; // 0.0, 0.5, 0.8, 1.0
    for (int n = 0; n < c.steps; ++n) {
        const int p = pick(random);
        if (p < 70) {
            for (int j = 0; j < c.D; ++j)
                s[j] = colours[0][j] + noise(random);
        } else if (p < 80) {
            for (int j = 0; j < c.D; ++j)
                s[j] = colours[1 + p % 3][j] + noise(random);
        } else if (p < 88) {
            for (int j = 0; j < c.D; ++j)
                s[j] = colours[0][j] * 0.8f;
        } else {
            for (int j = 0; j < c.D; ++j)
                s[j] = float(byte(random));
        }
        const float got = model.probability(s.data());
        const float want = reference.probability(s.data());
        ASSERT_TRUE(sameBits(got, want)) << "step " << n;
        ++scores[got == 0.0f ? 0 : got == 0.5f ? 1 : got == 0.8f ? 2 : 3];
        if (p % 5 != 0) { // most steps learn, some only classify
            model.update();
            reference.update();
        }
        if (n < 5000 || n % 97 == 0 || n + 5 > c.steps) {
            ASSERT_TRUE(sameState(model, reference)) << "step " << n;
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
    // Every run must have gone through the interesting rules.
    EXPECT_GT(reference.replacements, 0);
    EXPECT_EQ(reference.phaseEnds, c.expectPhaseEnd ? 1 : 0);
    EXPECT_EQ(reference.renormalisations, c.steps > 125000 ? 1 : 0);
    EXPECT_GT(scores[0], 0);
    if (c.backgroundWeight > 0) {
        EXPECT_GT(scores[3], 0);
        EXPECT_GT(scores[2], 0);
        if (c.K > 1) {
            EXPECT_GT(scores[1], 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    sizesAndParameters, pixelModelGSAgainstReference,
    ::testing::Values(runCase{3, 5, 3.0f, 0.001f, 0.8f, 2.0f, 0.7f, 20000, true},
                      runCase{3, 5, 3.0f, 0.001f, 0.8f, 2.0f, 0.7f, 126000, true}, // crosses one renormalisation
                      runCase{3, 3, 2.5f, 0.01f, 0.6f, 4.0f, 0.5f, 20000, true},
                      runCase{3, 1, 3.0f, 0.001f, 0.8f, 2.0f, 0.7f, 5000, false}, // every new colour replaces
                      runCase{3, 5, 3.0f, 0.05f, 0.0f, 2.0f, 0.7f, 5000, true}, // no background at all
                      runCase{1, 2, 3.0f, 0.002f, 0.8f, 2.0f, 0.7f, 10000, true},
                      runCase{4, 7, 3.0f, 0.001f, 0.9f, 1.0f, 0.6f, 126000, true},
                      runCase{2, 5, 2.0f, 0.02f, 0.7f, 3.0f, 0.7f, 10000, true}));

} // namespace
