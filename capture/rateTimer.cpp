#include "capture/rateTimer.h"

#include <algorithm>
#include <utility>

rateTimer::rateTimer(int window, clockFunction now)
    : now_(std::move(now)), times_(static_cast<std::size_t>(std::max(window, 2))) {}

double rateTimer::RateUpdate() {
    const clock::time_point t = now_();
    times_[next_] = t;
    next_ = (next_ + 1) % times_.size();
    if (count_ < times_.size())
        ++count_;
    if (count_ < 2)
        return -1.0;
    // The oldest event still in the window.
    const std::size_t oldest = (next_ + times_.size() - count_) % times_.size();
    const double seconds = std::chrono::duration<double>(t - times_[oldest]).count();
    if (seconds <= 0.0)
        return -1.0;
    return static_cast<double>(count_ - 1) / seconds;
}

void rateTimer::reset() {
    next_ = 0;
    count_ = 0;
}
