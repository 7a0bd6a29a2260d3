#pragma once
// Pictures of the running program for the documentation: after a number of
// processed frames it saves the main window, then opens the control panel,
// lets a few more frames through, saves the panel and closes the program.
// Switched on by VORN_SCREENSHOT_DIR (where the PNGs go); VORN_SCREENSHOT_FRAMES
// sets how many frames come first (default 90).

#include <QObject>
#include <QString>

class CVornApp;

class CScreenshotTaker : public QObject {
    Q_OBJECT
public:
    CScreenshotTaker(CVornApp& app, QString directory, int frames);

    // A taker configured from the environment, or null when not asked for.
    static CScreenshotTaker* FromEnvironment(CVornApp& app);

private:
    void OnFrame();
    void TakePanel();

    CVornApp& m_app;
    QString m_directory;
    int m_framesBefore;
    int m_frames = 0;
    int m_panelFrames = -1; // counting while the panel is open
    bool m_mainTaken = false;
};
