#include "shell/releaseSlider.h"

#include <QMouseEvent>

CReleaseSlider::CReleaseSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setRange(0, 100);
    setSingleStep(1);
    setPageStep(20);
    setTickPosition(QSlider::NoTicks);
}

void CReleaseSlider::mousePressEvent(QMouseEvent* event) {
    m_captured = true;
    QSlider::mousePressEvent(event);
}

void CReleaseSlider::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event); // the position is final before we report
    if (m_captured && event->buttons() == Qt::NoButton) {
        m_captured = false;
        emit releasedCapture();
    }
}
