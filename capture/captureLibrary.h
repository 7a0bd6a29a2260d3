#pragma once
// GStreamer is initialised once per process, on first use, by whichever
// thread gets there first. Every capture unit calls this before it touches
// GStreamer; callers never need to.

#include <string>

// True when GStreamer is usable; otherwise false with the reason in `error`.
bool initCaptureLibrary(std::string* error = nullptr);
