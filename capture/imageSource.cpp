#include "capture/imageSource.h"

#include "capture/cameraProbe.h"
#include "capture/captureLibrary.h"
#include "capture/demoScene.h"
#include "capture/frameQueue.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <shared_mutex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// A non-live source that has not shown its first frame by then is stuck.
constexpr std::chrono::seconds startLimit{20};

// Frame rate given to image sequences, whose files carry none.
constexpr int sequenceRate = 30;

std::string oneLine(const std::string& text) {
    std::string line = text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::replace(line.begin(), line.end(), '\r', ' ');
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A readable regular file, or the reason it is not.
bool checkReadable(const std::string& path, std::string& error) {
    std::error_code failure;
    if (!fs::exists(fs::path(path), failure)) {
        error = "file not found: " + path;
        return false;
    }
    if (!fs::is_regular_file(fs::path(path), failure)) {
        error = "not a regular file: " + path;
        return false;
    }
    if (fs::file_size(fs::path(path), failure) == 0) {
        error = "empty file: " + path;
        return false;
    }
    std::ifstream probe(path, std::ios::binary);
    char byte = 0;
    if (!probe || !probe.read(&byte, 1)) {
        error = "cannot read file: " + path;
        return false;
    }
    return true;
}

GstElement* makeElement(const char* factory, std::string& error) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (element == nullptr)
        error = std::string("the GStreamer element ") + factory + " is not installed";
    return element;
}

} // namespace

struct imageSource::impl {
    // --- owning thread ---
    GstElement* pipeline = nullptr;
    GstElement* sink = nullptr;   // the appsink (own reference)
    GstElement* appsrc = nullptr; // the demo's appsrc (own reference)
    GstElement* convert = nullptr; // where decoded video pads are linked (no own reference)
    std::string what;             // the source as the user named it, for messages
    std::unique_ptr<demoScene> scene;
    demoOptions demo;

    // --- demo streaming thread only ---
    rgbaImage demoFrame;
    long long demoNext = 0;

    // --- shared, under stateMutex ---
    mutable std::mutex stateMutex;
    std::condition_variable stateChanged;
    bool valid = false;
    bool on = false;
    sourceKind kind = sourceKind::none;
    std::string errorText;
    std::string description;
    int width = 0;
    int height = 0;
    long long frameCount = -1;
    std::string cameraDevice;
    std::vector<videoMode> cameraModes;
    videoMode cameraMode;
    bool prerolled = false;
    bool busError = false;
    std::string busErrorText;
    bool videoLinked = false;
    long long framesPushed = 0; // frames handed to the queue in this stream
    std::atomic<bool> live{false};

    // --- the connected queue; streaming threads hold it shared while they deliver ---
    std::shared_mutex queueMutex;
    frameQueue* queue = nullptr;

    template <typename Action>
    void withQueue(Action action) {
        std::shared_lock<std::shared_mutex> lock(queueMutex);
        if (queue != nullptr)
            action(*queue);
    }

    // Streaming threads.
    void reportError(const std::string& text) {
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            if (!busError) {
                busError = true;
                busErrorText = text;
            }
        }
        stateChanged.notify_all();
        withQueue([&](frameQueue& q) { q.endStream(streamState::failed, text); });
    }

    void reportEnd() {
        std::string message = "end of stream";
        {
            // A sequence ends silently at a gap or an unreadable image.
            std::lock_guard<std::mutex> lock(stateMutex);
            if (kind == sourceKind::imageSequence && frameCount > 0 && framesPushed < frameCount)
                message += " after " + std::to_string(framesPushed) + " of " + std::to_string(frameCount) + " images";
        }
        withQueue([&](frameQueue& q) { q.endStream(streamState::ended, message); });
    }

    void reportPrerolled() {
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            prerolled = true;
        }
        stateChanged.notify_all();
    }

    void deliver(GstSample* sample);
    void pushDemoFrame();
    void linkDecodedPad(GstPad* pad);
    void decoderDone();

    // Owning thread.
    bool build(const sourceRequest& request, std::string& error);
    bool buildFile(const sourceRequest& request, std::string& error);
    bool buildSequence(const sourceRequest& request, std::string& error);
    bool buildPipeline(const sourceRequest& request, std::string& error);
    bool buildDemo(const sourceRequest& request, std::string& error);
    bool buildCamera(const std::string& device, const videoMode* chosen, std::string& error);
    bool finishPipeline(GstElement* appSink, bool setSinkCaps, bool sync, std::string& error);
    bool startPaused(std::string& error);
    bool readStreamInfo(std::string& error);
    bool applyState();
    void closePipeline();
};

