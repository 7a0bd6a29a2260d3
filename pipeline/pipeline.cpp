// The pipeline's process-wide state and its reset for tests.

#include "pipeline/pipeline.h"

#include <memory>

namespace {
// Compiled-in parameters every model starts with (channels first); loading
// the settings rebuilds the grid from the settings' copy of the same values.
pixelModelGS startModel() {
    return pixelModelGS(3, 5, 3.0f, 0.001f, 0.8f, 2.0f, 0.7f);
}
} // namespace

modelGridArray::modelGridArray() {
    std::allocator<pixelModelGS> allocator;
    cells_ = allocator.allocate(modelGridCells);
    for (std::size_t k = 0; k < modelGridCells; ++k)
        std::construct_at(cells_ + k, 3, 5, 3.0f, 0.001f, 0.8f, 2.0f, 0.7f);
}

modelGridArray::~modelGridArray() {
    std::destroy_n(cells_, modelGridCells);
    std::allocator<pixelModelGS>().deallocate(cells_, modelGridCells);
}

pipelineStateRecord::pipelineStateRecord()
    : foregroundMask(modelGridColumns, modelGridRows, 0, 0) {}

pipelineStateRecord& pipelineState() {
    static pipelineStateRecord state;
    return state;
}

void resetPipelineState() {
    pipelineStateRecord& s = pipelineState();
    s.frameCounter = 1;
    s.gridWidth = 0;
    s.gridHeight = 0;

    const pixelModelGS empty = startModel();
    for (std::size_t k = 0; k < modelGridArray::size(); ++k)
        s.modelGrid[k] = empty;

    s.foregroundMask.setGeometry(0, 0, modelGridColumns, modelGridRows);
    s.foregroundMask.clear();
    while (s.componentList.count != 0) {
        s.componentList.last();
        s.componentList.remove();
    }

    for (objectRecord& record : s.objectRecords)
        record = {};
    s.targetIndex = 0;
    s.lastTarget = {};
    s.randomState = 173542;

    s.emotionHappy = 0.0f;
    s.emotionAnger = 0.0f;
    s.emotionSad = 0.0f;
    s.emotionSurprise = 0.0f;
    s.emotionSaturation = 0.0f;
    s.dominantEmotion = 9;
    s.emotionIntensity = 0.0f;
    s.lastSizeDifference = 0.0f;
    s.movementStats = runningStats{};
    s.sizeChangeStats = runningStats{};
}
