#include "capture/demoScene.h"

#include <algorithm>
#include <cmath>

namespace {

// A small integer hash: the scene's only source of "randomness", so every
// frame is a pure function of its index.
std::uint32_t mix(std::uint32_t value) {
    value ^= value >> 16;
    value *= 0x7feb352dU;
    value ^= value >> 15;
    value *= 0x846ca68bU;
    value ^= value >> 16;
    return value;
}

constexpr std::uint32_t sceneSeed = 0x5eed1234U;

std::uint8_t clampByte(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

struct colour {
    int b, g, r;
};

void fillBox(rgbaImage& frame, int left, int top, int right, int bottom, colour c) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, frame.width());
    bottom = std::min(bottom, frame.height());
    for (int y = top; y < bottom; ++y) {
        std::uint8_t* p = frame.row(y) + 4 * left;
        for (int x = left; x < right; ++x, p += 4) {
            p[0] = static_cast<std::uint8_t>(c.b);
            p[1] = static_cast<std::uint8_t>(c.g);
            p[2] = static_cast<std::uint8_t>(c.r);
        }
    }
}

void fillEllipse(rgbaImage& frame, int cx, int cy, int rx, int ry, colour c) {
    if (rx <= 0 || ry <= 0)
        return;
    for (int y = std::max(cy - ry, 0); y <= std::min(cy + ry, frame.height() - 1); ++y) {
        const double dy = static_cast<double>(y - cy) / ry;
        const double half = rx * std::sqrt(std::max(0.0, 1.0 - dy * dy));
        const int x0 = std::max(static_cast<int>(cx - half), 0);
        const int x1 = std::min(static_cast<int>(cx + half), frame.width() - 1);
        std::uint8_t* p = frame.row(y) + 4 * x0;
        for (int x = x0; x <= x1; ++x, p += 4) {
            p[0] = static_cast<std::uint8_t>(c.b);
            p[1] = static_cast<std::uint8_t>(c.g);
            p[2] = static_cast<std::uint8_t>(c.r);
        }
    }
}

double smoothStep(double from, double to, double t) {
    t = std::clamp(t, 0.0, 1.0);
    t = t * t * (3.0 - 2.0 * t);
    return from + (to - from) * t;
}

// Where the figure stands and how tall it is, in units of the frame: centre
// x (0..1, may be outside while entering or leaving), feet y, height.
struct figurePose {
    bool visible = false;
    double centreX = 0.0;
    double height = 0.0; // fraction of the frame height
    double stride = 0.0; // leg swing, -1..1
};

// The story of one cycle, in frames at 30 per second.
figurePose poseAt(long long frame) {
    const double far = 0.42;
    const double near = 0.80;
    figurePose pose;
    const double f = static_cast<double>(frame);
    auto walking = [&](double phase) { return std::sin(phase * 0.35); };
    if (frame < 60)
        return pose; // an empty room first, for the background model
    pose.visible = true;
    if (frame < 300) { // walks in from the left
        pose.centreX = smoothStep(-0.15, 0.45, (f - 60.0) / 240.0);
        pose.height = far;
        pose.stride = walking(f);
    } else if (frame < 390) { // stops
        pose.centreX = 0.45;
        pose.height = far;
    } else if (frame < 540) { // comes closer
        pose.centreX = smoothStep(0.45, 0.52, (f - 390.0) / 150.0);
        pose.height = smoothStep(far, near, (f - 390.0) / 150.0);
        pose.stride = 0.5 * walking(f);
    } else if (frame < 630) { // stands close
        pose.centreX = 0.52;
        pose.height = near;
    } else if (frame < 720) { // steps back
        pose.centreX = 0.52;
        pose.height = smoothStep(near, far, (f - 630.0) / 90.0);
        pose.stride = 0.5 * walking(f);
    } else if (frame < 870) { // walks out to the right
        pose.centreX = smoothStep(0.52, 1.2, (f - 720.0) / 150.0);
        pose.height = far;
        pose.stride = walking(f);
    } else {
        pose.visible = false;
    }
    return pose;
}

// The second object, a green box that crosses the upper part of the room
// twice per cycle: its centre x as a fraction of the width, or no value.
bool secondObjectAt(long long frame, double& centreX) {
    if (frame >= 150 && frame < 330) {
        centreX = 1.1 - 1.2 * static_cast<double>(frame - 150) / 180.0;
        return true;
    }
    if (frame >= 600 && frame < 780) {
        centreX = -0.1 + 1.2 * static_cast<double>(frame - 600) / 180.0;
        return true;
    }
    return false;
}

} // namespace

