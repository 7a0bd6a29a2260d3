#pragma once
// The synthetic source "demo": a camera's view of a static textured room with
// mild sensor noise, a person-sized figure that walks in, stops, comes closer
// (grows) and walks away, and a second, smaller object that crosses the view
// now and then. Every frame is a pure function of its index (fixed seed), so
// the same index always gives the same bytes.

#include "capture/rgbaImage.h"

#include <cstdint>
#include <vector>

struct demoOptions {
    int width = 640;
    int height = 480;
    int framesPerSecond = 30;
    bool paced = true;       // delivered at framesPerSecond like a camera; false: as fast as consumed
    long long frameLimit = -1; // frames before the end of the stream; negative: endless
};

// Where the figure is in a frame: its box in pixels (left/top inclusive,
// right/bottom exclusive) and whether the second object is in view.
struct demoFigure {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool secondObjectVisible = false;
};

class demoScene {
public:
    // The scene repeats after this many frames.
    static constexpr long long cycleFrames = 900;

    explicit demoScene(int width = 640, int height = 480);

    int width() const { return width_; }
    int height() const { return height_; }

    // Draws frame `frameIndex` (>= 0) into `frame`, resizing it if needed.
    void render(long long frameIndex, rgbaImage& frame) const;
    // The figure's place in frame `frameIndex`, as render() draws it.
    demoFigure figureAt(long long frameIndex) const;

private:
    int width_;
    int height_;
    std::vector<std::uint8_t> background_; // BGRx texture, drawn once
};
