#include "pipeline/emotion.h"

#include <cmath>

#include "pipeline/pipeline.h"
#include "settings/visionSettings.h"

namespace {

double standardDeviation(const runningStats& stats) {
    return std::sqrt(stats.variance);
}

// Clamps an accumulator to its ceiling; reaching it feeds the saturation.
void applyCeiling(float& value, float ceiling, float& saturation) {
    if (value > ceiling) {
        value = ceiling;
        saturation += 0.1;
    }
}

} // namespace

void updateEmotions(QMXrgbImage& /*frame*/) {
    pipelineStateRecord& s = pipelineState();
    const visionSettingsRecord& settings = visionSettings;
    const objectRecord& target = s.objectRecords[s.targetIndex];
    const targetRecord& previous = s.lastTarget;

    // 1. Movement since the previous frame, in frame pixels.
    const double dy = static_cast<double>(previous.y) - target.y;
    const double dx = static_cast<double>(previous.x) - target.x;
    const float dist = static_cast<float>(std::sqrt(dy * dy + dx * dx));

    // 2. Size change, smoothed over two frames.
    const float diff = static_cast<float>(static_cast<double>(static_cast<float>(previous.size)) - target.size);
    const float change = static_cast<float>(std::fabs((static_cast<double>(s.lastSizeDifference) + diff) * 0.5));
    s.lastSizeDifference = diff;

    // 3. Decay. Saturation does not decay but is floored.
    s.emotionHappy -= 0.02;
    s.emotionAnger -= 0.02;
    s.emotionSad -= 0.02;
    s.emotionSurprise -= 0.01;
    if (s.emotionHappy < 0.0f) s.emotionHappy = 0.0f;
    if (s.emotionAnger < 0.0f) s.emotionAnger = 0.0f;
    if (s.emotionSad < 0.0f) s.emotionSad = 0.0f;
    if (s.emotionSurprise < 0.0f) s.emotionSurprise = 0.0f;
    if (s.emotionSaturation < 0.0f) s.emotionSaturation = 0.0f;

    // 4. Only real movement and change teach the statistics.
    if (dist > 1.0f) s.movementStats.update(dist);
    if (change > 1.0f) s.sizeChangeStats.update(change);

    // 5. Rules that need a previous target of a useful size.
    if (static_cast<std::uint32_t>(previous.size) > settings.minObjectSize) {
        const double happyThreshold =
            s.movementStats.mean - standardDeviation(s.movementStats) * (3.0 * settings.happyLevel - 1.5);
        if (happyThreshold < dist) {
            s.emotionHappy += 0.1;
            s.emotionSad -= 0.1;
        }
        if (dist < s.movementStats.mean &&
            (1.0 - settings.surpriseLevel) * s.sizeChangeStats.mean * 10.0 < change)
            s.emotionSurprise += 0.3;
    }

    // 6. Surprise drains into happiness by small random amounts. The amount
    // is held as a float like every other stored value of the rules.
    const float r = static_cast<float>(uniformRandom(s.randomState) * 0.01);
    if (s.emotionSurprise > r) {
        s.emotionSurprise -= r;
        s.emotionHappy += r;
        s.emotionSaturation -= 0.05;
    }

    // 7. Anger: two large objects and a target unusually still in place and size.
    const float minSize = static_cast<float>(settings.minObjectSize);
    if (s.objectRecords[0].size > minSize && s.objectRecords[1].size > minSize) {
        const float k = static_cast<float>(1.5 - 3.0 * settings.angerLevel); // stored, so a float
        if (dist < s.movementStats.mean - standardDeviation(s.movementStats) * k &&
            change < s.sizeChangeStats.mean - standardDeviation(s.sizeChangeStats) * k) {
            s.emotionAnger += 0.03;
            s.emotionSaturation -= 0.05;
        }
    }

    // 8. Sad: nothing large in view.
    if (s.objectRecords[0].size < minSize) {
        s.emotionSad += 0.125 * settings.sadLevel;
        s.emotionSaturation -= 0.05;
    }

    // 9. Dominant emotion: strictly above 0.5, the lower index wins a tie.
    const float levels[4] = {s.emotionHappy, s.emotionAnger, s.emotionSad, s.emotionSurprise};
    float m = 0.5f;
    s.dominantEmotion = 9;
    for (int i = 0; i < 4; ++i) {
        if (levels[i] > m) {
            m = levels[i];
            s.dominantEmotion = i;
        }
    }

    // 10. Intensity, from the values before the ceilings.
    s.emotionIntensity = static_cast<float>((static_cast<double>(m) - 0.5) * 2);
    if (s.emotionIntensity < 0.0f) s.emotionIntensity = 0.0f;

    // 11. Ceilings.
    applyCeiling(s.emotionHappy, 1.0f, s.emotionSaturation);
    applyCeiling(s.emotionAnger, 0.9f, s.emotionSaturation);
    applyCeiling(s.emotionSad, 1.0f, s.emotionSaturation);
    applyCeiling(s.emotionSurprise, 1.0f, s.emotionSaturation);

    // 12. A full saturation pulls every emotion down (no floor until the next decay).
    if (s.emotionSaturation > 1.0f) {
        s.emotionSaturation = 1.0f;
        s.emotionHappy -= 0.05;
        s.emotionAnger -= 0.05;
        s.emotionSad -= 0.05;
        s.emotionSurprise -= 0.05;
    }
}
