// Cost of the vision pipeline per frame, whole and by stage, on a synthetic
// scene: a textured background with camera noise and a few objects moving
// across it. Messages go to an in-memory recorder, never to a network.
//
// Run from a Release build:  ./pipeline_bench --benchmark_min_time=1
// On a loaded machine add --benchmark_repetitions=5 and read the "min" rows.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "messaging/messageStream.h"
#include "messaging/recordingTransport.h"
#include "pipeline/backgroundSubtraction.h"
#include "pipeline/emotion.h"
#include "pipeline/gaze.h"
#include "pipeline/objects.h"
#include "pipeline/overlay.h"
#include "pipeline/pipeline.h"
#include "settings/visionSettings.h"
#include "toolkit/QMXrgbImage.h"

namespace {

constexpr int sceneFrames = 32;

// Deterministic noise without the standard engines' cost.
std::uint32_t hash(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

struct scene {
    scene(int w, int h) : width(w), height(h) {
        for (int n = 0; n < sceneFrames; ++n)
            frames.push_back(render(n));
        work.resize(frames[0].size());
    }

    std::vector<std::uint8_t> render(int n) const {
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                // Texture: a gradient with a tile pattern, plus +-2 of noise.
                const int tile = ((x / 16) + (y / 16)) % 2 ? 40 : 0;
                const int base = 60 + (x * 100) / width + tile;
                const auto noise = [&](int channel) {
                    return static_cast<int>(hash(static_cast<std::uint32_t>((n * 7919 + y) * 65599 + x * 3 + channel)) % 5) - 2;
                };
                std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
                p[0] = static_cast<std::uint8_t>(base + 20 + noise(0));
                p[1] = static_cast<std::uint8_t>(base + 10 + noise(1));
                p[2] = static_cast<std::uint8_t>(base + noise(2));
                p[3] = 255;
            }
        }
        // Three objects: a person-sized block walking across, a smaller one
        // bobbing, and a small one sliding down.
        paint(pixels, 40 + 6 * n, height / 4, width / 6, height / 2, 200, 160, 140);
        paint(pixels, width / 2, 30 + (n % 8) * 4, width / 10, height / 8, 30, 200, 60);
        paint(pixels, width - 120, 20 + 5 * n, 30, 30, 220, 220, 40);
        return pixels;
    }

    void paint(std::vector<std::uint8_t>& pixels, int x0, int y0, int w, int h, int r, int g, int b) const {
        for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y)
            for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) {
                std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
                p[0] = static_cast<std::uint8_t>(b);
                p[1] = static_cast<std::uint8_t>(g);
                p[2] = static_cast<std::uint8_t>(r);
            }
    }

    // Copies frame n into the work buffer and returns its header.
    QMXrgbImage load(int n) {
        std::memcpy(work.data(), frames[static_cast<std::size_t>(n % sceneFrames)].data(), work.size());
        return makeFrameHeader(work.data(), width, height);
    }

    int width, height;
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<std::uint8_t> work;
};

void useProgramSettings() {
    visionSettings = visionSettingsRecord{};
    visionSettings.drawBox = true;
    visionSettings.emotionsOn = true;
    visionSettings.minObjectSize = 100;
}

// frameCounter decides whether the models learn: 5k update, anything else score only.
void setFrameKind(bool update) {
    pipelineStateRecord& state = pipelineState();
    state.frameCounter = update ? 5 : 6;
}

// A pipeline that has watched the scene for a while: the models have learnt
// the background over many update frames, but are still in their learning
// phase (40 updates).
void warmUp(scene& s, int frames = 200) {
    resetPipelineState();
    useProgramSettings();
    for (int n = 0; n < frames; ++n) {
        QMXrgbImage frame = s.load(n);
        processVisionFrame(frame);
    }
}

// The steady state of a long run: every model past its learning phase
// (1000 updates). Only the update frames change a model's learning, so the
// warm-up runs nothing else.
void warmUpPastLearning(scene& s) {
    resetPipelineState();
    useProgramSettings();
    for (int n = 0; n < 1010; ++n) {
        QMXrgbImage frame = s.load(n);
        setFrameKind(true);
        processVisionFrame(frame);
    }
}

// Times `stage` on successive scene frames, perIteration of them per timed
// iteration; isUpdate(k) says whether frame k of an iteration lets the models
// learn. Loading the frame and emptying the message recorder are not timed.
template <class IsUpdate, class Stage>
void timeFrames(benchmark::State& st, scene& s, scopedMessageCapture& capture, int perIteration, IsUpdate isUpdate,
                Stage stage) {
    int n = 0;
    for (auto _ : st) {
        for (int k = 0; k < perIteration; ++k) {
            st.PauseTiming();
            QMXrgbImage frame = s.load(n++);
            setFrameKind(isUpdate(k));
            if (capture.recorder().datagrams().size() > 10000)
                capture.recorder().clear();
            st.ResumeTiming();
            stage(frame);
        }
    }
}

void runPipeline(QMXrgbImage& frame) { processVisionFrame(frame); }
void runBackgroundStage(QMXrgbImage& frame) { subtractBackground(frame); }

void wholePipeline(benchmark::State& st, bool update) {
    scene s(static_cast<int>(st.range(0)), static_cast<int>(st.range(1)));
    scopedMessageCapture capture;
    warmUp(s);
    timeFrames(st, s, capture, 1, [update](int) { return update; }, runPipeline);
}

void BM_pipeline_scoreOnly(benchmark::State& st) { wholePipeline(st, false); }
void BM_pipeline_update(benchmark::State& st) { wholePipeline(st, true); }

