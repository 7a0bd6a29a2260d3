#include "toolkit/pixelModelGS.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

// Updates between two renormalisations of the weights.
constexpr std::int32_t renormalisePeriod = 100000;

// Smallest deviation a mode keeps after a renormalisation.
constexpr double deviationFloor = 1e-15;

std::size_t nonNegative(int n) { return n > 0 ? static_cast<std::size_t>(n) : 0; }

} // namespace

// The kernels are written once for both layouts; inlining them into the
// public calls lets the compiler keep the layout's pointers in registers.
#if defined(__GNUC__)
#define MODEL_INLINE [[gnu::always_inline]] inline
#else
#define MODEL_INLINE inline
#endif

// The arrays inside the object. The channel count is a compile-time constant
// so the channel loops unroll; a mode record is D mean values and then the
// deviation.
struct pixelModelGS::inlineLayout {
    static constexpr bool fixedChannels = true;
    static constexpr int D = inlineChannels;
    static constexpr int stride = inlineChannels + 1;

    pixelModelGS* model;

    explicit inlineLayout(pixelModelGS* m) : model(m) {}
    int channels() const { return D; }
    std::int8_t* order() const { return model->order_; }
    float* weight() const { return model->weight_; }
    float* ratio() const { return model->ratio_; }
    std::uint32_t* matchCount() const { return model->matchCount_; }
    float* sample() const { return model->sample_; }
    float* mean(int k) const { return model->modes_ + k * stride; }
    float& deviation(int k) const { return model->modes_[k * stride + D]; }
};

// The arrays in the heap block, for any D and K. Block layout (4-byte words):
// K mode records of D + 1 floats, K weights, K ratios, D sample values,
// K match counts, K order entries.
struct pixelModelGS::heapLayout {
    static constexpr bool fixedChannels = false;
    int D;
    int stride;
    std::int32_t* orderArray;
    float* modes;
    float* weightArray;
    float* ratioArray;
    std::uint32_t* matchCountArray;
    float* sampleArray;

    int channels() const { return D; }
    std::int32_t* order() const { return orderArray; }
    float* weight() const { return weightArray; }
    float* ratio() const { return ratioArray; }
    std::uint32_t* matchCount() const { return matchCountArray; }
    float* sample() const { return sampleArray; }
    float* mean(int k) const { return modes + static_cast<std::size_t>(k) * stride; }
    float& deviation(int k) const { return modes[static_cast<std::size_t>(k) * stride + D]; }

    static std::size_t words(int channels, int maxModes) {
        const std::size_t d = nonNegative(channels);
        const std::size_t k = nonNegative(maxModes);
        return k * (d + 1) + 4 * k + d;
    }
};

// Calls f(j) for every channel j in ascending order; spelled out for the
// in-object layout so the three channels need no loop.
template <class Layout, class F> MODEL_INLINE void eachChannel(const Layout& at, F f) {
    if constexpr (Layout::fixedChannels) {
        static_assert(Layout::D == 3, "the in-object layout holds three channels");
        f(0);
        f(1);
        f(2);
    } else {
        for (int j = 0; j < at.channels(); ++j)
            f(j);
    }
}

// Learning phase: the matched mode's mean and deviation become exact running
// averages over the samples it received. exact is 1 / learnCount, reused when
// the mode's count is that same number (same bits, one division less).
template <class Layout>
MODEL_INLINE void averageSampleIntoMode(const Layout& at, int k, std::uint32_t learnCount, double exact) {
    const std::uint32_t count = ++at.matchCount()[k];
    const double rho = count == learnCount ? exact : 1.0 / static_cast<double>(count);
    const double rest = 1.0 - rho;
    float* m = at.mean(k);
    eachChannel(at, [&](int j) {
        m[j] = static_cast<float>(rho * static_cast<double>(at.sample()[j]) + rest * static_cast<double>(m[j]));
    });
    double d2 = 0.0;
    eachChannel(at, [&](int j) {
        const double d = static_cast<double>(at.sample()[j]) - static_cast<double>(m[j]);
        d2 += d * d;
    });
    const double deviation = at.deviation(k);
    at.deviation(k) = static_cast<float>(std::sqrt(rest * (deviation * deviation) + rho * d2));
}

