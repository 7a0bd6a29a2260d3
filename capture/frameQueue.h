#pragma once
// The queue between an image source and the capture pump. The source's
// streaming thread pushes frames at the back; the pump's thread takes them
// from the front. How a full queue behaves depends on the source:
//   - files, image sequences, the unpaced demo: the producer waits for room,
//     so nothing is dropped and frames come as fast as they are consumed;
//   - live sources (cameras, the paced demo, live pipelines): the oldest
//     frame is dropped, so the newest always gets in (counted in framesDropped).
// The end of the stream (clean end or error, with a one-line message) is
// reported separately from frames: popFront() returns false at once when the
// stream has ended and nothing is queued.
//
// Threads: every member is safe to call from any thread. connectToSource()
// and disconnect() belong to the thread that owns the queue (UI or runner).

#include "capture/rgbaImage.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

class imageSource;

enum class streamState {
    flowing, // frames may still come
    ended,   // the source reached its end cleanly
    failed,  // the source stopped with an error (see endMessage)
};

class frameQueue {
public:
    explicit frameQueue(std::size_t capacity = 2);
    ~frameQueue(); // disconnects from its source first
    frameQueue(const frameQueue&) = delete;
    frameQueue& operator=(const frameQueue&) = delete;

    // Connects to a valid source: its frames reach popFront() from now on.
    // False (and not connected) when the source is not valid. A queue has at
    // most one source; connecting again replaces the connection.
    bool connectToSource(imageSource& source);
    void disconnect();
    bool isConnected() const;
    imageSource* source() const; // null when not connected

    // Takes the front frame into `target` and returns true. Waits for one at
    // most `timeout` (no limit without one). Returns false when the wait
    // ends without a frame, or at once when the stream has ended and the
    // queue is empty. A frame pushed by pushBackEmpty() comes out as an
    // empty image (true is returned).
    bool popFront(rgbaImage& target,
                  std::optional<std::chrono::milliseconds> timeout = std::nullopt);
    // Puts an image without pixels at the back, even when the queue is full,
    // so that a waiting popFront() returns at once.
    void pushBackEmpty();
    // Drops every queued frame (not counted as dropped) and lets a waiting
    // producer go on.
    void clear();

    // Producer side (the source's streaming thread; tests feed it directly).
    enum class overflow { wait, dropOldest };
    // Queues `frame` (moved in). With overflow::wait a full queue blocks the
    // caller until there is room; false, and nothing queued, when the queue
    // is flushing (the source is being shut down).
    bool pushBack(rgbaImage&& frame, overflow whenFull);
    // A buffer from an earlier popped frame to fill next (empty if none), so
    // the steady frame flow does not allocate.
    rgbaImage takeSpare();
    // Marks the end of the stream. A failure replaces a clean end reported
    // earlier (errors can follow the end), never the other way round.
    void endStream(streamState state, const std::string& message);
    // While flushing, pushBack() returns false at once and releases any
    // producer that waits; used around shutting a pipeline down.
    void setFlushing(bool flushing);
    // While waiting is not allowed, overflow::wait queues beyond the
    // capacity instead of blocking (and releases a producer that waits), so
    // a pipeline can be paused without its streaming thread stuck in here.
    void setWaitAllowed(bool allowed);
    // A new stream starts: state flowing, counters and message cleared,
    // queued frames dropped.
    void restart();

    streamState state() const;
    std::string endMessage() const;
    // The stream has ended (cleanly or not) and no frame is left to pop.
    bool atEnd() const;
    std::size_t size() const;
    std::size_t capacity() const { return capacity_; }
    // Frames with pixels handed out by popFront() since the stream started.
    unsigned long long framesDelivered() const;
    // Frames a live source pushed out of a full queue.
    unsigned long long framesDropped() const;

private:
    friend class imageSource;
    void forgetSource(); // the source goes away first
    void keepSpare(rgbaImage&& frame); // with mutex_ held

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable frameAvailable_;
    std::condition_variable roomAvailable_;
    std::deque<rgbaImage> frames_;
    std::deque<rgbaImage> spares_;
    streamState state_ = streamState::flowing;
    std::string endMessage_;
    bool flushing_ = false;
    bool waitAllowed_ = true;
    unsigned long long delivered_ = 0;
    unsigned long long dropped_ = 0;
    imageSource* source_ = nullptr;
};
