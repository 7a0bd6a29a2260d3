#pragma once
// The base of the capture pump: one worker thread that calls PumpCore()
// again and again while the pump runs, and sleeps while it is paused.
//
// Threads: Run(), Pause(), KillThread() and SetThreadPriority() belong to
// the owning thread; isRunning() and the other queries are safe from any
// thread. PumpCore() runs on the worker only.
//
// A derived class must call KillThread() in its own destructor, since the
// worker calls its PumpCore().

#include <condition_variable>
#include <mutex>
#include <thread>

class pumpThread {
public:
    pumpThread() = default;
    virtual ~pumpThread(); // kills the worker if the derived class has not
    pumpThread(const pumpThread&) = delete;
    pumpThread& operator=(const pumpThread&) = delete;

    // Calls OnRun(), then sets the running flag and starts the worker on
    // first use (or wakes it).
    void Run();
    // Clears the running flag, then calls OnPause(). A PumpCore() in
    // progress finishes; no new one starts until Run().
    void Pause();
    bool isRunning() const;

    // Kill request: clears the running flag, wakes the worker and whatever
    // PumpCore() waits on (WakeWorker()), and waits for the worker to end,
    // without a time limit. Without a worker it does nothing.
    void KillThread();
    bool isKillRequested() const;
    // The worker left its loop because PumpCore() returned false.
    bool hasFinished() const;

    // Scheduling step of the worker relative to normal: -1 is one step
    // below (nice +1 on Linux). Applies now if the worker exists, else when
    // it starts. Raising above normal needs privileges and is then ignored.
    void SetThreadPriority(int step);
    int threadPriority() const;

protected:
    // One pump step on the worker; returns false to end the worker's loop.
    virtual bool PumpCore() = 0;
    virtual void OnRun() {}
    virtual void OnPause() {}
    // Called by KillThread() after the kill request: make a waiting
    // PumpCore() return at once.
    virtual void WakeWorker() {}

private:
    void workerLoop();
    void applyPriority();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread worker_;
    bool running_ = false;
    bool killRequested_ = false;
    bool finished_ = false;
    int priority_ = 0;
    int workerTid_ = 0; // 0 until the worker has started
};