pixelModelGS::heapLayout pixelModelGS::heapView() const {
    const std::size_t d = nonNegative(channels_);
    const std::size_t k = nonNegative(maxModes_);
    std::byte* base = heap_.get();
    heapLayout at;
    at.D = static_cast<int>(d);
    at.stride = static_cast<int>(d + 1);
    at.modes = reinterpret_cast<float*>(base);
    at.weightArray = at.modes + k * (d + 1);
    at.ratioArray = at.weightArray + k;
    at.sampleArray = at.ratioArray + k;
    at.matchCountArray = reinterpret_cast<std::uint32_t*>(at.sampleArray + d);
    at.orderArray = reinterpret_cast<std::int32_t*>(at.matchCountArray + k);
    return at;
}

// Four cache lines per model; the grid sweep relies on the first one holding
// the counters, ranking, sample and mode 0.
static_assert(sizeof(pixelModelGS) == 256, "pixelModelGS grew beyond four cache lines");

// ---- construction, copy, assignment ---------------------------------------

pixelModelGS::pixelModelGS(int channels, int maxModes, float matchDeviations, float rate, float backgroundWeight,
                           float initialDeviation, float minBrightness)
    : matchDeviations_(matchDeviations), minBrightness_(minBrightness), rate_(rate), newDeviation_(initialDeviation),
      backgroundWeight_(backgroundWeight), minRate_(rate), initialDeviation_(initialDeviation), channels_(channels),
      maxModes_(maxModes) {
    allocate();
}

// Gives the model zeroed arrays for its channels_ and maxModes_ (inside the
// object when they fit) and the identity ranking.
void pixelModelGS::allocate() {
    heap_.reset();
    for (int r = 0; r < inlineModes; ++r)
        order_[r] = static_cast<std::int8_t>(r);
    std::memset(sample_, 0, sizeof sample_);
    std::memset(modes_, 0, sizeof modes_);
    std::memset(weight_, 0, sizeof weight_);
    std::memset(ratio_, 0, sizeof ratio_);
    std::memset(matchCount_, 0, sizeof matchCount_);
    if (channels_ == inlineChannels && maxModes_ >= 0 && maxModes_ <= inlineModes)
        return;
    const std::size_t words = heapLayout::words(channels_, maxModes_);
    heap_ = std::make_unique<std::byte[]>((words > 0 ? words : 1) * 4); // zero-filled
    const heapLayout at = heapView();
    for (int r = 0; r < maxModes_; ++r)
        at.order()[r] = r;
}

pixelModelGS::pixelModelGS(const pixelModelGS& source)
    : matchDeviations_(source.matchDeviations_), minBrightness_(source.minBrightness_), rate_(source.rate_),
      newDeviation_(source.newDeviation_), backgroundWeight_(source.backgroundWeight_), minRate_(source.minRate_),
      initialDeviation_(source.initialDeviation_), channels_(source.channels_), maxModes_(source.maxModes_) {
    allocate();
    *this = source;
}

pixelModelGS::~pixelModelGS() = default;

