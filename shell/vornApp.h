#pragma once
// The desktop program: finds the image source (and refuses to go on without
// one), builds the document, the main window with its view, starts capture
// and shows the window; at the end it takes them down in the order that
// pauses capture, saves the settings and only then ends the capture thread.
// It also handles the application-wide commands: New, Open, Print Setup,
// the recent files, Main Controls and Vision On/Off.

#include "runner/commandLine.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class CMainFrame;
class CVornDoc;
class imageSource;

class CVornApp : public QObject {
    Q_OBJECT
public:
    static constexpr const char* registryKey = "Local AppWizard-Generated Applications";

    explicit CVornApp(commandLineOptions options, QObject* parent = nullptr);
    ~CVornApp() override; // ExitInstance()

    // False when the program cannot start (no image source): no window was
    // made and the settings file was neither read nor written.
    bool InitInstance();
    // Closes the document, destroys the main window (saving the settings),
    // then the document (ending the capture thread). Idempotent.
    void ExitInstance();

    CMainFrame* MainFrame() const { return m_mainFrame.get(); }
    CVornDoc* Document() const { return m_document.get(); }
    imageSource* ImageSource() const { return m_imageSource.get(); }

    void OnFileNew();
    void OnFileOpen();
    void OpenDocumentFile(const QString& path);
    void OnFileSave();
    void OnFileSaveAs();
    void OnFilePrintSetup();
    void OnMainControls();
    void OnVisionOnOff();

    void AddToRecentFileList(const QString& path);
    QStringList LoadRecentFileList() const;

private:
    void ConnectCommands();

    commandLineOptions m_options;
    std::unique_ptr<imageSource> m_imageSource;
    std::unique_ptr<CVornDoc> m_document;
    std::unique_ptr<CMainFrame> m_mainFrame;
    QStringList m_recentFiles;
};
