#include "runner/commandLine.h"

#include <charconv>
#include <functional>
#include <map>
#include <sstream>
#include <string_view>

#include "messaging/channelOptions.h"
#include "settings/visionSettings.h"

#ifndef VORN_VERSION
#define VORN_VERSION "1.0.0"
#endif

namespace {

// Whole-string unsigned decimal; rejects signs, blanks and trailing text.
template <typename T>
bool parseUnsigned(const std::string& text, T& value) {
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

using valueSetter = std::function<std::string(commandLineOptions&, const std::string&)>;
using flagSetter = std::function<void(commandLineOptions&)>;

// The channel's own checks, so a bad value is refused before anything starts.
// Empty when `value` is fine for the channel option `name`, else the reason,
// led by the command-line option as the user knows it.
std::string channelProblem(std::string_view name, const std::string& value, const char* option) {
    channelOptions probe;
    std::string why;
    if (setChannelOption(probe, name, value, why))
        return {};
    return std::string(option) + ": " + why;
}

std::string setBroadcastAddress(commandLineOptions& o, const std::string& v) {
    std::string problem = channelProblem("broadcast-address", v, "--broadcast");
    if (problem.empty())
        o.broadcastAddress = v;
    return problem;
}

std::string setBroadcastPort(commandLineOptions& o, const std::string& v) {
    std::string problem = channelProblem("broadcast-port", v, "--port");
    if (problem.empty())
        o.port = std::stoi(v);
    return problem;
}

const std::map<std::string, valueSetter>& valueOptions() {
    static const std::map<std::string, valueSetter> table = {
        {"--source", [](commandLineOptions& o, const std::string& v) -> std::string {
             if (v.empty())
                 return "--source needs a non-empty value";
             o.source = v;
             return {};
         }},
        {"--frames", [](commandLineOptions& o, const std::string& v) -> std::string {
             std::uint64_t n = 0;
             if (!parseUnsigned(v, n) || n == 0)
                 return "--frames needs a positive whole number, got '" + v + "'";
             o.frameLimit = n;
             return {};
         }},
        {"--record", [](commandLineOptions& o, const std::string& v) -> std::string {
             if (v.empty())
                 return "--record needs a file name";
             o.recordPath = v;
             return {};
         }},
        {"--socket", [](commandLineOptions& o, const std::string& v) -> std::string {
             std::string problem = channelProblem("socket", v, "--socket");
             if (problem.empty())
                 o.socketPath = v;
             return problem;
         }},
        {"--broadcast", setBroadcastAddress},
        {"--broadcast-address", setBroadcastAddress},
        {"--port", setBroadcastPort},
        {"--broadcast-port", setBroadcastPort},
    };
    return table;
}

const std::map<std::string, flagSetter>& flagOptions() {
    static const std::map<std::string, flagSetter> table = {
        {"--headless", [](commandLineOptions& o) { o.headless = true; }},
        {"--print-messages", [](commandLineOptions& o) { o.printMessages = true; }},
        {"--emotions", [](commandLineOptions& o) { o.emotionsOn = true; }},
        {"--no-emotions", [](commandLineOptions& o) { o.emotionsOn = false; }},
        {"--draw-box", [](commandLineOptions& o) { o.drawBox = true; }},
        {"--no-box", [](commandLineOptions& o) { o.drawBox = false; }},
        {"--draw-cross", [](commandLineOptions& o) { o.drawCross = true; }},
        {"--no-cross", [](commandLineOptions& o) { o.drawCross = false; }},
        {"--draw-binary", [](commandLineOptions& o) { o.drawBinary = true; }},
        {"--no-binary", [](commandLineOptions& o) { o.drawBinary = false; }},
        {"--latency", [](commandLineOptions& o) { o.reportLatency = true; }},
        {"--list-sources", [](commandLineOptions& o) { o.listSources = true; }},
        {"--help", [](commandLineOptions& o) { o.help = true; }},
        {"-h", [](commandLineOptions& o) { o.help = true; }},
        {"--version", [](commandLineOptions& o) { o.version = true; }},
    };
    return table;
}

} // namespace

commandLineParse parseCommandLine(const std::vector<std::string>& arguments) {
    commandLineParse result;
    auto fail = [&result](std::string why) {
        result.ok = false;
        result.error = std::move(why);
        return result;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string name = argument;
        std::optional<std::string> inlineValue;
        if (argument.rfind("--", 0) == 0) {
            const auto equals = argument.find('=');
            if (equals != std::string::npos) {
                name = argument.substr(0, equals);
                inlineValue = argument.substr(equals + 1);
            }
        }
        if (auto flag = flagOptions().find(name); flag != flagOptions().end()) {
            if (inlineValue)
                return fail(name + " takes no value");
            flag->second(result.options);
            continue;
        }
        auto option = valueOptions().find(name);
        if (option == valueOptions().end()) {
            if (argument.empty() || argument[0] != '-')
                return fail("unexpected argument '" + argument + "'");
            return fail("unknown option '" + name + "' (see --help)");
        }
        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else {
            if (i + 1 >= arguments.size())
                return fail(name + " needs a value");
            value = arguments[++i];
        }
        if (std::string why = option->second(result.options, value); !why.empty())
            return fail(why);
    }
    return result;
}

commandLineParse parseCommandLine(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    return parseCommandLine(arguments);
}

std::string commandLineUsage(const std::string& programName) {
    std::ostringstream out;
    out << "Usage: " << programName << " [options]\n"
        << "Talvenor Vision System front end: watches a camera, finds the target and sends\n"
        << "one gaze and emotion message per processed frame.\n"
        << "\n"
        << "Options:\n"
        << "  --headless            run without a window; needs no display\n"
        << "  --source SRC          image source (default: the first camera):\n"
        << "                          camera | /dev/videoN | NAME    a camera\n"
        << "                          demo[:unpaced][:frames=N]      the built-in demo scene\n"
        << "                          FILE or URI                    a video or image file\n"
        << "                          DIR/frame%05d.png              a numbered image sequence\n"
        << "                          \"videotestsrc ! ...\"           a GStreamer pipeline\n"
        << "                        files and sequences: every frame, as fast as possible;\n"
        << "                        live sources: always the newest frame, others dropped\n"
        << "  --frames N            stop after N processed frames\n"
        << "  --record OUT          record the annotated frames: a name with a %d pattern\n"
        << "                        (frame%05d.png) writes lossless PNGs, otherwise a video\n"
        << "                        chosen by extension: .webm/.mkv (VP8), .avi (MJPEG),\n"
        << "                        .ogv (Theora)\n"
        << "  --print-messages      write every message sent as one line to standard output\n"
        << "  --socket PATH         Unix datagram socket of the receiver on this machine\n"
        << "                        (default $VORN_SOCKET, else $XDG_RUNTIME_DIR/kelvat,\n"
        << "                        else /tmp/vorn-<uid>/kelvat)\n"
        << "  --broadcast ADDR      numeric IPv4 address of the UDP fallback used when no local\n"
        << "                        receiver listens (default $VORN_BROADCAST_ADDRESS, else\n"
        << "                        255.255.255.255); also --broadcast-address\n"
        << "  --port N              UDP port of the fallback (default $VORN_BROADCAST_PORT, else\n"
        << "                        47474); also --broadcast-port\n"
        << "  --emotions, --no-emotions       estimate emotions (default on)\n"
        << "  --draw-box, --no-box            boxes around the objects (default on)\n"
        << "  --draw-cross, --no-cross        crosses on the objects (default off)\n"
        << "  --draw-binary, --no-binary      model state and foreground mask (default off)\n"
        << "  --latency             at the end, print the median and 99th percentile of the\n"
        << "                        time from a frame leaving the queue to its message\n"
        << "  --list-sources        list the cameras (name and device) and exit\n"
        << "  -h, --help            show this help and exit\n"
        << "  --version             show the version and exit\n"
        << "\n"
        << "The emotion levels and the minimum object size are read from emotion.cfg in the\n"
        << "working directory at start and written back at a normal end (also after Ctrl-C).\n"
        << "Exit status: 0 after a normal end, 1 after an error.\n";
    return out.str();
}

std::string versionText() {
    return std::string("vorn ") + VORN_VERSION + "\n";
}

void applySettingOverrides(const commandLineOptions& options, visionSettingsRecord& settings) {
    if (options.emotionsOn)
        settings.emotionsOn = *options.emotionsOn;
    if (options.drawBox)
        settings.drawBox = *options.drawBox;
    if (options.drawCross)
        settings.drawCross = *options.drawCross;
    if (options.drawBinary)
        settings.drawBinary = *options.drawBinary;
}

channelOptions messageChannelOptions(const commandLineOptions& options) {
    channelOptions channel = channelOptionsFromEnvironment();
    std::string ignored; // every value was checked while parsing
    if (!options.socketPath.empty())
        setChannelOption(channel, "socket", options.socketPath, ignored);
    if (!options.broadcastAddress.empty())
        setChannelOption(channel, "broadcast-address", options.broadcastAddress, ignored);
    if (options.port)
        setChannelOption(channel, "broadcast-port", std::to_string(*options.port), ignored);
    return channel;
}