// ---------------------------------------------------------------------------
// Callbacks from GStreamer's threads

namespace {

GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* self = static_cast<imageSource::impl*>(data);
    GstObject* from = GST_MESSAGE_SRC(message);
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        std::string text = self->what + ": ";
        // In a pipeline of the user's the failing element is worth naming.
        if (self->what == "pipeline" && from != nullptr && GST_OBJECT_NAME(from) != nullptr)
            text += std::string(GST_OBJECT_NAME(from)) + ": ";
        text += error != nullptr && error->message != nullptr ? error->message : "unknown GStreamer error";
        if (error != nullptr)
            g_error_free(error);
        g_free(debug);
        self->reportError(oneLine(text));
        break;
    }
    case GST_MESSAGE_EOS:
        if (from != nullptr && GST_IS_PIPELINE(from))
            self->reportEnd();
        break;
    case GST_MESSAGE_ASYNC_DONE:
        if (from != nullptr && GST_IS_PIPELINE(from))
            self->reportPrerolled();
        break;
    default:
        break;
    }
    // Nobody pops this bus: everything is handled here, so nothing piles up.
    return GST_BUS_DROP;
}

GstFlowReturn onNewSample(GstAppSink* sink, gpointer data) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample == nullptr)
        return GST_FLOW_OK;
    static_cast<imageSource::impl*>(data)->deliver(sample);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

void onNeedData(GstAppSrc*, guint, gpointer data) {
    static_cast<imageSource::impl*>(data)->pushDemoFrame();
}

void onPadAdded(GstElement*, GstPad* pad, gpointer data) {
    static_cast<imageSource::impl*>(data)->linkDecodedPad(pad);
}

void onNoMorePads(GstElement*, gpointer data) {
    static_cast<imageSource::impl*>(data)->decoderDone();
}

} // namespace

void imageSource::impl::deliver(GstSample* sample) {
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstVideoInfo info;
    if (caps == nullptr || buffer == nullptr || !gst_video_info_from_caps(&info, caps))
        return;
    if (GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGRx) {
        reportError(what + ": the pipeline delivers " +
                    gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info)) + " frames, not BGRx");
        return;
    }
    GstVideoFrame mapped;
    if (!gst_video_frame_map(&mapped, &info, buffer, GST_MAP_READ))
        return;
    const int frameWidth = GST_VIDEO_FRAME_WIDTH(&mapped);
    const int frameHeight = GST_VIDEO_FRAME_HEIGHT(&mapped);
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        width = frameWidth;
        height = frameHeight;
        ++framesPushed;
    }
    std::shared_lock<std::shared_mutex> lock(queueMutex);
    if (queue == nullptr) {
        gst_video_frame_unmap(&mapped);
        return;
    }
    rgbaImage frame = queue->takeSpare();
    frame.allocate(frameWidth, frameHeight);
    const auto* from = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0);
    for (int y = 0; y < frameHeight; ++y)
        std::memcpy(frame.row(y), from + static_cast<std::ptrdiff_t>(stride) * y, frame.rowBytes());
    gst_video_frame_unmap(&mapped);
    queue->pushBack(std::move(frame), live ? frameQueue::overflow::dropOldest : frameQueue::overflow::wait);
}

void imageSource::impl::pushDemoFrame() {
    if (demo.frameLimit >= 0 && demoNext >= demo.frameLimit) {
        gst_app_src_end_of_stream(GST_APP_SRC(appsrc));
        return;
    }
    scene->render(demoNext, demoFrame);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, demoFrame.byteCount(), nullptr);
    gst_buffer_fill(buffer, 0, demoFrame.pixels(), demoFrame.byteCount());
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(static_cast<guint64>(demoNext), GST_SECOND,
                                                   static_cast<guint64>(demo.framesPerSecond));
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(1, GST_SECOND, static_cast<guint64>(demo.framesPerSecond));
    GST_BUFFER_OFFSET(buffer) = static_cast<guint64>(demoNext);
    ++demoNext;
    gst_app_src_push_buffer(GST_APP_SRC(appsrc), buffer);
}