demoScene::demoScene(int width, int height) : width_(std::max(width, 16)), height_(std::max(height, 16)) {
    // The room: a grey-green wall with a darker skirting, a brown floor, a
    // window and a shelf; a fixed-seed grain gives the model texture to learn.
    background_.resize(static_cast<std::size_t>(width_) * height_ * 4);
    const int floorTop = height_ * 62 / 100;
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            colour c;
            if (y < floorTop) {
                const int shade = 10 * y / floorTop;
                c = {150 - shade, 162 - shade, 138 - shade};
                if (y > floorTop - height_ / 40)
                    c = {90, 100, 96};
            } else {
                const int board = ((y - floorTop) / std::max(height_ / 24, 1)) % 2;
                c = {58 + 8 * board, 88 + 8 * board, 122 + 10 * board};
            }
            // Window, upper right.
            if (x > width_ * 66 / 100 && x < width_ * 90 / 100 && y > height_ * 10 / 100 && y < height_ * 38 / 100)
                c = (x - width_ * 78 / 100 > -2 && x - width_ * 78 / 100 < 2) ? colour{70, 70, 70} : colour{230, 215, 190};
            // Shelf, left.
            if (x > width_ * 6 / 100 && x < width_ * 26 / 100 && y > height_ * 30 / 100 && y < height_ * 33 / 100)
                c = {40, 60, 95};
            const std::uint32_t grain = mix(sceneSeed ^ static_cast<std::uint32_t>(y * width_ + x));
            const int g = static_cast<int>(grain % 13) - 6;
            std::uint8_t* p = &background_[(static_cast<std::size_t>(y) * width_ + x) * 4];
            p[0] = clampByte(c.b + g);
            p[1] = clampByte(c.g + g);
            p[2] = clampByte(c.r + g);
            p[3] = 255;
        }
    }
}

demoFigure demoScene::figureAt(long long frameIndex) const {
    demoFigure figure;
    const long long frame = ((frameIndex % cycleFrames) + cycleFrames) % cycleFrames;
    const figurePose pose = poseAt(frame);
    double objectX = 0.0;
    figure.secondObjectVisible = secondObjectAt(frame, objectX);
    if (!pose.visible)
        return figure;
    const int tall = static_cast<int>(pose.height * height_);
    const int wide = tall * 3 / 10;
    const int centre = static_cast<int>(pose.centreX * width_);
    // Feet lower in the frame as the figure comes closer.
    const int feet = static_cast<int>(height_ * (0.80 + 0.18 * (pose.height - 0.42) / 0.38));
    figure.left = centre - wide / 2;
    figure.right = figure.left + wide;
    figure.bottom = feet;
    figure.top = feet - tall;
    return figure;
}

void demoScene::render(long long frameIndex, rgbaImage& frame) const {
    if (frame.width() != width_ || frame.height() != height_ || frame.empty())
        frame.allocate(width_, height_);
    const long long index = frameIndex < 0 ? 0 : frameIndex;

    // Background with mild per-frame sensor noise (-2..2).
    const std::uint32_t frameSeed = mix(sceneSeed + static_cast<std::uint32_t>(index) * 0x9e3779b9U);
    const std::uint8_t* in = background_.data();
    std::uint8_t* out = frame.pixels();
    const std::size_t count = static_cast<std::size_t>(width_) * height_;
    for (std::size_t i = 0; i < count; ++i, in += 4, out += 4) {
        const std::uint32_t h = mix(frameSeed ^ static_cast<std::uint32_t>(i));
        out[0] = clampByte(in[0] + static_cast<int>(h % 5) - 2);
        out[1] = clampByte(in[1] + static_cast<int>((h >> 8) % 5) - 2);
        out[2] = clampByte(in[2] + static_cast<int>((h >> 16) % 5) - 2);
        out[3] = 255;
    }

    const long long cycleFrame = index % cycleFrames;
    double objectX = 0.0;
    if (secondObjectAt(cycleFrame, objectX)) {
        const int side = height_ / 9;
        const int cx = static_cast<int>(objectX * width_);
        const int cy = height_ / 5 + static_cast<int>(height_ / 30 * std::sin(static_cast<double>(cycleFrame) * 0.2));
        fillBox(frame, cx - side / 2, cy - side / 2, cx + side / 2, cy + side / 2, {40, 190, 60});
    }

    const demoFigure figure = figureAt(index);
    if (figure.right <= figure.left)
        return;
    const figurePose pose = poseAt(cycleFrame);
    const int tall = figure.bottom - figure.top;
    const int wide = figure.right - figure.left;
    const int centre = (figure.left + figure.right) / 2;
    const colour skin{120, 150, 215};
    const colour shirt{40, 35, 200}; // a strong red, far from the room's colours
    const colour trousers{110, 45, 30};
    // Head.
    const int headRadius = tall / 14;
    fillEllipse(frame, centre, figure.top + headRadius, headRadius * 8 / 10, headRadius, skin);
    // Torso and arms.
    const int shoulders = figure.top + 2 * headRadius;
    const int hips = figure.top + tall * 55 / 100;
    fillBox(frame, centre - wide / 2 + wide / 8, shoulders, centre + wide / 2 - wide / 8, hips, shirt);
    const int swing = static_cast<int>(pose.stride * wide / 6);
    fillBox(frame, figure.left + swing, shoulders + tall / 40, figure.left + wide / 8 + swing, hips, shirt);
    fillBox(frame, figure.right - wide / 8 - swing, shoulders + tall / 40, figure.right - swing, hips, shirt);
    // Legs, swinging while walking.
    const int legWidth = wide / 4;
    fillBox(frame, centre - legWidth - legWidth / 4 + swing, hips, centre - legWidth / 4 + swing, figure.bottom, trousers);
    fillBox(frame, centre + legWidth / 4 - swing, hips, centre + legWidth + legWidth / 4 - swing, figure.bottom, trousers);
}
