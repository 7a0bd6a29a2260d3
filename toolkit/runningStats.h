#pragma once
// Exponentially weighted running mean and variance of one series, and the
// system's random number generator (state kept by the caller).

#include <cstdint>

struct runningStats {
    double mean = 0.0;
    double variance = 0.0;
    // Weight of each new value; the system's rate is 0.001 as a float, widened.
    double rate = static_cast<double>(0.001f);

    // Folds one value into the mean and the variance (no warm-up).
    void update(double x);
};

// Minimal-standard multiplicative congruential generator (16807 mod 2^31 - 1,
// Schrage's factorisation). The caller's state is stored XOR 123459876;
// returns the next value in [0, 1). A stored 123459876 is a fixed point at 0.
double uniformRandom(std::int32_t& state);