// A decoder exposed a stream: video goes to the converter (the first one
// only); everything else into a fakesink, so an unlinked audio stream cannot
// stop the demuxer.
void imageSource::impl::linkDecodedPad(GstPad* pad) {
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps == nullptr)
        caps = gst_pad_query_caps(pad, nullptr);
    const bool video = caps != nullptr && gst_caps_get_size(caps) > 0 &&
        g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/");
    if (caps != nullptr)
        gst_caps_unref(caps);
    if (video) {
        GstPad* target = gst_element_get_static_pad(convert, "sink");
        const bool linked = !gst_pad_is_linked(target) && GST_PAD_LINK_SUCCESSFUL(gst_pad_link(pad, target));
        gst_object_unref(target);
        if (linked) {
            std::lock_guard<std::mutex> lock(stateMutex);
            videoLinked = true;
            return;
        }
    }
    GstElement* discard = gst_element_factory_make("fakesink", nullptr);
    if (discard == nullptr)
        return;
    g_object_set(discard, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipeline), discard);
    gst_element_sync_state_with_parent(discard);
    GstPad* target = gst_element_get_static_pad(discard, "sink");
    gst_pad_link(pad, target);
    gst_object_unref(target);
}

void imageSource::impl::decoderDone() {
    bool linked = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        linked = videoLinked;
    }
    if (!linked)
        reportError(what + ": no video stream found");
}

// ---------------------------------------------------------------------------
// Building the pipelines (owning thread)

bool imageSource::impl::finishPipeline(GstElement* appSink, bool setSinkCaps, bool sync, std::string& error) {
    sink = GST_ELEMENT(gst_object_ref(appSink));
    if (setSinkCaps) {
        GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx");
        gst_app_sink_set_caps(GST_APP_SINK(sink), caps);
        gst_caps_unref(caps);
        g_object_set(sink, "sync", sync ? TRUE : FALSE, nullptr);
    }
    // Our own queue does the buffering; the appsink hands every frame over at once.
    g_object_set(sink, "emit-signals", FALSE, "max-buffers", 1u, "drop", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &onNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, &onBusMessage, this, nullptr);
    gst_object_unref(bus);
    (void)error;
    return true;
}

bool imageSource::impl::buildFile(const sourceRequest& request, std::string& error) {
    if (!request.path.empty() && !checkReadable(request.path, error))
        return false;
    pipeline = gst_pipeline_new("file");
    GstElement* decode = makeElement("uridecodebin", error);
    GstElement* converter = makeElement("videoconvert", error);
    GstElement* appSink = makeElement("appsink", error);
    if (decode == nullptr || converter == nullptr || appSink == nullptr) {
        for (GstElement* e : {decode, converter, appSink})
            if (e != nullptr)
                gst_object_unref(e);
        return false;
    }
    g_object_set(decode, "uri", request.uri.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline), decode, converter, appSink, nullptr);
    if (!gst_element_link(converter, appSink)) {
        error = what + ": cannot link the converter";
        return false;
    }
    convert = converter;
    g_signal_connect(decode, "pad-added", G_CALLBACK(onPadAdded), this);
    g_signal_connect(decode, "no-more-pads", G_CALLBACK(onNoMorePads), this);
    return finishPipeline(appSink, true, false, error);
}

