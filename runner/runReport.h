#pragma once
// What the headless runner tells the operator on standard error while it
// works: a progress line at most once an interval, one summary line at the
// end, and the latency figures of --latency.

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct latencySummary {
    std::size_t count = 0;
    double medianMs = 0.0;
    double p99Ms = 0.0; // nearest rank: the smallest value with 99% at or below it
    double maxMs = 0.0;
};

// Median and 99th percentile of the samples (milliseconds); zeros when none.
latencySummary summariseLatencies(std::vector<double> samplesMs);

// "vorn: latency from frame out of the queue to message sent: 2 frames, median
// 1.230 ms, 99th percentile ..., max ...; processing alone: median ..., 99th
// percentile ..." (the second part: from the loop taking the frame).
std::string latencyLine(const latencySummary& fromQueue, const latencySummary& processing);

// "vorn: 150 frames processed, 0 dropped, 150 messages sent, mean 29.9 fps"
std::string summaryLine(std::uint64_t processed, std::uint64_t dropped, std::uint64_t messages,
                        double meanFps);

// "vorn: 300 of 1000 frames, 58.2 fps" (total < 0: not known, "300 frames").
std::string progressLine(std::uint64_t processed, long long total, double fps);

// Prints progressLine() at most once per interval; the first line after one
// interval, so a short run prints none.
class progressReporter {
public:
    using clock = std::chrono::steady_clock;
    progressReporter(std::ostream& out, long long totalFrames,
                     std::chrono::milliseconds interval = std::chrono::milliseconds(1000),
                     std::function<clock::time_point()> now = &clock::now);

    // One more frame processed (the running count is passed in).
    void frameDone(std::uint64_t processed);
    // Frames per second from the first call of frameDone() until the last.
    double meanFps() const;
    // Seconds since construction.
    double elapsedSeconds() const;
    int linesPrinted() const { return lines_; }

private:
    std::ostream& out_;
    long long total_;
    std::chrono::milliseconds interval_;
    std::function<clock::time_point()> now_;
    clock::time_point start_;
    clock::time_point lastLine_;
    clock::time_point firstFrame_{};
    clock::time_point lastFrame_{};
    std::uint64_t framesAtLastLine_ = 0;
    std::uint64_t processed_ = 0;
    int lines_ = 0;
};
