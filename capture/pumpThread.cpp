#include "capture/pumpThread.h"

#include <cerrno>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

pumpThread::~pumpThread() {
    // Normally done by the derived class already; a worker must never
    // outlive the object whose PumpCore() it calls.
    KillThread();
}

void pumpThread::Run() {
    if (isKillRequested())
        return;
    // The hook first (it switches the source on), so the worker's first
    // step finds everything in place.
    OnRun();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (killRequested_)
            return;
        running_ = true;
        finished_ = false;
        if (!worker_.joinable())
            worker_ = std::thread(&pumpThread::workerLoop, this);
    }
    wake_.notify_all();
}

void pumpThread::Pause() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }
    OnPause();
    wake_.notify_all();
}

bool pumpThread::isRunning() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

void pumpThread::KillThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!worker_.joinable())
            return;
        killRequested_ = true;
        running_ = false;
    }
    wake_.notify_all();
    WakeWorker();
    worker_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    workerTid_ = 0;
}

bool pumpThread::isKillRequested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return killRequested_;
}

bool pumpThread::hasFinished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

void pumpThread::SetThreadPriority(int step) {
    std::lock_guard<std::mutex> lock(mutex_);
    priority_ = step;
    if (workerTid_ != 0)
        applyPriority();
}

int pumpThread::threadPriority() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return priority_;
}

// Linux schedules threads by niceness: a step below normal is one more
// niceness than the process has. Called with mutex_ held.
void pumpThread::applyPriority() {
    errno = 0;
    const int base = getpriority(PRIO_PROCESS, 0);
    if (base == -1 && errno != 0)
        return;
    // Failure (raising without privileges) leaves the worker at normal priority.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(workerTid_), base - priority_);
}

void pumpThread::workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    workerTid_ = static_cast<int>(syscall(SYS_gettid));
    if (priority_ != 0)
        applyPriority();
    while (!killRequested_) {
        if (!running_ || finished_) {
            wake_.wait(lock);
            continue;
        }
        lock.unlock();
        const bool goOn = PumpCore();
        lock.lock();
        if (!goOn)
            finished_ = true;
    }
}
