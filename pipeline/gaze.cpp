#include "pipeline/gaze.h"

#include <cmath>

#include "messaging/messageStream.h"
#include "pipeline/pipeline.h"
#include "settings/visionSettings.h"

namespace {
constexpr float startingDistance = 9999.9f;
constexpr double changeOfTargetProbability = 0.1;

// The square is not rounded on its own: only the running sums are stored as
// floats, and above 4096 pixels the square no longer fits a float exactly.
double squaredSize(const objectRecord& record) {
    return static_cast<double>(record.size) * record.size;
}
} // namespace

void selectTarget() {
    pipelineStateRecord& s = pipelineState();

    // Nearest record to the previous target; all five take part, the lower
    // index wins a tie.
    float best = startingDistance;
    float total = 0.0f;
    for (int k = 0; k < objectRecordCount; ++k) {
        const objectRecord& record = s.objectRecords[k];
        total = static_cast<float>(static_cast<double>(total) + squaredSize(record));
        const double dx = static_cast<double>(record.x) - s.lastTarget.x;
        const double dy = static_cast<double>(record.y) - s.lastTarget.y;
        const float d = static_cast<float>(std::sqrt(dx * dx + dy * dy));
        if (d < best) {
            best = d;
            s.targetIndex = k;
        }
    }

    // Now and then a glance at another object, weighted by squared size.
    if (uniformRandom(s.randomState) < changeOfTargetProbability) {
        const float t = static_cast<float>(uniformRandom(s.randomState) * total);
        const float minSize = static_cast<float>(visionSettings.minObjectSize);
        float cumulative = 0.0f;
        for (int k = 0; k < objectRecordCount; ++k) {
            const objectRecord& record = s.objectRecords[k];
            cumulative = static_cast<float>(static_cast<double>(cumulative) + squaredSize(record));
            if (t < cumulative && minSize < record.size) {
                s.targetIndex = k;
                break;
            }
        }
    }
}

void sendTargetMessage(const QMXrgbImage& frame) {
    const pipelineStateRecord& s = pipelineState();
    sendGazeMessage(frame, static_cast<int>(s.lastTarget.x), static_cast<int>(s.lastTarget.y),
                    s.dominantEmotion, s.emotionIntensity, visionSettings.calibrationStep);
}
