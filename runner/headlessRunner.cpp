#include "runner/headlessRunner.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "capture/frameQueue.h"
#include "capture/frameRecorder.h"
#include "capture/imageSource.h"
#include "capture/latestFramePump.h"
#include "capture/listSources.h"
#include "capture/sourceRequest.h"
#include "messaging/messageStream.h"
#include "pipeline/messageBox.h"
#include "pipeline/pipeline.h"
#include "runner/messageTee.h"
#include "runner/runReport.h"
#include "runner/runVerdict.h"
#include "settings/configFile.h"
#include "settings/visionSettings.h"
#include "toolkit/QMXrgbImage.h"

namespace {

using steadyClock = std::chrono::steady_clock;

// A source that has delivered nothing for this long is taken as gone.
constexpr auto stallLimit = std::chrono::seconds(10);
// Longest wait for a receiver whose queue is full (file sources only).
constexpr auto receiverWaitLimit = std::chrono::milliseconds(1000);
// How often the loop looks at the stop request while it waits for a frame.
constexpr auto pollInterval = std::chrono::milliseconds(50);

std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free, "flag written from a signal handler");

extern "C" void onStopSignal(int number) {
    stopSignal.store(number);
    stopRequested.store(true);
}

// SIGINT and SIGTERM end the loop cleanly for the length of a run. The
// handler resets itself, so a second Ctrl-C ends a stuck process at once.
class stopSignalScope {
public:
    stopSignalScope() {
        stopRequested = false;
        stopSignal = 0;
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(SIGINT, &action, &previousInt_);
        sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~stopSignalScope() {
        sigaction(SIGINT, &previousInt_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
    }
    stopSignalScope(const stopSignalScope&) = delete;
    stopSignalScope& operator=(const stopSignalScope&) = delete;

private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

// The pump's notify hook wakes the loop and notes when each frame left the
// queue (the pump stores it and notifies right after taking it).
class frameSignal {
public:
    void notify(unsigned long long framesStored) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            signalled_ = true;
            if (framesStored != lastStored_) {
                lastStored_ = framesStored;
                stamp_ = steadyClock::now();
            }
        }
        wake_.notify_one();
    }
    void wait(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, limit, [this] { return signalled_; });
        signalled_ = false;
    }
    steadyClock::time_point stamp() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return stamp_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool signalled_ = false;
    unsigned long long lastStored_ = 0;
    steadyClock::time_point stamp_ = steadyClock::now();
};

// Puts the channel's own transport back and the default message box when
// the run is over, whatever way it ends.
class runScope {
public:
    explicit runScope(std::shared_ptr<datagramTransport> inner) : inner_(std::move(inner)) {}
    ~runScope() {
        messageStream.setTransport(inner_);
        setMessageBoxHandler({});
    }
    runScope(const runScope&) = delete;
    runScope& operator=(const runScope&) = delete;

private:
    std::shared_ptr<datagramTransport> inner_;
};

double recordingRate(const imageSource& source, const sourceRequest& request) {
    if (source.kind() == sourceKind::camera) {
        const double rate = source.cameraMode().framesPerSecond();
        if (rate > 0.0)
            return rate;
    }
    if (source.kind() == sourceKind::demo && request.demo.framesPerSecond > 0)
        return request.demo.framesPerSecond;
    return 25.0;
}

// The sequence is read up to its first missing file; files after a gap
// would be skipped without a word, so a gap is refused.
std::string sequenceGap(const std::string& pattern) {
    const long long first = firstSequenceIndex(pattern);
    if (first < 0)
        return {};
    const long long missing = first + countSequenceFiles(pattern, first);
    constexpr long long lookAhead = 1000;
    for (long long i = missing + 1; i <= missing + lookAhead; ++i) {
        std::error_code ec;
        if (std::filesystem::exists(formatSequencePath(pattern, i), ec))
            return "image sequence " + pattern + " has a gap: " + formatSequencePath(pattern, missing) +
                   " is missing but " + formatSequencePath(pattern, i) + " exists";
    }
    return {};
}

} // namespace

std::string listSourcesText() {
    return describeSources(listCameras());
}

int runHeadless(const commandLineOptions& options) {
    return runHeadless(options, std::cout, std::cerr);
}

