#include "capture/frameRecorder.h"

#include "capture/captureLibrary.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <regex>
#include <system_error>

namespace {

enum class outputKind { none, pngSequence, webm, matroska, avi, ogg };

bool hasNumberPattern(const std::string& path) {
    static const std::regex pattern("%0?[0-9]*d");
    return std::regex_search(path, pattern);
}

std::string lowerExtension(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

outputKind kindOf(const std::string& path) {
    const std::string extension = lowerExtension(path);
    if (hasNumberPattern(path))
        return extension == ".png" ? outputKind::pngSequence : outputKind::none;
    if (extension == ".webm")
        return outputKind::webm;
    if (extension == ".mkv")
        return outputKind::matroska;
    if (extension == ".avi")
        return outputKind::avi;
    if (extension == ".ogv" || extension == ".ogg")
        return outputKind::ogg;
    return outputKind::none;
}

// The encoding part of the pipeline, from raw BGRx to the sink.
const char* encoderChain(outputKind kind) {
    switch (kind) {
    case outputKind::pngSequence:
        return "videoconvert ! video/x-raw,format=RGB ! pngenc compression-level=3 ! "
               "multifilesink name=sink";
    case outputKind::webm:
        return "videoconvert ! vp8enc deadline=1 cpu-used=8 ! webmmux ! filesink name=sink";
    case outputKind::matroska:
        return "videoconvert ! vp8enc deadline=1 cpu-used=8 ! matroskamux ! filesink name=sink";
    case outputKind::avi:
        return "videoconvert ! jpegenc quality=90 ! avimux ! filesink name=sink";
    case outputKind::ogg:
        return "videoconvert ! theoraenc ! oggmux ! filesink name=sink";
    case outputKind::none:
        break;
    }
    return nullptr;
}

// The encoder may hold this much raw video before write() waits for it.
constexpr guint64 maxQueuedBytes = 32ull * 1024 * 1024;
// A pipeline that takes no frame for this long is taken as stuck.
constexpr auto stallLimit = std::chrono::seconds(30);

std::string describeError(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string text = error ? error->message : "unknown error";
    if (error)
        g_error_free(error);
    g_free(debug);
    return text;
}

} // namespace

struct frameRecorder::impl {
    std::string path;
    double frameRate;
    GstElement* pipeline = nullptr;
    GstElement* source = nullptr;
    GstBus* bus = nullptr;
    int width = 0;
    int height = 0;
    std::uint64_t frames = 0;
    bool finished = false;
    std::string failure; // set once; every later call reports it

    bool fail(std::string why, std::string& error) {
        if (failure.empty())
            failure = "recording to " + path + " failed: " + why;
        error = failure;
        return false;
    }

    // Non-blocking look at the bus; false with the reason on an error.
    bool pollErrors(std::string& error, GstClockTime wait = 0) {
        while (GstMessage* message = gst_bus_timed_pop_filtered(bus, wait, GST_MESSAGE_ERROR)) {
            std::string why = describeError(message);
            gst_message_unref(message);
            return fail(why, error);
        }
        return true;
    }

    bool start(int frameWidth, int frameHeight, std::string& error) {
        const outputKind kind = kindOf(path);
        if (kind == outputKind::none)
            return fail("unsupported output name", error);
        std::string initError;
        if (!initCaptureLibrary(&initError))
            return fail(initError, error);
        // Make the folder the frames go to; a user naming out/frame%05d.png
        // expects it to appear.
        const std::filesystem::path parent = std::filesystem::path(path).parent_path();
        if (!parent.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(parent, ec);
            if (ec)
                return fail("cannot create " + parent.string() + ": " + ec.message(), error);
        }
        const std::string description = std::string("appsrc name=src ! ") + encoderChain(kind);
        GError* parseError = nullptr;
        pipeline = gst_parse_launch(description.c_str(), &parseError);
        if (parseError) {
            std::string why = parseError->message;
            g_error_free(parseError);
            if (pipeline) {
                gst_object_unref(pipeline);
                pipeline = nullptr;
            }
            return fail("encoder not available (" + why + ")", error);
        }
        source = gst_bin_get_by_name(GST_BIN(pipeline), "src");
        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
        g_object_set(sink, "location", path.c_str(), nullptr);
        gst_object_unref(sink);

        const int rateNumerator = static_cast<int>(frameRate * 1000.0 + 0.5);
        GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx",
                                            "width", G_TYPE_INT, frameWidth, "height", G_TYPE_INT,
                                            frameHeight, "framerate", GST_TYPE_FRACTION,
                                            rateNumerator, 1000, nullptr);
        g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, "is-live", FALSE,
                     "max-bytes", maxQueuedBytes, nullptr);
        gst_caps_unref(caps);
        bus = gst_element_get_bus(pipeline);
        width = frameWidth;
        height = frameHeight;
        if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            std::string why = "the encoder did not start";
            pollErrors(why);
            return fail(why, error);
        }
        return true;
    }

    // Waits while the encoder is behind, watching for its errors.
    bool waitForRoom(std::string& error) {
        const auto deadline = std::chrono::steady_clock::now() + stallLimit;
        while (gst_app_src_get_current_level_bytes(GST_APP_SRC(source)) >= maxQueuedBytes) {
            if (!pollErrors(error, 5 * GST_MSECOND))
                return false;
            if (std::chrono::steady_clock::now() > deadline)
                return fail("the encoder stopped taking frames", error);
        }
        return pollErrors(error);
    }

    void release() {
        if (pipeline) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(pipeline);
            pipeline = nullptr;
        }
        if (source) {
            gst_object_unref(source);
            source = nullptr;
        }
        if (bus) {
            gst_object_unref(bus);
            bus = nullptr;
        }
    }
};

