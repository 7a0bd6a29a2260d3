// The capture document, the video view and the main window together: when a
// frame is processed, what is shown, the rates, the window size and the
// settings bracket.

#include "desktopFixture.h"

#include "settings/calibration.h"
#include "shell/commandIds.h"
#include "shell/controlPanelDlg.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include <cstring>

using shellTest::solidFrame;

TEST_F(desktopFixture, TwoFrameReadyEventsWithoutAPaintProcessOnlyOnce) {
    const rgbaImage first = solidFrame(640, 480, 90, 1);
    rgbaImage copy = first;
    pump().DeliverFrame(copy);
    // A second event for the same frame before the view has painted.
    QCoreApplication::postEvent(view(), new QEvent(frameReadyEventType));
    shellTest::dispatchFrameEvents(pump());

    EXPECT_EQ(doc->FramesProcessed(), 1u);
    EXPECT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Talvenor Vision System VFW V6d - vorn"));
    EXPECT_FALSE(doc->DrawnSinceProcessing());

    // Without a paint a newer frame is stored but not processed.
    feed(solidFrame(640, 480, 90, 2));
    EXPECT_EQ(doc->FramesProcessed(), 1u);

    // After the paint the next event processes the latest frame.
    paint();
    EXPECT_TRUE(doc->DrawnSinceProcessing());
    feed(solidFrame(640, 480, 90, 3));
    EXPECT_EQ(doc->FramesProcessed(), 2u);
    EXPECT_EQ(messages.texts().size(), 2u);
}

TEST_F(desktopFixture, EveryEventProcessesUntilTheFirstResultExists) {
    visionSettings.visionOn = false; // nothing reaches the display image
    const rgbaImage empty;
    rgbaImage none = empty;
    pump().DeliverFrame(none); // an image without pixels
    shellTest::dispatchFrameEvents(pump());
    EXPECT_EQ(doc->FramesProcessed(), 0u);
    EXPECT_TRUE(displayImage().empty());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Untitled - vorn"));
    EXPECT_TRUE(frame->PaneText(1).isEmpty());

    feed(solidFrame(320, 240, 40));
    feed(solidFrame(320, 240, 50));
    EXPECT_EQ(doc->FramesProcessed(), 1u); // the second waits for a paint
}