int runHeadless(const commandLineOptions& options, std::ostream& out, std::ostream& err) {
    // A recording that cannot be written is a usage error: refuse it before
    // anything starts.
    if (!options.recordPath.empty()) {
        std::string why;
        if (!frameRecorder::checkOutputPath(options.recordPath, why)) {
            err << "Error: " << why << std::endl;
            return 1;
        }
    }

    // 1. The result channel; it ends the process itself when nothing opens.
    openMessageChannel(messageChannelOptions(options));

    // 2. The image source.
    const std::string sourceText = options.source.empty() ? "camera" : options.source;
    const sourceRequest request = parseSourceText(sourceText);
    imageSource source;
    if (!source.open(sourceText)) {
        const std::string why = source.errorText().empty() ? request.error : source.errorText();
        if (request.kind == sourceKind::camera || request.kind == sourceKind::none) {
            // Nothing there to open reads as the desktop program's refusal.
            err << "Error:  No image source found";
            if (!why.empty())
                err << " (" << why << ")";
            err << std::endl;
        } else {
            err << "Error: " << (why.empty() ? "cannot open " + sourceText : why) << std::endl;
        }
        return 1;
    }
    const bool live = source.isLive();
    if (request.kind == sourceKind::imageSequence) {
        const std::string gap = sequenceGap(request.path.empty() ? sourceText : request.path);
        if (!gap.empty()) {
            err << "Error: " << gap << std::endl;
            return 1;
        }
    }

    // 3. Settings, then the command line's switches for this run.
    loadSettings();
    applySettingOverrides(options, visionSettings);

    stopSignalScope signals;
    setMessageBoxHandler([&err](const std::string& text) { err << text << std::endl; });

    // Every datagram passes the tee: --print-messages, the message count and
    // the latency samples come from there.
    std::vector<double> latencies;      // frame out of the queue -> its message sent
    std::vector<double> processingTimes; // frame taken by this loop -> its message sent
    std::optional<steadyClock::time_point> frameLeftQueue;
    steadyClock::time_point frameTaken;
    std::uint64_t messagesSent = 0;
    auto tee = std::make_shared<messageTee>(
        messageStream.transport() ? messageStream.setTransport(nullptr) : nullptr,
        options.printMessages ? &out : nullptr,
        [&](std::string_view, const sendResult& result) {
            if (!result.ok)
                return;
            ++messagesSent;
            if (frameLeftQueue && options.reportLatency) {
                const steadyClock::time_point sent = steadyClock::now();
                latencies.push_back(
                    std::chrono::duration<double, std::milli>(sent - *frameLeftQueue).count());
                processingTimes.push_back(
                    std::chrono::duration<double, std::milli>(sent - frameTaken).count());
                frameLeftQueue.reset(); // one sample per frame: its first message
            }
        });
    runScope scope(tee->inner());
    messageStream.setTransport(tee);
    // Files are processed as fast as the receiver takes their messages;
    // live sources never wait for it.
    if (!live)
        tee->setWaitWhenFull(receiverWaitLimit);
    bool warnedSlowReceiver = false;

    std::unique_ptr<frameRecorder> recorder;
    if (!options.recordPath.empty())
        recorder = std::make_unique<frameRecorder>(options.recordPath, recordingRate(source, request));

    frameQueue queue;
    latestFramePump pump(queue);
    frameSignal signal;
    pump.setNotify([&signal, &pump] { signal.notify(pump.framesStored()); });
    pump.setKeepEveryFrame(!live);
    if (!queue.connectToSource(source)) {
        err << "Error: " << source.description() << " cannot be connected" << std::endl;
        return 1;
    }

    const long long knownFrames = source.knownFrameCount();
    long long total = knownFrames;
    if (options.frameLimit && (total < 0 || static_cast<unsigned long long>(total) > *options.frameLimit))
        total = static_cast<long long>(*options.frameLimit);
    progressReporter progress(err, total);

    pump.Run();

    std::uint64_t processed = 0;
    std::string failure; // non-empty: the run ends with status 1
    bool interrupted = false;
    rgbaImage frame;
    steadyClock::time_point lastFrame = steadyClock::now();

    auto processOne = [&](steadyClock::time_point leftQueue, steadyClock::time_point taken) {
        // The frame is ours (the pump handed its buffer over), so the
        // pipeline may draw into it while the pump fills the next one.
        QMXrgbImage header = makeFrameHeader(frame.pixels(), frame.width(), frame.height());
        frameLeftQueue = leftQueue;
        frameTaken = taken;
        processVisionFrame(header);
        frameLeftQueue.reset();
        ++processed;
        if (recorder) {
            std::string why;
            if (!recorder->write(frame.pixels(), frame.width(), frame.height(), why))
                failure = why;
        }
        if (tee->gaveUpWaiting() && !warnedSlowReceiver) {
            err << "vorn: warning: the receiver does not take messages; no longer waiting for it"
                << std::endl;
            warnedSlowReceiver = true;
        }
        progress.frameDone(processed);
    };

    while (failure.empty()) {
        if (stopRequested) {
            interrupted = true;
            break;
        }
        if (options.frameLimit && processed >= *options.frameLimit)
            break;
        // Read the stamp before taking: the pump stores the next frame only
        // after this one is taken (every-frame mode), so it belongs to it.
        const steadyClock::time_point leftQueue = signal.stamp();
        bool got = pump.takeLatest(frame);
        if (!got && pump.streamEnded())
            got = pump.takeLatest(frame); // the last frame may land just before the end
        if (got) {
            lastFrame = steadyClock::now();
            if (!frame.empty())
                processOne(leftQueue, lastFrame);
            continue;
        }
        if (pump.streamEnded())
            break;
        if (steadyClock::now() - lastFrame > stallLimit) {
            failure = "no frame from " + source.description() + " for " +
                      std::to_string(std::chrono::duration_cast<std::chrono::seconds>(stallLimit).count()) +
                      " s";
            break;
        }
        signal.wait(pollInterval);
    }

    const bool ended = pump.streamEnded();
    pump.KillThread();
    const streamState state = queue.state();
    const std::string endMessage = queue.endMessage();
    const unsigned long long dropped = pump.framesOverwritten() + queue.framesDropped();
    const std::string description = source.description();
    queue.disconnect();
    source.close();

    if (recorder) {
        std::string why;
        if (!recorder->finish(why) && failure.empty())
            failure = why;
    }

    runEnd end;
    end.sourceText = request.kind == sourceKind::imageSequence && !request.path.empty() ? request.path
                                                                                       : sourceText;
    end.description = description;
    end.kind = request.kind;
    end.live = live;
    end.streamEnded = ended;
    end.state = state;
    end.endMessage = endMessage;
    end.interrupted = interrupted;
    end.reachedLimit = options.frameLimit && processed >= *options.frameLimit;
    end.processed = processed;
    end.knownFrames = knownFrames;
    if (request.kind == sourceKind::imageSequence)
        end.firstIndex = std::max(0LL, firstSequenceIndex(end.sourceText));
    const runVerdict verdict = judgeRunEnd(end);
    if (failure.empty())
        failure = verdict.failure;
    const std::string& warning = verdict.warning;

    if (!warning.empty())
        err << "vorn: warning: " << warning << std::endl;
    if (interrupted)
        err << "vorn: stopped by " << (stopSignal == SIGTERM ? "SIGTERM" : "SIGINT") << std::endl;
    if (!failure.empty())
        err << "Error: " << failure << std::endl;
    if (recorder && failure.empty() && recorder->framesWritten() > 0)
        err << "vorn: " << recorder->framesWritten() << " annotated frames recorded to "
            << options.recordPath << " (" << frameRecorder::formatName(options.recordPath) << ")"
            << std::endl;
    err << summaryLine(processed, dropped, messagesSent, progress.meanFps()) << std::endl;
    if (options.reportLatency)
        err << latencyLine(summariseLatencies(latencies), summariseLatencies(processingTimes))
            << std::endl;

    if (!failure.empty())
        return 1;
    // A normal end, Ctrl-C included: keep the settings for the next run.
    saveSettings();
    return 0;
}

std::optional<int> answerWithoutRunning(const commandLineParse& parsed) {
    if (!parsed.ok) {
        std::cerr << "vorn: " << parsed.error << "\nTry 'vorn --help'." << std::endl;
        return 1;
    }
    const commandLineOptions& options = parsed.options;
    if (options.help) {
        std::cout << commandLineUsage("vorn");
        return 0;
    }
    if (options.version) {
        std::cout << versionText();
        return 0;
    }
    if (options.listSources) {
        std::cout << listSourcesText();
        return 0;
    }
    return std::nullopt;
}
