#include "runner/runReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

latencySummary summariseLatencies(std::vector<double> samplesMs) {
    latencySummary summary;
    summary.count = samplesMs.size();
    if (samplesMs.empty())
        return summary;
    std::sort(samplesMs.begin(), samplesMs.end());
    const std::size_t n = samplesMs.size();
    summary.medianMs = n % 2 ? samplesMs[n / 2] : (samplesMs[n / 2 - 1] + samplesMs[n / 2]) / 2.0;
    // Nearest rank: ceil(0.99 n), one-based.
    std::size_t rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n)));
    rank = std::clamp<std::size_t>(rank, 1, n);
    summary.p99Ms = samplesMs[rank - 1];
    summary.maxMs = samplesMs.back();
    return summary;
}

std::string latencyLine(const latencySummary& fromQueue, const latencySummary& processing) {
    char text[300];
    std::snprintf(text, sizeof text,
                  "vorn: latency from frame out of the queue to message sent: %zu frames, "
                  "median %.3f ms, 99th percentile %.3f ms, max %.3f ms; processing alone: "
                  "median %.3f ms, 99th percentile %.3f ms",
                  fromQueue.count, fromQueue.medianMs, fromQueue.p99Ms, fromQueue.maxMs,
                  processing.medianMs, processing.p99Ms);
    return text;
}

std::string summaryLine(std::uint64_t processed, std::uint64_t dropped, std::uint64_t messages,
                        double meanFps) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "vorn: %llu frames processed, %llu dropped, %llu messages sent, mean %.1f fps",
                  static_cast<unsigned long long>(processed), static_cast<unsigned long long>(dropped),
                  static_cast<unsigned long long>(messages), meanFps);
    return text;
}

std::string progressLine(std::uint64_t processed, long long total, double fps) {
    char text[160];
    if (total >= 0)
        std::snprintf(text, sizeof text, "vorn: %llu of %lld frames, %.1f fps",
                      static_cast<unsigned long long>(processed), total, fps);
    else
        std::snprintf(text, sizeof text, "vorn: %llu frames, %.1f fps",
                      static_cast<unsigned long long>(processed), fps);
    return text;
}

progressReporter::progressReporter(std::ostream& out, long long totalFrames,
                                   std::chrono::milliseconds interval,
                                   std::function<clock::time_point()> now)
    : out_(out), total_(totalFrames), interval_(interval), now_(std::move(now)) {
    start_ = now_();
    lastLine_ = start_;
}

void progressReporter::frameDone(std::uint64_t processed) {
    const clock::time_point t = now_();
    if (processed_ == 0)
        firstFrame_ = t;
    lastFrame_ = t;
    processed_ = processed;
    if (t - lastLine_ < interval_)
        return;
    // The rate over the last interval, so a stall shows at once.
    const double seconds = std::chrono::duration<double>(t - lastLine_).count();
    const double fps = seconds > 0.0 ? static_cast<double>(processed - framesAtLastLine_) / seconds : 0.0;
    out_ << progressLine(processed, total_, fps) << std::endl;
    lastLine_ = t;
    framesAtLastLine_ = processed;
    ++lines_;
}

double progressReporter::meanFps() const {
    if (processed_ < 2)
        return 0.0;
    const double seconds = std::chrono::duration<double>(lastFrame_ - firstFrame_).count();
    // n frames span n - 1 intervals between their ends.
    return seconds > 0.0 ? static_cast<double>(processed_ - 1) / seconds : 0.0;
}

double progressReporter::elapsedSeconds() const {
    return std::chrono::duration<double>(now_() - start_).count();
}