TEST_F(desktopFixture, WhilePausedFrameEventsDoNothing) {
    pump().Pause();
    feed(solidFrame(320, 240, 70));
    EXPECT_EQ(doc->FramesProcessed(), 0u);
    EXPECT_TRUE(displayImage().empty());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Untitled - vorn"));
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(desktopFixture, APaintWithoutAnImageMarksDrawnButCountsNoRate) {
    EXPECT_FALSE(doc->DrawnSinceProcessing());
    paint();
    paint();
    EXPECT_TRUE(doc->DrawnSinceProcessing());
    EXPECT_TRUE(frame->PaneText(2).isEmpty());
}

TEST_F(desktopFixture, WithVisionOffTheFrameIsShownAsCapturedAndNothingIsSent) {
    visionSettings.visionOn = false;
    const rgbaImage captured = solidFrame(320, 240, 123, 7);
    feed(captured);
    EXPECT_TRUE(displayImage().samePixels(captured));
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(desktopFixture, ATooLargeFrameShowsTheSizeBoxWhileLaterFramesAreShownUnprocessed) {
    const rgbaImage large = solidFrame(802, 600, 60, 9);
    const rgbaImage during = solidFrame(640, 480, 200, 4);
    bool nestedShown = false;
    std::size_t sentWhileOpen = 0;
    shellTest::messageBoxAnswerer answerer([&](QMessageBox&) {
        EXPECT_FALSE(visionSettings.visionOn); // cleared before the box
        // Frames keep arriving while the box is open.
        paint();
        feed(during);
        nestedShown = displayImage().samePixels(during);
        sentWhileOpen = messages.texts().size();
    });

    feed(large);

    ASSERT_EQ(answerer.texts().size(), 1u);
    EXPECT_EQ(answerer.texts()[0], QStringLiteral("Size incompatibility, got 802x600, max 800x700"));
    EXPECT_TRUE(nestedShown);
    EXPECT_EQ(sentWhileOpen, 0u);
    EXPECT_FALSE(visionSettings.visionOn);
    // The outer frame ends up as the display image, unprocessed.
    EXPECT_TRUE(displayImage().samePixels(large));

    // Until vision is turned on again, frames are shown as captured.
    paint();
    const rgbaImage later = solidFrame(640, 480, 30, 5);
    feed(later);
    EXPECT_TRUE(displayImage().samePixels(later));
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_EQ(answerer.texts().size(), 1u);
}

TEST_F(desktopFixture, CalibrationPromptsSendTheirStepsOnTheSharedCounterWhileFramesArrive) {
    visionSettings.visionOn = false; // calibration ends with vision on regardless
    int marker = 0;
    std::vector<bool> crossSeen;
    shellTest::messageBoxAnswerer answerer([&](QMessageBox&) {
        for (int i = 0; i < 2; ++i) {
            paint();
            feed(solidFrame(640, 480, 100, static_cast<std::uint8_t>(++marker)));
        }
        // The step 1 cross runs through the centre: (320, 100) is on its vertical line.
        const rgbaImage shown = displayImage();
        const std::uint8_t* pixel = shown.row(100) + 4 * 320;
        crossSeen.push_back(pixel[2] == 255 && pixel[1] == 0 && pixel[0] == 0);
    });

    CControlPanelDlg panel(frame.get());
    panel.show();
    QTest::mouseClick(panel.Button(controlId::calibrate), Qt::LeftButton); // returns after the last prompt

    ASSERT_EQ(answerer.texts().size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(answerer.texts()[static_cast<std::size_t>(i)], QString::fromLatin1(calibrationPrompts[i]));
    EXPECT_TRUE(visionSettings.visionOn);
    EXPECT_EQ(visionSettings.calibrationStep, 0);
    ASSERT_EQ(crossSeen.size(), 4u);
    EXPECT_TRUE(crossSeen[0]);  // step 1: centre column
    EXPECT_FALSE(crossSeen[1]); // step 2: the vertical line is at a tenth of the width

    const std::vector<std::string> texts = messages.texts();
    ASSERT_EQ(texts.size(), 8u); // two frames per prompt
    const char* expectedSteps[8] = {"1", "1", "2", "2", "3", "3", "0", "0"};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::vector<std::string> f = shellTest::fields(texts[i]);
        ASSERT_EQ(f.size(), 6u) << texts[i];
        EXPECT_EQ(f[0], std::to_string(i + 1)) << "one counter for all messages";
        EXPECT_EQ(f[5], expectedSteps[i]) << texts[i];
    }
    EXPECT_EQ(shellTest::fields(texts[0])[1], "0");
    EXPECT_EQ(shellTest::fields(texts[2])[1], "-0.788111");
    EXPECT_EQ(shellTest::fields(texts[4])[2], "0.219821");
}

TEST_F(desktopFixture, RatePanesShowTwoDecimalsAndStayEmptyForANegativeRate) {
    struct rateCase {
        double rate;
        int pane;
        const char* text;
    };
    const rateCase cases[] = {
        {0.0, 1, "0.00 fps"}, {12.3456, 1, "12.35 fps"}, {123.4, 2, "123.40 fps"},
        {-1.0, 2, ""},        {5.0, 2, "5.00 fps"},      {-0.5, 1, ""},
    };
    for (const rateCase& c : cases) {
        frame->ShowFrameRate(c.rate, c.pane);
        EXPECT_EQ(frame->PaneText(c.pane), QString::fromLatin1(c.text)) << c.rate;
    }
    frame->ShowFrameRate(7.0, 1);
    EXPECT_EQ(frame->PaneText(2), QStringLiteral("5.00 fps")); // the other pane keeps its text
    EXPECT_EQ(frame->PaneText(1), QStringLiteral("7.00 fps"));
}

TEST_F(desktopFixture, TheWindowIsSizedSoTheViewShowsTheWholeVideo) {
    // As at start-up: sized before the window is first shown. No frame and
    // no source: the default 320 x 240.
    view()->OnInitialUpdate();
    frame->show();
    frame->layout()->activate();
    EXPECT_EQ(view()->contentsRect().size(), QSize(320, 240));

    feed(solidFrame(640, 480, 80));
    view()->OnInitialUpdate();
    frame->layout()->activate();
    EXPECT_EQ(view()->size(), QSize(644, 484));
    EXPECT_EQ(view()->contentsRect().size(), QSize(640, 480));
    EXPECT_EQ(pump().NotifyTarget(), view());
}

TEST_F(desktopFixture, MenusToolBarAndShortcutsAreComplete) {
    struct item {
        int id;
        const char* menu;
        const char* text;
        const char* keys;
    };
    using namespace commandId;
    const item items[] = {
        {fileNew, "&File", "&New", "Ctrl+N"},
        {fileOpen, "&File", "&Open...", "Ctrl+O"},
        {fileSave, "&File", "&Save", "Ctrl+S"},
        {fileSaveAs, "&File", "Save &As...", ""},
        {filePrint, "&File", "&Print...", "Ctrl+P"},
        {filePrintPreview, "&File", "Print Pre&view", ""},
        {filePrintSetup, "&File", "P&rint Setup...", ""},
        {fileRecent, "&File", "Recent File", ""},
        {appExit, "&File", "E&xit", ""},
        {imageLiveCapture, "&Image", "&Live Capture", ""},
        {imageCompression, "&Image", "&Compression", ""},
        {imageFormat, "&Image", "&Format", ""},
        {imageSourceDialog, "&Image", "&Source", ""},
        {imageDisplay, "&Image", "&Display", ""},
        {editUndo, "&Edit", "&Undo", "Ctrl+Z; Alt+Backspace"},
        {editCut, "&Edit", "Cu&t", "Ctrl+X; Shift+Del"},
        {editCopy, "&Edit", "&Copy", "Ctrl+C; Ctrl+Ins"},
        {editPaste, "&Edit", "&Paste", "Ctrl+V; Shift+Ins"},
        {viewToolbar, "&View", "&Toolbar", ""},
        {viewStatusBar, "&View", "&Status Bar", ""},
        {mainControls, "Controls", "Main Controls", ""},
    };
    QStringList menuTitles;
    for (QAction* menu : frame->menuBar()->actions())
        menuTitles << menu->text();
    EXPECT_EQ(menuTitles, (QStringList{"&File", "&Image", "&Edit", "&View", "Controls"}));

    for (const item& i : items) {
        QAction* action = frame->Command(i.id);
        ASSERT_NE(action, nullptr) << i.id;
        EXPECT_EQ(action->text(), QString::fromLatin1(i.text));
        EXPECT_EQ(QKeySequence::listToString(action->shortcuts(), QKeySequence::PortableText),
                  QString::fromLatin1(i.keys))
            << i.text;
        EXPECT_EQ(action->objectName(), QString::number(i.id));
        QStringList containing;
        for (QAction* menu : frame->menuBar()->actions())
            if (menu->menu()->actions().contains(action))
                containing << menu->text();
        EXPECT_EQ(containing, QStringList{QString::fromLatin1(i.menu)}) << i.text;
    }
    for (int id : {editUndo, editCut, editCopy, editPaste})
        EXPECT_FALSE(frame->Command(id)->isEnabled());

    // The tool bar in its order; Vision On/Off only there.
    QList<int> buttons;
    for (QAction* a : frame->ToolBar()->actions())
        buttons << (a->isSeparator() ? 0 : a->data().toInt());
    EXPECT_EQ(buttons, (QList<int>{fileNew, fileOpen, fileSave, 0, editCut, editCopy, editPaste, 0, filePrint,
                                   mainControls, visionOnOff}));
    for (QAction* menu : frame->menuBar()->actions())
        EXPECT_FALSE(menu->menu()->actions().contains(frame->Command(visionOnOff)));

    // Prompt and tool tip of the program's own commands.
    EXPECT_EQ(frame->Command(visionOnOff)->statusTip(), QStringLiteral("Start and Stop Image Processing"));
    EXPECT_EQ(frame->Command(visionOnOff)->toolTip(), QStringLiteral("Vision On\\Off"));
    EXPECT_EQ(frame->Command(mainControls)->statusTip(),
              QStringLiteral("Control Pannel for Talvenor's Vision System"));
    EXPECT_EQ(frame->Command(mainControls)->toolTip(), QStringLiteral("Control Pannel"));
    EXPECT_EQ(frame->Command(imageLiveCapture)->statusTip(), QStringLiteral("Live video capture"));
}

TEST_F(desktopFixture, LiveCaptureIsCheckedWhileRunningAndDisabledWithoutASource) {
    QAction* live = frame->Command(commandId::imageLiveCapture);
    doc->OnUpdateImageLiveCapture(live);
    EXPECT_TRUE(live->isChecked());
    EXPECT_FALSE(live->isEnabled()); // no source connected
    doc->OnImageLiveCapture();
    EXPECT_FALSE(pump().isRunning());
    doc->OnUpdateImageLiveCapture(live);
    EXPECT_FALSE(live->isChecked());
    doc->OnImageLiveCapture();
    EXPECT_TRUE(pump().isRunning());
    EXPECT_EQ(pump().NotifyTarget(), view());
}

TEST_F(desktopFixture, ViewCommandsHideAndShowTheBars) {
    frame->show();
    frame->Command(commandId::viewToolbar)->trigger();
    EXPECT_TRUE(frame->ToolBar()->isHidden());
    frame->Command(commandId::viewStatusBar)->trigger();
    EXPECT_TRUE(frame->statusBar()->isHidden());
    frame->Command(commandId::viewToolbar)->trigger();
    EXPECT_FALSE(frame->ToolBar()->isHidden());
    frame->RunUpdateHandlers();
    EXPECT_TRUE(frame->Command(commandId::viewToolbar)->isChecked());
    EXPECT_FALSE(frame->Command(commandId::viewStatusBar)->isChecked());
}

TEST_F(desktopFixture, SaveWritesAnEmptyFileAndNamesTheDocument) {
    QFile existing(scratch.file("old.vorn"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("something");
    existing.close();
    ASSERT_TRUE(doc->OnSaveDocument(scratch.file("old.vorn")));
    EXPECT_EQ(QFileInfo(scratch.file("old.vorn")).size(), 0);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("old.vorn - vorn"));
    EXPECT_FALSE(doc->OnSaveDocument(scratch.file("no/such/dir/x.vorn")));
}

// The window loads emotion.cfg when it is built and writes it when it goes.
TEST(mainFrameSettings, LoadedWhenBuiltAndSavedWhenDestroyed) {
    shellTest::scratchDirectory scratch;
    {
        QFile file(scratch.file("emotion.cfg"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("0.3 0.4 0.6 0.7 250\n");
    }
    visionSettings = visionSettingsRecord{};
    CVornDoc doc(nullptr);
    auto frame = std::make_unique<CMainFrame>(&doc);
    EXPECT_DOUBLE_EQ(visionSettings.happyLevel, 0.3);
    EXPECT_DOUBLE_EQ(visionSettings.surpriseLevel, 0.7);
    EXPECT_EQ(visionSettings.minObjectSize, 250u);
    EXPECT_TRUE(visionSettings.drawBox);
    EXPECT_TRUE(visionSettings.emotionsOn);

    visionSettings.happyLevel = 0.35;
    visionSettings.minObjectSize = 144;
    {
        QFile file(scratch.file("emotion.cfg"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), QByteArray("0.3 0.4 0.6 0.7 250\n")); // not yet
    }
    frame.reset();
    QFile file(scratch.file("emotion.cfg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("0.35 0.4 0.6 0.7 144\n"));
}

TEST_F(desktopFixture, APrintedPageShowsTheDisplayImageAndCountsAsAPaint) {
    feed(solidFrame(320, 240, 0, 0)); // vision on: processed with the overlay
    visionSettings.visionOn = false;
    paint();
    const rgbaImage shown = solidFrame(320, 240, 200, 200);
    feed(shown); // shown as captured
    ASSERT_TRUE(displayImage().samePixels(shown));
    EXPECT_FALSE(doc->DrawnSinceProcessing());

    // A page twice the size of the video: the picture is scaled to fit.
    QImage page(640, 480, QImage::Format_RGB32);
    page.fill(Qt::black);
    {
        QPainter painter(&page);
        view()->OnDraw(painter, QPoint(), page.rect());
    }
    EXPECT_TRUE(doc->DrawnSinceProcessing());
    EXPECT_EQ(page.pixel(10, 10), qRgb(200, 200, 200));
    EXPECT_EQ(page.pixel(630, 470), qRgb(200, 200, 200));
    // Two paints with a picture give the display pane a rate.
    EXPECT_FALSE(frame->PaneText(2).isEmpty());
}

TEST_F(desktopFixture, TheEndOfTheStreamIsShownInTheStatusBar) {
    feed(solidFrame(320, 240, 90));
    pump().m_frameQueue.endStream(streamState::failed, "clip.mp4: could not decode");
    // The worker notices the end and posts one more frame-ready event.
    bool shown = false;
    for (int i = 0; i < 3000 && !shown; ++i) {
        QTest::qWait(10);
        shown = frame->statusBar()->currentMessage() == QStringLiteral("clip.mp4: could not decode");
    }
    EXPECT_TRUE(shown) << frame->statusBar()->currentMessage().toStdString();
    EXPECT_EQ(doc->FramesProcessed(), 1u);
}
