#pragma once
// The application's one document. It holds no file content; it owns the
// capture pump, the display image (the last processed frame) with the lock
// that guards it, and the capture rate. It decides when a frame goes through
// the vision pipeline: always the newest frame, at most once per paint of the
// previous result. Everything here runs on the user-interface thread except
// the pump's worker.

#include "capture/rateTimer.h"
#include "capture/rgbaImage.h"
#include "shell/capturePump.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <mutex>
#include <string>

class CMainFrame;
class QAction;
class QWidget;
class imageSource;

class CVornDoc : public QObject {
    Q_OBJECT
public:
    static constexpr const char* bannerTitle = "Talvenor Vision System VFW V6d";

    // Connects the frame queue to `source` when it is valid; the pump stays paused.
    explicit CVornDoc(imageSource* source, QObject* parent = nullptr);
    ~CVornDoc() override;

    // File New: starts capture when a source is connected.
    bool OnNewDocument();
    // Before the document goes: pauses capture if it runs.
    void OnCloseDocument();

    // One frame-ready event from the view.
    void OnFrameReady();
    void ProcessLatestFrame();
    // The frame entry: runs the pipeline over its own copy of `image` and
    // makes the result the display image.
    void ProcessFrame(rgbaImage image);

    // The caller holds m_displayLock.
    rgbaImage CopyDisplayImage() const;
    // Called by the view at the end of every paint, holding m_displayLock.
    void MarkDrawn();
    bool DrawnSinceProcessing() const { return m_drawnSinceProcessing; }
    void UpdateCaptureRate();
    void InvalidateViews();

    // Views in the order they were added; the first video view gets the frames.
    void AddView(QWidget* view);
    void RemoveView(QWidget* view);
    const QList<QPointer<QWidget>>& Views() const { return m_views; }
    // Where the rates go (the application's main window).
    void SetMainFrame(CMainFrame* frame) { m_mainFrame = frame; }

    // Title and path name (File Open/Save); the frame shows "title - vorn".
    QString GetTitle() const { return m_title; }
    void SetTitle(const QString& title);
    QString GetPathName() const { return m_pathName; }
    void SetPathName(const QString& path); // title becomes the file name
    void ClearPathName();

    // Image menu.
    void OnImageLiveCapture();
    void OnUpdateImageLiveCapture(QAction* action);
    void OnImageSource();
    void OnImageFormat();
    void OnImageCompression();
    void OnImageDisplay();
    void OnUpdateImageSource(QAction* action);
    void OnUpdateImageFormat(QAction* action);
    void OnUpdateImageCompression(QAction* action);
    void OnUpdateImageDisplay(QAction* action);

    // Save and Save As: the document has no content, so the file is empty.
    bool OnSaveDocument(const QString& path);

    // The text the source was opened with; the Source dialog starts from it
    // and falls back to it when a new choice cannot be opened.
    void SetSourceText(const std::string& text) { m_sourceText = text; }
    const std::string& SourceText() const { return m_sourceText; }

    CCapturePump& Pump() { return m_pump; }
    imageSource* Source() const { return m_pump.m_frameQueue.source(); }
    // Frames that went through ProcessFrame since the document was made.
    unsigned long long FramesProcessed() const { return m_framesProcessed; }

    std::mutex m_displayLock; // guards m_displayImage only

signals:
    void titleChanged(const QString& title);
    // The source reached its end or failed; the message says which.
    void streamEnded(const QString& message);
    void frameProcessed();
    // The source was replaced from the Source or Format dialog.
    void sourceChanged();

private:
    // The device dialogs: pause, run the dialog, resume, repaint.
    template <typename Dialog>
    void RunDeviceDialog(Dialog dialog);
    // Opens `text` in place of the current source; on failure says why and
    // goes back to the previous source.
    void ChangeSource(const std::string& text);
    void ReconnectSource();

    rateTimer m_captureRate{10};
    CCapturePump m_pump;
    rgbaImage m_displayImage;
    bool m_drawnSinceProcessing = false;

    QList<QPointer<QWidget>> m_views;
    QPointer<CMainFrame> m_mainFrame;
    QString m_title;
    QString m_pathName;
    bool m_endReported = false;
    std::string m_sourceText;
    unsigned long long m_framesProcessed = 0;
};
