#include "capture/frameQueue.h"

#include "capture/imageSource.h"

#include <utility>

frameQueue::frameQueue(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

frameQueue::~frameQueue() {
    disconnect();
}

bool frameQueue::connectToSource(imageSource& source) {
    if (!source.isValid())
        return false;
    disconnect();
    restart();
    source.attachQueue(this);
    std::lock_guard<std::mutex> lock(mutex_);
    source_ = &source;
    return true;
}

void frameQueue::disconnect() {
    imageSource* source = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        source = source_;
        source_ = nullptr;
    }
    if (source != nullptr)
        source->attachQueue(nullptr);
}

void frameQueue::forgetSource() {
    std::lock_guard<std::mutex> lock(mutex_);
    source_ = nullptr;
}

bool frameQueue::isConnected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return source_ != nullptr;
}

imageSource* frameQueue::source() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return source_;
}

bool frameQueue::popFront(rgbaImage& target, std::optional<std::chrono::milliseconds> timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return !frames_.empty() || state_ != streamState::flowing; };
    if (timeout) {
        if (!frameAvailable_.wait_for(lock, *timeout, ready))
            return false;
    } else {
        frameAvailable_.wait(lock, ready);
    }
    if (frames_.empty())
        return false; // the stream has ended
    // Exchange buffers: the caller's old buffer becomes a spare for the producer.
    rgbaImage old;
    old.swap(target);
    target.swap(frames_.front());
    frames_.pop_front();
    if (!target.empty())
        ++delivered_;
    keepSpare(std::move(old));
    lock.unlock();
    roomAvailable_.notify_one();
    return true;
}

void frameQueue::pushBackEmpty() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.emplace_back();
    }
    frameAvailable_.notify_all();
}

void frameQueue::clear() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (rgbaImage& frame : frames_)
            keepSpare(std::move(frame));
        frames_.clear();
    }
    roomAvailable_.notify_all();
}

bool frameQueue::pushBack(rgbaImage&& frame, overflow whenFull) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (whenFull == overflow::wait) {
        roomAvailable_.wait(lock, [this] { return flushing_ || !waitAllowed_ || frames_.size() < capacity_; });
        if (flushing_)
            return false;
    } else {
        if (flushing_)
            return false;
        while (frames_.size() >= capacity_) {
            if (!frames_.front().empty())
                ++dropped_;
            keepSpare(std::move(frames_.front()));
            frames_.pop_front();
        }
    }
    frames_.push_back(std::move(frame));
    lock.unlock();
    frameAvailable_.notify_all();
    return true;
}

// A used frame's buffer is kept for the producer to fill again, so a running
// stream allocates nothing; no more are kept than the queue can hold.
void frameQueue::keepSpare(rgbaImage&& frame) {
    if (!frame.empty() && spares_.size() < capacity_)
        spares_.push_back(std::move(frame));
}

rgbaImage frameQueue::takeSpare() {
    std::lock_guard<std::mutex> lock(mutex_);
    rgbaImage spare;
    if (!spares_.empty()) {
        spare.swap(spares_.front());
        spares_.pop_front();
    }
    return spare;
}

void frameQueue::endStream(streamState state, const std::string& message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state == streamState::flowing)
            return;
        if (state_ == streamState::failed)
            return; // the first error is the cause; later ones follow from it
        state_ = state;
        endMessage_ = message;
    }
    frameAvailable_.notify_all();
}

void frameQueue::setFlushing(bool flushing) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        flushing_ = flushing;
    }
    roomAvailable_.notify_all();
}

void frameQueue::setWaitAllowed(bool allowed) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waitAllowed_ = allowed;
    }
    roomAvailable_.notify_all();
}

void frameQueue::restart() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.clear();
        state_ = streamState::flowing;
        endMessage_.clear();
        delivered_ = 0;
        dropped_ = 0;
    }
    roomAvailable_.notify_all();
}

streamState frameQueue::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

std::string frameQueue::endMessage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return endMessage_;
}

bool frameQueue::atEnd() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_ != streamState::flowing && frames_.empty();
}

std::size_t frameQueue::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
}

unsigned long long frameQueue::framesDelivered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delivered_;
}

unsigned long long frameQueue::framesDropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}