pixelModelGS& pixelModelGS::operator=(const pixelModelGS& source) {
    if (this == &source)
        return *this;
    if (maxModes_ != 0 && channels_ != 0) {
        if (source.maxModes_ != maxModes_ || source.channels_ != channels_) {
            std::cerr << "pixelModelGS::operator= Size mismatch!" << std::endl;
            std::exit(1);
        }
    } else if (source.maxModes_ != maxModes_ || source.channels_ != channels_) {
        channels_ = source.channels_;
        maxModes_ = source.maxModes_;
        allocate();
    }

    modeCount_ = source.modeCount_;
    backgroundModes_ = source.backgroundModes_;
    matchedPosition_ = source.matchedPosition_;
    lastShadow_ = source.lastShadow_;
    learning_ = source.learning_;
    matchDeviations_ = source.matchDeviations_;
    minBrightness_ = source.minBrightness_;
    rate_ = source.rate_;
    learnCount_ = source.learnCount_;
    updateCount_ = source.updateCount_;
    newDeviation_ = source.newDeviation_;
    backgroundWeight_ = source.backgroundWeight_;
    minRate_ = source.minRate_;
    initialDeviation_ = source.initialDeviation_;

    // Same sizes now, so both models keep their arrays in the same place.
    std::memcpy(order_, source.order_, sizeof order_);
    std::memcpy(sample_, source.sample_, sizeof sample_);
    std::memcpy(modes_, source.modes_, sizeof modes_);
    std::memcpy(weight_, source.weight_, sizeof weight_);
    std::memcpy(ratio_, source.ratio_, sizeof ratio_);
    std::memcpy(matchCount_, source.matchCount_, sizeof matchCount_);
    if (heap_)
        std::memcpy(heap_.get(), source.heap_.get(), heapLayout::words(channels_, maxModes_) * 4);
    return *this;
}

// ---- accessors ----------------------------------------------------------------

float pixelModelGS::weight(int k) const { return heap_ ? heapView().weight()[k] : weight_[k]; }

float pixelModelGS::mean(int k, int j) const {
    return heap_ ? heapView().mean(k)[j] : modes_[k * inlineLayout::stride + j];
}

float pixelModelGS::deviation(int k) const {
    return heap_ ? heapView().deviation(k) : modes_[k * inlineLayout::stride + inlineLayout::D];
}

float pixelModelGS::ratio(int k) const { return heap_ ? heapView().ratio()[k] : ratio_[k]; }

float pixelModelGS::sample(int j) const { return heap_ ? heapView().sample()[j] : sample_[j]; }

int pixelModelGS::order(int r) const { return heap_ ? heapView().order()[r] : order_[r]; }

std::uint32_t pixelModelGS::matchCount(int k) const { return heap_ ? heapView().matchCount()[k] : matchCount_[k]; }

// ---- classification -----------------------------------------------------------

float pixelModelGS::classifyFully(const float* sample) {
    if (!heap_)
        return classify(inlineLayout(this), sample);
    return classify(heapView(), sample);
}

template <class Layout> MODEL_INLINE void pixelModelGS::setSample(const Layout& at, const float* sample) {
    eachChannel(at, [&](int j) { at.sample()[j] = sample[j]; });
}

template <class Layout> MODEL_INLINE float pixelModelGS::classify(const Layout& at, const float* sample) {
    lastShadow_ = 0;
    setSample(at, sample);
    const double lambda = matchDeviations_;
    const int live = modeCount_;
    for (int r = 0; r < live; ++r) {
        const int k = at.order()[r];
        bool matches;
        if constexpr (Layout::fixedChannels) {
            matches = matchesInline(k);
        } else {
            const float* m = at.mean(k);
            double d2 = 0.0;
            eachChannel(at, [&](int j) {
                const double d = static_cast<double>(at.sample()[j]) - static_cast<double>(m[j]);
                d2 += d * d;
            });
            const double limit = lambda * static_cast<double>(at.deviation(k));
            matches = d2 < limit * limit;
        }
        if (matches) {
            matchedPosition_ = r;
            if (r < backgroundModes_)
                return 1.0f;
            lastShadow_ = static_cast<std::int8_t>(isShadow(at));
            return lastShadow_ ? 0.8f : 0.5f;
        }
    }
    matchedPosition_ = -1;
    lastShadow_ = static_cast<std::int8_t>(isShadow(at));
    return lastShadow_ ? 0.8f : 0.0f;
}

