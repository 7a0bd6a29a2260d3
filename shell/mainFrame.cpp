#include "shell/mainFrame.h"

#include "settings/configFile.h"
#include "shell/commandIds.h"
#include "shell/toolBarIcons.h"
#include "shell/vornDoc.h"
#include "shell/vornView.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QStatusBar>
#include <QToolBar>

#include <cstdio>

CMainFrame::CMainFrame(CVornDoc* document, QWidget* parent) : QMainWindow(parent), m_document(document) {
    setObjectName(QStringLiteral("mainFrame"));
    BuildMenus();
    BuildToolBar();
    BuildStatusBar();

    m_view = new CVornView(m_document, this);
    setCentralWidget(m_view);

    if (m_document) {
        m_document->SetMainFrame(this);
        connect(m_document, &CVornDoc::titleChanged, this, &CMainFrame::UpdateWindowTitle);
        connect(m_document, &CVornDoc::streamEnded, this, &CMainFrame::SetIdleMessage);
        UpdateWindowTitle(m_document->GetTitle());
    } else {
        setWindowTitle(QString::fromLatin1(applicationTitle));
    }

    RunUpdateHandlers();
    // Last: the settings, before any frame can be processed.
    loadSettings();
}

CMainFrame::~CMainFrame() {
    // First: capture is paused by now and the capture thread still exists.
    saveSettings();
    if (m_document)
        m_document->SetMainFrame(nullptr);
}

QAction* CMainFrame::AddCommand(int id, const QString& text, const QString& prompt,
                                const QList<QKeySequence>& keys) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::number(id));
    action->setData(id);
    // The prompt is "status text\ntool tip".
    const int split = prompt.indexOf(QLatin1Char('\n'));
    action->setStatusTip(split < 0 ? prompt : prompt.left(split));
    if (split >= 0)
        action->setToolTip(prompt.mid(split + 1));
    if (!keys.isEmpty())
        action->setShortcuts(keys);
    m_commands.insert(id, action);
    return action;
}

