#pragma once
// What the operator sees of the pipeline, drawn straight into the frame:
// the model state at half scale in the upper right quarter, the emotion bars
// at the right edge, crosses and boxes on the objects and the target mark.
// Everything goes through setPixel/drawLine, so the frame's outermost ring is
// never drawn on and lines stop one sample before their end point.

#include "toolkit/QMXrgbImage.h"

// Model-state pixel of cell (i, j) at (gridWidth + i, j): black for a
// background score (1.0), grey for a shadow (0.8), white otherwise.
void drawModelState(QMXrgbImage& frame, int i, int j, float score);

// Five vertical bars (happy, sad, anger, surprise, saturation) from row 10 to
// row 110 at 10, 20, ... 50 pixels from the right edge: red for the filled
// part, blue for the rest, a yellow tick at each of the four levels.
void drawEmotionBars(QMXrgbImage& frame);

// Crosses and boxes on the records larger than the minimum object size, the
// target mark, then lastTarget = the target record.
void drawObjects(QMXrgbImage& frame);
