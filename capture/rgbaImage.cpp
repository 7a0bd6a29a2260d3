#include "capture/rgbaImage.h"

#include <algorithm>
#include <cstring>
#include <utility>

rgbaImage::rgbaImage(int width, int height) {
    allocate(width, height);
}

rgbaImage::rgbaImage(rgbaImage&& other) noexcept
    : pixels_(std::move(other.pixels_)), left_(other.left_), top_(other.top_),
      width_(other.width_), height_(other.height_) {
    other.pixels_.clear();
    other.left_ = other.top_ = other.width_ = other.height_ = 0;
}

rgbaImage& rgbaImage::operator=(const rgbaImage& other) {
    if (this == &other)
        return *this;
    // Reuses this buffer's capacity, so a steady frame flow does not allocate.
    pixels_.assign(other.pixels_.begin(), other.pixels_.end());
    left_ = other.left_;
    top_ = other.top_;
    width_ = other.width_;
    height_ = other.height_;
    return *this;
}

rgbaImage& rgbaImage::operator=(rgbaImage&& other) noexcept {
    if (this != &other) {
        rgbaImage moved(std::move(other));
        swap(moved);
    }
    return *this;
}

void rgbaImage::allocate(int width, int height) {
    if (width <= 0 || height <= 0) {
        deallocate();
        return;
    }
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * bytesPerPixel;
    if (pixels_.size() != bytes)
        pixels_.assign(bytes, 0);
    left_ = 0;
    top_ = 0;
    width_ = width;
    height_ = height;
}

void rgbaImage::deallocate() {
    std::vector<std::uint8_t>().swap(pixels_);
    left_ = top_ = width_ = height_ = 0;
}

void rgbaImage::swap(rgbaImage& other) noexcept {
    pixels_.swap(other.pixels_);
    std::swap(left_, other.left_);
    std::swap(top_, other.top_);
    std::swap(width_, other.width_);
    std::swap(height_, other.height_);
}

bool rgbaImage::samePixels(const rgbaImage& other) const {
    return width_ == other.width_ && height_ == other.height_ && pixels_ == other.pixels_;
}