void BM_pipeline_binaryView(benchmark::State& st) {
    scene s(static_cast<int>(st.range(0)), static_cast<int>(st.range(1)));
    scopedMessageCapture capture;
    warmUp(s);
    visionSettings.drawBinary = true;
    visionSettings.drawCross = true;
    timeFrames(st, s, capture, 1, [](int) { return false; }, runPipeline);
}

// The background stage alone, with the grid size the driver would set.
void backgroundStage(benchmark::State& st, bool update) {
    scene s(static_cast<int>(st.range(0)), static_cast<int>(st.range(1)));
    scopedMessageCapture capture;
    warmUp(s);
    timeFrames(st, s, capture, 1, [update](int) { return update; }, runBackgroundStage);
}

void BM_subtractBackground_scoreOnly(benchmark::State& st) { backgroundStage(st, false); }
void BM_subtractBackground_update(benchmark::State& st) { backgroundStage(st, true); }

// Both kinds of frame in the pipeline's rhythm of four scoring frames and one
// update frame, after the learning phase when the third argument is 1;
// "frame" is the average per frame.
template <class Stage> void fiveFrameCycle(benchmark::State& st, Stage stage) {
    scene s(static_cast<int>(st.range(0)), static_cast<int>(st.range(1)));
    scopedMessageCapture capture;
    if (st.range(2))
        warmUpPastLearning(s);
    else
        warmUp(s);
    timeFrames(st, s, capture, 5, [](int k) { return k == 4; }, stage);
    st.counters["frame"] = benchmark::Counter(5, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_subtractBackground_fiveFrameCycle(benchmark::State& st) { fiveFrameCycle(st, runBackgroundStage); }
void BM_pipeline_fiveFrameCycle(benchmark::State& st) { fiveFrameCycle(st, runPipeline); }

// The background stage after the learning phase, one kind of frame.
void BM_subtractBackground_pastLearning(benchmark::State& st) {
    scene s(static_cast<int>(st.range(0)), static_cast<int>(st.range(1)));
    scopedMessageCapture capture;
    warmUpPastLearning(s);
    const bool update = st.range(2) != 0;
    timeFrames(st, s, capture, 1, [update](int) { return update; }, runBackgroundStage);
}

void BM_findObjects(benchmark::State& st) {
    scene s(static_cast<int>(st.range(0)), static_cast<int>(st.range(1)));
    scopedMessageCapture capture;
    warmUp(s);
    int n = 0;
    for (auto _ : st) {
        st.PauseTiming();
        QMXrgbImage frame = s.load(n++);
        setFrameKind(false);
        subtractBackground(frame); // writes the mask this stage consumes
        st.ResumeTiming();
        findObjects();
    }
}

void BM_targetAndEmotions(benchmark::State& st) {
    scene s(640, 480);
    scopedMessageCapture capture;
    warmUp(s);
    QMXrgbImage frame = s.load(0);
    for (auto _ : st) {
        selectTarget();
        updateEmotions(frame);
        benchmark::DoNotOptimize(pipelineState().emotionIntensity);
    }
}

void BM_overlay(benchmark::State& st) {
    scene s(640, 480);
    scopedMessageCapture capture;
    warmUp(s);
    visionSettings.drawCross = true;
    QMXrgbImage frame = s.load(0);
    for (auto _ : st) {
        drawEmotionBars(frame);
        drawObjects(frame);
    }
}

void BM_gazeMessage(benchmark::State& st) {
    scene s(640, 480);
    scopedMessageCapture capture;
    QMXrgbImage frame = s.load(0);
    int n = 0;
    for (auto _ : st) {
        sendTargetMessage(frame);
        if (++n % 10000 == 0) {
            st.PauseTiming();
            capture.recorder().clear();
            st.ResumeTiming();
        }
    }
}

double fastest(const std::vector<double>& v) {
    double best = v.empty() ? 0.0 : v[0];
    for (double x : v)
        best = x < best ? x : best;
    return best;
}

// On a shared machine run with --benchmark_repetitions=N: "min" is the least
// disturbed repetition (for the "frame" counter, a rate, read its "max").
void frameSizes(benchmark::internal::Benchmark* b) {
    b->Args({640, 480})->Args({800, 700})->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
}

// Third argument: 1 past the learning phase, 0 still learning (the score
// and update benchmarks above are still learning), or for
// BM_subtractBackground_pastLearning 1 update frames, 0 scoring frames.
void cycleSizes(benchmark::internal::Benchmark* b) {
    for (int past = 0; past < 2; ++past)
        b->Args({640, 480, past})->Args({800, 700, past});
    b->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
}

} // namespace

BENCHMARK(BM_pipeline_scoreOnly)->Apply(frameSizes);
BENCHMARK(BM_pipeline_update)->Apply(frameSizes);
BENCHMARK(BM_pipeline_binaryView)->Args({640, 480})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_subtractBackground_scoreOnly)->Apply(frameSizes);
BENCHMARK(BM_subtractBackground_update)->Apply(frameSizes);
BENCHMARK(BM_subtractBackground_pastLearning)->Apply(cycleSizes);
BENCHMARK(BM_subtractBackground_fiveFrameCycle)->Apply(cycleSizes);
BENCHMARK(BM_pipeline_fiveFrameCycle)->Apply(cycleSizes);
BENCHMARK(BM_findObjects)->Apply(frameSizes);
BENCHMARK(BM_targetAndEmotions);
BENCHMARK(BM_overlay)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_gazeMessage);

BENCHMARK_MAIN();
