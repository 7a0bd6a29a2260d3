#pragma once
// An image source made from a source text (see sourceRequest.h for the
// forms): a GStreamer pipeline that ends in an appsink delivering
// video/x-raw,format=BGRx frames into the connected frameQueue.
//
// Cameras are opened at a size the frame entry accepts (at most 800x700,
// 640x480 when offered; a camera that offers only larger sizes is scaled
// down); files and image sequences keep their own size.
//
// Opening a file or a sequence prerolls it, so a missing, unreadable or
// corrupt input fails in open() with a one-line reason, and the video size
// and frame count are known before the first frame is taken.
//
// Threads: open(), close(), setOn() and the camera calls belong to the
// owning thread (UI or runner). The queries are safe from any thread. The
// frames and the end of the stream are delivered on GStreamer's own threads
// into the connected frameQueue.

#include "capture/sourceRequest.h"

#include <memory>
#include <string>
#include <vector>

class frameQueue;

class imageSource {
public:
    imageSource();                                 // no source: isValid() is false
    explicit imageSource(const std::string& text); // open(text)
    ~imageSource();
    imageSource(const imageSource&) = delete;
    imageSource& operator=(const imageSource&) = delete;

    // Closes any open source, then opens the one `text` names, switched off.
    // On failure the source is not valid and errorText() says why in one
    // line ("file not found: clip.mp4", "no camera found", ...).
    bool open(const std::string& text);
    // Reopens a camera (device path or name) with the given mode, e.g. from
    // the shell's Source or Format dialog; keeps the queue connection and the
    // on/off switch. On failure the previous camera stays open.
    bool openCamera(const std::string& device, const videoMode& mode);
    // Stops the pipeline and releases the device or file.
    void close();

    bool isValid() const;
    const std::string& errorText() const;   // why the last open failed
    const std::string& description() const; // one line on what is open
    sourceKind kind() const;
    // Live sources deliver at their own pace and drop frames the consumer is
    // too slow for; the others wait for the consumer.
    bool isLive() const;

    // Frames flow while the source is on and a frameQueue is connected (a
    // source switched on before its queue is connected waits for it, so a
    // file loses no frame). False when the pipeline refused.
    bool setOn(bool on);
    bool isOn() const;

    // The frame size the source delivers; false when not known yet (a live
    // pipeline before its first frame).
    bool videoSize(int& width, int& height) const;
    // Frames in the stream when known (image sequences: the files found;
    // files: duration x rate; a limited demo: its limit), -1 otherwise.
    long long knownFrameCount() const;

    // Cameras only: the device opened, the modes it offers that fit the
    // frame entry (largest first) and the mode in use.
    const std::string& cameraDevice() const;
    const std::vector<videoMode>& cameraModes() const;
    const videoMode& cameraMode() const;

    struct impl; // GStreamer state, kept out of this header

private:
    friend class frameQueue;
    void attachQueue(frameQueue* queue); // null detaches; waits for a delivery in progress

    std::unique_ptr<impl> impl_;
};
