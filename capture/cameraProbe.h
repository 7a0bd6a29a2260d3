#pragma once
// Inside the capture layer only (it shows GStreamer types): finding cameras
// with GstDeviceMonitor and reading the modes a camera offers from its caps.

#include "capture/listSources.h"

#include <gst/gst.h>

#include <string>
#include <vector>

// The modes in `caps` that the capture pipeline can take (raw video and
// MJPEG); size ranges give 640x480 and the largest size within the grid.
std::vector<videoMode> modesFromCaps(const GstCaps* caps);
// Caps text for one mode, e.g. "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1".
std::string capsTextOf(const videoMode& mode);

// A camera and the device object that makes its element (owned reference).
struct probedCamera {
    cameraInfo info;
    GstDevice* device = nullptr;
    probedCamera() = default;
    probedCamera(const probedCamera&) = delete;
    probedCamera& operator=(const probedCamera&) = delete;
    probedCamera(probedCamera&& other) noexcept;
    probedCamera& operator=(probedCamera&& other) noexcept;
    ~probedCamera();
};

std::vector<probedCamera> probeCameras();

// Modes of a V4L2 device path, read from the device itself (for paths the
// device monitor does not list). Empty when the device cannot be opened.
std::vector<videoMode> probeDeviceModes(const std::string& devicePath, std::string& error);