bool imageSource::impl::buildSequence(const sourceRequest& request, std::string& error) {
    const long long first = firstSequenceIndex(request.path);
    if (first < 0) {
        error = "no image " + formatSequencePath(request.path, 0) + " or " + formatSequencePath(request.path, 1);
        return false;
    }
    const long long count = countSequenceFiles(request.path, first);
    // A first file that cannot be read would end the stream silently.
    if (!checkReadable(formatSequencePath(request.path, first), error))
        return false;

    const std::string lower = lowerCase(request.path);
    const char* decoderName = "decodebin";
    std::string sourceCaps;
    if (endsWith(lower, ".png")) {
        decoderName = "pngdec";
        sourceCaps = "image/png";
    } else if (endsWith(lower, ".jpg") || endsWith(lower, ".jpeg")) {
        decoderName = "jpegdec";
        sourceCaps = "image/jpeg";
    }
    pipeline = gst_pipeline_new("sequence");
    GstElement* files = makeElement("multifilesrc", error);
    GstElement* decoder = makeElement(decoderName, error);
    GstElement* converter = makeElement("videoconvert", error);
    GstElement* appSink = makeElement("appsink", error);
    if (files == nullptr || decoder == nullptr || converter == nullptr || appSink == nullptr) {
        for (GstElement* e : {files, decoder, converter, appSink})
            if (e != nullptr)
                gst_object_unref(e);
        return false;
    }
    g_object_set(files, "location", request.path.c_str(), "index", static_cast<gint>(first),
                 "stop-index", static_cast<gint>(first + count - 1), nullptr);
    if (!sourceCaps.empty()) {
        const std::string capsText = sourceCaps + ",framerate=" + std::to_string(sequenceRate) + "/1";
        GstCaps* caps = gst_caps_from_string(capsText.c_str());
        g_object_set(files, "caps", caps, nullptr);
        gst_caps_unref(caps);
    }
    gst_bin_add_many(GST_BIN(pipeline), files, decoder, converter, appSink, nullptr);
    bool linked = gst_element_link(files, decoder) && gst_element_link(converter, appSink);
    convert = converter;
    if (sourceCaps.empty()) {
        g_signal_connect(decoder, "pad-added", G_CALLBACK(onPadAdded), this);
    } else {
        linked = linked && gst_element_link(decoder, converter);
        std::lock_guard<std::mutex> lock(stateMutex);
        videoLinked = true;
    }
    if (!linked) {
        error = what + ": cannot link the decoder";
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        frameCount = count;
    }
    std::ostringstream text;
    text << "image sequence " << request.path << " from index " << first << " (" << count << " images)";
    description = text.str();
    return finishPipeline(appSink, true, false, error);
}

namespace {

// The first appsink inside `bin`, preferring one named "sink" (own reference).
GstElement* findAppSink(GstElement* bin) {
    if (!GST_IS_BIN(bin))
        return nullptr;
    GstElement* named = gst_bin_get_by_name(GST_BIN(bin), "sink");
    if (named != nullptr) {
        GstElementFactory* factory = gst_element_get_factory(named);
        if (factory != nullptr && std::strcmp(GST_OBJECT_NAME(factory), "appsink") == 0)
            return named;
        gst_object_unref(named);
    }
    GstElement* found = nullptr;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(bin));
    GValue item = G_VALUE_INIT;
    while (found == nullptr && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstElement* element = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* factory = gst_element_get_factory(element);
        if (factory != nullptr && std::strcmp(GST_OBJECT_NAME(factory), "appsink") == 0)
            found = GST_ELEMENT(gst_object_ref(element));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

GstElement* parseDescription(const std::string& description, std::string& error) {
    GError* failure = nullptr;
    GstElement* parsed = gst_parse_launch_full(description.c_str(), nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &failure);
    if (failure != nullptr) {
        error = oneLine(std::string("pipeline does not parse: ") + failure->message);
        g_error_free(failure);
        if (parsed != nullptr)
            gst_object_unref(parsed);
        return nullptr;
    }
    if (parsed == nullptr) {
        error = "pipeline does not parse";
        return nullptr;
    }
    if (!GST_IS_PIPELINE(parsed)) {
        GstElement* wrapper = gst_pipeline_new(nullptr);
        gst_bin_add(GST_BIN(wrapper), parsed);
        parsed = wrapper;
    }
    return parsed;
}

} // namespace

bool imageSource::impl::buildPipeline(const sourceRequest& request, std::string& error) {
    // Without an appsink of its own (it may end in caps, which cannot be
    // parsed alone) we convert and hand the frames over.
    const bool ours = request.pipeline.find("appsink") == std::string::npos;
    GstElement* parsed = parseDescription(
        ours ? request.pipeline + " ! videoconvert ! appsink name=sink" : request.pipeline, error);
    if (parsed == nullptr)
        return false;
    GstElement* appSink = findAppSink(parsed);
    pipeline = parsed;
    if (appSink == nullptr) {
        error = "pipeline has no appsink";
        return false;
    }
    // An appsink without caps of its own is told what we take.
    GstCaps* sinkCaps = gst_app_sink_get_caps(GST_APP_SINK(appSink));
    const bool setCaps = ours || sinkCaps == nullptr;
    if (sinkCaps != nullptr)
        gst_caps_unref(sinkCaps);
    if (setCaps && !ours) {
        GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx");
        gst_app_sink_set_caps(GST_APP_SINK(appSink), caps);
        gst_caps_unref(caps);
    }
    description = "pipeline " + request.pipeline;
    const bool result = finishPipeline(appSink, ours, false, error);
    gst_object_unref(appSink);
    return result;
}

bool imageSource::impl::buildDemo(const sourceRequest& request, std::string& error) {
    demo = request.demo;
    scene = std::make_unique<demoScene>(demo.width, demo.height);
    demoNext = 0;
    pipeline = gst_pipeline_new("demo");
    GstElement* source = makeElement("appsrc", error);
    GstElement* appSink = makeElement("appsink", error);
    if (source == nullptr || appSink == nullptr) {
        for (GstElement* e : {source, appSink})
            if (e != nullptr)
                gst_object_unref(e);
        return false;
    }
    const std::string capsText = "video/x-raw,format=BGRx,width=" + std::to_string(demo.width) +
        ",height=" + std::to_string(demo.height) + ",framerate=" + std::to_string(demo.framesPerSecond) + "/1";
    GstCaps* caps = gst_caps_from_string(capsText.c_str());
    const guint64 frameBytes = static_cast<guint64>(demo.width) * demo.height * 4;
    g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, "is-live", FALSE,
                 "max-bytes", 2 * frameBytes, "block", FALSE, nullptr);
    gst_caps_unref(caps);
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = &onNeedData;
    gst_app_src_set_callbacks(GST_APP_SRC(source), &callbacks, this, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, appSink, nullptr);
    if (!gst_element_link(source, appSink)) {
        error = "demo: cannot link the pipeline";
        return false;
    }
    appsrc = GST_ELEMENT(gst_object_ref(source));
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        width = demo.width;
        height = demo.height;
        frameCount = demo.frameLimit;
    }
    // Paced, the scene behaves like a camera: the clock sets the pace and a
    // slow consumer misses frames. Unpaced, it waits for the consumer.
    live = demo.paced;
    std::ostringstream text;
    text << "demo scene " << demo.width << 'x' << demo.height << ' '
         << (demo.paced ? "at " + std::to_string(demo.framesPerSecond) + " fps" : std::string("unpaced"));
    if (demo.frameLimit >= 0)
        text << ", " << demo.frameLimit << " frames";
    description = text.str();
    return finishPipeline(appSink, true, demo.paced, error);
}

