#include "shell/vornDoc.h"

#include "capture/imageSource.h"
#include "pipeline/pipeline.h"
#include "shell/formatDialog.h"
#include "shell/mainFrame.h"
#include "shell/sourceDialog.h"
#include "shell/vornView.h"
#include "toolkit/QMXrgbImage.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>
#include <QWidget>

#include <utility>

CVornDoc::CVornDoc(imageSource* source, QObject* parent) : QObject(parent) {
    m_title = QStringLiteral("Untitled");
    if (source && source->isValid())
        m_pump.m_frameQueue.connectToSource(*source); // a failed connection leaves capture off
    // The worker must never slow down the thread that paints and processes.
    m_pump.SetThreadPriority(-1);
}

CVornDoc::~CVornDoc() {
    if (m_pump.isRunning())
        m_pump.Pause(); // switches the source off
    m_pump.SetNotifyTarget(nullptr);
    m_pump.KillThread(); // waits for the worker without a time limit
    std::lock_guard<std::mutex> lock(m_displayLock);
    m_displayImage.deallocate();
}

bool CVornDoc::OnNewDocument() {
    ClearPathName();
    if (m_pump.m_frameQueue.isConnected())
        m_pump.Run();
    return true;
}

void CVornDoc::OnCloseDocument() {
    if (m_pump.isRunning())
        OnImageLiveCapture(); // pauses
}

void CVornDoc::OnFrameReady() {
    if (!m_pump.isRunning())
        return;
    if (m_pump.streamEnded() && !m_endReported) {
        m_endReported = true;
        const std::string message = m_pump.m_frameQueue.endMessage();
        emit streamEnded(message.empty() ? QStringLiteral("End of the video") : QString::fromStdString(message));
    }
    bool haveDisplay = false;
    {
        std::lock_guard<std::mutex> lock(m_displayLock);
        haveDisplay = !m_displayImage.empty();
    }
    if (!haveDisplay || m_drawnSinceProcessing)
        ProcessLatestFrame();
    {
        std::lock_guard<std::mutex> lock(m_displayLock);
        haveDisplay = !m_displayImage.empty();
    }
    if (haveDisplay) {
        SetTitle(QString::fromLatin1(bannerTitle));
        UpdateCaptureRate();
        InvalidateViews();
    }
}

void CVornDoc::ProcessLatestFrame() {
    if (!m_pump.isRunning())
        return;
    rgbaImage latest;
    if (!m_pump.copyLatest(latest) || latest.empty())
        return;
    ProcessFrame(std::move(latest));
    m_drawnSinceProcessing = false;
}

void CVornDoc::ProcessFrame(rgbaImage image) {
    // `image` is this call's own copy: the capture thread may replace the
    // latest frame at any time, and a nested call (from the size message
    // box's loop) gets a copy of its own.
    if (image.empty())
        return;
    QMXrgbImage header = makeFrameHeader(image.pixels(), image.width(), image.height());
    processVisionFrame(header);
    {
        std::lock_guard<std::mutex> lock(m_displayLock);
        m_displayImage = std::move(image);
    }
    ++m_framesProcessed;
    emit frameProcessed();
}

rgbaImage CVornDoc::CopyDisplayImage() const {
    return m_displayImage;
}

void CVornDoc::MarkDrawn() {
    m_drawnSinceProcessing = true;
}

void CVornDoc::UpdateCaptureRate() {
    const double rate = m_captureRate.RateUpdate();
    if (m_mainFrame)
        m_mainFrame->ShowFrameRate(rate, 1);
}

void CVornDoc::InvalidateViews() {
    for (const QPointer<QWidget>& view : std::as_const(m_views))
        if (view)
            view->update();
}

void CVornDoc::AddView(QWidget* view) {
    if (view && !m_views.contains(view))
        m_views.append(view);
}

void CVornDoc::RemoveView(QWidget* view) {
    m_views.removeAll(view);
}

void CVornDoc::SetTitle(const QString& title) {
    if (title == m_title)
        return;
    m_title = title;
    emit titleChanged(m_title);
}

