// The Source and Format dialogs: what they hand back for each choice.

#include "shell/formatDialog.h"
#include "shell/sourceDialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <string>

TEST(sourceDialog, StartsFromTheCurrentSourceAndReturnsItsText) {
    const char* texts[] = {"demo", "videotestsrc ! videoconvert", "demo:unpaced"};
    for (const char* text : texts) {
        CSourceDialog dialog{QString::fromLatin1(text)};
        EXPECT_EQ(dialog.SourceText().toStdString(), text == std::string("demo:unpaced") ? "demo" : text);
    }
    // The camera choice names the selected camera, or the first one found.
    CSourceDialog dialog{QStringLiteral("camera")};
    auto* cameras = dialog.findChild<QComboBox*>();
    ASSERT_NE(cameras, nullptr);
    const QString device = cameras->currentData().toString();
    EXPECT_EQ(dialog.SourceText(), device.isEmpty() ? QStringLiteral("camera") : device);
}

TEST(sourceDialog, TheChosenKindDecidesTheText) {
    CSourceDialog dialog{QStringLiteral("demo")};
    auto radios = dialog.findChildren<QRadioButton*>();
    auto edits = dialog.findChildren<QLineEdit*>();
    ASSERT_EQ(radios.size(), 4);
    ASSERT_GE(edits.size(), 2);
    // File choice with a typed path.
    radios[1]->setChecked(true);
    edits[0]->setText(QStringLiteral("  clips/walk.mp4 "));
    EXPECT_EQ(dialog.SourceText(), QStringLiteral("clips/walk.mp4"));
    // Pipeline choice.
    radios[2]->setChecked(true);
    edits[1]->setText(QStringLiteral("videotestsrc pattern=ball ! videoconvert"));
    EXPECT_EQ(dialog.SourceText(), QStringLiteral("videotestsrc pattern=ball ! videoconvert"));
    EXPECT_FALSE(edits[0]->isEnabled());
    radios[3]->setChecked(true);
    EXPECT_EQ(dialog.SourceText(), QStringLiteral("demo"));
}

TEST(formatDialog, OffersTheCameraModesAndKeepsTheCurrentOneByDefault) {
    videoMode vga{"video/x-raw", "YUY2", 640, 480, 30, 1};
    videoMode qvga{"video/x-raw", "YUY2", 320, 240, 30, 1};
    videoMode slow{"video/x-raw", "YUY2", 640, 480, 15, 1};
    CFormatDialog dialog({vga, slow, qvga}, slow);
    auto* list = dialog.findChild<QListWidget*>();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(dialog.SelectedMode(), slow);
    list->setCurrentRow(2);
    EXPECT_EQ(dialog.SelectedMode(), qvga);
}
