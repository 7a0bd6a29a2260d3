#pragma once
// Small fixtures shared by the pipeline tests: an owned 32-bit frame with a
// header over it, and a known starting state for the pipeline and settings.

#include <cstdint>
#include <vector>

#include "pipeline/pipeline.h"
#include "settings/visionSettings.h"
#include "toolkit/QMXrgbImage.h"

struct testFrame {
    testFrame(int w, int h) : pixels(static_cast<std::size_t>(w) * h * 4, 0), header(makeFrameHeader(pixels.data(), w, h)) {}
    testFrame(const testFrame& other) : pixels(other.pixels), header(other.header) { header.data = pixels.data(); }
    testFrame& operator=(const testFrame&) = delete;

    // Writes every pixel, the border ring included (the header would skip it).
    void fill(int r, int g, int b) {
        for (int y = 0; y < header.height; ++y)
            for (int x = 0; x < header.width; ++x)
                poke(x, y, r, g, b);
    }
    // Fills the rectangle [x0, x1) x [y0, y1).
    void fillRect(int x0, int y0, int x1, int y1, int r, int g, int b) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                poke(x, y, r, g, b);
    }
    void poke(int x, int y, int r, int g, int b) {
        std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * header.width + x) * 4];
        p[0] = static_cast<std::uint8_t>(b);
        p[1] = static_cast<std::uint8_t>(g);
        p[2] = static_cast<std::uint8_t>(r);
    }
    struct rgb {
        int r, g, b;
        bool operator==(const rgb&) const = default;
    };
    rgb at(int x, int y) const {
        const std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * header.width + x) * 4];
        return {p[2], p[1], p[0]};
    }

    std::vector<std::uint8_t> pixels;
    QMXrgbImage header;
};

// The settings as they stand after a load without emotion.cfg.
inline void useLoadedSettings() {
    visionSettings = visionSettingsRecord{};
    visionSettings.drawBox = true;
    visionSettings.emotionsOn = true;
    visionSettings.minObjectSize = 100;
    visionSettings.modelModes = 5.0f;
    visionSettings.modelMatchDeviations = 3.0f;
    visionSettings.modelLearningRate = 0.001f;
    visionSettings.modelBackgroundWeight = 0.8f;
    visionSettings.modelInitialDeviation = 2.0f;
    visionSettings.modelMinBrightness = 0.7f;
}

inline void startFresh() {
    resetPipelineState();
    useLoadedSettings();
}
