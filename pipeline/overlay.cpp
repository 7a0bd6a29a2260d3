#include "pipeline/overlay.h"

#include <limits>

#include "pipeline/pipeline.h"
#include "settings/visionSettings.h"

namespace {

// Coordinates computed in floating point are truncated toward zero. A level
// read unchecked from emotion.cfg can lie far beyond the int range; such a
// coordinate is pinned to the range's end (off the frame either way) instead
// of being converted, which would be undefined.
int truncated(double value) {
    if (value >= 2147483648.0)
        return std::numeric_limits<int>::max();
    if (!(value > -2147483649.0))
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

void drawBar(QMXrgbImage& frame, int column, float value) {
    const int fillEnd = truncated(static_cast<double>(value) * 100 + 10);
    frame.drawLine(column, 10, column, fillEnd, 255, 0, 0);
    frame.drawLine(column, fillEnd, column, 110, 0, 0, 255);
}

void drawTick(QMXrgbImage& frame, int column, double level) {
    const int row = truncated(level * 100 + 10);
    frame.drawLine(column - 3, row, column + 3, row, 255, 255, 0);
}

} // namespace

void drawModelState(QMXrgbImage& frame, int i, int j, float score) {
    int level = 255;
    if (score == 1.0f)
        level = 0;
    else if (score == 0.8f)
        level = 128;
    frame.setPixel(pipelineState().gridWidth + i, j, level, level, level);
}

void drawEmotionBars(QMXrgbImage& frame) {
    const pipelineStateRecord& s = pipelineState();
    const visionSettingsRecord& settings = visionSettings;
    const int w = frame.width;

    drawBar(frame, w - 10, s.emotionHappy);
    drawTick(frame, w - 10, settings.happyLevel);
    drawBar(frame, w - 20, s.emotionSad);
    drawTick(frame, w - 20, settings.sadLevel);
    drawBar(frame, w - 30, s.emotionAnger);
    drawTick(frame, w - 30, settings.angerLevel);
    drawBar(frame, w - 40, s.emotionSurprise);
    drawTick(frame, w - 40, settings.surpriseLevel);
    drawBar(frame, w - 50, s.emotionSaturation);
}

void drawObjects(QMXrgbImage& frame) {
    pipelineStateRecord& s = pipelineState();
    const visionSettingsRecord& settings = visionSettings;

    for (int k = 0; k < objectRecordCount; ++k) {
        const objectRecord& record = s.objectRecords[k];
        const auto pixels = static_cast<std::uint32_t>(static_cast<std::int32_t>(record.size));
        if (!(pixels > settings.minObjectSize))
            continue;

        const double x = record.x;
        const double y = record.y;
        if (settings.drawCross) {
            frame.drawLine(truncated(x - 8), truncated(y), truncated(x + 8), truncated(y), 255, 0, 0);
            frame.drawLine(truncated(x), truncated(y - 8), truncated(x), truncated(y + 8), 255, 0, 0);
        }

        const int left = truncated(x - record.halfWidth);
        const int right = truncated(x + record.halfWidth);
        const int top = truncated(y - record.halfHeight);
        const int bottom = truncated(y + record.halfHeight);
        if (settings.drawBox) {
            const int g = 255 - 50 * k;
            frame.drawLine(left, top, right, top, g, g, g);
            frame.drawLine(left, bottom, right, bottom, g, g, g);
            frame.drawLine(left, top, left, bottom, g, g, g);
            frame.drawLine(right, top, right, bottom, g, g, g);
        }
        if (k == s.targetIndex) {
            frame.drawLine(left, top, right, bottom, 0, 0, 255);
            frame.drawLine(left, bottom, right, top, 0, 0, 255);
        }
    }

    const objectRecord& target = s.objectRecords[s.targetIndex];
    s.lastTarget = {target.x, target.y, target.halfWidth, target.halfHeight,
                    static_cast<std::int32_t>(target.size)};
}
