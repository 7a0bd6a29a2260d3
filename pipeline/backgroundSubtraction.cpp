#include "pipeline/backgroundSubtraction.h"

#include "pipeline/overlay.h"
#include "pipeline/pipeline.h"
#include "settings/visionSettings.h"

namespace {
constexpr float foregroundThreshold = 0.6f;
} // namespace

void subtractBackground(QMXrgbImage& frame) {
    pipelineStateRecord& s = pipelineState();
    const bool learn = s.frameCounter % 5 == 0;
    const bool drawState = visionSettings.drawBinary;
    const int width = s.gridWidth;
    const int lastRow = s.gridHeight - 1; // the last grid row is never visited

    for (int i = width - 1; i >= 0; --i) {
        pixelModelGS* column = &s.modelGrid.cell(i, 0);
        for (int j = 0; j < lastRow; ++j) {
            int r, g, b;
            frame.getPixel(2 * i, 2 * j, r, g, b);
            float sample[3] = {static_cast<float>(r), static_cast<float>(g), static_cast<float>(b)};
            pixelModelGS& model = column[j];
            const float score = model.probability(sample);
            if (learn)
                model.update();
            s.foregroundMask.set(i, j, score < foregroundThreshold ? 1 : 0);
            if (drawState)
                drawModelState(frame, i, j, score);
        }
    }
}

void rebuildModelGrid() {
    const visionSettingsRecord& settings = visionSettings;
    const pixelModelGS empty(3, static_cast<int>(settings.modelModes), settings.modelMatchDeviations,
                             settings.modelLearningRate, settings.modelBackgroundWeight,
                             settings.modelInitialDeviation, settings.modelMinBrightness);
    modelGridArray& grid = pipelineState().modelGrid;
    for (std::size_t k = 0; k < grid.size(); ++k)
        grid[k] = empty;
}
