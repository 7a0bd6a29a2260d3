#include "pipeline/objects.h"

#include "pipeline/pipeline.h"

namespace {
constexpr int maxComponentPoints = 20000;
constexpr int seedStep = 2;

objectRecord describe(pointSet& points, int pixelCount) {
    // Mask coordinates to frame coordinates: centre x2, half extent 6 x spread.
    return {static_cast<float>(2 * points.meanX()), static_cast<float>(2 * points.meanY()),
            static_cast<float>(6 * points.spreadX()), static_cast<float>(6 * points.spreadY()),
            static_cast<float>(pixelCount)};
}
} // namespace

void findObjects() {
    pipelineStateRecord& s = pipelineState();
    List& components = s.componentList;
    s.foregroundMask.findComponents(maxComponentPoints, components, seedStep);

    int k = 0;
    while (components.count != 0) {
        // Walk from the newest node to the oldest; strictly larger wins, so
        // the newest of equal components is taken first.
        components.last();
        int bestSize = 0;
        int bestStepsFromBack = 0;
        for (int step = 0; step < components.count; ++step) {
            const int size = components.current->value.xs.size;
            if (size > bestSize) {
                bestSize = size;
                bestStepsFromBack = step;
            }
            components.previous();
        }

        components.last();
        for (int step = 0; step < bestStepsFromBack; ++step)
            components.previous();
        s.objectRecords[k] = describe(components.current->value, bestSize);
        components.remove();

        if (++k == objectRecordCount) {
            while (components.count != 0) {
                components.last();
                components.remove();
            }
            break;
        }
    }
}
