#include "capture/listSources.h"

#include "capture/cameraProbe.h"

#include <sstream>

std::vector<cameraInfo> listCameras() {
    std::vector<cameraInfo> cameras;
    for (probedCamera& camera : probeCameras())
        cameras.push_back(std::move(camera.info));
    return cameras;
}

std::string describeSources(const std::vector<cameraInfo>& cameras) {
    std::ostringstream text;
    if (cameras.empty()) {
        text << "No camera found\n";
    } else {
        text << "Cameras:\n";
        for (const cameraInfo& camera : cameras) {
            text << "  " << camera.name;
            if (!camera.devicePath.empty())
                text << "  (" << camera.devicePath << ")";
            text << '\n';
            const std::vector<videoMode> usable = camera.usable();
            if (usable.empty()) {
                text << "    no size within " << maxCaptureWidth << 'x' << maxCaptureHeight
                     << ": frames are scaled down\n";
            }
            for (const videoMode& mode : usable)
                text << "    " << mode.describe() << '\n';
        }
    }
    text << "Other sources:\n"
         << "  camera              the first camera\n"
         << "  /dev/videoN         a camera by device path\n"
         << "  NAME                a camera by (part of) its name\n"
         << "  FILE or URI         a video or image file, decoded by GStreamer\n"
         << "  DIR/%05d.png        a numbered image sequence, first index 0 or 1\n"
         << "  'A ! B ! appsink name=sink'  a GStreamer pipeline\n"
         << "  demo[:unpaced][:frames=N]    the built-in synthetic scene\n";
    return text.str();
}