void CVornDoc::SetPathName(const QString& path) {
    m_pathName = QFileInfo(path).absoluteFilePath();
    SetTitle(QFileInfo(path).fileName());
}

void CVornDoc::ClearPathName() {
    m_pathName.clear();
    SetTitle(QStringLiteral("Untitled"));
}

void CVornDoc::OnImageLiveCapture() {
    if (m_pump.isRunning()) {
        m_pump.Pause();
        return;
    }
    for (const QPointer<QWidget>& view : std::as_const(m_views)) {
        if (qobject_cast<CVornView*>(view.data())) {
            m_pump.SetNotifyTarget(view.data());
            break;
        }
    }
    m_pump.Run();
}

void CVornDoc::OnUpdateImageLiveCapture(QAction* action) {
    action->setCheckable(true);
    action->setChecked(m_pump.isRunning());
    action->setEnabled(m_pump.m_frameQueue.isConnected());
}

template <typename Dialog>
void CVornDoc::RunDeviceDialog(Dialog dialog) {
    const bool wasRunning = m_pump.isRunning();
    if (wasRunning) {
        m_pump.Pause();
        // Give the device time to settle before its settings are shown.
        QThread::msleep(400);
    }
    dialog();
    if (wasRunning)
        m_pump.Run();
    InvalidateViews();
}

void CVornDoc::ReconnectSource() {
    imageSource* source = Source();
    if (!source)
        return;
    m_pump.m_frameQueue.restart();
    m_pump.m_frameQueue.connectToSource(*source);
    m_endReported = false;
}

void CVornDoc::ChangeSource(const std::string& text) {
    imageSource* source = Source();
    if (!source || text.empty())
        return;
    QWidget* owner = m_mainFrame.data();
    if (!source->open(text)) {
        const QString why = QString::fromStdString(source->errorText());
        QMessageBox::warning(owner, QStringLiteral("vorn"),
                             QStringLiteral("Cannot open the image source \"%1\":\n%2")
                                 .arg(QString::fromStdString(text), why));
        source->open(m_sourceText); // back to what worked before
    } else {
        m_sourceText = text;
    }
    ReconnectSource();
    emit sourceChanged();
}

void CVornDoc::OnImageSource() {
    if (!Source())
        return;
    RunDeviceDialog([this] {
        CSourceDialog dialog(QString::fromStdString(m_sourceText), m_mainFrame.data());
        if (dialog.exec() == QDialog::Accepted)
            ChangeSource(dialog.SourceText().toStdString());
    });
}

void CVornDoc::OnImageFormat() {
    imageSource* source = Source();
    if (!source || source->kind() != sourceKind::camera)
        return;
    RunDeviceDialog([this, source] {
        CFormatDialog dialog(source->cameraModes(), source->cameraMode(), m_mainFrame.data());
        if (dialog.exec() != QDialog::Accepted)
            return;
        const videoMode mode = dialog.SelectedMode();
        if (mode == source->cameraMode())
            return;
        if (!source->openCamera(source->cameraDevice(), mode))
            QMessageBox::warning(m_mainFrame.data(), QStringLiteral("vorn"),
                                 QStringLiteral("The camera refused %1:\n%2")
                                     .arg(QString::fromStdString(mode.describe()),
                                          QString::fromStdString(source->errorText())));
        ReconnectSource();
        emit sourceChanged();
    });
}

// Compression and Display settings belong to a capture driver we do not
// have; their commands stay disabled.
void CVornDoc::OnImageCompression() {}
void CVornDoc::OnImageDisplay() {}

void CVornDoc::OnUpdateImageSource(QAction* action) {
    action->setEnabled(m_pump.m_frameQueue.isConnected());
}

void CVornDoc::OnUpdateImageFormat(QAction* action) {
    imageSource* source = Source();
    action->setEnabled(source && source->kind() == sourceKind::camera && !source->cameraModes().empty());
}

void CVornDoc::OnUpdateImageCompression(QAction* action) {
    action->setEnabled(false);
}

void CVornDoc::OnUpdateImageDisplay(QAction* action) {
    action->setEnabled(false);
}

bool CVornDoc::OnSaveDocument(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.close();
    SetPathName(path);
    return true;
}
