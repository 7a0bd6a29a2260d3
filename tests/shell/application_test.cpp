// The whole desktop program: start-up with and without an image source, the
// commands of the running window, shutdown with the settings save, and the
// vorn executable's answers when it cannot open a window.

#include "messaging/recordingTransport.h"
#include "pipeline/messageBox.h"
#include "settings/visionSettings.h"
#include "shell/commandIds.h"
#include "shell/controlPanelDlg.h"
#include "shell/mainFrame.h"
#include "shell/sourceDialog.h"
#include "shell/stopSignalWatcher.h"
#include "shell/vornApp.h"
#include "shell/vornDoc.h"
#include "shell/vornView.h"
#include "shellTestSupport.h"
#include "tests/support/childProcess.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Runs the event loop until `done` holds, for at most `limit` rounds of
// 10 ms (a generous bound for a loaded machine; nothing is timed).
bool waitFor(const std::function<bool()>& done, int limit = 3000) {
    for (int i = 0; i < limit && !done(); ++i)
        QTest::qWait(10);
    return done();
}

} // namespace

TEST(application, WithoutAnImageSourceItStopsAndNeitherReadsNorWritesTheSettings) {
    struct startCase {
        const char* name;
        bool fileThere;
    };
    for (const startCase c : {startCase{"with emotion.cfg", true}, startCase{"without emotion.cfg", false}}) {
        shellTest::scratchDirectory scratch;
        const QString config = scratch.file("emotion.cfg");
        if (c.fileThere) {
            QFile file(config);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("0.9 0.8 0.7 0.6 400\n");
        }
        visionSettings = visionSettingsRecord{}; // drawBox false, minObjectSize 0 until a load
        shellTest::messageBoxAnswerer answerer;
        {
            commandLineOptions options;
            options.source = scratch.file("no-such-clip.mp4").toStdString();
            CVornApp app(options);
            EXPECT_FALSE(app.InitInstance()) << c.name;
            EXPECT_EQ(app.MainFrame(), nullptr) << c.name;
        }
        ASSERT_EQ(answerer.texts().size(), 1u) << c.name;
        EXPECT_EQ(answerer.texts()[0], QStringLiteral("Error:  No image source found"));
        EXPECT_EQ(visionSettings.minObjectSize, 0u) << c.name;
        EXPECT_FALSE(visionSettings.drawBox) << c.name;
        EXPECT_DOUBLE_EQ(visionSettings.happyLevel, 0.2) << c.name;
        EXPECT_EQ(QFile::exists(config), c.fileThere) << c.name;
        if (c.fileThere) {
            EXPECT_EQ(readFile(config), QByteArray("0.9 0.8 0.7 0.6 400\n"));
        }
        setMessageBoxHandler({});
    }
}

