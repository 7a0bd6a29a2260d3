#pragma once
// The video view: paints the document's display image (the last processed
// frame with its overlay), measures the display rate, sizes the main window
// to the video once, and receives the capture pump's frame-ready events,
// which it hands to the document.

#include "capture/rateTimer.h"

#include <QFrame>
#include <QRect>

class CVornDoc;
class QPainter;
class QPrinter;

class CVornView : public QFrame {
    Q_OBJECT
public:
    // The frame around the picture, on each side.
    static constexpr int borderWidth = 2;

    explicit CVornView(CVornDoc* document, QWidget* parent = nullptr);
    ~CVornView() override;

    CVornDoc* GetDocument() const { return m_document; }

    // Paints the display image at `origin` (or scaled into `fitInto` when it
    // is valid, for printing), counts the paint for the display rate and
    // marks the document as drawn.
    void OnDraw(QPainter& painter, const QPoint& origin, const QRect& fitInto = QRect());
    // Sizes the main window to the video and becomes the frame-ready target.
    void OnInitialUpdate();
    void OnFrameReadyMessage();

    void OnFilePrint();
    void OnFilePrintPreview();

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The main frame's printer, which keeps the operator's page setup; a
    // view without one prints through `fallback`.
    QPrinter& ChoosePrinter(QPrinter& fallback) const;
    // One page: the display image fitted to the printable area.
    void PrintPage(QPrinter* printer);

    CVornDoc* m_document;
    rateTimer m_displayRate{10};
    QSize m_videoSize{320, 240};
};
