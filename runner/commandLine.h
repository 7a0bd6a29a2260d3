#pragma once
// The program's command line, shared by the desktop window and the headless
// runner: parsed once into plain data, checked, and handed to whichever runs.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "messaging/channelOptions.h"

struct visionSettingsRecord;

struct commandLineOptions {
    bool headless = false;        // --headless: no window, frames from --source
    std::string source;           // --source: empty means the first camera
    std::optional<std::uint64_t> frameLimit; // --frames: stop after this many processed frames
    std::string recordPath;       // --record: annotated frames to a video file or a %d pattern
    bool printMessages = false;   // --print-messages: each message as one line on stdout
    std::string socketPath;       // --socket: the local receiver's socket; empty = default
    std::string broadcastAddress; // --broadcast: fallback address; empty = default
    std::optional<int> port;      // --port: fallback UDP port
    // Switches applied after emotion.cfg was loaded; unset keeps the loaded value.
    std::optional<bool> emotionsOn;
    std::optional<bool> drawBox;
    std::optional<bool> drawCross;
    std::optional<bool> drawBinary;
    bool reportLatency = false;   // --latency: per-frame latency summary at the end
    bool listSources = false;     // --list-sources
    bool help = false;            // --help
    bool version = false;         // --version
};

struct commandLineParse {
    commandLineOptions options;
    bool ok = true;
    std::string error; // one line, without the program name, when !ok
};

// Accepts "--name value" and "--name=value". Unknown options, missing or bad
// values and stray arguments make ok false with a one-line reason.
commandLineParse parseCommandLine(const std::vector<std::string>& arguments);
commandLineParse parseCommandLine(int argc, const char* const* argv);

// The text of --help, every option on its own line.
std::string commandLineUsage(const std::string& programName);

// The text of --version.
std::string versionText();

// Applies the overlay and emotion switches that were given; the rest of the
// record is left as loaded.
void applySettingOverrides(const commandLineOptions& options, visionSettingsRecord& settings);

// The result channel's options: built-in defaults, then the VORN_SOCKET,
// VORN_BROADCAST_ADDRESS and VORN_BROADCAST_PORT environment (a bad value
// there ends the process, as the channel does), then --socket, --broadcast
// and --port.
channelOptions messageChannelOptions(const commandLineOptions& options);
