#pragma once
// Statistical model of one background pixel: an adaptive mixture of up to K
// colour modes, each with a mean vector over the D channels, one standard
// deviation shared by all channels and a weight.
//
//   probability(sample) classifies a sample and remembers it:
//     1.0 matches a background mode, 0.8 a shadow cast on the background,
//     0.5 matches a mode that is not (yet) background, 0.0 matches nothing.
//   update() folds the sample of the latest probability() call into the model.
//
// Learning runs in two phases: exact running averages while 1 / (counted
// updates) stays at or above the minimum rate, then a fixed rate under which
// only the weights and the ranking of the modes move.
//
// All members are single precision; every sum and product is formed in double
// precision and rounded to float when stored.
//
// Memory: the background stage sweeps a grid of 140000 of these every frame,
// so for the system's sizes (D == 3, K <= 5) every array lives inside the
// object, and what a classification needs most (the counters, the ranking,
// the sample and the first mode) shares the object's first cache line. Other
// sizes keep their arrays in one heap block owned by the model. Copies are
// always deep; assignment between models of the same size reuses storage.
//
// There is no default constructor; build a grid with the constructor
// arguments, e.g. std::vector<pixelModelGS>(n, pixelModelGS(3, 5, ...)) or by
// placement construction, and reset cells by assigning an empty model.

#include <cstddef>
#include <cstdint>
#include <memory>

class alignas(64) pixelModelGS {
public:
    pixelModelGS(int channels, int maxModes, float matchDeviations, float rate, float backgroundWeight,
                 float initialDeviation, float minBrightness);
    pixelModelGS(const pixelModelGS& source);
    ~pixelModelGS();

    // Deep copy of every member and of all K mode slots. Does nothing on
    // itself. A model that has storage (channels and maxModes both non-zero)
    // only accepts a source of the same size: otherwise the process ends with
    // "pixelModelGS::operator= Size mismatch!" on stderr and exit status 1.
    pixelModelGS& operator=(const pixelModelGS& source);

    // Classifies the D values at sample; returns exactly 1.0f, 0.8f, 0.5f or
    // 0.0f. Remembers the sample and the matched position for update().
    inline float probability(const float* sample);

    // Folds the sample of the latest probability() call into the model.
    void update();

    // ---- state, read-only -------------------------------------------------
    int channels() const { return channels_; }
    int maxModes() const { return maxModes_; }
    int modeCount() const { return modeCount_; }
    int backgroundModes() const { return backgroundModes_; }
    float backgroundWeight() const { return backgroundWeight_; }
    int matchedPosition() const { return matchedPosition_; }
    std::uint32_t learnCount() const { return learnCount_; }
    int updateCount() const { return updateCount_; }
    int learning() const { return learning_; }
    float minBrightness() const { return minBrightness_; }
    int lastShadow() const { return lastShadow_; }
    float rate() const { return rate_; }
    float minRate() const { return minRate_; }
    float matchDeviations() const { return matchDeviations_; }
    float initialDeviation() const { return initialDeviation_; }
    float newDeviation() const { return newDeviation_; }

    // Per mode index k (0 to K-1), channel j (0 to D-1), position r (0 to K-1).
    float weight(int k) const;
    float mean(int k, int j) const;
    float deviation(int k) const;
    float ratio(int k) const;
    float sample(int j) const;
    int order(int r) const;
    std::uint32_t matchCount(int k) const;

    // True when the arrays live inside the object (no heap block).
    bool storedInline() const { return !heap_; }

    // Capacity of the in-object storage.
    static constexpr int inlineChannels = 3;
    static constexpr int inlineModes = 5;

private:
    // Views of the arrays: the in-object one with the channel count fixed at
    // compile time, and the general one over the heap block. The operations
    // below are written once against either.
    struct inlineLayout;
    struct heapLayout;

    float classifyFully(const float* sample);
    bool matchesInline(int k) const;
    template <class Layout> float classify(const Layout& at, const float* sample);
    template <class Layout> void learn(const Layout& at);
    template <class Layout> void learnOnlyMode(const Layout& at, double exact);
    template <class Layout> void setSample(const Layout& at, const float* sample);
    template <class Layout> int isShadow(const Layout& at) const;
    template <class Layout> void addMode(const Layout& at);
    template <class Layout> void recountBackground(const Layout& at);
    template <class Layout> void renormalise(const Layout& at);
    template <class Layout> void placeUpward(const Layout& at, int position);

    void allocate();
    heapLayout heapView() const;

    // First cache line: everything a classification of a stable background
    // pixel reads or writes.
    std::int32_t modeCount_ = 0;
    std::int32_t backgroundModes_ = 0;
    std::int32_t matchedPosition_ = -1;
    std::int8_t lastShadow_ = 0;
    std::int8_t learning_ = 1;
    std::int8_t order_[inlineModes] = {0, 1, 2, 3, 4};
    float matchDeviations_;
    float sample_[inlineChannels] = {};
    float minBrightness_;
    std::unique_ptr<std::byte[]> heap_; // only for sizes beyond the in-object capacity
    // Mode records: inlineChannels mean values, then the deviation. Mode 0
    // closes the first cache line, modes 1 to 4 fill the second.
    float modes_[inlineModes * (inlineChannels + 1)] = {};

    // Third line: what an update touches besides the modes' records.
    float weight_[inlineModes] = {};
    float ratio_[inlineModes] = {};
    float rate_;
    std::uint32_t learnCount_ = 0;
    std::int32_t updateCount_ = 0;
    float newDeviation_;
    float backgroundWeight_;

    // Then the learning-phase counts and the construction parameters.
    std::uint32_t matchCount_[inlineModes] = {};
    float minRate_;
    float initialDeviation_;
    std::int32_t channels_;
    std::int32_t maxModes_;
};

// The common case stays inline at the caller: the colour matches the leading
// background mode of a model whose arrays live in the object. Everything
// else goes through the full classification.
inline float pixelModelGS::probability(const float* sample) {
    if (!heap_ && backgroundModes_ > 0) {
        sample_[0] = sample[0];
        sample_[1] = sample[1];
        sample_[2] = sample[2];
        if (matchesInline(order_[0])) {
            lastShadow_ = 0;
            matchedPosition_ = 0;
            return 1.0f;
        }
    }
    return classifyFully(sample);
}

// d^2 < (lambda * deviation)^2 for the in-object mode k, in double precision.
inline bool pixelModelGS::matchesInline(int k) const {
    const float* m = modes_ + k * (inlineChannels + 1);
    const double d0 = static_cast<double>(sample_[0]) - static_cast<double>(m[0]);
    const double d1 = static_cast<double>(sample_[1]) - static_cast<double>(m[1]);
    const double d2 = static_cast<double>(sample_[2]) - static_cast<double>(m[2]);
    const double squared = d0 * d0 + d1 * d1 + d2 * d2;
    const double limit = static_cast<double>(matchDeviations_) * static_cast<double>(m[inlineChannels]);
    return squared < limit * limit;
}
