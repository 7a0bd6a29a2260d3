#pragma once
// One byte per pixel image used as the foreground mask (0 background, any
// other value set), with depth-first 8-connected component extraction.
// Unlike QMXrgbImage there is no border ring: the bounds are the whole
// logical image.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "toolkit/QMXrgbImage.h"

class List;

class binaryImage {
public:
    // Allocates and clears width x height bytes; that allocation never changes.
    binaryImage(std::int32_t width, std::int32_t height, std::int32_t xOrigin, std::int32_t yOrigin);
    binaryImage(const binaryImage& other);
    // Deep copy; no-op on itself.
    binaryImage& operator=(const binaryImage& other);
    ~binaryImage() = default;

    // Zeroes every allocated byte, whatever the logical size.
    void clear();

    // The pixel value, 0 outside the logical image.
    std::uint8_t get(int x, int y) const {
        if (x < 0 || x >= width || y < 0 || y >= height)
            return 0;
        return data[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    }
    // Stores the value inside the logical image; nothing happens outside.
    void set(int x, int y, std::uint8_t value) {
        if (x < 0 || x >= width || y < 0 || y >= height)
            return;
        data[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] = value;
    }

    // Always moves the origin; also changes the logical size unless newWidth
    // is -1. A negative size, or one whose pixels would not fit the
    // allocation, leaves an empty (0 x 0) logical image instead of letting
    // get/set run past the buffer.
    void setGeometry(std::int32_t newXOrigin, std::int32_t newYOrigin, std::int32_t newWidth, std::int32_t newHeight);

    // Paints every logical pixel at origin + (x, y) as grey value v * 255
    // (low 8 bits); the image's border ring drops what lands on it.
    void drawInto(QMXrgbImage image) const;

    // Seeds on the grid x, y = 1, 1 + step, ... inside the outer ring; every
    // component met is filled (and cleared) up to maxPoints pixels and
    // appended to the list as one pointSet in fill order. A step below 1 is
    // taken as 1 (the scan would not advance otherwise).
    void findComponents(std::int32_t maxPoints, List& list, std::int32_t step);

    // One (x, y) pair of the fill's point buffer.
    struct point {
        std::int32_t x;
        std::int32_t y;
    };
    // Depth-first fill from (x, y) recording at most maxPoints pixels into
    // buffer[n..], clearing each one it records. Runs on an explicit stack, so
    // large components cannot overflow the call stack.
    void collectComponent(std::int32_t maxPoints, std::int32_t& n, point* buffer, int x, int y);

    std::unique_ptr<std::uint8_t[]> data;
    std::unique_ptr<std::uint8_t[]> spare; // allocated and cleared with the image, otherwise unused
    std::int32_t width;
    std::int32_t height;
    std::int32_t xOrigin;
    std::int32_t yOrigin;
    std::int32_t size; // bytes in each buffer; fixed at construction

private:
    // Frames of the explicit fill stack, kept between calls so that a fill
    // allocates only when it goes deeper than any fill before it.
    struct fillFrame {
        std::int32_t x;
        std::int32_t y;
        std::int32_t nextNeighbour;
    };
    std::unique_ptr<fillFrame[]> fillStack;
    std::int32_t fillStackCapacity = 0;
};
