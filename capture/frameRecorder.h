#pragma once
// Records processed frames (4 bytes a pixel: blue, green, red, unused; rows
// without gaps) to disk through GStreamer.
//
// The output name decides the format:
//   a name with a printf pattern ("out/frame%05d.png")  lossless PNG, one file a frame
//   .webm   VP8 in WebM          .mkv   VP8 in Matroska
//   .avi    Motion JPEG in AVI   .ogv   Theora in Ogg
// The encoder starts with the first frame, whose size every later frame must
// keep. Writing never drops a frame: when the encoder falls behind, write()
// waits for it. Errors come back as one line of text; nothing is thrown.

#include <cstdint>
#include <memory>
#include <string>

class frameRecorder {
public:
    // `frameRate` only stamps the video's timing (frames a second, > 0).
    explicit frameRecorder(std::string outputPath, double frameRate = 25.0);
    ~frameRecorder(); // finishes the file if finish() was not called
    frameRecorder(const frameRecorder&) = delete;
    frameRecorder& operator=(const frameRecorder&) = delete;

    // Checks that the name has a format we can write (before any frame comes).
    static bool checkOutputPath(const std::string& outputPath, std::string& error);
    // "PNG sequence", "VP8/WebM", ... for messages.
    static std::string formatName(const std::string& outputPath);

    // Copies and queues one frame. False (with a reason) when the output
    // cannot be written, the encoder failed, or the size changed; after a
    // failure every later call fails at once.
    bool write(const std::uint8_t* pixels, int width, int height, std::string& error);

    // Ends the stream and waits until everything is on disk. Idempotent.
    bool finish(std::string& error);

    std::uint64_t framesWritten() const;
    const std::string& outputPath() const;

private:
    struct impl;
    std::unique_ptr<impl> impl_;
};