TEST(application, RunsOnTheDemoSceneAndSavesTheSettingsWhenItCloses) {
    shellTest::scratchDirectory scratch;
    scopedMessageCapture messages;
    visionSettings = visionSettingsRecord{};
    commandLineOptions options;
    options.source = "demo";
    CVornApp app(options);
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(visionSettings.drawBox); // loaded by the window
    frame->layout()->activate();
    EXPECT_EQ(frame->View()->contentsRect().size(), QSize(640, 480));

    // Frames flow through the pipeline; each processed frame sends a message.
    ASSERT_TRUE(waitFor([&] { return app.Document()->FramesProcessed() >= 5; }));
    EXPECT_GE(messages.texts().size(), 5u);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Talvenor Vision System VFW V6d - vorn"));
    ASSERT_TRUE(waitFor([&] { return !frame->PaneText(1).isEmpty() && !frame->PaneText(2).isEmpty(); }));
    EXPECT_TRUE(frame->PaneText(1).endsWith(QStringLiteral(" fps")));

    QAction* live = frame->Command(commandId::imageLiveCapture);
    frame->RunUpdateHandlers();
    EXPECT_TRUE(live->isEnabled());
    EXPECT_TRUE(live->isChecked());
    EXPECT_TRUE(frame->Command(commandId::imageSourceDialog)->isEnabled());
    EXPECT_FALSE(frame->Command(commandId::imageFormat)->isEnabled()); // not a camera
    EXPECT_FALSE(frame->Command(commandId::imageCompression)->isEnabled());
    EXPECT_FALSE(frame->Command(commandId::imageDisplay)->isEnabled());

    // Vision On/Off on the tool bar and Start/Stop in the panel share the flag.
    frame->Command(commandId::visionOnOff)->trigger();
    EXPECT_FALSE(visionSettings.visionOn);
    bool panelSeen = false;
    QTimer::singleShot(0, frame, [&] {
        auto* panel = qobject_cast<CControlPanelDlg*>(QApplication::activeModalWidget());
        panelSeen = panel != nullptr;
        if (!panel)
            return;
        QTest::mouseClick(panel->Button(controlId::startStop), Qt::LeftButton);
        QTest::mouseClick(panel->Button(controlId::ok), Qt::LeftButton);
    });
    frame->Command(commandId::mainControls)->trigger(); // returns when the panel closes
    EXPECT_TRUE(panelSeen);
    EXPECT_TRUE(visionSettings.visionOn);

    // Live Capture pauses and resumes.
    live->trigger();
    EXPECT_FALSE(app.Document()->Pump().isRunning());
    EXPECT_FALSE(live->isChecked());
    live->trigger();
    EXPECT_TRUE(app.Document()->Pump().isRunning());

    // Image > Source: a choice that cannot be opened says why and goes back
    // to the demo; a pipeline that opens takes over.
    auto chooseSource = [&](int radio, const QString& text) {
        QTimer::singleShot(0, frame, [radio, text] {
            auto* dialog = qobject_cast<CSourceDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->findChildren<QRadioButton*>()[radio]->setChecked(true);
            dialog->findChildren<QLineEdit*>()[radio == 1 ? 0 : 1]->setText(text);
            dialog->accept();
        });
        frame->Command(commandId::imageSourceDialog)->trigger();
    };
    {
        shellTest::messageBoxAnswerer answerer;
        chooseSource(1, scratch.file("missing.mp4"));
        ASSERT_EQ(answerer.texts().size(), 1u);
        EXPECT_TRUE(answerer.texts()[0].contains(QStringLiteral("missing.mp4")));
        EXPECT_EQ(app.Document()->SourceText(), "demo");
        const auto before = app.Document()->FramesProcessed();
        EXPECT_TRUE(waitFor([&] { return app.Document()->FramesProcessed() >= before + 3; }));
    }
    chooseSource(2, QStringLiteral("videotestsrc ! video/x-raw,width=320,height=240 ! videoconvert"));
    EXPECT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(app.Document()->m_displayLock);
        return app.Document()->CopyDisplayImage().width() == 320;
    }));
    EXPECT_TRUE(app.Document()->Pump().isRunning());

    // File Open keeps the last four files, most recent first, under the
    // program's settings key.
    const QStringList names = {"a.vorn", "b.vorn", "c.vorn", "d.vorn", "e.vorn"};
    for (const QString& name : names) {
        QFile file(scratch.file(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        app.OpenDocumentFile(scratch.file(name));
    }
    EXPECT_EQ(app.Document()->GetPathName(), QFileInfo(scratch.file("e.vorn")).absoluteFilePath());
    QStringList expected;
    for (const char* name : {"e.vorn", "d.vorn", "c.vorn", "b.vorn"})
        expected << QFileInfo(scratch.file(QString::fromLatin1(name))).absoluteFilePath();
    EXPECT_EQ(frame->RecentFiles(), expected);
    EXPECT_EQ(app.LoadRecentFileList(), expected);
    EXPECT_EQ(QSettings().organizationName(), QStringLiteral("Local AppWizard-Generated Applications"));
    EXPECT_EQ(frame->Command(commandId::fileRecent + 1)->text(), QStringLiteral("&2 d.vorn"));
    EXPECT_EQ(frame->Command(commandId::fileRecent)->text(), QStringLiteral("&1 e.vorn"));
    EXPECT_EQ(frame->Command(commandId::fileRecent + 4), nullptr);

    visionSettings.surpriseLevel = 0.75;
    EXPECT_FALSE(QFile::exists(scratch.file("emotion.cfg")));
    frame->Command(commandId::appExit)->trigger();
    app.ExitInstance();
    EXPECT_EQ(readFile(scratch.file("emotion.cfg")), QByteArray("0.2 0.5 0.5 0.75 100\n"));
}

#ifdef VORN_BINARY
namespace {
testSupport::childResult runVorn(std::vector<const char*> arguments, bool withDisplay) {
    return testSupport::runInChild([&] {
        if (!withDisplay) {
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            ::unsetenv("QT_QPA_PLATFORM");
        }
        ::setenv("VORN_BROADCAST_ADDRESS", "127.0.0.1", 1);
        arguments.insert(arguments.begin(), "vorn");
        arguments.push_back(nullptr);
        ::execv(VORN_BINARY, const_cast<char* const*>(arguments.data()));
        std::_Exit(127);
    });
}
} // namespace

TEST(vornExecutable, WithoutADisplayItSuggestsHeadlessAndExitsWithOne) {
    const testSupport::childResult r = runVorn({"--source", "demo"}, false);
    ASSERT_TRUE(r.started);
    EXPECT_TRUE(r.exitedWith(1));
    EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--headless"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(r.out.empty()) << "no channel is opened: " << r.out;
}

TEST(vornExecutable, HelpVersionAndBadOptionsNeedNoDisplay) {
    struct optionCase {
        std::vector<const char*> arguments;
        int status;
        const char* outContains;
        const char* errContains;
    };
    const optionCase cases[] = {
        {{"--help"}, 0, "--headless", ""},
        {{"--version"}, 0, "", ""},
        {{"--no-such-option"}, 1, "", "unknown option"},
        {{"--frames", "10"}, 1, "", "--headless"},
    };
    for (const optionCase& c : cases) {
        const testSupport::childResult r = runVorn(c.arguments, false);
        EXPECT_TRUE(r.exitedWith(c.status)) << c.arguments[0] << ": " << r.err;
        EXPECT_NE(r.out.find(c.outContains), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.errContains), std::string::npos) << r.err;
        if (c.status == 0) {
            EXPECT_FALSE(r.out.empty()) << c.arguments[0];
        }
    }
}
#endif

TEST(stopSignalWatcher, TurnsSigtermAndSigintIntoACallOnTheEventLoop) {
    std::vector<int> seen;
    {
        CStopSignalWatcher watcher([&](int signalNumber) { seen.push_back(signalNumber); });
        for (int signalNumber : {SIGTERM, SIGINT}) {
            const std::size_t before = seen.size();
            ASSERT_EQ(::raise(signalNumber), 0);
            EXPECT_TRUE(seen.size() == before) << "nothing runs inside the handler";
            EXPECT_TRUE(waitFor([&] { return seen.size() > before; }));
        }
    }
    EXPECT_EQ(seen, (std::vector<int>{SIGTERM, SIGINT}));
    // The previous handlers are back: a child that raises SIGTERM now dies of it.
    const testSupport::childResult r = testSupport::runInChild([] { ::raise(SIGTERM); });
    EXPECT_EQ(r.signal, SIGTERM);
}