bool imageSource::impl::buildCamera(const std::string& device, const videoMode* chosen, std::string& error) {
    // Find the camera: the first one, by device path, or by name.
    // Also for a device path: the monitor knows its name and modes.
    std::vector<probedCamera> cameras = probeCameras();
    const probedCamera* camera = nullptr;
    std::string path;
    std::string name;
    std::vector<videoMode> modes;
    if (device.empty()) {
        if (cameras.empty()) {
            error = "no camera found";
            return false;
        }
        camera = &cameras.front();
    } else if (device.compare(0, 5, "/dev/") == 0) {
        std::error_code failure;
        if (!fs::exists(fs::path(device), failure)) {
            error = "no camera at " + device;
            return false;
        }
        for (const probedCamera& c : cameras)
            if (c.info.devicePath == device)
                camera = &c;
        if (camera == nullptr) {
            path = device;
            name = device;
            modes = probeDeviceModes(device, error);
            if (modes.empty())
                return false;
        }
    } else {
        const std::string wanted = lowerCase(device);
        for (const probedCamera& c : cameras) {
            if (lowerCase(c.info.name).find(wanted) != std::string::npos) {
                camera = &c;
                break;
            }
        }
        if (camera == nullptr) {
            error = "no camera named \"" + device + "\"";
            return false;
        }
    }
    if (camera != nullptr) {
        path = camera->info.devicePath;
        name = camera->info.name;
        modes = camera->info.modes;
    }
    what = "camera " + name;
    bool found = false;
    videoMode mode = chooseCameraMode(modes, found);
    if (chosen != nullptr) {
        mode = *chosen;
        found = true;
    }
    if (!found) {
        error = "camera " + name + " offers no raw or MJPEG video";
        return false;
    }
    int outWidth = mode.width;
    int outHeight = mode.height;
    fitWithin(mode.width, mode.height, maxCaptureWidth, maxCaptureHeight, outWidth, outHeight);

    GstElement* source = nullptr;
    if (!path.empty()) {
        source = makeElement("v4l2src", error);
        if (source != nullptr)
            g_object_set(source, "device", path.c_str(), nullptr);
    } else if (camera != nullptr) {
        source = gst_device_create_element(camera->device, nullptr);
        if (source == nullptr)
            error = "cannot open camera " + name;
    }
    if (source == nullptr)
        return false;
    std::string rest = capsTextOf(mode) + (mode.mediaType == "image/jpeg" ? " ! jpegdec" : "") +
        " ! videoconvert ! videoscale ! video/x-raw,format=BGRx,width=" + std::to_string(outWidth) +
        ",height=" + std::to_string(outHeight) + " ! appsink name=sink";
    GError* failure = nullptr;
    GstElement* tail = gst_parse_bin_from_description_full(rest.c_str(), TRUE, nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &failure);
    if (failure != nullptr || tail == nullptr) {
        error = "camera " + name + ": " + (failure != nullptr ? failure->message : "cannot build the pipeline");
        if (failure != nullptr)
            g_error_free(failure);
        if (tail != nullptr)
            gst_object_unref(tail);
        gst_object_unref(source);
        return false;
    }
    pipeline = gst_pipeline_new("camera");
    gst_bin_add_many(GST_BIN(pipeline), source, tail, nullptr);
    if (!gst_element_link(source, tail)) {
        error = "camera " + name + " cannot deliver " + mode.describe();
        return false;
    }
    GstElement* appSink = gst_bin_get_by_name(GST_BIN(tail), "sink");
    live = true;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        width = outWidth;
        height = outHeight;
        frameCount = -1;
        cameraDevice = path.empty() ? name : path;
        cameraModes = usableModes(modes);
        cameraMode = mode;
    }
    description = "camera " + name + (path.empty() || path == name ? std::string() : " (" + path + ")") + ", " +
        mode.describe();
    if (outWidth != mode.width || outHeight != mode.height)
        description += ", scaled to " + std::to_string(outWidth) + "x" + std::to_string(outHeight);
    const bool result = finishPipeline(appSink, false, false, error);
    g_object_set(appSink, "sync", FALSE, nullptr);
    gst_object_unref(appSink);
    return result;
}

