// The control panel's effects on the settings, driven through its widgets.

#include "settings/visionSettings.h"
#include "shell/commandIds.h"
#include "shell/controlPanelDlg.h"
#include "shell/releaseSlider.h"
#include "shellTestSupport.h"

#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The settings as they are after the start-up load without emotion.cfg.
void loadedDefaults() {
    visionSettings = visionSettingsRecord{};
    visionSettings.drawBox = true;
    visionSettings.emotionsOn = true;
    visionSettings.minObjectSize = 100;
}

QRect handleRect(QSlider* slider) {
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.singleStep = slider->singleStep();
    option.pageStep = slider->pageStep();
    option.upsideDown = false;
    option.subControls = QStyle::SC_All;
    return slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
}

// Presses and lets go of the handle without moving it: the position stays.
void clickHandle(QSlider* slider) {
    QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, handleRect(slider).center());
}

class controlPanelTest : public ::testing::Test {
protected:
    void SetUp() override { loadedDefaults(); }

    // A fresh panel, shown (as its modal run would show it).
    std::unique_ptr<CControlPanelDlg> open() {
        auto panel = std::make_unique<CControlPanelDlg>();
        panel->show();
        return panel;
    }
};

} // namespace

TEST_F(controlPanelTest, DrawTypeAndSwitchButtonsAreIndependentToggles) {
    struct step {
        int button;
        bool box, cross, binary, emotions, vision;
    };
    using namespace controlId;
    // From the start values: boxes on, crosses off, binary off, emotions on, vision on.
    const std::vector<step> steps = {
        {cross, true, true, false, true, true},   {box, false, true, false, true, true},
        {binary, false, true, true, true, true},  {cross, false, false, true, true, true},
        {binary, false, false, false, true, true}, // none drawn at all
        {emotionsOnOff, false, false, false, false, true},
        {startStop, false, false, false, false, false},
        {box, true, false, false, false, false},  {startStop, true, false, false, false, true},
    };
    auto panel = open();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const step& s = steps[i];
        QTest::mouseClick(panel->Button(s.button), Qt::LeftButton);
        EXPECT_EQ(visionSettings.drawBox, s.box) << "step " << i;
        EXPECT_EQ(visionSettings.drawCross, s.cross) << "step " << i;
        EXPECT_EQ(visionSettings.drawBinary, s.binary) << "step " << i;
        EXPECT_EQ(visionSettings.emotionsOn, s.emotions) << "step " << i;
        EXPECT_EQ(visionSettings.visionOn, s.vision) << "step " << i;
    }
    EXPECT_DOUBLE_EQ(visionSettings.happyLevel, 0.2);
}

TEST_F(controlPanelTest, StartStopAndVisionOnOffActOnTheSameFlag) {
    auto panel = open();
    QTest::mouseClick(panel->Button(controlId::startStop), Qt::LeftButton);
    EXPECT_FALSE(visionSettings.visionOn);
    toggleVisionOn(); // the tool bar's command
    EXPECT_TRUE(visionSettings.visionOn);
}

TEST_F(controlPanelTest, ReinitialiseRequestsARebuildAndReloadConfigIsDisabled) {
    auto panel = open();
    QTest::mouseClick(panel->Button(controlId::reinitialise), Qt::LeftButton);
    EXPECT_TRUE(visionSettings.reinitialiseRequested);
    EXPECT_FALSE(panel->Button(controlId::reloadConfig)->isEnabled());
}

TEST_F(controlPanelTest, ControlsHaveTheirCaptionsAndTheCloseButtonIsTheDefault) {
    auto panel = open();
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Talvenor Vision Controls"));
    const std::vector<std::pair<int, const char*>> captions = {
        {controlId::startStop, "Start/Stop"}, {controlId::reinitialise, "Reinitialise"},
        {controlId::box, "Box"},              {controlId::cross, "Cross"},
        {controlId::binary, "binary"},        {controlId::calibrate, "CALIBRATE"},
        {controlId::reset, "RESET"},          {controlId::reloadConfig, "Reload Config"},
        {controlId::emotionsOnOff, "Emotions on/off"}, {controlId::ok, "Close Control Panel"},
    };
    for (const auto& [id, caption] : captions) {
        QPushButton* button = panel->Button(id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->text(), QString::fromLatin1(caption));
    }
    EXPECT_TRUE(panel->Button(controlId::ok)->isDefault());
    for (int id : {controlId::happy, controlId::sad, controlId::anger, controlId::surprise, controlId::minSize}) {
        ASSERT_NE(panel->Slider(id), nullptr);
        EXPECT_EQ(panel->Slider(id)->minimum(), 0);
        EXPECT_EQ(panel->Slider(id)->maximum(), 100);
    }
}

