#pragma once
// The capture pump: on its worker thread it takes each frame from the frame
// queue, keeps it as the latest frame and calls the notify hook (the shell
// posts its frame-ready event from it, the runner wakes its loop). It does
// nothing else: the consumer processes frames on its own thread.
//
// Two ways of handing frames over:
//   - newest wins (live sources): a frame the consumer has not taken yet is
//     overwritten by the next one and counted in framesOverwritten();
//   - every frame (files, sequences): the pump waits until the consumer has
//     taken the latest frame before it stores the next one, so nothing is
//     lost. While it waits it repeats the notify hook every
//     `renotifyInterval`, so a consumer that skipped a notification (it was
//     still busy painting) is asked again.
// The latest frame is guarded by the pump's own mutex; the consumer always
// gets a complete copy (or the buffer itself, by exchange).
//
// When the stream ends (cleanly or with an error) the pump calls the notify
// hook once more (in every-frame mode after the last frame was taken) and
// its worker finishes; streamEnded() then says so and the
// frame queue holds the state and the message.
//
// Threads: construction, Run/Pause/KillThread and the setters belong to the
// owning thread; takeLatest/copyLatest/queries are for the consumer (any
// thread); the notify hook runs on the worker.

#include "capture/frameQueue.h"
#include "capture/pumpThread.h"
#include "capture/rgbaImage.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

class latestFramePump : public pumpThread {
public:
    explicit latestFramePump(frameQueue& queue);
    ~latestFramePump() override; // kills the worker, waiting without a time limit

    frameQueue& queue() { return queue_; }

    // Called on the worker after each stored frame and at the end of the
    // stream. May be set or replaced at any time (the view that receives the
    // notifications may be made after capture has started); whatever the
    // hook uses must live until the worker has ended (KillThread()).
    void setNotify(std::function<void()> notify);
    // Run switches the connected source on and Pause switches it off (default on).
    void setSwitchesSource(bool switches);
    // True: every frame is handed over (see above). Default: decided at
    // each Run() from the connected source (not live -> every frame).
    void setKeepEveryFrame(std::optional<bool> keepEvery);
    // Longest wait for a frame before PumpCore() returns and starts over;
    // none (the default) waits without a limit.
    void setTimedWait(std::optional<std::chrono::milliseconds> wait);
    void setRenotifyInterval(std::chrono::milliseconds interval);

    // Consumer: copies the newest frame not yet taken into `frame` (reusing
    // its buffer) and returns true; false when no new frame has come since
    // the last take.
    bool takeLatest(rgbaImage& frame);
    // Consumer: copies the latest frame, taken before or not; false when no
    // frame has come yet. Counts as taking it.
    bool copyLatest(rgbaImage& frame);
    bool hasNewFrame() const;

    // Frames stored as the latest frame.
    unsigned long long framesStored() const;
    // Frames overwritten before the consumer took them (newest wins).
    unsigned long long framesOverwritten() const;
    // The queue reported the end of the stream and the pump has stopped.
    bool streamEnded() const;

protected:
    bool PumpCore() override;
    void OnRun() override;
    void OnPause() override;
    void WakeWorker() override;
    // The per-frame step on the worker: store as latest and notify.
    virtual bool DeliverFrame(rgbaImage& frame);

private:
    void notify();
    void waitUntilTaken();
    void waitUntilTaken(std::unique_lock<std::mutex>& lock);

    frameQueue& queue_;
    rgbaImage workImage_; // worker only
    std::mutex notifyMutex_;
    std::function<void()> notify_;
    bool switchesSource_ = true;
    std::optional<bool> keepEveryOption_;
    std::optional<std::chrono::milliseconds> timedWait_;
    std::chrono::milliseconds renotifyInterval_{100};

    mutable std::mutex latestMutex_;
    std::condition_variable taken_;
    rgbaImage latest_;
    bool latestIsNew_ = false;
    bool keepEvery_ = false;
    bool stopWaiting_ = false; // kill: a delivery must not wait any longer
    unsigned long long stored_ = 0;
    unsigned long long overwritten_ = 0;
    std::atomic<bool> ended_{false};
};
