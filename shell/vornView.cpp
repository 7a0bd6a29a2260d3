#include "shell/vornView.h"

#include "capture/imageSource.h"
#include "shell/frameReadyEvent.h"
#include "shell/mainFrame.h"
#include "shell/vornDoc.h"

#include <QImage>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <cstring>
#include <mutex>

namespace {

// The frame's fourth byte is not alpha; the screen copy makes it opaque.
QImage toQImage(const rgbaImage& image) {
    QImage out(image.width(), image.height(), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* from = image.row(y);
        auto* to = reinterpret_cast<std::uint32_t*>(out.scanLine(y));
        for (int x = 0; x < image.width(); ++x, from += 4)
            to[x] = 0xff000000u | (std::uint32_t(from[2]) << 16) | (std::uint32_t(from[1]) << 8) | from[0];
    }
    return out;
}

} // namespace

CVornView::CVornView(CVornDoc* document, QWidget* parent) : QFrame(parent), m_document(document) {
    setObjectName(QStringLiteral("videoView"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(borderWidth);
    // Every paint covers the picture; no background erase in between.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    if (m_document)
        m_document->AddView(this);
}

CVornView::~CVornView() {
    if (m_document) {
        // The capture thread must not post to a view that is gone.
        if (m_document->Pump().NotifyTarget() == this)
            m_document->Pump().SetNotifyTarget(nullptr);
        m_document->RemoveView(this);
    }
}

QSize CVornView::sizeHint() const {
    return m_videoSize + QSize(2 * borderWidth, 2 * borderWidth);
}

bool CVornView::event(QEvent* event) {
    if (event->type() == frameReadyEventType) {
        OnFrameReadyMessage();
        return true;
    }
    return QFrame::event(event);
}

void CVornView::OnFrameReadyMessage() {
    if (m_document)
        m_document->OnFrameReady();
}

void CVornView::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.fillRect(contentsRect(), palette().color(QPalette::Window));
        OnDraw(painter, contentsRect().topLeft());
    }
    QFrame::paintEvent(event); // the border
}

void CVornView::OnDraw(QPainter& painter, const QPoint& origin, const QRect& fitInto) {
    if (!m_document)
        return;
    std::lock_guard<std::mutex> lock(m_document->m_displayLock);
    const rgbaImage copy = m_document->CopyDisplayImage();
    if (!copy.empty()) {
        const QImage picture = toQImage(copy);
        if (fitInto.isValid()) {
            const QSize scaled = picture.size().scaled(fitInto.size(), Qt::KeepAspectRatio);
            painter.drawImage(QRect(fitInto.topLeft(), scaled), picture);
        } else {
            painter.drawImage(origin, picture);
        }
        const double rate = m_displayRate.RateUpdate();
        if (auto* frame = qobject_cast<CMainFrame*>(window()))
            frame->ShowFrameRate(rate, 2);
    }
    m_document->MarkDrawn();
}

void CVornView::OnInitialUpdate() {
    if (!m_document)
        return;
    rgbaImage copy;
    {
        std::lock_guard<std::mutex> lock(m_document->m_displayLock);
        copy = m_document->CopyDisplayImage();
    }
    int width = 320;
    int height = 240;
    if (!copy.empty()) {
        width = copy.width();
        height = copy.height();
    } else if (imageSource* source = m_document->Source(); source && source->isValid()) {
        if (!source->videoSize(width, height))
            width = height = 0; // not known yet: keep the window as it is
    }
    auto* frame = qobject_cast<CMainFrame*>(window());
    if (frame && frame != static_cast<QWidget*>(this) && width > 0 && height > 0) {
        m_videoSize = QSize(width, height);
        updateGeometry();
        frame->SizeToView(this, sizeHint());
    }
    m_document->Pump().SetNotifyTarget(this);
}

QPrinter& CVornView::ChoosePrinter(QPrinter& fallback) const {
    if (auto* frame = qobject_cast<CMainFrame*>(window()))
        return frame->Printer();
    return fallback;
}

void CVornView::PrintPage(QPrinter* printer) {
    QPainter painter(printer);
    OnDraw(painter, QPoint(), painter.viewport());
}

void CVornView::OnFilePrint() {
    QPrinter fallback;
    QPrinter& printer = ChoosePrinter(fallback);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    PrintPage(&printer);
}

void CVornView::OnFilePrintPreview() {
    QPrinter fallback;
    QPrintPreviewDialog preview(&ChoosePrinter(fallback), this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, &CVornView::PrintPage);
    preview.exec();
}