TEST_F(controlPanelTest, SlidersOpenAtTheSettingsAndChangeThemOnlyOnMouseRelease) {
    visionSettings.happyLevel = 0.29; // as a slider at 29 leaves it
    visionSettings.sadLevel = 0.5;
    auto panel = open();
    CReleaseSlider* happy = panel->Slider(controlId::happy);
    CReleaseSlider* sad = panel->Slider(controlId::sad);
    EXPECT_EQ(happy->value(), 29);
    EXPECT_EQ(sad->value(), 50);

    // Keyboard moves change the slider, not the setting.
    happy->setFocus();
    for (int i = 0; i < 6; ++i)
        QTest::keyClick(happy, Qt::Key_Right);
    EXPECT_EQ(happy->value(), 35);
    EXPECT_DOUBLE_EQ(visionSettings.happyLevel, 0.29);

    // A release on Sad reads all sliders but converts only its own.
    clickHandle(sad);
    EXPECT_DOUBLE_EQ(visionSettings.sadLevel, 0.5);
    EXPECT_EQ(panel->m_happy, 35);
    EXPECT_DOUBLE_EQ(visionSettings.happyLevel, 0.29);

    // The next release on Happy takes its position.
    clickHandle(happy);
    EXPECT_EQ(visionSettings.happyLevel, 35 * 0.01);

    // A click on the groove moves the slider; the release sets the level.
    const int before = sad->value();
    QTest::mouseClick(sad, Qt::LeftButton, Qt::NoModifier, QPoint(sad->width() - 3, sad->height() / 2));
    EXPECT_GT(sad->value(), before);
    EXPECT_EQ(visionSettings.sadLevel, sad->value() * 0.01);
}

TEST_F(controlPanelTest, ALevelAboveOneShowsTheSliderAtTheEndAndChangesOnlyWhenReleased) {
    visionSettings.angerLevel = 1.7;
    auto panel = open();
    CReleaseSlider* anger = panel->Slider(controlId::anger);
    EXPECT_EQ(anger->value(), 100);
    EXPECT_EQ(panel->m_anger, 170);
    QTest::mouseClick(panel->Button(controlId::box), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(visionSettings.angerLevel, 1.7);
    clickHandle(anger);
    EXPECT_DOUBLE_EQ(visionSettings.angerLevel, 1.0);
}

TEST_F(controlPanelTest, TheSizeSliderShowsTheRootAndSetsTheSquare) {
    visionSettings.minObjectSize = 250;
    auto panel = open();
    CReleaseSlider* size = panel->Slider(controlId::minSize);
    EXPECT_EQ(size->value(), 15);
    QTest::keyClick(size, Qt::Key_Left); // keyboard: no change yet
    EXPECT_EQ(visionSettings.minObjectSize, 250u);
    clickHandle(size);
    EXPECT_EQ(visionSettings.minObjectSize, 196u); // 14 squared

    size->setValue(100);
    clickHandle(size);
    EXPECT_EQ(visionSettings.minObjectSize, 10000u);
    size->setValue(0);
    clickHandle(size);
    EXPECT_EQ(visionSettings.minObjectSize, 0u);
}

TEST_F(controlPanelTest, ResetRestoresLevelsAndSizeAndMovesTheSliders) {
    visionSettings.happyLevel = 0.9;
    visionSettings.sadLevel = 1.4;
    visionSettings.angerLevel = 0.0;
    visionSettings.surpriseLevel = 0.33;
    visionSettings.minObjectSize = 4900;
    visionSettings.drawCross = true;
    visionSettings.emotionsOn = false;
    visionSettings.visionOn = false;
    auto panel = open();
    QTest::mouseClick(panel->Button(controlId::reset), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(visionSettings.happyLevel, 0.2);
    EXPECT_DOUBLE_EQ(visionSettings.sadLevel, 0.5);
    EXPECT_DOUBLE_EQ(visionSettings.angerLevel, 0.5);
    EXPECT_DOUBLE_EQ(visionSettings.surpriseLevel, 0.5);
    EXPECT_EQ(visionSettings.minObjectSize, 100u);
    const int expected[5][2] = {{controlId::happy, 20}, {controlId::sad, 50}, {controlId::anger, 50},
                                {controlId::surprise, 50}, {controlId::minSize, 10}};
    for (const auto& e : expected)
        EXPECT_EQ(panel->Slider(e[0])->value(), e[1]) << e[0];
    // The switches are left alone.
    EXPECT_TRUE(visionSettings.drawBox);
    EXPECT_TRUE(visionSettings.drawCross);
    EXPECT_FALSE(visionSettings.emotionsOn);
    EXPECT_FALSE(visionSettings.visionOn);
}

TEST_F(controlPanelTest, ClosingReadsTheSlidersButChangesNoSetting) {
    struct closeCase {
        const char* how;
        int key;
        int result;
    };
    const closeCase cases[] = {{"Enter", Qt::Key_Return, QDialog::Accepted}, {"Esc", Qt::Key_Escape, QDialog::Rejected}};
    for (const closeCase& c : cases) {
        loadedDefaults();
        auto panel = open();
        panel->Slider(controlId::surprise)->setValue(80);
        panel->Slider(controlId::minSize)->setValue(30);
        panel->activateWindow();
        panel->Button(controlId::ok)->setFocus();
        QTest::keyClick(panel.get(), static_cast<Qt::Key>(c.key));
        EXPECT_EQ(panel->result(), c.result) << c.how;
        EXPECT_FALSE(panel->isVisible()) << c.how;
        EXPECT_DOUBLE_EQ(visionSettings.surpriseLevel, 0.5) << c.how;
        EXPECT_EQ(visionSettings.minObjectSize, 100u) << c.how;
        if (c.result == QDialog::Accepted) {
            EXPECT_EQ(panel->m_surprise, 80);
        }
    }
}

TEST_F(controlPanelTest, EveryOpeningStartsFromTheCurrentSettings) {
    {
        auto panel = open();
        panel->Slider(controlId::happy)->setValue(70);
        clickHandle(panel->Slider(controlId::happy));
    }
    visionSettings.sadLevel = 0.07;
    auto panel = open();
    EXPECT_EQ(panel->Slider(controlId::happy)->value(), 70);
    EXPECT_EQ(panel->Slider(controlId::sad)->value(), 7);
}
