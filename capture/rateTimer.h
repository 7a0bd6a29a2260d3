#pragma once
// Measures how often something happens: each RateUpdate() counts one event
// and returns the events per second over the last `window` events, or a
// negative value while there is no rate yet (fewer than two events, or no
// time has passed between them).
//
// One thread at a time (the status-bar rates are updated on the UI thread).

#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

class rateTimer {
public:
    using clock = std::chrono::steady_clock;
    using clockFunction = std::function<clock::time_point()>;

    // `window` is clamped to at least 2. The clock is replaceable for tests.
    explicit rateTimer(int window = 10, clockFunction now = &clock::now);

    double RateUpdate();
    // Forgets every event counted so far.
    void reset();

private:
    clockFunction now_;
    std::vector<clock::time_point> times_; // ring of the last `window` events
    std::size_t next_ = 0;
    std::size_t count_ = 0;
};
