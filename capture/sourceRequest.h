#pragma once
// What a `--source` text asks for, decided from the text and the file system
// alone (no GStreamer), so the rules can be tested and shown to the user.
//
//   camera                   the first camera found
//   /dev/video0              the camera at that device path
//   "HD Webcam"              a camera by (part of) its name, when no such file exists
//   clip.mp4, file:///...    a video or image file, or a URI, decoded by GStreamer
//   frames/%05d.png          a numbered image sequence (first index 0 or 1)
//   videotestsrc ! ...       a GStreamer pipeline description (any text with '!')
//   demo[:unpaced][:frames=N]  the built-in synthetic scene

#include "capture/demoScene.h"

#include <string>
#include <vector>

enum class sourceKind { none, camera, file, imageSequence, pipeline, demo };

// One size and rate a camera offers.
struct videoMode {
    std::string mediaType;   // "video/x-raw" or "image/jpeg" (the camera's own encoding)
    std::string format;      // raw format such as "YUY2"; empty for encoded modes
    int width = 0;
    int height = 0;
    int rateNumerator = 0;   // 0/1: rate not known
    int rateDenominator = 1;

    double framesPerSecond() const;
    std::string describe() const; // "640x480 at 30 fps (YUY2)"
    bool operator==(const videoMode&) const = default;
};

struct sourceRequest {
    sourceKind kind = sourceKind::none;
    std::string text;        // what the user wrote
    std::string device;      // camera: device path or name; empty = first camera
    std::string uri;         // file: the URI handed to the decoder
    std::string path;        // file or image sequence: the local path or pattern
    std::string pipeline;    // pipeline: the description
    demoOptions demo;        // demo: the options
    std::string error;       // non-empty: the text cannot be used, with the reason
};

// Classifies a source text. An empty text, a local file that does not exist,
// or a malformed demo option gives kind none with a one-line error.
sourceRequest parseSourceText(const std::string& text);

// True when the text holds a printf-style integer conversion (%d, %05d, ...)
// and nothing else with '%' (apart from "%%").
bool isSequencePattern(const std::string& text);
// The pattern with its integer conversion replaced by `index`.
std::string formatSequencePath(const std::string& pattern, long long index);
// The first index (0 or 1) whose file exists, or -1 when neither exists.
long long firstSequenceIndex(const std::string& pattern);
// How many files exist one after the other from `firstIndex`.
long long countSequenceFiles(const std::string& pattern, long long firstIndex);

// Grid limit of the frame entry: cameras are asked for a size that fits it.
constexpr int maxCaptureWidth = 800;
constexpr int maxCaptureHeight = 700;

// The modes of `offered` that fit within maxWidth x maxHeight, largest
// first, each size once (its best rate; raw preferred over encoded at equal
// rate).
std::vector<videoMode> usableModes(const std::vector<videoMode>& offered,
                                   int maxWidth = maxCaptureWidth, int maxHeight = maxCaptureHeight);
// The mode a camera is opened with: 640x480 when offered, otherwise the
// largest usable mode. When nothing fits, the smallest offered mode (the
// pipeline then scales it down). `found` is false when `offered` is empty.
videoMode chooseCameraMode(const std::vector<videoMode>& offered, bool& found,
                           int maxWidth = maxCaptureWidth, int maxHeight = maxCaptureHeight);
// A size within maxWidth x maxHeight with the aspect of width x height
// (both even), for a camera whose every mode is too large.
void fitWithin(int width, int height, int maxWidth, int maxHeight, int& fittedWidth, int& fittedHeight);
