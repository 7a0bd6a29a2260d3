#include "shell/screenshotTaker.h"

#include "shell/controlPanelDlg.h"
#include "shell/mainFrame.h"
#include "shell/vornApp.h"
#include "shell/vornDoc.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>

#include <iostream>

CScreenshotTaker::CScreenshotTaker(CVornApp& app, QString directory, int frames)
    : QObject(&app), m_app(app), m_directory(std::move(directory)), m_framesBefore(frames) {
    QDir().mkpath(m_directory);
    connect(app.Document(), &CVornDoc::frameProcessed, this, &CScreenshotTaker::OnFrame);
}

CScreenshotTaker* CScreenshotTaker::FromEnvironment(CVornApp& app) {
    const QString directory = qEnvironmentVariable("VORN_SCREENSHOT_DIR");
    if (directory.isEmpty() || !app.Document())
        return nullptr;
    bool ok = false;
    int frames = qEnvironmentVariableIntValue("VORN_SCREENSHOT_FRAMES", &ok);
    if (!ok || frames < 1)
        frames = 90;
    return new CScreenshotTaker(app, directory, frames); // owned by the app object
}

void CScreenshotTaker::OnFrame() {
    ++m_frames;
    if (!m_mainTaken && m_frames >= m_framesBefore) {
        m_mainTaken = true;
        const QString path = QDir(m_directory).filePath(QStringLiteral("main-window.png"));
        m_app.MainFrame()->grab().save(path);
        std::cout << "saved " << path.toStdString() << std::endl;
        // Open the panel from the event loop, not from inside this frame.
        QTimer::singleShot(0, &m_app, [this] { m_app.OnMainControls(); });
        m_panelFrames = 0;
        return;
    }
    if (m_panelFrames >= 0 && qobject_cast<CControlPanelDlg*>(QApplication::activeModalWidget())) {
        if (++m_panelFrames == 15)
            TakePanel();
    }
}

void CScreenshotTaker::TakePanel() {
    auto* panel = qobject_cast<CControlPanelDlg*>(QApplication::activeModalWidget());
    if (!panel)
        return;
    const QString path = QDir(m_directory).filePath(QStringLiteral("control-panel.png"));
    panel->grab().save(path);
    std::cout << "saved " << path.toStdString() << std::endl;
    m_panelFrames = -1;
    panel->reject();
    QTimer::singleShot(0, m_app.MainFrame(), &QWidget::close);
}
