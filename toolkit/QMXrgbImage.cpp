#include "toolkit/QMXrgbImage.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

void QMXrgbImage::undefinedMemoryFormat() {
    std::cout.flush();
    std::cerr << "QMXrgbImage: Undefined memory format\n";
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(1);
}

void QMXrgbImage::drawLine(int x0, int y0, int x1, int y1, int r, int g, int b) {
    // Differences in 64 bits: the endpoints may be anywhere in the int range.
    const double dx = static_cast<double>(static_cast<long long>(x1) - x0);
    const double dy = static_cast<double>(static_cast<long long>(y1) - y0);
    const long long n = static_cast<long long>(std::sqrt(dx * dx + dy * dy));
    if (n <= 0)
        return;
    const float stepX = static_cast<float>(dx / static_cast<double>(n));
    const float stepY = static_cast<float>(dy / static_cast<double>(n));
    float px = static_cast<float>(x0);
    float py = static_cast<float>(y0);
    // Positions outside the int range cannot be interior; skipping them also
    // keeps the truncation below defined.
    constexpr float lowest = -2147483648.0f;
    constexpr float beyond = 2147483648.0f;
    for (long long i = 0; i < n; ++i) {
        if (px > lowest && px < beyond && py > lowest && py < beyond) {
            const int x = static_cast<int>(px); // truncation toward zero
            const int y = static_cast<int>(py);
            if (isInterior(x, y))
                setPixel(x, y, r, g, b);
        }
        px = px + stepX;
        py = py + stepY;
    }
}

QMXrgbImage makeFrameHeader(std::uint8_t* pixels, int width, int height) {
    QMXrgbImage image;
    image.data = pixels;
    image.width = width;
    image.height = height;
    image.scaleX = 1.0f;
    image.scaleY = 1.0f;
    image.scaleZ = 1.0f;
    image.rowOffset = 0;
    image.rowStep = 1;
    image.memoryFormat = 4;
    return image;
}
