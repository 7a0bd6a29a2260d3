#include "shell/capturePump.h"

#include "shell/frameReadyEvent.h"

#include <QCoreApplication>
#include <QObject>

CCapturePump::CCapturePump()
    : latestFramePump(m_frameQueue), m_msgNotify(frameReadyEventType) {
    setSwitchesSource(true);
    setNotify([this] { PostFrameReady(); });
}

CCapturePump::~CCapturePump() {
    // The worker calls into this object: end it before the members go.
    KillThread();
    m_frameQueue.clear();
}

void CCapturePump::SetNotifyTarget(QObject* target) {
    std::lock_guard<std::mutex> lock(m_notifyLock);
    m_hwndNotify = target;
}

QObject* CCapturePump::NotifyTarget() const {
    std::lock_guard<std::mutex> lock(m_notifyLock);
    return m_hwndNotify;
}

bool CCapturePump::DeliverFrame(rgbaImage& frame) {
    return latestFramePump::DeliverFrame(frame);
}

void CCapturePump::PostFrameReady() {
    std::lock_guard<std::mutex> lock(m_notifyLock);
    if (m_hwndNotify)
        QCoreApplication::postEvent(m_hwndNotify, new QEvent(m_msgNotify));
}
