#pragma once
// The vision pipeline's entry and the state it carries from frame to frame.
//
// processVisionFrame runs the stages over one frame in a fixed order (see
// processVisionFrame.cpp); each stage lives in its own unit and works on the
// one process-wide state below. Everything runs on the user-interface thread,
// so nothing here is locked.
//
// The state is one object created on first use (pipelineState()), so it does
// not depend on the order in which translation units are initialised: the
// 140000 background models are built before anything can touch them.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "toolkit/List.h"
#include "toolkit/QMXrgbImage.h"
#include "toolkit/binaryImage.h"
#include "toolkit/pixelModelGS.h"
#include "toolkit/runningStats.h"

// Runs every stage over the frame, draws the overlay into its pixels and sends
// one gaze message. Returns early (and sends nothing of its own) while vision
// is off or when the frame is larger than the model grid.
void processVisionFrame(QMXrgbImage& frame);

// One of the five largest objects of a frame, in full-resolution pixels
// except size, which counts mask pixels.
struct objectRecord {
    float x;
    float y;
    float halfWidth;
    float halfHeight;
    float size;
};

// The target as kept for the next frame: the record with its size truncated.
struct targetRecord {
    float x;
    float y;
    float halfWidth;
    float halfHeight;
    std::int32_t size;
};

inline constexpr int modelGridColumns = 400;
inline constexpr int modelGridRows = 350;
inline constexpr int modelGridCells = modelGridColumns * modelGridRows;
inline constexpr int objectRecordCount = 5;

// The 140000 background models in one array placed once for the whole run;
// cell (i, j) models frame pixel (2 i, 2 j) and is element i * 350 + j, so
// the cells of one grid column are adjacent.
class modelGridArray {
public:
    modelGridArray();
    ~modelGridArray();
    modelGridArray(const modelGridArray&) = delete;
    modelGridArray& operator=(const modelGridArray&) = delete;

    pixelModelGS& operator[](std::size_t index) { return cells_[index]; }
    const pixelModelGS& operator[](std::size_t index) const { return cells_[index]; }
    pixelModelGS& cell(int i, int j) { return cells_[static_cast<std::size_t>(i) * modelGridRows + j]; }
    static constexpr std::size_t size() { return modelGridCells; }

private:
    pixelModelGS* cells_;
};

struct pipelineStateRecord {
    pipelineStateRecord();
    pipelineStateRecord(const pipelineStateRecord&) = delete;
    pipelineStateRecord& operator=(const pipelineStateRecord&) = delete;

    // One more than the number of frames that completed every stage.
    std::int32_t frameCounter = 1;
    // Columns and rows of modelGrid in use for the current frame.
    std::int32_t gridWidth = 0;
    std::int32_t gridHeight = 0;
    modelGridArray modelGrid;
    binaryImage foregroundMask;
    List componentList;
    objectRecord objectRecords[objectRecordCount] = {};
    std::int32_t targetIndex = 0;
    targetRecord lastTarget = {};
    std::int32_t randomState = 173542;

    // Emotion state (see emotion.h).
    float emotionHappy = 0.0f;
    float emotionAnger = 0.0f;
    float emotionSad = 0.0f;
    float emotionSurprise = 0.0f;
    float emotionSaturation = 0.0f;
    std::int32_t dominantEmotion = 9; // 0 happy, 1 anger, 2 sad, 3 surprise, 9 none
    float emotionIntensity = 0.0f;
    float lastSizeDifference = 0.0f;
    runningStats movementStats;
    runningStats sizeChangeStats;
};

// The one pipeline state, created on first use.
pipelineStateRecord& pipelineState();

// Puts the whole state back to its values at program start (every model
// rebuilt with the compiled-in constants, mask cleared at full size, list
// emptied). The program never calls it; tests do, to start from a known state.
void resetPipelineState();