void CMainFrame::BuildMenus() {
    using namespace commandId;
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    m_fileMenu = file;
    file->addAction(AddCommand(fileNew, QStringLiteral("&New"), QStringLiteral("Create a new document\nNew"),
                               {QKeySequence(Qt::CTRL | Qt::Key_N)}));
    file->addAction(AddCommand(fileOpen, QStringLiteral("&Open..."),
                               QStringLiteral("Open an existing document\nOpen"), {QKeySequence(Qt::CTRL | Qt::Key_O)}));
    file->addAction(AddCommand(fileSave, QStringLiteral("&Save"), QStringLiteral("Save the active document\nSave"),
                               {QKeySequence(Qt::CTRL | Qt::Key_S)}));
    file->addAction(AddCommand(fileSaveAs, QStringLiteral("Save &As..."),
                               QStringLiteral("Save the active document with a new name\nSave As")));
    file->addSeparator();
    file->addAction(AddCommand(filePrint, QStringLiteral("&Print..."),
                               QStringLiteral("Print the active document\nPrint"), {QKeySequence(Qt::CTRL | Qt::Key_P)}));
    file->addAction(AddCommand(filePrintPreview, QStringLiteral("Print Pre&view"),
                               QStringLiteral("Display full pages\nPrint Preview")));
    file->addAction(AddCommand(filePrintSetup, QStringLiteral("P&rint Setup..."),
                               QStringLiteral("Change the printer and printing options\nPrint Setup")));
    file->addSeparator();
    QAction* recent = AddCommand(fileRecent, QStringLiteral("Recent File"), QStringLiteral("Open this document"));
    recent->setEnabled(false);
    file->addAction(recent);
    m_recentSeparator = file->addSeparator();
    QAction* exit = AddCommand(appExit, QStringLiteral("E&xit"),
                               QStringLiteral("Quit the application; prompts to save documents\nExit"));
    file->addAction(exit);
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* image = menuBar()->addMenu(QStringLiteral("&Image"));
    image->addAction(AddCommand(imageLiveCapture, QStringLiteral("&Live Capture"),
                                QStringLiteral("Live video capture\nLive Capture")));
    Command(imageLiveCapture)->setCheckable(true);
    image->addSeparator();
    image->addAction(AddCommand(imageCompression, QStringLiteral("&Compression"),
                                QStringLiteral("Image Compression Dialog\nCompression")));
    image->addAction(AddCommand(imageFormat, QStringLiteral("&Format"),
                                QStringLiteral("Display the Image Format dialog\nImage Format Dialog")));
    image->addAction(AddCommand(imageSourceDialog, QStringLiteral("&Source"),
                                QStringLiteral("Display the Image Source Dialog\nImage Source Dialog")));
    image->addAction(AddCommand(imageDisplay, QStringLiteral("&Display"),
                                QStringLiteral("Display the Image Display Dialog\nImage Display Dialog")));

    // Nothing handles the Edit commands: they stay disabled.
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->addAction(AddCommand(editUndo, QStringLiteral("&Undo"), QStringLiteral("Undo the last action\nUndo"),
                               {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}));
    edit->addSeparator();
    edit->addAction(AddCommand(editCut, QStringLiteral("Cu&t"),
                               QStringLiteral("Cut the selection and put it on the Clipboard\nCut"),
                               {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}));
    edit->addAction(AddCommand(editCopy, QStringLiteral("&Copy"),
                               QStringLiteral("Copy the selection and put it on the Clipboard\nCopy"),
                               {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}));
    edit->addAction(AddCommand(editPaste, QStringLiteral("&Paste"), QStringLiteral("Insert Clipboard contents\nPaste"),
                               {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}));
    for (int id : {editUndo, editCut, editCopy, editPaste})
        Command(id)->setEnabled(false);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QAction* toolBarToggle = AddCommand(viewToolbar, QStringLiteral("&Toolbar"),
                                        QStringLiteral("Show or hide the toolbar\nToggle ToolBar"));
    QAction* statusBarToggle = AddCommand(viewStatusBar, QStringLiteral("&Status Bar"),
                                          QStringLiteral("Show or hide the status bar\nToggle StatusBar"));
    toolBarToggle->setCheckable(true);
    statusBarToggle->setCheckable(true);
    view->addAction(toolBarToggle);
    view->addAction(statusBarToggle);
    // Each press flips the bar, whatever the check mark showed.
    connect(toolBarToggle, &QAction::triggered, this, [this] {
        m_toolBar->setVisible(m_toolBar->isHidden());
        RunUpdateHandlers();
    });
    connect(statusBarToggle, &QAction::triggered, this, [this] {
        statusBar()->setVisible(statusBar()->isHidden());
        RunUpdateHandlers();
    });
    SetUpdateHandler(viewToolbar, [this](QAction* a) { a->setChecked(!m_toolBar->isHidden()); });
    SetUpdateHandler(viewStatusBar, [this](QAction* a) { a->setChecked(!statusBar()->isHidden()); });

    QMenu* controls = menuBar()->addMenu(QStringLiteral("Controls"));
    controls->addAction(AddCommand(mainControls, QStringLiteral("Main Controls"),
                                   QStringLiteral("Control Pannel for Talvenor's Vision System\nControl Pannel")));

    // Tool bar only.
    AddCommand(visionOnOff, QStringLiteral("Vision On/Off"),
               QStringLiteral("Start and Stop Image Processing\nVision On\\Off"));

    for (QMenu* menu : {file, image, edit, view, controls})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::RunUpdateHandlers);
}

