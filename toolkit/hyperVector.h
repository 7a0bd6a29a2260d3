#pragma once
// Owning array of single-precision floats with a checked element access, and
// pointSet, the pair of coordinate vectors that carries one connected
// component of the foreground mask from the fill to the object segmentation.

#include <cstdint>
#include <memory>

class hyperVector {
public:
    // n elements, copied from source when given, zero otherwise.
    explicit hyperVector(std::int32_t n, const float* source = nullptr);
    hyperVector(const hyperVector& other);
    // Leaves the source empty (size 0).
    hyperVector(hyperVector&& other) noexcept;
    ~hyperVector() = default;

    // Deep copy; reuses the storage when the sizes agree; no-op on itself.
    hyperVector& operator=(const hyperVector& other);
    hyperVector& operator=(hyperVector&& other) noexcept;

    // Ends the program with "hyperVector::operator[] access out of range"
    // (through fatalError) for an index below 0 or at or above size.
    float& operator[](std::int32_t index);
    const float& operator[](std::int32_t index) const;

    // Sum of the squared elements in double precision; 0 when empty.
    double sumOfSquares() const;

    std::int32_t size;
    std::unique_ptr<float[]> data;
};

class pointSet {
public:
    // Two 3-element zero vectors (the list's sentinel holds one of these).
    pointSet();
    // Two n-element zero vectors, to be filled by the caller.
    explicit pointSet(std::int32_t n);
    // Two n-element vectors copied from the given coordinates.
    pointSet(std::int32_t n, const float* xSource, const float* ySource);
    pointSet(const pointSet& other);
    pointSet(pointSet&& other) noexcept = default;
    pointSet& operator=(const pointSet& other);
    pointSet& operator=(pointSet&& other) noexcept = default;
    ~pointSet() = default;

    // Means in double precision; NaN for an empty set.
    double meanX() const;
    double meanY() const;
    // Mean absolute deviation from the mean; NaN for an empty set.
    double spreadX() const;
    double spreadY() const;

    hyperVector xs;
    hyperVector ys;
};
