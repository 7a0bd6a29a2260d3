#include "capture/captureLibrary.h"

#include <gst/gst.h>

#include <mutex>

bool initCaptureLibrary(std::string* error) {
    static std::once_flag once;
    static bool ready = false;
    static std::string reason;
    std::call_once(once, [] {
        GError* failure = nullptr;
        ready = gst_init_check(nullptr, nullptr, &failure);
        if (!ready) {
            reason = failure != nullptr && failure->message != nullptr
                ? failure->message : "GStreamer could not be initialised";
        }
        if (failure != nullptr)
            g_error_free(failure);
    });
    if (!ready && error != nullptr)
        *error = reason;
    return ready;
}