// A shadow points in almost the direction of a background mean (small
// distance from the line through black and the mean) and is darker than it by
// a ratio within (minBrightness, 1). A black mean gives NaN or infinity here,
// so every comparison fails and it never yields a shadow.
template <class Layout> int pixelModelGS::isShadow(const Layout& at) const {
    const double lambda = matchDeviations_;
    const double lowest = minBrightness_;
    for (int r = 0; r < backgroundModes_; ++r) {
        const int k = at.order()[r];
        const float* m = at.mean(k);
        double meanSquare = 0.0;
        double dot = 0.0;
        double sampleSquare = 0.0;
        eachChannel(at, [&](int j) {
            const double mj = m[j];
            const double sj = at.sample()[j];
            meanSquare += mj * mj;
            dot += sj * mj;
            sampleSquare += sj * sj;
        });
        const float length = static_cast<float>(std::sqrt(meanSquare));
        const float along = static_cast<float>(dot / static_cast<double>(length));
        const double across2 = sampleSquare - static_cast<double>(along) * static_cast<double>(along);
        const double brightness = static_cast<double>(along) / static_cast<double>(length);
        const double limit = lambda * static_cast<double>(at.deviation(k));
        if (across2 < limit * limit && lowest < brightness && brightness < 1.0)
            return 1;
    }
    return 0;
}

// ---- learning ---------------------------------------------------------------

void pixelModelGS::update() {
    if (!heap_)
        learn(inlineLayout(this));
    else
        learn(heapView());
}

template <class Layout> MODEL_INLINE void pixelModelGS::learn(const Layout& at) {
    // 1 / learnCount as computed for the rate; reused below when the matched
    // mode's count is the same number (a model with one mode), which saves a
    // division and gives the same bits.
    double exact = 0.0;
    if (learning_) {
        ++learnCount_;
        exact = 1.0 / static_cast<double>(learnCount_);
        rate_ = static_cast<float>(exact);
        if (exact < static_cast<double>(minRate_)) {
            learning_ = 0;
            rate_ = minRate_;
        }
    }

    int position = matchedPosition_;
    if (position >= modeCount_)
        position = -1;
    if (++updateCount_ >= renormalisePeriod) {
        updateCount_ = 0;
        const int matched = position >= 0 ? static_cast<int>(at.order()[position]) : -1;
        renormalise(at);
        // The renormalisation may have removed or moved the matched mode:
        // follow it to its new position, or treat the sample as unmatched.
        position = -1;
        for (int r = 0; r < modeCount_ && matched >= 0; ++r)
            if (at.order()[r] == matched) {
                position = r;
                break;
            }
    }

    if (position < 0) {
        addMode(at);
        return;
    }

    if (modeCount_ == 1) {
        learnOnlyMode(at, exact);
        return;
    }

    const int k = at.order()[position];
    const double alpha = rate_;
    const double keep = 1.0 - alpha;
    at.weight()[k] = static_cast<float>(keep * static_cast<double>(at.weight()[k]) + alpha);

    // One pass over the other live modes: they decay, and their largest
    // deviation is what newDeviation falls back to if the matched mode held
    // the maximum (its deviation may shrink below).
    float othersLargest = 0.0f;
    for (int r = 0; r < modeCount_; ++r) {
        if (r == position)
            continue;
        const int other = at.order()[r];
        at.weight()[other] = static_cast<float>(keep * static_cast<double>(at.weight()[other]));
        at.ratio()[other] = static_cast<float>(keep * static_cast<double>(at.ratio()[other]));
        if (at.deviation(other) > othersLargest)
            othersLargest = at.deviation(other);
    }
    if (at.deviation(k) >= newDeviation_)
        newDeviation_ = othersLargest;

    if (learning_)
        averageSampleIntoMode(at, k, learnCount_, exact);

    if (at.deviation(k) > newDeviation_)
        newDeviation_ = at.deviation(k);
    at.ratio()[k] = static_cast<float>(static_cast<double>(at.weight()[k]) / static_cast<double>(at.deviation(k)));

    // Re-place the matched mode by adjacent exchanges; equal ratios stay.
    int i = position;
    while (i > 0 && at.ratio()[at.order()[i]] > at.ratio()[at.order()[i - 1]]) {
        std::swap(at.order()[i], at.order()[i - 1]);
        --i;
    }
    while (i < modeCount_ - 1 && at.ratio()[at.order()[i]] < at.ratio()[at.order()[i + 1]]) {
        std::swap(at.order()[i], at.order()[i + 1]);
        ++i;
    }

    recountBackground(at);
}

