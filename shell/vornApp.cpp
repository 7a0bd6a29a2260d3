#include "shell/vornApp.h"

#include "capture/imageSource.h"
#include "settings/visionSettings.h"
#include "shell/commandIds.h"
#include "shell/controlPanelDlg.h"
#include "shell/mainFrame.h"
#include "shell/modalMessageBox.h"
#include "shell/vornDoc.h"
#include "shell/vornView.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QSettings>

#include <iostream>

namespace {
const char* const recentGroup = "Recent File List";
}

CVornApp::CVornApp(commandLineOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_imageSource(std::make_unique<imageSource>()) {}

CVornApp::~CVornApp() {
    ExitInstance();
}

bool CVornApp::InitInstance() {
    QCoreApplication::setOrganizationName(QString::fromLatin1(registryKey));
    QCoreApplication::setApplicationName(QStringLiteral("vorn"));
    m_recentFiles = LoadRecentFileList();
    installModalMessageBox();

    const std::string sourceText = m_options.source.empty() ? std::string("camera") : m_options.source;
    if (!m_imageSource->open(sourceText)) {
        std::cerr << "vorn: " << sourceText << ": " << m_imageSource->errorText() << std::endl;
        showModalMessage(QStringLiteral("Error:  No image source found"), QMessageBox::Warning);
        return false;
    }
    m_imageSource->setOn(true);

    m_document = std::make_unique<CVornDoc>(m_imageSource.get());
    m_document->SetSourceText(sourceText);
    m_mainFrame = std::make_unique<CMainFrame>(m_document.get()); // loads the settings
    applySettingOverrides(m_options, visionSettings);
    m_mainFrame->SetRecentFiles(m_recentFiles);
    ConnectCommands();

    OnFileNew(); // starts capture and sizes the window to the video
    m_mainFrame->show();
    return true;
}

void CVornApp::ExitInstance() {
    if (m_document)
        m_document->OnCloseDocument(); // capture paused, source off
    m_mainFrame.reset();               // saves the settings
    m_document.reset();                // ends the capture thread
    m_imageSource.reset();
}

void CVornApp::ConnectCommands() {
    using namespace commandId;
    CMainFrame* frame = m_mainFrame.get();
    CVornDoc* doc = m_document.get();
    CVornView* view = frame->View();
    auto on = [frame](int id, auto handler) { QObject::connect(frame->Command(id), &QAction::triggered, frame, handler); };

    on(fileNew, [this] { OnFileNew(); });
    on(fileOpen, [this] { OnFileOpen(); });
    on(fileSave, [this] { OnFileSave(); });
    on(fileSaveAs, [this] { OnFileSaveAs(); });
    on(filePrintSetup, [this] { OnFilePrintSetup(); });
    on(filePrint, [view] { view->OnFilePrint(); });
    on(filePrintPreview, [view] { view->OnFilePrintPreview(); });
    on(mainControls, [this] { OnMainControls(); });
    on(visionOnOff, [this] { OnVisionOnOff(); });
    on(imageLiveCapture, [doc, frame] {
        doc->OnImageLiveCapture();
        frame->RunUpdateHandlers();
    });
    on(imageSourceDialog, [doc] { doc->OnImageSource(); });
    on(imageFormat, [doc] { doc->OnImageFormat(); });
    on(imageCompression, [doc] { doc->OnImageCompression(); });
    on(imageDisplay, [doc] { doc->OnImageDisplay(); });

    frame->SetUpdateHandler(imageLiveCapture, [doc](QAction* a) { doc->OnUpdateImageLiveCapture(a); });
    frame->SetUpdateHandler(imageSourceDialog, [doc](QAction* a) { doc->OnUpdateImageSource(a); });
    frame->SetUpdateHandler(imageFormat, [doc](QAction* a) { doc->OnUpdateImageFormat(a); });
    frame->SetUpdateHandler(imageCompression, [doc](QAction* a) { doc->OnUpdateImageCompression(a); });
    frame->SetUpdateHandler(imageDisplay, [doc](QAction* a) { doc->OnUpdateImageDisplay(a); });
    frame->RunUpdateHandlers();

    connect(frame, &CMainFrame::recentFileChosen, this, &CVornApp::OpenDocumentFile);
    connect(doc, &CVornDoc::sourceChanged, frame, [frame] { frame->RunUpdateHandlers(); });
}

void CVornApp::OnFileNew() {
    if (!m_document || !m_mainFrame)
        return;
    if (!m_document->OnNewDocument())
        return;
    m_mainFrame->View()->OnInitialUpdate();
    m_mainFrame->RunUpdateHandlers();
}

void CVornApp::OnFileOpen() {
    const QString path = QFileDialog::getOpenFileName(m_mainFrame.get(), QStringLiteral("Open"));
    if (!path.isEmpty())
        OpenDocumentFile(path);
}

void CVornApp::OpenDocumentFile(const QString& path) {
    // The document keeps no content: opening only checks that the file can
    // be read and takes its name.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showModalMessage(QStringLiteral("Cannot open %1.").arg(path), QMessageBox::Warning, m_mainFrame.get());
        m_recentFiles.removeAll(QFileInfo(path).absoluteFilePath());
        m_mainFrame->SetRecentFiles(m_recentFiles);
        return;
    }
    m_document->SetPathName(path);
    AddToRecentFileList(path);
    m_mainFrame->View()->OnInitialUpdate();
}

void CVornApp::OnFileSave() {
    if (m_document->GetPathName().isEmpty()) {
        OnFileSaveAs();
        return;
    }
    if (!m_document->OnSaveDocument(m_document->GetPathName()))
        showModalMessage(QStringLiteral("Cannot save %1.").arg(m_document->GetPathName()), QMessageBox::Warning,
                         m_mainFrame.get());
}

void CVornApp::OnFileSaveAs() {
    const QString path = QFileDialog::getSaveFileName(m_mainFrame.get(), QStringLiteral("Save As"),
                                                      m_document->GetPathName());
    if (path.isEmpty())
        return;
    if (!m_document->OnSaveDocument(path)) {
        showModalMessage(QStringLiteral("Cannot save %1.").arg(path), QMessageBox::Warning, m_mainFrame.get());
        return;
    }
    AddToRecentFileList(path);
}

void CVornApp::OnFilePrintSetup() {
    QPageSetupDialog dialog(&m_mainFrame->Printer(), m_mainFrame.get());
    dialog.exec();
}

void CVornApp::OnMainControls() {
    CControlPanelDlg dialog(m_mainFrame.get());
    dialog.exec(); // the result is not used
}

void CVornApp::OnVisionOnOff() {
    toggleVisionOn();
}

QStringList CVornApp::LoadRecentFileList() const {
    QSettings settings;
    settings.beginGroup(QString::fromLatin1(recentGroup));
    QStringList paths;
    for (int i = 1; i <= CMainFrame::recentFileCount; ++i) {
        const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty())
            paths << path;
    }
    return paths;
}

void CVornApp::AddToRecentFileList(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    m_recentFiles.removeAll(absolute);
    m_recentFiles.prepend(absolute);
    while (m_recentFiles.size() > CMainFrame::recentFileCount)
        m_recentFiles.removeLast();
    QSettings settings;
    settings.beginGroup(QString::fromLatin1(recentGroup));
    for (int i = 1; i <= CMainFrame::recentFileCount; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= m_recentFiles.size())
            settings.setValue(key, m_recentFiles[i - 1]);
        else
            settings.remove(key);
    }
    if (m_mainFrame)
        m_mainFrame->SetRecentFiles(m_recentFiles);
}
