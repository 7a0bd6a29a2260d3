#include "toolkit/runningStats.h"

void runningStats::update(double x) {
    const double k = 1.0 - rate;
    mean = k * mean + rate * x;
    const double d = static_cast<float>(x - mean);
    variance = rate * (d * d) + k * variance;
}

double uniformRandom(std::int32_t& state) {
    constexpr std::int32_t mask = 123459876;
    constexpr std::int32_t a = 16807;
    constexpr std::int32_t m = 2147483647;
    constexpr std::int32_t q = 127773; // m / a
    constexpr std::int32_t r = 2836;   // m % a
    std::int32_t s = state ^ mask;
    const std::int32_t k = s / q;
    // Schrage: a * (s mod q) - r * (s / q) stays within 32 bits.
    s = a * (s - k * q) - r * k;
    if (s < 0)
        s += m;
    const double result = s * 4.656612875245797e-10;
    state = s ^ mask;
    return result;
}