// The general fold-in reduced to a model with a single live mode, which
// matched: there is no other mode to decay, to compare deviations with or to
// exchange places with, and that mode alone is the background whenever the
// background weight is positive. exact is 1 / learnCount from the learning
// step (only read while learning).
template <class Layout> MODEL_INLINE void pixelModelGS::learnOnlyMode(const Layout& at, double exact) {
    const int k = at.order()[0];
    const double alpha = rate_;
    const double keep = 1.0 - alpha;
    at.weight()[k] = static_cast<float>(keep * static_cast<double>(at.weight()[k]) + alpha);
    if (at.deviation(k) >= newDeviation_)
        newDeviation_ = 0.0f;

    if (learning_)
        averageSampleIntoMode(at, k, learnCount_, exact);

    if (at.deviation(k) > newDeviation_)
        newDeviation_ = at.deviation(k);
    at.ratio()[k] = static_cast<float>(static_cast<double>(at.weight()[k]) / static_cast<double>(at.deviation(k)));
    backgroundModes_ = backgroundWeight_ > 0.0f ? 1 : 0;
}

template <class Layout> MODEL_INLINE void pixelModelGS::placeUpward(const Layout& at, int position) {
    int i = position;
    while (i > 0 && at.ratio()[at.order()[i]] > at.ratio()[at.order()[i - 1]]) {
        std::swap(at.order()[i], at.order()[i - 1]);
        --i;
    }
}

// A new colour enters with the current rate as its weight and the largest
// deviation the model has, so it stays low in the ranking until it keeps
// matching.
template <class Layout> void pixelModelGS::addMode(const Layout& at) {
    if (maxModes_ <= 0)
        return; // no slot to put a mode in

    if (modeCount_ == 0) {
        // Mode 0 goes to position 0; swapping keeps order a permutation even
        // when a renormalisation has emptied a shuffled model.
        int from = 0;
        while (from < maxModes_ - 1 && at.order()[from] != 0)
            ++from;
        std::swap(at.order()[0], at.order()[from]);
        float* m = at.mean(0);
        eachChannel(at, [&](int j) { m[j] = at.sample()[j]; });
        at.deviation(0) = initialDeviation_;
        at.weight()[0] = 1.0f;
        at.ratio()[0] = static_cast<float>(1.0 / static_cast<double>(initialDeviation_));
        at.matchCount()[0] = 1;
        modeCount_ = 1;
        backgroundModes_ = 1;
        return;
    }

    if (modeCount_ < maxModes_) {
        const int k = at.order()[modeCount_];
        float* m = at.mean(k);
        eachChannel(at, [&](int j) { m[j] = at.sample()[j]; });
        at.deviation(k) = newDeviation_;
        at.weight()[k] = rate_;
        at.ratio()[k] = static_cast<float>(static_cast<double>(rate_) / static_cast<double>(newDeviation_));
        at.matchCount()[k] = 1;
        const double keep = 1.0 - static_cast<double>(rate_);
        for (int r = 0; r < modeCount_; ++r) {
            const int other = at.order()[r];
            at.weight()[other] = static_cast<float>(keep * static_cast<double>(at.weight()[other]));
            at.ratio()[other] = static_cast<float>(keep * static_cast<double>(at.ratio()[other]));
        }
        ++modeCount_;
        placeUpward(at, modeCount_ - 1);
        recountBackground(at);
        return;
    }

    // Full: the last-placed mode gives way, whatever its weight.
    const int last = maxModes_ - 1;
    const int k = at.order()[last];
    if (learning_) {
        learnCount_ -= at.matchCount()[k];
        rate_ = static_cast<float>(1.0 / static_cast<double>(learnCount_));
        at.matchCount()[k] = 1;
    }
    if (at.deviation(k) >= newDeviation_) {
        float largest = 0.0f;
        for (int r = 0; r < last; ++r)
            if (at.deviation(at.order()[r]) > largest)
                largest = at.deviation(at.order()[r]);
        newDeviation_ = largest;
    }
    // The others' remainder 1 - w becomes 1 - rate.
    const float factor =
        static_cast<float>((1.0 - static_cast<double>(rate_)) / (1.0 - static_cast<double>(at.weight()[k])));
    float* m = at.mean(k);
    eachChannel(at, [&](int j) { m[j] = at.sample()[j]; });
    at.deviation(k) = newDeviation_;
    at.weight()[k] = rate_;
    at.ratio()[k] = static_cast<float>(static_cast<double>(rate_) / static_cast<double>(newDeviation_));
    for (int r = 0; r < last; ++r) {
        const int other = at.order()[r];
        at.weight()[other] = static_cast<float>(static_cast<double>(at.weight()[other]) * static_cast<double>(factor));
        at.ratio()[other] = static_cast<float>(static_cast<double>(at.ratio()[other]) * static_cast<double>(factor));
    }
    placeUpward(at, last);
    recountBackground(at);
}