void CMainFrame::BuildToolBar() {
    using namespace commandId;
    m_toolBar = addToolBar(QStringLiteral("Toolbar"));
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setIconSize(QSize(16, 15));
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    const int layout[] = {fileNew, fileOpen, fileSave, 0, editCut, editCopy, editPaste, 0,
                          filePrint, mainControls, visionOnOff};
    for (int id : layout) {
        if (id == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        QAction* action = Command(id);
        action->setIcon(toolBarIcon(id));
        m_toolBar->addAction(action);
    }
}

void CMainFrame::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    for (int i = 0; i < 2; ++i) {
        auto* pane = new QLabel(bar);
        pane->setObjectName(i == 0 ? QStringLiteral("captureRatePane") : QStringLiteral("displayRatePane"));
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // Wide enough for the widest rate the panes normally show.
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(QStringLiteral("000.00 fps")) + 8);
        bar->addPermanentWidget(pane);
        m_ratePanes[i] = pane;
    }
    bar->showMessage(m_idleMessage);
    connect(bar, &QStatusBar::messageChanged, this, [this](const QString& text) {
        if (text.isEmpty())
            statusBar()->showMessage(m_idleMessage);
    });
}

void CMainFrame::SetIdleMessage(const QString& text) {
    m_idleMessage = text;
    statusBar()->showMessage(m_idleMessage);
}

void CMainFrame::ShowFrameRate(double rate, int pane) {
    if (pane != 1 && pane != 2)
        return;
    QString text;
    if (rate >= 0.0) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%4.2lf fps", rate);
        text = QString::fromLatin1(buffer);
    }
    QLabel* label = m_ratePanes[pane - 1];
    if (label->text() != text)
        label->setText(text); // repaints at the next chance of the event loop
}

QString CMainFrame::PaneText(int pane) const {
    if (pane != 1 && pane != 2)
        return {};
    return m_ratePanes[pane - 1]->text();
}

QAction* CMainFrame::Command(int id) const {
    // The recent files take the numbers from the first entry's on.
    const int recent = id - commandId::fileRecent;
    if (recent >= 0 && recent < m_recentActions.size())
        return m_recentActions[recent];
    return m_commands.value(id, nullptr);
}

void CMainFrame::SetUpdateHandler(int id, std::function<void(QAction*)> handler) {
    m_updateHandlers.emplace_back(id, std::move(handler));
}

void CMainFrame::RunUpdateHandlers() {
    for (const auto& [id, handler] : m_updateHandlers)
        if (QAction* action = Command(id))
            handler(action);
}

void CMainFrame::SetRecentFiles(const QStringList& paths) {
    m_recentFiles = paths.mid(0, recentFileCount);
    for (QAction* action : std::as_const(m_recentActions)) {
        m_fileMenu->removeAction(action);
        action->deleteLater();
    }
    m_recentActions.clear();
    QAction* placeholder = Command(commandId::fileRecent);
    placeholder->setVisible(m_recentFiles.isEmpty());
    for (int i = 0; i < m_recentFiles.size(); ++i) {
        const QString path = m_recentFiles[i];
        auto* action = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()), this);
        action->setObjectName(QString::number(commandId::fileRecent + i));
        action->setData(commandId::fileRecent + i);
        action->setStatusTip(QStringLiteral("Open this document"));
        action->setToolTip(path);
        connect(action, &QAction::triggered, this, [this, path] { emit recentFileChosen(path); });
        m_fileMenu->insertAction(m_recentSeparator, action);
        m_recentActions.append(action);
    }
}

QPrinter& CMainFrame::Printer() {
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>();
    return *m_printer;
}

void CMainFrame::SizeToView(QWidget* view, const QSize& viewSize) {
    // Bring the child geometries up to date so the difference between the
    // window and the view is what the menus, tool bar and status bar take.
    if (layout())
        layout()->activate();
    const QSize chrome = size() - view->size();
    resize(chrome + viewSize);
    if (layout())
        layout()->activate();
    update();
}

void CMainFrame::UpdateWindowTitle(const QString& documentTitle) {
    setWindowTitle(QStringLiteral("%1 - %2").arg(documentTitle, QString::fromLatin1(applicationTitle)));
}
