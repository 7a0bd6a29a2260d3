#include "toolkit/hyperVector.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "toolkit/fatalError.h"

namespace {
std::unique_ptr<float[]> allocateElements(std::int32_t n) {
    if (n < 0)
        fatalError("hyperVector: negative size");
    return std::unique_ptr<float[]>(new float[static_cast<std::size_t>(n)]);
}
} // namespace

hyperVector::hyperVector(std::int32_t n, const float* source) : size(n), data(allocateElements(n)) {
    if (source != nullptr)
        std::copy_n(source, n, data.get());
    else
        std::fill_n(data.get(), n, 0.0f);
}

hyperVector::hyperVector(const hyperVector& other)
    : size(other.size), data(allocateElements(other.size)) {
    std::copy_n(other.data.get(), size, data.get());
}

hyperVector::hyperVector(hyperVector&& other) noexcept : size(other.size), data(std::move(other.data)) {
    other.size = 0;
}

hyperVector& hyperVector::operator=(const hyperVector& other) {
    if (data.get() == other.data.get())
        return *this;
    if (size != other.size) {
        data.reset();
        size = other.size;
        data = allocateElements(size);
    }
    std::copy_n(other.data.get(), size, data.get());
    return *this;
}

hyperVector& hyperVector::operator=(hyperVector&& other) noexcept {
    if (this != &other) {
        size = other.size;
        data = std::move(other.data);
        other.size = 0;
    }
    return *this;
}

float& hyperVector::operator[](std::int32_t index) {
    if (index < 0 || index >= size)
        fatalError("hyperVector::operator[] access out of range");
    return data[static_cast<std::size_t>(index)];
}

const float& hyperVector::operator[](std::int32_t index) const {
    if (index < 0 || index >= size)
        fatalError("hyperVector::operator[] access out of range");
    return data[static_cast<std::size_t>(index)];
}

double hyperVector::sumOfSquares() const {
    double sum = 0.0;
    for (std::int32_t i = 0; i < size; ++i) {
        const double v = data[static_cast<std::size_t>(i)];
        sum += v * v;
    }
    return sum;
}

pointSet::pointSet() : xs(3), ys(3) {}

pointSet::pointSet(std::int32_t n) : xs(n), ys(n) {}

pointSet::pointSet(std::int32_t n, const float* xSource, const float* ySource)
    : xs(n, xSource), ys(n, ySource) {}

pointSet::pointSet(const pointSet& other) : xs(other.xs), ys(other.ys) {}

pointSet& pointSet::operator=(const pointSet& other) {
    xs = other.xs;
    ys = other.ys;
    return *this;
}

namespace {
double meanOf(const hyperVector& v) {
    double sum = 0.0;
    for (std::int32_t i = 0; i < v.size; ++i)
        sum += v[i];
    return sum / v.size;
}

double spreadOf(const hyperVector& v) {
    const double m = meanOf(v);
    double sum = 0.0;
    for (std::int32_t i = 0; i < v.size; ++i)
        sum += std::fabs(v[i] - m);
    return sum / v.size;
}
} // namespace

double pointSet::meanX() const { return meanOf(xs); }
double pointSet::meanY() const { return meanOf(ys); }
double pointSet::spreadX() const { return spreadOf(xs); }
double pointSet::spreadY() const { return spreadOf(ys); }
