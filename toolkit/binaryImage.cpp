#include "toolkit/binaryImage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <utility>

#include "toolkit/List.h"

namespace {
[[noreturn]] void allocationFailure(std::ostream& stream, const char* message) {
    std::cout.flush();
    std::cerr.flush();
    stream << message << '\n';
    stream.flush();
    std::fflush(nullptr);
    std::_Exit(1);
}

std::unique_ptr<std::uint8_t[]> allocateBytes(long long n, const char* failureMessage) {
    if (n < 0 || n > 0x7fffffffLL)
        allocationFailure(std::cerr, failureMessage);
    std::uint8_t* bytes = new (std::nothrow) std::uint8_t[static_cast<std::size_t>(n)];
    if (bytes == nullptr)
        allocationFailure(std::cerr, failureMessage);
    return std::unique_ptr<std::uint8_t[]>(bytes);
}

// Neighbour order of the depth-first fill.
constexpr int neighbourDx[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
constexpr int neighbourDy[8] = {-1, 0, 1, -1, 1, 1, 0, -1};
} // namespace

binaryImage::binaryImage(std::int32_t width_, std::int32_t height_, std::int32_t xOrigin_, std::int32_t yOrigin_)
    : width(width_), height(height_), xOrigin(xOrigin_), yOrigin(yOrigin_) {
    const long long bytes = static_cast<long long>(width_) * height_;
    data = allocateBytes(bytes, "cant allocate memory for binary image");
    spare = allocateBytes(bytes, "cant allocate memory for (spare) binary image");
    size = static_cast<std::int32_t>(bytes);
    clear();
}

binaryImage::binaryImage(const binaryImage& other)
    : width(other.width), height(other.height), xOrigin(other.xOrigin), yOrigin(other.yOrigin),
      size(other.size) {
    data = allocateBytes(size, "cant allocate memory for binary image");
    spare = allocateBytes(size, "cant allocate memory for (spare) binary image");
    std::copy_n(other.data.get(), size, data.get());
    std::copy_n(other.spare.get(), size, spare.get());
}

binaryImage& binaryImage::operator=(const binaryImage& other) {
    if (this == &other)
        return *this;
    if (size != other.size) {
        data.reset();
        spare.reset();
        data = allocateBytes(other.size, "cant allocate memory for binary image");
        spare = allocateBytes(other.size, "cant allocate memory for (spare) binary image");
        size = other.size;
    }
    std::copy_n(other.data.get(), size, data.get());
    std::copy_n(other.spare.get(), size, spare.get());
    width = other.width;
    height = other.height;
    xOrigin = other.xOrigin;
    yOrigin = other.yOrigin;
    return *this;
}

void binaryImage::clear() {
    std::fill_n(data.get(), size, std::uint8_t{0});
    std::fill_n(spare.get(), size, std::uint8_t{0});
}

void binaryImage::setGeometry(std::int32_t newXOrigin, std::int32_t newYOrigin, std::int32_t newWidth,
                              std::int32_t newHeight) {
    xOrigin = newXOrigin;
    yOrigin = newYOrigin;
    if (newWidth == -1)
        return;
    if (newWidth < 0 || newHeight < 0 || static_cast<long long>(newWidth) * newHeight > size) {
        width = 0;
        height = 0;
        return;
    }
    width = newWidth;
    height = newHeight;
}

void binaryImage::drawInto(QMXrgbImage image) const {
    // Row by row for the cache; every pixel is written once either way.
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int v = get(x, y) * 255;
            image.setPixel(xOrigin + x, yOrigin + y, v, v, v);
        }
    }
}

void binaryImage::findComponents(std::int32_t maxPoints, List& list, std::int32_t step) {
    const std::int32_t capacity = std::max<std::int32_t>(maxPoints, 0);
    std::unique_ptr<point[]> buffer(new (std::nothrow) point[static_cast<std::size_t>(capacity)]);
    if (!buffer)
        allocationFailure(std::cout, "cant allocate that much tempory memory");
    if (step < 1)
        step = 1;

    for (long long x = 1; x < width - 1; x += step) {
        for (long long y = 1; y < height - 1; y += step) {
            if (get(static_cast<int>(x), static_cast<int>(y)) == 0)
                continue;
            std::int32_t n = 0;
            collectComponent(maxPoints, n, buffer.get(), static_cast<int>(x), static_cast<int>(y));
            // Built once at its final length and handed to the list.
            pointSet component(n);
            for (std::int32_t i = 0; i < n; ++i) {
                const point& p = buffer[static_cast<std::size_t>(i)];
                component.xs.data[static_cast<std::size_t>(i)] = static_cast<float>(p.x);
                component.ys.data[static_cast<std::size_t>(i)] = static_cast<float>(p.y);
            }
            list.append(std::move(component));
        }
    }
}

void binaryImage::collectComponent(std::int32_t maxPoints, std::int32_t& n, point* buffer, int x, int y) {
    if (n >= maxPoints)
        return;
    if (get(x, y) == 0)
        return;

    // Every frame on the stack stands for one recorded pixel, so the depth
    // never exceeds the points still allowed.
    const std::int32_t needed = maxPoints - n;
    if (fillStackCapacity < needed) {
        fillStack.reset(new (std::nothrow) fillFrame[static_cast<std::size_t>(needed)]);
        if (!fillStack) {
            fillStackCapacity = 0;
            allocationFailure(std::cout, "cant allocate that much tempory memory");
        }
        fillStackCapacity = needed;
    }

    set(x, y, 0);
    buffer[n] = {x, y};
    ++n;
    std::int32_t depth = 0;
    fillStack[0] = {x, y, 0};
    depth = 1;

    while (depth > 0) {
        fillFrame& top = fillStack[static_cast<std::size_t>(depth - 1)];
        if (top.nextNeighbour == 8) {
            --depth;
            continue;
        }
        const int k = top.nextNeighbour++;
        const int nx = top.x + neighbourDx[k];
        const int ny = top.y + neighbourDy[k];
        if (get(nx, ny) == 0)
            continue;
        // Once the cap is reached every remaining call of the recursive
        // form returns at once, so the whole fill is over.
        if (n >= maxPoints)
            return;
        set(nx, ny, 0);
        buffer[n] = {nx, ny};
        ++n;
        fillStack[static_cast<std::size_t>(depth)] = {nx, ny, 0};
        ++depth;
    }
}
