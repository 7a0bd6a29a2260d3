#pragma once
// The document's capture pump: on its worker thread it takes each frame from
// the frame queue, keeps it as the latest frame and posts the frame-ready
// event to the notify target (the video view). It never runs the pipeline and
// never touches the display image.

#include "capture/frameQueue.h"
#include "capture/latestFramePump.h"
#include "capture/rgbaImage.h"

#include <QEvent>

#include <mutex>

class QObject;

// Holds the queue so it exists before the pump base that refers to it, and
// outlives the worker thread that reads it.
struct captureQueueHolder {
    frameQueue m_frameQueue;
};

class CCapturePump : private captureQueueHolder, public latestFramePump {
public:
    CCapturePump();
    ~CCapturePump() override;

    using captureQueueHolder::m_frameQueue;

    // The object the frame-ready event goes to; null posts nothing. The
    // target clears itself here before it is destroyed.
    void SetNotifyTarget(QObject* target);
    QObject* NotifyTarget() const;
    QEvent::Type NotifyEventType() const { return m_msgNotify; }

    // The per-frame step of the worker, public so a frame can be handed in
    // directly: stores it as the latest frame and posts the event.
    bool DeliverFrame(rgbaImage& frame) override;

private:
    void PostFrameReady();

    mutable std::mutex m_notifyLock; // the target may go while the worker posts
    QObject* m_hwndNotify = nullptr;
    const QEvent::Type m_msgNotify;
};