bool imageSource::impl::build(const sourceRequest& request, std::string& error) {
    // How messages name the source: short, without a whole pipeline text.
    what = request.kind == sourceKind::pipeline ? std::string("pipeline")
        : request.kind == sourceKind::demo      ? std::string("demo")
        : !request.path.empty()                 ? request.path
                                                : request.text;
    switch (request.kind) {
    case sourceKind::file:
        description = "file " + (request.path.empty() ? request.uri : request.path);
        return buildFile(request, error);
    case sourceKind::imageSequence:
        return buildSequence(request, error);
    case sourceKind::pipeline:
        return buildPipeline(request, error);
    case sourceKind::demo:
        return buildDemo(request, error);
    case sourceKind::camera:
        return buildCamera(request.device, nullptr, error);
    case sourceKind::none:
        break;
    }
    error = request.error.empty() ? "no source given" : request.error;
    return false;
}

// Takes the pipeline to PAUSED: a non-live one prerolls its first frame, so
// a bad input fails here, with the reason, instead of in the first wait.
bool imageSource::impl::startPaused(std::string& error) {
    const GstStateChangeReturn result = gst_element_set_state(pipeline, GST_STATE_PAUSED);
    auto busFailure = [&] {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (busError)
            error = busErrorText;
        return busError;
    };
    if (result == GST_STATE_CHANGE_FAILURE) {
        if (!busFailure())
            error = what + ": the pipeline could not start";
        return false;
    }
    if (result == GST_STATE_CHANGE_NO_PREROLL) {
        live = true;
        return !busFailure();
    }
    if (result == GST_STATE_CHANGE_ASYNC) {
        std::unique_lock<std::mutex> lock(stateMutex);
        const bool done = stateChanged.wait_for(lock, startLimit, [this] { return prerolled || busError; });
        if (busError) {
            error = busErrorText;
            return false;
        }
        if (!done) {
            error = what + ": no frame within " + std::to_string(startLimit.count()) + " seconds";
            return false;
        }
    }
    return !busFailure();
}

