#pragma once
// A horizontal 0..100 slider that reports when the mouse lets go of it:
// after a drag of the handle and after a click on the groove alike. Moves
// made with the keyboard report nothing.

#include <QSlider>

class CReleaseSlider : public QSlider {
    Q_OBJECT
public:
    explicit CReleaseSlider(QWidget* parent = nullptr);

signals:
    // The mouse button went up over a press that began on this slider.
    void releasedCapture();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_captured = false;
};
