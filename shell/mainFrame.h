#pragma once
// The main window: menus, tool bar, status bar with the capture and display
// rates, and the video view in the middle. It brackets the program's
// settings: they are loaded when the window object is built and saved when
// it is destroyed.

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class CVornDoc;
class CVornView;
class QAction;
class QLabel;
class QMenu;
class QPrinter;
class QToolBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* applicationTitle = "vorn";
    static constexpr int recentFileCount = 4;

    // Builds the window around a view of `document`, then loads the settings.
    explicit CMainFrame(CVornDoc* document, QWidget* parent = nullptr);
    // Saves the settings first.
    ~CMainFrame() override;

    // "%4.2lf fps" in pane 1 (capture) or 2 (display); empty for a negative rate.
    void ShowFrameRate(double rate, int pane);
    QString PaneText(int pane) const;

    // The command with this number (menu item or tool-bar button).
    QAction* Command(int id) const;
    QList<QAction*> Commands() const { return m_commands.values(); }
    // Enable/check rule of a command, run before its menu opens and by
    // RunUpdateHandlers().
    void SetUpdateHandler(int id, std::function<void(QAction*)> handler);
    void RunUpdateHandlers();

    // Puts the recent files under File, most recent first (at most four).
    void SetRecentFiles(const QStringList& paths);
    QStringList RecentFiles() const { return m_recentFiles; }

    CVornView* View() const { return m_view; }
    QToolBar* ToolBar() const { return m_toolBar; }
    QPrinter& Printer();

    // Resizes the window, keeping its top-left corner, so that `view` gets
    // `viewSize`, whatever the menus, tool bar and status bar take.
    void SizeToView(QWidget* view, const QSize& viewSize);

    // The text of the message pane while nothing else is shown.
    void SetIdleMessage(const QString& text);

signals:
    void recentFileChosen(const QString& path);

private:
    QAction* AddCommand(int id, const QString& text, const QString& prompt,
                        const QList<QKeySequence>& keys = {});
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    void UpdateWindowTitle(const QString& documentTitle);

    CVornDoc* m_document;
    CVornView* m_view = nullptr;
    QToolBar* m_toolBar = nullptr;
    QLabel* m_ratePanes[2] = {nullptr, nullptr};
    QMenu* m_fileMenu = nullptr;
    QAction* m_recentSeparator = nullptr;
    QList<QAction*> m_recentActions;
    QStringList m_recentFiles;
    QHash<int, QAction*> m_commands;
    std::vector<std::pair<int, std::function<void(QAction*)>>> m_updateHandlers;
    std::unique_ptr<QPrinter> m_printer;
    QString m_idleMessage = QStringLiteral("Ready");
};