bool imageSource::impl::readStreamInfo(std::string& error) {
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    GstCaps* caps = pad != nullptr ? gst_pad_get_current_caps(pad) : nullptr;
    GstVideoInfo info;
    int fpsNum = 0;
    int fpsDen = 1;
    const bool known = caps != nullptr && gst_video_info_from_caps(&info, caps);
    if (known && GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGRx) {
        // A pipeline's own appsink that asks for another format.
        error = what + ": the pipeline delivers " + gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info)) +
            " frames, not BGRx";
        gst_caps_unref(caps);
        gst_object_unref(pad);
        return false;
    }
    if (known) {
        std::lock_guard<std::mutex> lock(stateMutex);
        width = GST_VIDEO_INFO_WIDTH(&info);
        height = GST_VIDEO_INFO_HEIGHT(&info);
        fpsNum = GST_VIDEO_INFO_FPS_N(&info);
        fpsDen = GST_VIDEO_INFO_FPS_D(&info);
    }
    if (caps != nullptr)
        gst_caps_unref(caps);
    if (pad != nullptr)
        gst_object_unref(pad);
    if (kind == sourceKind::file && fpsNum > 0 && fpsDen > 0) {
        gint64 duration = 0;
        if (gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration) && duration > 0) {
            const long long frames = static_cast<long long>(
                gst_util_uint64_scale_round(static_cast<guint64>(duration), static_cast<guint64>(fpsNum),
                                            static_cast<guint64>(fpsDen) * GST_SECOND));
            std::lock_guard<std::mutex> lock(stateMutex);
            frameCount = frames;
        }
    }
    return true;
}

void imageSource::impl::closePipeline() {
    if (pipeline == nullptr)
        return;
    // A streaming thread waiting for room in the queue must let go first.
    withQueue([](frameQueue& q) { q.setFlushing(true); });
    gst_element_set_state(pipeline, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    if (sink != nullptr)
        gst_object_unref(sink);
    if (appsrc != nullptr)
        gst_object_unref(appsrc);
    gst_object_unref(pipeline);
    pipeline = sink = appsrc = convert = nullptr;
    scene.reset();
    withQueue([](frameQueue& q) { q.setFlushing(false); });
    std::lock_guard<std::mutex> lock(stateMutex);
    valid = false;
    on = false;
    prerolled = false;
    busError = false;
    busErrorText.clear();
    videoLinked = false;
    framesPushed = 0;
}

// ---------------------------------------------------------------------------
// The public face

imageSource::imageSource() : impl_(std::make_unique<impl>()) {}

imageSource::imageSource(const std::string& text) : imageSource() {
    open(text);
}

imageSource::~imageSource() {
    close();
    std::unique_lock<std::shared_mutex> lock(impl_->queueMutex);
    if (impl_->queue != nullptr)
        impl_->queue->forgetSource();
    impl_->queue = nullptr;
}

bool imageSource::open(const std::string& text) {
    impl& self = *impl_;
    self.closePipeline();
    {
        std::lock_guard<std::mutex> lock(self.stateMutex);
        self.kind = sourceKind::none;
        self.errorText.clear();
        self.width = self.height = 0;
        self.frameCount = -1;
        self.cameraDevice.clear();
        self.cameraModes.clear();
        self.cameraMode = videoMode{};
    }
    self.description.clear();
    self.live = false;

    std::string error;
    const sourceRequest request = parseSourceText(text);
    bool ok = request.kind != sourceKind::none;
    if (!ok)
        error = request.error.empty() ? "no source given" : request.error;
    else if (!initCaptureLibrary(&error))
        ok = false;
    if (ok) {
        {
            std::lock_guard<std::mutex> lock(self.stateMutex);
            self.kind = request.kind;
        }
        // A new stream for the connected queue; errors while starting end it.
        self.withQueue([](frameQueue& q) { q.restart(); });
        ok = self.build(request, error) && self.startPaused(error) && self.readStreamInfo(error);
    }
    if (ok) {
        std::lock_guard<std::mutex> lock(self.stateMutex);
        self.valid = true;
        if (self.kind == sourceKind::file && self.width > 0) {
            self.description += " (" + std::to_string(self.width) + "x" + std::to_string(self.height);
            if (self.frameCount >= 0)
                self.description += ", " + std::to_string(self.frameCount) + " frames";
            self.description += ")";
        }
        return true;
    }
    self.closePipeline();
    self.description.clear();
    {
        std::lock_guard<std::mutex> lock(self.stateMutex);
        self.kind = sourceKind::none;
        self.errorText = oneLine(error);
    }
    self.withQueue([&](frameQueue& q) { q.endStream(streamState::failed, self.errorText); });
    return false;
}

bool imageSource::openCamera(const std::string& device, const videoMode& mode) {
    impl& self = *impl_;
    if (!initCaptureLibrary(&self.errorText))
        return false;
    const bool wasOn = isOn();
    const bool hadCamera = isValid() && kind() == sourceKind::camera;
    const std::string oldDevice = self.cameraDevice;
    const videoMode oldMode = self.cameraMode;
    // The device can be open only once: the old pipeline goes first.
    self.closePipeline();
    self.withQueue([](frameQueue& q) { q.restart(); });
    auto attempt = [&](const std::string& which, const videoMode& how, std::string& error) {
        {
            std::lock_guard<std::mutex> lock(self.stateMutex);
            self.kind = sourceKind::camera;
        }
        self.what = which;
        const bool ok = self.buildCamera(which, &how, error) && self.startPaused(error);
        if (!ok)
            self.closePipeline();
        return ok;
    };
    std::string error;
    bool ok = attempt(device, mode, error);
    std::string reopenError;
    const bool restored = !ok && hadCamera && attempt(oldDevice, oldMode, reopenError);
    {
        std::lock_guard<std::mutex> lock(self.stateMutex);
        self.valid = ok || restored;
        if (!self.valid)
            self.kind = sourceKind::none;
        self.errorText = ok ? std::string() : oneLine(error);
    }
    if (!self.valid) {
        self.withQueue([&](frameQueue& q) { q.endStream(streamState::failed, self.errorText); });
        return false;
    }
    if (wasOn)
        setOn(true);
    return ok;
}

void imageSource::close() {
    const bool wasValid = isValid();
    impl_->closePipeline();
    {
        std::lock_guard<std::mutex> lock(impl_->stateMutex);
        impl_->kind = sourceKind::none;
    }
    if (wasValid)
        impl_->withQueue([](frameQueue& q) { q.endStream(streamState::ended, "the source was closed"); });
}

bool imageSource::isValid() const {
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->valid;
}

const std::string& imageSource::errorText() const {
    return impl_->errorText;
}

const std::string& imageSource::description() const {
    return impl_->description;
}

sourceKind imageSource::kind() const {
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->kind;
}

bool imageSource::isLive() const {
    return impl_->live;
}

// Frames flow while the source is on and a queue takes them: switched on
// before its queue is connected (start-up order), a file or sequence would
// otherwise run ahead and lose its first frames.
bool imageSource::impl::applyState() {
    if (pipeline == nullptr)
        return false;
    bool flowing = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        flowing = on;
    }
    {
        std::shared_lock<std::shared_mutex> lock(queueMutex);
        flowing = flowing && queue != nullptr;
        // The streaming thread must not sit in the queue while the sink pauses.
        if (queue != nullptr)
            queue->setWaitAllowed(flowing);
    }
    return gst_element_set_state(pipeline, flowing ? GST_STATE_PLAYING : GST_STATE_PAUSED) !=
        GST_STATE_CHANGE_FAILURE;
}