frameRecorder::frameRecorder(std::string outputPath, double frameRate)
    : impl_(std::make_unique<impl>()) {
    impl_->path = std::move(outputPath);
    impl_->frameRate = frameRate > 0.0 ? frameRate : 25.0;
}

frameRecorder::~frameRecorder() {
    std::string ignored;
    finish(ignored);
}

bool frameRecorder::checkOutputPath(const std::string& outputPath, std::string& error) {
    if (kindOf(outputPath) != outputKind::none)
        return true;
    if (hasNumberPattern(outputPath))
        error = "cannot record to " + outputPath + ": a numbered output must end in .png";
    else
        error = "cannot record to " + outputPath +
                ": use a name ending in .webm, .mkv, .avi or .ogv, or a pattern such as "
                "frame%05d.png";
    return false;
}

std::string frameRecorder::formatName(const std::string& outputPath) {
    switch (kindOf(outputPath)) {
    case outputKind::pngSequence: return "PNG sequence";
    case outputKind::webm: return "VP8/WebM";
    case outputKind::matroska: return "VP8/Matroska";
    case outputKind::avi: return "MJPEG/AVI";
    case outputKind::ogg: return "Theora/Ogg";
    case outputKind::none: break;
    }
    return "unknown";
}

bool frameRecorder::write(const std::uint8_t* pixels, int width, int height, std::string& error) {
    impl& d = *impl_;
    if (!d.failure.empty()) {
        error = d.failure;
        return false;
    }
    if (d.finished)
        return d.fail("the recording was already finished", error);
    if (!pixels || width <= 0 || height <= 0)
        return d.fail("empty frame", error);
    if (!d.pipeline) {
        if (!d.start(width, height, error))
            return false;
    } else if (width != d.width || height != d.height) {
        return d.fail("frame size changed from " + std::to_string(d.width) + "x" +
                          std::to_string(d.height) + " to " + std::to_string(width) + "x" +
                          std::to_string(height),
                      error);
    }
    if (!d.waitForRoom(error))
        return false;

    const gsize bytes = static_cast<gsize>(width) * static_cast<gsize>(height) * 4;
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
    gst_buffer_fill(buffer, 0, pixels, bytes);
    const GstClockTime duration =
        static_cast<GstClockTime>(static_cast<double>(GST_SECOND) / d.frameRate);
    GST_BUFFER_PTS(buffer) = d.frames * duration;
    GST_BUFFER_DURATION(buffer) = duration;
    if (gst_app_src_push_buffer(GST_APP_SRC(d.source), buffer) != GST_FLOW_OK)
        return d.fail("the encoder refused a frame", error);
    ++d.frames;
    return true;
}

bool frameRecorder::finish(std::string& error) {
    impl& d = *impl_;
    if (d.finished) {
        error = d.failure;
        return d.failure.empty();
    }
    d.finished = true;
    bool ok = d.failure.empty();
    if (d.pipeline && ok) {
        gst_app_src_end_of_stream(GST_APP_SRC(d.source));
        GstMessage* message = gst_bus_timed_pop_filtered(
            d.bus, static_cast<GstClockTime>(stallLimit.count()) * GST_SECOND,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (!message) {
            ok = d.fail("the encoder did not finish", error);
        } else {
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
                ok = d.fail(describeError(message), error);
            gst_message_unref(message);
        }
    }
    d.release();
    if (!ok)
        error = d.failure;
    return ok;
}

std::uint64_t frameRecorder::framesWritten() const {
    return impl_->frames;
}

const std::string& frameRecorder::outputPath() const {
    return impl_->path;
}
