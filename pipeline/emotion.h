#pragma once
// Emotion estimation: four accumulators (happy, anger, sad, surprise) and a
// damping one (saturation) move by fixed rules on how far the target moved
// and how much its size changed since the previous frame, each compared with
// running statistics of the same quantity. The outcome is dominantEmotion and
// emotionIntensity in the pipeline state, carried by every gaze message.

#include "toolkit/QMXrgbImage.h"

// Runs once per processed frame while emotions are on, after the emotion bars
// are drawn and before lastTarget is replaced. Draws one random number. The
// frame is not used; it is passed for symmetry with the other stages.
void updateEmotions(QMXrgbImage& frame);