bool imageSource::setOn(bool on) {
    impl& self = *impl_;
    if (!isValid() || self.pipeline == nullptr)
        return false;
    bool before = false;
    {
        std::lock_guard<std::mutex> lock(self.stateMutex);
        before = self.on;
        self.on = on;
    }
    if (self.applyState())
        return true;
    std::lock_guard<std::mutex> lock(self.stateMutex);
    self.on = before;
    return false;
}

bool imageSource::isOn() const {
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->on;
}

bool imageSource::videoSize(int& width, int& height) const {
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    if (impl_->width <= 0 || impl_->height <= 0)
        return false;
    width = impl_->width;
    height = impl_->height;
    return true;
}

long long imageSource::knownFrameCount() const {
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->frameCount;
}

const std::string& imageSource::cameraDevice() const {
    return impl_->cameraDevice;
}

const std::vector<videoMode>& imageSource::cameraModes() const {
    return impl_->cameraModes;
}

const videoMode& imageSource::cameraMode() const {
    return impl_->cameraMode;
}

void imageSource::attachQueue(frameQueue* queue) {
    impl& self = *impl_;
    frameQueue* old = nullptr;
    {
        std::shared_lock<std::shared_mutex> lock(self.queueMutex);
        old = self.queue;
    }
    if (old != nullptr && old != queue)
        old->setFlushing(true); // a delivery waiting in the old queue lets go
    {
        std::unique_lock<std::shared_mutex> lock(self.queueMutex);
        self.queue = queue;
    }
    if (old != nullptr && old != queue)
        old->setFlushing(false);
    if (isValid())
        self.applyState();
}
