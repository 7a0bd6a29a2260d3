#pragma once
// Target choice and gaze output. The target is normally the object record
// nearest to the previous target, so the gaze stays on one person; with
// probability 0.1 per frame it jumps to a record drawn with a chance
// proportional to its squared size, so attention wanders to large objects.

#include "toolkit/QMXrgbImage.h"

// Sets targetIndex. Draws one random number, and a second one when the first
// is below 0.1.
void selectTarget();

// Sends the frame's one gaze message: lastTarget's centre (truncated), the
// dominant emotion, its intensity and the calibration step.
void sendTargetMessage(const QMXrgbImage& frame);
