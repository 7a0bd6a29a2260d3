// The frame driver: runs the stages over one frame in their fixed order.

#include <cstdio>

#include "pipeline/backgroundSubtraction.h"
#include "pipeline/emotion.h"
#include "pipeline/gaze.h"
#include "pipeline/messageBox.h"
#include "pipeline/objects.h"
#include "pipeline/overlay.h"
#include "pipeline/pipeline.h"
#include "settings/calibration.h"
#include "settings/visionSettings.h"

namespace {
constexpr int maxFrameWidth = 2 * modelGridColumns;
constexpr int maxFrameHeight = 2 * modelGridRows;

void reportSizeFailure(int gridWidth, int gridHeight) {
    // Vision goes off before the box opens: frames processed while it is open
    // must stop at the gate instead of failing again.
    visionSettings.visionOn = false;
    char text[128];
    std::snprintf(text, sizeof text, "Size incompatibility, got %ix%i, max %ix%i", gridWidth * 2,
                  gridHeight * 2, maxFrameWidth, maxFrameHeight);
    showMessageBox(text);
}
} // namespace

void processVisionFrame(QMXrgbImage& frame) {
    visionSettingsRecord& settings = visionSettings;

    if (settings.calibrationStep != 0)
        drawCalibrationTarget(frame);
    if (!settings.visionOn)
        return;

    if (settings.reinitialiseRequested) {
        rebuildModelGrid();
        settings.reinitialiseRequested = false;
    }

    pipelineStateRecord& s = pipelineState();
    s.gridWidth = frame.width / 2;
    s.gridHeight = (frame.height / frame.rowStep) / 2;
    if (s.gridWidth > modelGridColumns || s.gridHeight > modelGridRows) {
        reportSizeFailure(s.gridWidth, s.gridHeight);
        return;
    }
    // Only a size that fits the mask's fixed buffer is ever set on it.
    s.foregroundMask.setGeometry(0, 0, s.gridWidth, s.gridHeight);

    subtractBackground(frame);
    if (settings.drawBinary)
        s.foregroundMask.drawInto(frame);
    findObjects();
    selectTarget();
    if (settings.emotionsOn) {
        drawEmotionBars(frame);
        updateEmotions(frame);
    }
    drawObjects(frame);
    sendTargetMessage(frame);
    ++s.frameCounter;
}
