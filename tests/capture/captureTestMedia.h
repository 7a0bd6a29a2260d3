#pragma once
// Test inputs made with GStreamer itself in a temporary folder: numbered
// 8-bit PNG images with known pixels, and a short video file.

#include "capture/captureLibrary.h"
#include "capture/rgbaImage.h"
#include "tests/support/tempFolder.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <string>

namespace captureTest {

// A folder of its own, removed at the end.
struct tempFolder : testSupport::tempFolder {
    explicit tempFolder(const std::string& tag) : testSupport::tempFolder("vorn-capture-" + tag) {}
};

// Frame `index` of the test sequence: every pixel's blue, green and red come
// from its position and the index, so order and byte order can be checked.
inline rgbaImage sequenceFrame(int index, int width, int height) {
    rgbaImage frame(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = frame.row(y) + 4 * x;
            p[0] = static_cast<std::uint8_t>(10 * x + index);      // blue
            p[1] = static_cast<std::uint8_t>(20 * y + 3 * index);  // green
            p[2] = static_cast<std::uint8_t>(200 - 30 * index + x); // red
            p[3] = 255;
        }
    }
    return frame;
}

// Runs a pipeline to its end; false (with the reason) on an error or after 30 s.
inline bool runToEnd(GstElement* pipeline, std::string& error) {
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND,
                                                     static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    bool ok = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message == nullptr) {
        error = "timed out";
    } else if (!ok) {
        GError* failure = nullptr;
        gst_message_parse_error(message, &failure, nullptr);
        error = failure->message;
        g_error_free(failure);
    }
    if (message != nullptr)
        gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return ok;
}

// The pipeline `description` names; nullptr (with the reason) when it does
// not parse, even where GStreamer would hand back a partial one.
inline GstElement* parsePipeline(const std::string& description, std::string& error) {
    GError* failure = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &failure);
    if (failure != nullptr) {
        error = failure->message;
        g_error_free(failure);
        if (pipeline != nullptr)
            gst_object_unref(pipeline);
        return nullptr;
    }
    return pipeline;
}

// Writes `count` frames of sequenceFrame() as 8-bit RGB PNGs named by
// `pattern` (e.g. ".../%05d.png"), numbered from `firstIndex`.
inline bool writePngSequence(const std::string& pattern, int firstIndex, int count, int width, int height,
                             std::string& error) {
    if (!initCaptureLibrary(&error))
        return false;
    const std::string description =
        "appsrc name=src format=time caps=video/x-raw,format=BGRx,width=" + std::to_string(width) +
        ",height=" + std::to_string(height) +
        ",framerate=30/1 ! videoconvert ! video/x-raw,format=RGB ! pngenc compression-level=1 ! "
        "multifilesink name=files";
    GstElement* pipeline = parsePipeline(description, error);
    if (pipeline == nullptr)
        return false;
    GstElement* files = gst_bin_get_by_name(GST_BIN(pipeline), "files");
    g_object_set(files, "location", pattern.c_str(), "index", firstIndex, nullptr);
    gst_object_unref(files);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    for (int i = 0; i < count; ++i) {
        const rgbaImage frame = sequenceFrame(i, width, height);
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, frame.byteCount(), nullptr);
        gst_buffer_fill(buffer, 0, frame.pixels(), frame.byteCount());
        GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(i, GST_SECOND, 30);
        gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    gst_object_unref(src);
    const bool ok = runToEnd(pipeline, error);
    gst_object_unref(pipeline);
    return ok;
}

// A Motion-JPEG AVI of `frames` frames of videotestsrc.
inline bool writeVideoFile(const std::string& path, int frames, int width, int height, std::string& error) {
    if (!initCaptureLibrary(&error))
        return false;
    const std::string description = "videotestsrc num-buffers=" + std::to_string(frames) +
        " ! video/x-raw,width=" + std::to_string(width) + ",height=" + std::to_string(height) +
        ",framerate=25/1 ! jpegenc ! avimux ! filesink name=out";
    GstElement* pipeline = parsePipeline(description, error);
    if (pipeline == nullptr)
        return false;
    GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    g_object_set(out, "location", path.c_str(), nullptr);
    gst_object_unref(out);
    const bool ok = runToEnd(pipeline, error);
    gst_object_unref(pipeline);
    return ok;
}

} // namespace captureTest
