// GoogleTest main for the desktop tests: one QApplication on the offscreen
// platform for the whole run, so the real widgets can be built and driven.

#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>

#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    // Keep the recent-file list and other QSettings out of the user's own files.
    QStandardPaths::setTestModeEnabled(true);
    return RUN_ALL_TESTS();
}
