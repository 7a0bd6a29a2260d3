#pragma once
// The cameras GStreamer can see (for `vorn --list-sources` and the shell's
// Source dialog). Safe to call from any thread; takes up to a second while
// the device providers probe.

#include "capture/sourceRequest.h"

#include <string>
#include <vector>

struct cameraInfo {
    std::string name;             // the device's display name
    std::string devicePath;       // e.g. /dev/video0; empty when the provider has none
    std::vector<videoMode> modes; // everything the camera offers
    std::vector<videoMode> usable() const { return usableModes(modes); }
};

std::vector<cameraInfo> listCameras();

// The text `vorn --list-sources` prints: one line per camera with its path
// and usable sizes, then the other source forms; "No camera found" when none.
std::string describeSources(const std::vector<cameraInfo>& cameras);
