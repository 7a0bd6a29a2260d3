#pragma once
// Background subtraction: every second pixel in each direction is scored
// against its cell of the model grid; a score below 0.6 (a colour that fits
// no background mode and is no shadow) marks the cell's mask pixel as
// foreground. On every fifth counted frame the cells learn from the frame.

#include "toolkit/QMXrgbImage.h"

// Scores grid columns gridWidth-1 down to 0 and rows 0 to gridHeight-2 and
// writes foregroundMask. Right to left so that the model view, drawn into
// columns from gridWidth on, never covers a pixel still to be sampled.
void subtractBackground(QMXrgbImage& frame);

// Replaces every model of the grid by an empty one built from the model
// parameters of the settings; everything learnt is discarded.
void rebuildModelGrid();
