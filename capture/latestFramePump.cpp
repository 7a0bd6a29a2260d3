#include "capture/latestFramePump.h"

#include "capture/imageSource.h"

#include <utility>

latestFramePump::latestFramePump(frameQueue& queue) : queue_(queue) {}

latestFramePump::~latestFramePump() {
    KillThread();
    // The empty image pushed to wake the worker must not greet the next pump.
    queue_.clear();
}

void latestFramePump::setNotify(std::function<void()> notify) {
    std::lock_guard<std::mutex> lock(notifyMutex_);
    notify_ = std::move(notify);
}

void latestFramePump::setSwitchesSource(bool switches) {
    switchesSource_ = switches;
}

void latestFramePump::setKeepEveryFrame(std::optional<bool> keepEvery) {
    keepEveryOption_ = keepEvery;
}

void latestFramePump::setTimedWait(std::optional<std::chrono::milliseconds> wait) {
    timedWait_ = wait;
}

void latestFramePump::setRenotifyInterval(std::chrono::milliseconds interval) {
    std::lock_guard<std::mutex> lock(latestMutex_);
    renotifyInterval_ = interval;
}

void latestFramePump::notify() {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(notifyMutex_);
        hook = notify_;
    }
    if (hook)
        hook();
}

bool latestFramePump::takeLatest(rgbaImage& frame) {
    {
        std::lock_guard<std::mutex> lock(latestMutex_);
        if (!latestIsNew_)
            return false;
        frame = latest_;
        latestIsNew_ = false;
    }
    taken_.notify_all();
    return true;
}

bool latestFramePump::copyLatest(rgbaImage& frame) {
    {
        std::lock_guard<std::mutex> lock(latestMutex_);
        if (latest_.empty())
            return false;
        frame = latest_;
        latestIsNew_ = false;
    }
    taken_.notify_all();
    return true;
}

bool latestFramePump::hasNewFrame() const {
    std::lock_guard<std::mutex> lock(latestMutex_);
    return latestIsNew_;
}

unsigned long long latestFramePump::framesStored() const {
    std::lock_guard<std::mutex> lock(latestMutex_);
    return stored_;
}

unsigned long long latestFramePump::framesOverwritten() const {
    std::lock_guard<std::mutex> lock(latestMutex_);
    return overwritten_;
}

bool latestFramePump::streamEnded() const {
    return ended_.load();
}

void latestFramePump::OnRun() {
    imageSource* source = queue_.source();
    {
        std::lock_guard<std::mutex> lock(latestMutex_);
        keepEvery_ = keepEveryOption_ ? *keepEveryOption_ : (source != nullptr && !source->isLive());
    }
    if (!queue_.atEnd())
        ended_ = false;
    if (switchesSource_ && source != nullptr)
        source->setOn(true);
}

void latestFramePump::OnPause() {
    imageSource* source = queue_.source();
    if (switchesSource_ && source != nullptr)
        source->setOn(false);
}

void latestFramePump::WakeWorker() {
    {
        std::lock_guard<std::mutex> lock(latestMutex_);
        stopWaiting_ = true;
    }
    taken_.notify_all();
    queue_.pushBackEmpty();
}

bool latestFramePump::PumpCore() {
    if (!queue_.popFront(workImage_, timedWait_)) {
        if (queue_.atEnd()) {
            waitUntilTaken(); // the last frame too must reach the consumer
            ended_ = true;
            notify();
            return false;
        }
        return true; // the wait timed out: try again
    }
    bool goOn = true;
    if (!workImage_.empty() && !isKillRequested())
        goOn = DeliverFrame(workImage_);
    return goOn;
}

void latestFramePump::waitUntilTaken() {
    std::unique_lock<std::mutex> lock(latestMutex_);
    waitUntilTaken(lock);
}

// In every-frame mode nothing may be lost: wait until the consumer has the
// latest frame, asking again now and then in case it skipped a notice.
void latestFramePump::waitUntilTaken(std::unique_lock<std::mutex>& lock) {
    if (!keepEvery_)
        return;
    while (latestIsNew_ && !stopWaiting_) {
        if (taken_.wait_for(lock, renotifyInterval_, [this] { return !latestIsNew_ || stopWaiting_; }))
            break;
        lock.unlock();
        notify();
        lock.lock();
    }
}

bool latestFramePump::DeliverFrame(rgbaImage& frame) {
    {
        std::unique_lock<std::mutex> lock(latestMutex_);
        waitUntilTaken(lock);
        if (stopWaiting_)
            return true;
        if (latestIsNew_)
            ++overwritten_;
        // Buffer exchange: the previous latest buffer goes back to the queue
        // through the work image.
        latest_.swap(frame);
        latestIsNew_ = true;
        ++stored_;
    }
    notify();
    return true;
}
