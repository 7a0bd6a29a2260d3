#pragma once
// Three-point calibration. While a point is shown, every frame gets a red
// cross at that point and one message with the point's angles and the step
// number, so the head on the graphics machine can be lined up with it. The
// state is visionSettings.calibrationStep: 0 idle, 1..3 while a point shows.
//
// Points, with W the frame width and H its logical height (integer division):
//   1 centre      (W/2,  H/2)
//   2 horizontal  (W/10, H/2)
//   3 vertical    (W/2,  9H/10)

#include "toolkit/QMXrgbImage.h"

// Called by the pipeline first thing for every frame while a step is set:
// draws the cross of the current step and sends its message (emotion 0,
// intensity 0, the step number). Any other step value does nothing.
void drawCalibrationTarget(QMXrgbImage& frame);

// The procedure behind CALIBRATE: vision off, steps 1, 2, 3 each with its
// prompt, then step 0, vision on and a closing prompt. Each prompt is shown
// through showMessageBox and the procedure advances when it returns, however
// the box was closed; frames keep being processed while a box is open.
void runCalibration();

// The prompt texts, in the order they are shown.
extern const char* const calibrationPrompts[4];
