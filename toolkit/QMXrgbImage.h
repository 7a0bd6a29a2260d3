#pragma once
// Non-owning header over a block of interleaved 8-bit colour pixels
// (bytes blue, green, red[, unused]). The outermost ring of pixels counts as
// outside: it reads as black and is never written.

#include <cstdint>

struct QMXrgbImage {
    std::uint8_t* data;  // first byte of the pixel buffer; not owned
    std::int32_t width;  // pixels per buffer row
    std::int32_t height; // rows in the buffer
    float scaleX;        // set to 1.0 whenever a header is built; unused
    float scaleY;        // the same
    float scaleZ;        // the same
    std::int32_t rowOffset;    // buffer row that holds logical row 0
    std::int32_t rowStep;      // buffer rows from one logical row to the next
    std::int32_t memoryFormat; // bytes per pixel: 3 or 4

    bool isInterior(int x, int y) const {
        return x > 0 && x < width - 1 && y > 0 && y < height - 1;
    }

    // Red, green and blue (0..255) of (x, y); 0, 0, 0 outside the interior.
    void getPixel(int x, int y, int& r, int& g, int& b) const {
        if (!isInterior(x, y)) {
            r = g = b = 0;
            return;
        }
        const std::uint8_t* p = pixelAddress(x, y);
        r = p[2];
        g = p[1];
        b = p[0];
    }

    // Stores the low 8 bits of r, g, b; nothing happens outside the interior.
    void setPixel(int x, int y, int r, int g, int b) {
        if (!isInterior(x, y))
            return;
        std::uint8_t* p = pixelAddress(x, y);
        p[0] = static_cast<std::uint8_t>(b);
        p[1] = static_cast<std::uint8_t>(g);
        p[2] = static_cast<std::uint8_t>(r);
    }

    // Samples the segment at unit steps of its length; the end point is not drawn.
    void drawLine(int x0, int y0, int x1, int y1, int r, int g, int b);

private:
    std::uint8_t* pixelAddress(int x, int y) const {
        if (memoryFormat != 3 && memoryFormat != 4)
            undefinedMemoryFormat();
        const long long offset = static_cast<long long>(memoryFormat) *
            (static_cast<long long>(width) * (rowOffset + static_cast<long long>(rowStep) * y) + x);
        return data + offset;
    }
    [[noreturn]] static void undefinedMemoryFormat();
};

// The header the frame entry builds for a captured frame: 4 bytes per pixel,
// rows without gaps, top row first.
QMXrgbImage makeFrameHeader(std::uint8_t* pixels, int width, int height);
