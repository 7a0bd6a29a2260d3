#include "settings/calibration.h"

#include "messaging/messageStream.h"
#include "pipeline/messageBox.h"
#include "settings/visionSettings.h"

const char* const calibrationPrompts[4] = {
    "Calibrate Center (1)\nYou should see a cross drawn in the video window\n"
    "Using the mouse on the graphics machine please\n"
    "turn the head to look in the direction of the cross,\nthen click OK",
    "Calibrate Horizontal (2)\nYou should see a cross drawn in the video window\n"
    "Using the mouse on the graphics machine pleas\n"
    "turn the head to look in the direction of the cross,\nthen click OK",
    "Calibrate Vertical (3)\nYou should see a cross drawn in the video window\n"
    "Using the mouse on the graphics machine please\n"
    "turn the head to look in the direction of the cross,\nthen click OK",
    "Calibration complete thank you\n Try moving in front of the system to see if it has worked\n",
};

void drawCalibrationTarget(QMXrgbImage& frame) {
    const int step = visionSettings.calibrationStep;
    const int w = frame.width;
    const int h = frame.height / frame.rowStep;

    int column = 0;
    int row = 0;
    switch (step) {
    case 1:
        column = w / 2;
        row = h / 2;
        break;
    case 2:
        column = w / 10;
        row = h / 2;
        break;
    case 3:
        column = w / 2;
        row = 9 * h / 10;
        break;
    default:
        return;
    }

    frame.drawLine(0, row, w, row, 255, 0, 0);
    frame.drawLine(column, 0, column, h, 255, 0, 0);
    sendGazeMessage(frame, column, row, 0, 0.0f, step);
}

void runCalibration() {
    visionSettingsRecord& settings = visionSettings;
    settings.visionOn = false;
    for (int step = 1; step <= 3; ++step) {
        settings.calibrationStep = step;
        showMessageBox(calibrationPrompts[step - 1]);
    }
    settings.calibrationStep = 0;
    settings.visionOn = true;
    showMessageBox(calibrationPrompts[3]);
}
