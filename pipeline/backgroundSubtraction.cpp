#include "pipeline/backgroundSubtraction.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "pipeline/overlay.h"
#include "pipeline/pipeline.h"
#include "settings/visionSettings.h"

namespace {

constexpr float foregroundThreshold = 0.6f;

// Pixel access for the sweep. The frame entry always builds 4-byte pixels
// with rows top to bottom and no offset; such frames are read straight from
// memory. Any other header goes through getPixel, which also keeps its
// handling of undefined formats.
//
// Reads grid cell (i, j)'s pixel (2 i, 2 j) of a frame in the standard
// layout, for j from firstRow up to endRow: the rows whose pixel is inside.
// The sweep gives the cells outside that range black, exactly as getPixel
// does on the outermost ring.
struct directColumn {
    const std::uint8_t* firstPixel; // pixel (2 i, 0)
    std::ptrdiff_t rowPairBytes;    // from pixel (x, y) to (x, y + 2)
    int firstRow;                   // first j whose pixel is inside, or beyond lastRow
    int endRow;                     // j from here on is outside again

    void sample(int j, float* rgb) const {
        const std::uint8_t* p = firstPixel + rowPairBytes * j;
        rgb[0] = static_cast<float>(p[2]);
        rgb[1] = static_cast<float>(p[1]);
        rgb[2] = static_cast<float>(p[0]);
    }
};

// The same through getPixel, for headers the direct path does not cover.
struct checkedColumn {
    const QMXrgbImage* frame;
    int x;
    static constexpr int firstRow = 0; // getPixel itself gives black outside
    static constexpr int endRow = std::numeric_limits<int>::max();

    void sample(int j, float* rgb) const {
        int r, g, b;
        frame->getPixel(x, 2 * j, r, g, b);
        rgb[0] = static_cast<float>(r);
        rgb[1] = static_cast<float>(g);
        rgb[2] = static_cast<float>(b);
    }
};

bool standardLayout(const QMXrgbImage& frame) {
    return frame.memoryFormat == 4 && frame.rowStep == 1 && frame.rowOffset == 0 && frame.data != nullptr &&
        frame.width > 0 && frame.height > 0;
}

// The grid is far larger than the caches and each cell sits on its own
// lines, so the sweep asks for the cells it will visit a few steps ahead
// (only the first line when scoring; all of them when the cells learn).
constexpr int prefetchAhead = 16;

template <bool Learn> inline void prefetchCell(const pixelModelGS* cell) {
#if defined(__GNUC__)
    const char* bytes = reinterpret_cast<const char*>(cell);
    __builtin_prefetch(bytes, 1);
    if constexpr (Learn)
        for (std::size_t line = 64; line < sizeof(pixelModelGS); line += 64)
            __builtin_prefetch(bytes + line, 1);
#else
    (void)cell;
#endif
}

// Scores (and on learning frames updates) the visited cells of grid column i
// and writes their mask pixels. Rows at or beyond maskRows are not in the
// mask and are not written (set() would drop them). nextColumn is the column
// visited after this one (null for the last), whose first cells are fetched
// while this one ends.
template <class Column, bool Learn>
inline void sweepColumn(const Column& pixels, pixelModelGS* column, const pixelModelGS* nextColumn,
                        std::uint8_t* maskPixel, std::ptrdiff_t maskStride, int lastRow, int maskRows,
                        QMXrgbImage& frame, int i, bool drawState) {
    const auto visit = [&](int j, const float* sample) {
        const int ahead = j + prefetchAhead;
        if (ahead < lastRow)
            prefetchCell<Learn>(column + ahead);
        else if (nextColumn)
            prefetchCell<Learn>(nextColumn + (ahead - lastRow));
        pixelModelGS& model = column[j];
        const float score = model.probability(sample);
        if constexpr (Learn)
            model.update();
        if (j < maskRows)
            maskPixel[maskStride * j] = score < foregroundThreshold ? 1 : 0;
        if (drawState)
            drawModelState(frame, i, j, score);
    };
    // Rows before, inside and after the part the column reads.
    const int begin = std::clamp(pixels.firstRow, 0, std::max(lastRow, 0));
    const int end = std::clamp(pixels.endRow, begin, std::max(lastRow, begin));
    const float black[3] = {0.0f, 0.0f, 0.0f};
    int j = 0;
    for (; j < begin; ++j)
        visit(j, black);
    for (; j < end; ++j) {
        float sample[3];
        pixels.sample(j, sample);
        visit(j, sample);
    }
    for (; j < lastRow; ++j)
        visit(j, black);
}

template <bool Learn> void sweep(QMXrgbImage& frame, pipelineStateRecord& s, bool drawState) {
    const int width = s.gridWidth;
    const int lastRow = s.gridHeight - 1; // the last grid row is never visited
    binaryImage& mask = s.foregroundMask;
    const int maskColumns = std::max(mask.width, 0);
    const int maskRows = std::max(mask.height, 0);
    // Columns beyond the mask still score and learn; their mask writes go to
    // a scratch byte (set() would drop them).
    std::uint8_t scratch = 0;
    const bool direct = standardLayout(frame);
    const std::ptrdiff_t pixelBytes = 4;
    const std::ptrdiff_t rowBytes = pixelBytes * frame.width;

    // Grid rows whose pixel (2 j) lies inside: 0 < 2 j < height - 1.
    const int firstInsideRow = 1;
    const int endInsideRow = frame.height >= 2 ? frame.height / 2 : 0;

    for (int i = width - 1; i >= 0; --i) {
        pixelModelGS* column = &s.modelGrid.cell(i, 0);
        const pixelModelGS* nextColumn = i > 0 ? &s.modelGrid.cell(i - 1, 0) : nullptr;
        std::uint8_t* maskPixel = i < maskColumns ? mask.data.get() + i : &scratch;
        const std::ptrdiff_t maskStride = i < maskColumns ? maskColumns : 0;
        if (direct) {
            const int x = 2 * i;
            const bool insideColumn = x > 0 && x < frame.width - 1;
            const directColumn pixels{insideColumn ? frame.data + pixelBytes * x : frame.data, 2 * rowBytes,
                                      insideColumn ? firstInsideRow : lastRow, insideColumn ? endInsideRow : lastRow};
            sweepColumn<directColumn, Learn>(pixels, column, nextColumn, maskPixel, maskStride, lastRow, maskRows, frame, i,
                                             drawState);
        } else {
            const checkedColumn pixels{&frame, 2 * i};
            sweepColumn<checkedColumn, Learn>(pixels, column, nextColumn, maskPixel, maskStride, lastRow, maskRows, frame, i,
                                              drawState);
        }
    }
}

} // namespace

void subtractBackground(QMXrgbImage& frame) {
    pipelineStateRecord& s = pipelineState();
    const bool drawState = visionSettings.drawBinary;
    if (s.frameCounter % 5 == 0)
        sweep<true>(frame, s, drawState);
    else
        sweep<false>(frame, s, drawState);
}

void rebuildModelGrid() {
    const visionSettingsRecord& settings = visionSettings;
    const pixelModelGS empty(3, static_cast<int>(settings.modelModes), settings.modelMatchDeviations,
                             settings.modelLearningRate, settings.modelBackgroundWeight,
                             settings.modelInitialDeviation, settings.modelMinBrightness);
    modelGridArray& grid = pipelineState().modelGrid;
    for (std::size_t k = 0; k < grid.size(); ++k)
        grid[k] = empty;
}