// The background is the shortest run of leading modes whose weights reach
// backgroundWeight; the mode that crosses the threshold belongs to it.
template <class Layout> MODEL_INLINE void pixelModelGS::recountBackground(const Layout& at) {
    if (!(backgroundWeight_ > 0.0f) || modeCount_ <= 0) {
        backgroundModes_ = 0;
        return;
    }
    const double threshold = backgroundWeight_;
    double sum = 0.0;
    for (int b = 1; b <= modeCount_; ++b) {
        sum += static_cast<double>(at.weight()[at.order()[b - 1]]);
        if (sum >= threshold) {
            backgroundModes_ = b;
            return;
        }
    }
    backgroundModes_ = modeCount_;
}

// Undoes the drift of the repeated single-precision scaling: weights back to
// sum 1, modes whose weight has run out dropped.
template <class Layout> void pixelModelGS::renormalise(const Layout& at) {
    const int live = modeCount_;
    double total = 0.0;
    for (int r = 0; r < live; ++r)
        total += static_cast<double>(at.weight()[at.order()[r]]);
    for (int r = 0; r < live; ++r) {
        const int k = at.order()[r];
        at.weight()[k] = static_cast<float>(static_cast<double>(at.weight()[k]) / total);
        at.ratio()[k] = static_cast<float>(static_cast<double>(at.weight()[k]) / static_cast<double>(at.deviation(k)));
    }

    // Stable partition in place: kept modes to the front in their order, the
    // removed ones behind them.
    int kept = 0;
    for (int r = 0; r < live; ++r) {
        const auto k = at.order()[r];
        if (at.weight()[k] > 0.0f) {
            for (int i = r; i > kept; --i)
                at.order()[i] = at.order()[i - 1];
            at.order()[kept++] = k;
        } else {
            at.weight()[k] = 0.0f;
            at.ratio()[k] = 0.0f;
        }
    }
    modeCount_ = kept;

    float largest = 0.0f;
    for (int r = 0; r < kept; ++r)
        if (at.deviation(at.order()[r]) > largest)
            largest = at.deviation(at.order()[r]);
    newDeviation_ = largest;
    for (int r = 0; r < kept; ++r)
        if (static_cast<double>(at.deviation(at.order()[r])) < deviationFloor)
            at.deviation(at.order()[r]) = static_cast<float>(deviationFloor);

    for (int r = 1; r < kept; ++r)
        for (int i = r; i > 0 && at.ratio()[at.order()[i]] > at.ratio()[at.order()[i - 1]]; --i)
            std::swap(at.order()[i], at.order()[i - 1]);

    recountBackground(at);
}
