// The synthetic scene: deterministic, a moving figure of its own colour.

#include "capture/demoScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// Pixels whose colour differs from the empty room's by more than `threshold`
// in any channel.
long long changedPixels(const rgbaImage& a, const rgbaImage& b, int threshold) {
    long long changed = 0;
    for (std::size_t i = 0; i < a.byteCount(); i += 4) {
        for (int c = 0; c < 3; ++c) {
            if (std::abs(a.pixels()[i + c] - b.pixels()[i + c]) > threshold) {
                ++changed;
                break;
            }
        }
    }
    return changed;
}

void centreOfChange(const rgbaImage& frame, const rgbaImage& room, double& cx, double& cy, long long& count) {
    double sx = 0, sy = 0;
    count = 0;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const std::uint8_t* p = frame.row(y) + 4 * x;
            const std::uint8_t* q = room.row(y) + 4 * x;
            if (std::abs(p[2] - q[2]) > 40 || std::abs(p[0] - q[0]) > 40 || std::abs(p[1] - q[1]) > 40) {
                sx += x;
                sy += y;
                ++count;
            }
        }
    }
    cx = count > 0 ? sx / count : -1;
    cy = count > 0 ? sy / count : -1;
}

} // namespace

TEST(DemoScene, SameIndexSameBytesEvenFromAnotherScene) {
    const demoScene scene;
    const demoScene other;
    for (long long index : {0LL, 1LL, 137LL, 450LL, 899LL, 900LL + 137LL}) {
        rgbaImage a, b;
        scene.render(index, a);
        other.render(index, b);
        EXPECT_EQ(a.width(), 640);
        EXPECT_EQ(a.height(), 480);
        EXPECT_TRUE(a.samePixels(b)) << "frame " << index;
    }
    // Neighbouring frames differ (sensor noise), but only mildly in the empty room.
    rgbaImage first, second;
    scene.render(10, first);
    scene.render(11, second);
    EXPECT_FALSE(first.samePixels(second));
    EXPECT_EQ(changedPixels(first, second, 4), 0);
}

TEST(DemoScene, TheFigureWalksStopsAndComesCloser) {
    const demoScene scene;
    rgbaImage room;
    scene.render(0, room);
    EXPECT_EQ(scene.figureAt(0).right - scene.figureAt(0).left, 0); // empty at first

    // Walking in: the figure moves to the right from frame to frame.
    double x1, y1, x2, y2;
    long long n1, n2;
    rgbaImage frame;
    scene.render(150, frame);
    centreOfChange(frame, room, x1, y1, n1);
    scene.render(250, frame);
    centreOfChange(frame, room, x2, y2, n2);
    EXPECT_GT(n1, 2000);
    EXPECT_GT(x2, x1 + 40);

    // Standing: the same place.
    const demoFigure a = scene.figureAt(320);
    const demoFigure b = scene.figureAt(380);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.bottom, b.bottom);

    // Coming closer: taller.
    const demoFigure far = scene.figureAt(390);
    const demoFigure near = scene.figureAt(560);
    EXPECT_GT(near.bottom - near.top, (far.bottom - far.top) * 3 / 2);
    rgbaImage close;
    scene.render(560, close);
    double xc, yc;
    long long nc;
    centreOfChange(close, room, xc, yc, nc);
    EXPECT_GT(nc, 2 * n2);
}

TEST(DemoScene, TheFigureStandsOutInColourAndASecondObjectComesAndGoes) {
    const demoScene scene;
    rgbaImage room, frame;
    scene.render(0, room);
    scene.render(560, frame);
    const demoFigure figure = scene.figureAt(560);
    // The torso's centre is a strong red, far from the room behind it.
    const int x = (figure.left + figure.right) / 2;
    const int y = figure.top + (figure.bottom - figure.top) * 35 / 100;
    const std::uint8_t* p = frame.row(y) + 4 * x;
    const std::uint8_t* q = room.row(y) + 4 * x;
    EXPECT_GT(p[2], 150);
    EXPECT_LT(p[0], 90);
    EXPECT_GT(std::abs(p[2] - q[2]) + std::abs(p[1] - q[1]) + std::abs(p[0] - q[0]), 150);

    EXPECT_FALSE(scene.figureAt(100).secondObjectVisible);
    EXPECT_TRUE(scene.figureAt(240).secondObjectVisible);
    EXPECT_FALSE(scene.figureAt(400).secondObjectVisible);
    // In view, it changes the upper part of the room where the figure is not.
    rgbaImage withObject;
    scene.render(240, withObject);
    rgbaImage upperA(640, 140), upperB(640, 140);
    for (int row = 0; row < 140; ++row) {
        std::copy_n(withObject.row(row), 640 * 4, upperA.row(row));
        std::copy_n(room.row(row), 640 * 4, upperB.row(row));
    }
    EXPECT_GT(changedPixels(upperA, upperB, 40), 500);
}

TEST(DemoScene, OtherSizesWork) {
    const demoScene scene(320, 240);
    rgbaImage frame;
    scene.render(500, frame);
    EXPECT_EQ(frame.width(), 320);
    EXPECT_EQ(frame.height(), 240);
    const demoFigure figure = scene.figureAt(500);
    EXPECT_GT(figure.bottom - figure.top, 100);
    EXPECT_LE(figure.bottom, 240);
}
