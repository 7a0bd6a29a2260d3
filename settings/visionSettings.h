#pragma once
// The one settings record. The pipeline reads it afresh on every frame; the
// control panel, the calibration and the configuration file write it. All
// users run on the user-interface thread, so it has no lock and no accessors.

#include <cstdint>

struct visionSettingsRecord {
    bool visionOn = true;
    std::int32_t calibrationStep = 0; // 0 idle, 1..3 while a calibration point is shown
    bool reinitialiseRequested = false;
    bool drawBox = false;
    bool drawCross = false;
    bool drawBinary = false;
    bool emotionsOn = false;
    double happyLevel = 0.2;
    double sadLevel = 0.5;
    double angerLevel = 0.5;
    double surpriseLevel = 0.5;
    std::uint32_t minObjectSize = 0;
    // Constructor arguments of every background model after its channel count.
    float modelModes = 0.0f;
    float modelMatchDeviations = 0.0f;
    float modelLearningRate = 0.0f;
    float modelBackgroundWeight = 0.0f;
    float modelInitialDeviation = 0.0f;
    float modelMinBrightness = 0.0f;
};

extern visionSettingsRecord visionSettings;
