#pragma once
// A document with its main window and view, built the way the program
// builds them but without an image source: frames are handed to the pump
// directly and their events dispatched by the test. Runs in a scratch
// directory (the window loads and saves emotion.cfg) with the messages
// recorded.

#include "messaging/recordingTransport.h"
#include "pipeline/messageBox.h"
#include "settings/visionSettings.h"
#include "shell/mainFrame.h"
#include "shell/modalMessageBox.h"
#include "shell/vornDoc.h"
#include "shell/vornView.h"
#include "shellTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

class desktopFixture : public ::testing::Test {
protected:
    void SetUp() override {
        visionSettings = visionSettingsRecord{};
        installModalMessageBox();
        doc = std::make_unique<CVornDoc>(nullptr);
        frame = std::make_unique<CMainFrame>(doc.get()); // loads the settings
        doc->Pump().setKeepEveryFrame(false);
        doc->Pump().Run();
        view()->OnInitialUpdate(); // becomes the frame-ready target
    }

    void TearDown() override {
        doc->OnCloseDocument();
        frame.reset();
        doc.reset();
        setMessageBoxHandler({});
    }

    CVornView* view() const { return frame->View(); }
    CCapturePump& pump() const { return doc->Pump(); }
    // A paint of the view, as the window system would ask for.
    void paint() const { (void)view()->grab(); }
    void feed(const rgbaImage& image) const { shellTest::deliverAndDispatch(pump(), image); }
    rgbaImage displayImage() const {
        std::lock_guard<std::mutex> lock(doc->m_displayLock);
        return doc->CopyDisplayImage();
    }

    shellTest::scratchDirectory scratch;
    scopedMessageCapture messages;
    std::unique_ptr<CVornDoc> doc;
    std::unique_ptr<CMainFrame> frame;
};
