#pragma once
// An owning image of 4 bytes per pixel, bytes blue, green, red, unused (the
// order the capture pipelines deliver and the frame entry expects), rows
// without gaps, top row first. Assignment copies the pixels deeply; moving
// hands the buffer over. An image without pixel memory is "empty".
//
// Not thread-safe on its own: one thread at a time per image.

#include <cstddef>
#include <cstdint>
#include <vector>

class rgbaImage {
public:
    static constexpr int bytesPerPixel = 4;

    rgbaImage() = default;                 // empty, rectangle 0,0,0,0
    rgbaImage(int width, int height);      // allocated and zeroed; origin 0,0

    rgbaImage(const rgbaImage&) = default; // deep copy
    rgbaImage(rgbaImage&& other) noexcept;
    rgbaImage& operator=(const rgbaImage& other); // deep copy; self-assignment does nothing
    rgbaImage& operator=(rgbaImage&& other) noexcept;

    // Makes the image width x height with origin 0,0. Keeps the buffer (and
    // its old bytes) when the byte count does not change, so a frame loop
    // does not allocate; otherwise the new pixels are zero. A size of 0 in
    // either direction makes the image empty.
    void allocate(int width, int height);
    // Releases the pixel memory; the image becomes empty.
    void deallocate();
    void swap(rgbaImage& other) noexcept;

    int left() const { return left_; }
    int top() const { return top_; }
    int right() const { return left_ + width_; }
    int bottom() const { return top_ + height_; }
    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return pixels_.empty(); }
    void setOrigin(int left, int top) { left_ = left; top_ = top; }

    std::uint8_t* pixels() { return pixels_.data(); }
    const std::uint8_t* pixels() const { return pixels_.data(); }
    std::uint8_t* row(int y) { return pixels_.data() + rowBytes() * static_cast<std::size_t>(y); }
    const std::uint8_t* row(int y) const { return pixels_.data() + rowBytes() * static_cast<std::size_t>(y); }
    std::size_t rowBytes() const { return static_cast<std::size_t>(width_) * bytesPerPixel; }
    std::size_t byteCount() const { return pixels_.size(); }

    // Same size and the same bytes (the unused fourth byte included).
    bool samePixels(const rgbaImage& other) const;

private:
    std::vector<std::uint8_t> pixels_;
    int left_ = 0;
    int top_ = 0;
    int width_ = 0;
    int height_ = 0;
};
