#include "capture/cameraProbe.h"

#include "capture/captureLibrary.h"

#include <algorithm>
#include <utility>

namespace {

void addRates(const GstStructure* s, videoMode mode, std::vector<videoMode>& modes) {
    const GValue* rate = gst_structure_get_value(s, "framerate");
    auto addRate = [&](int num, int den) {
        mode.rateNumerator = num;
        mode.rateDenominator = den > 0 ? den : 1;
        modes.push_back(mode);
    };
    if (rate == nullptr) {
        addRate(0, 1);
    } else if (GST_VALUE_HOLDS_FRACTION(rate)) {
        addRate(gst_value_get_fraction_numerator(rate), gst_value_get_fraction_denominator(rate));
    } else if (GST_VALUE_HOLDS_LIST(rate)) {
        for (guint i = 0; i < gst_value_list_get_size(rate); ++i) {
            const GValue* one = gst_value_list_get_value(rate, i);
            if (GST_VALUE_HOLDS_FRACTION(one))
                addRate(gst_value_get_fraction_numerator(one), gst_value_get_fraction_denominator(one));
        }
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(rate)) {
        const GValue* top = gst_value_get_fraction_range_max(rate);
        addRate(gst_value_get_fraction_numerator(top), gst_value_get_fraction_denominator(top));
    } else {
        addRate(0, 1);
    }
}

// Sizes a width or height field allows: the fixed value, every list entry,
// or for a range both ends and the preferred value when inside.
std::vector<int> sizesOf(const GValue* value, int preferred, int limit) {
    std::vector<int> sizes;
    if (value == nullptr)
        return sizes;
    if (G_VALUE_HOLDS_INT(value)) {
        sizes.push_back(g_value_get_int(value));
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            const GValue* one = gst_value_list_get_value(value, i);
            if (G_VALUE_HOLDS_INT(one))
                sizes.push_back(g_value_get_int(one));
        }
    } else if (GST_VALUE_HOLDS_INT_RANGE(value)) {
        const int low = gst_value_get_int_range_min(value);
        const int high = gst_value_get_int_range_max(value);
        sizes.push_back(low);
        if (preferred > low && preferred < high)
            sizes.push_back(preferred);
        if (limit > low && limit < high)
            sizes.push_back(limit);
        sizes.push_back(high);
    }
    return sizes;
}

} // namespace

std::vector<videoMode> modesFromCaps(const GstCaps* caps) {
    std::vector<videoMode> modes;
    if (caps == nullptr || gst_caps_is_any(caps))
        return modes;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        const std::string media = gst_structure_get_name(s);
        if (media != "video/x-raw" && media != "image/jpeg")
            continue;
        // Only plain system-memory frames can be converted here.
        GstCapsFeatures* features = gst_caps_get_features(caps, i);
        if (features != nullptr && !gst_caps_features_is_any(features) &&
            !gst_caps_features_contains(features, GST_CAPS_FEATURE_MEMORY_SYSTEM_MEMORY))
            continue;
        videoMode mode;
        mode.mediaType = media;
        if (media == "video/x-raw") {
            const GValue* format = gst_structure_get_value(s, "format");
            if (format == nullptr || !G_VALUE_HOLDS_STRING(format))
                continue; // lists of formats: the device offers each separately
            mode.format = g_value_get_string(format);
        }
        const std::vector<int> widths = sizesOf(gst_structure_get_value(s, "width"), 640, maxCaptureWidth);
        const std::vector<int> heights = sizesOf(gst_structure_get_value(s, "height"), 480, maxCaptureHeight);
        if (widths.size() == 1 && heights.size() == 1) {
            mode.width = widths[0];
            mode.height = heights[0];
            addRates(s, mode, modes);
            continue;
        }
        // Ranges: pair the ends, and 640x480 when both ranges allow it.
        for (std::size_t k = 0; k < std::min(widths.size(), heights.size()); ++k) {
            mode.width = widths[k];
            mode.height = heights[k];
            addRates(s, mode, modes);
        }
    }
    // Each mode once.
    std::vector<videoMode> unique;
    for (const videoMode& mode : modes) {
        if (mode.width > 0 && mode.height > 0 && std::find(unique.begin(), unique.end(), mode) == unique.end())
            unique.push_back(mode);
    }
    return unique;
}

std::string capsTextOf(const videoMode& mode) {
    std::string text = mode.mediaType.empty() ? std::string("video/x-raw") : mode.mediaType;
    if (!mode.format.empty())
        text += ",format=" + mode.format;
    text += ",width=" + std::to_string(mode.width) + ",height=" + std::to_string(mode.height);
    if (mode.rateNumerator > 0)
        text += ",framerate=" + std::to_string(mode.rateNumerator) + "/" + std::to_string(mode.rateDenominator);
    return text;
}

probedCamera::probedCamera(probedCamera&& other) noexcept
    : info(std::move(other.info)), device(std::exchange(other.device, nullptr)) {}

probedCamera& probedCamera::operator=(probedCamera&& other) noexcept {
    if (this != &other) {
        if (device != nullptr)
            gst_object_unref(device);
        info = std::move(other.info);
        device = std::exchange(other.device, nullptr);
    }
    return *this;
}

probedCamera::~probedCamera() {
    if (device != nullptr)
        gst_object_unref(device);
}

namespace {

std::string devicePathOf(GstDevice* device) {
    GstStructure* properties = gst_device_get_properties(device);
    std::string path;
    if (properties != nullptr) {
        for (const char* key : {"device.path", "api.v4l2.path", "object.path"}) {
            const gchar* value = gst_structure_get_string(properties, key);
            if (value != nullptr && g_str_has_prefix(value, "/dev/")) {
                path = value;
                break;
            }
        }
        gst_structure_free(properties);
    }
    return path;
}

} // namespace

std::vector<probedCamera> probeCameras() {
    std::vector<probedCamera> cameras;
    if (!initCaptureLibrary())
        return cameras;
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    GstCaps* wanted = gst_caps_from_string("video/x-raw; image/jpeg");
    gst_device_monitor_add_filter(monitor, "Video/Source", wanted);
    gst_caps_unref(wanted);
    if (gst_device_monitor_start(monitor)) {
        GList* devices = gst_device_monitor_get_devices(monitor);
        for (GList* entry = devices; entry != nullptr; entry = entry->next) {
            GstDevice* device = GST_DEVICE(entry->data);
            probedCamera camera;
            gchar* name = gst_device_get_display_name(device);
            camera.info.name = name != nullptr ? name : "camera";
            g_free(name);
            camera.info.devicePath = devicePathOf(device);
            GstCaps* caps = gst_device_get_caps(device);
            camera.info.modes = modesFromCaps(caps);
            if (caps != nullptr)
                gst_caps_unref(caps);
            camera.device = GST_DEVICE(gst_object_ref(device));
            // The same camera can be seen by two providers (V4L2 and PipeWire): keep the first.
            const bool seen = !camera.info.devicePath.empty() &&
                std::any_of(cameras.begin(), cameras.end(), [&](const probedCamera& c) {
                    return c.info.devicePath == camera.info.devicePath;
                });
            if (!seen)
                cameras.push_back(std::move(camera));
        }
        g_list_free_full(devices, gst_object_unref);
        gst_device_monitor_stop(monitor);
    }
    gst_object_unref(monitor);
    return cameras;
}

std::vector<videoMode> probeDeviceModes(const std::string& devicePath, std::string& error) {
    std::vector<videoMode> modes;
    if (!initCaptureLibrary(&error))
        return modes;
    GstElement* source = gst_element_factory_make("v4l2src", nullptr);
    if (source == nullptr) {
        error = "the v4l2src element is not installed";
        return modes;
    }
    g_object_set(source, "device", devicePath.c_str(), nullptr);
    if (gst_element_set_state(source, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        error = "cannot open camera " + devicePath;
    } else {
        GstPad* pad = gst_element_get_static_pad(source, "src");
        GstCaps* caps = gst_pad_query_caps(pad, nullptr);
        modes = modesFromCaps(caps);
        gst_caps_unref(caps);
        gst_object_unref(pad);
        if (modes.empty())
            error = "camera " + devicePath + " offers no raw or MJPEG video";
    }
    gst_element_set_state(source, GST_STATE_NULL);
    gst_object_unref(source);
    return modes;
}
