#include "runner/commandLine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "settings/visionSettings.h"

namespace {

commandLineParse parse(std::vector<std::string> arguments) {
    return parseCommandLine(arguments);
}

TEST(CommandLine, NoArgumentsGiveTheDesktopDefaults) {
    const commandLineParse r = parse({});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(r.options.headless);
    EXPECT_TRUE(r.options.source.empty());
    EXPECT_FALSE(r.options.frameLimit.has_value());
    EXPECT_TRUE(r.options.recordPath.empty());
    EXPECT_FALSE(r.options.printMessages);
    EXPECT_FALSE(r.options.emotionsOn.has_value());
    EXPECT_FALSE(r.options.drawBox.has_value());
    EXPECT_FALSE(r.options.port.has_value());
}

TEST(CommandLine, EveryValueOptionInBothSpellings) {
    for (const bool joined : {false, true}) {
        std::vector<std::string> args;
        auto add = [&](const std::string& name, const std::string& value) {
            if (joined) {
                args.push_back(name + "=" + value);
            } else {
                args.push_back(name);
                args.push_back(value);
            }
        };
        args.push_back("--headless");
        add("--source", "frames/f%05d.png");
        add("--frames", "150");
        add("--record", "out/frame%05d.png");
        add("--socket", "/tmp/x/kelvat");
        add("--broadcast", "127.0.0.1");
        add("--port", "50001");
        const commandLineParse r = parse(args);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_TRUE(r.options.headless);
        EXPECT_EQ(r.options.source, "frames/f%05d.png");
        ASSERT_TRUE(r.options.frameLimit.has_value());
        EXPECT_EQ(*r.options.frameLimit, 150u);
        EXPECT_EQ(r.options.recordPath, "out/frame%05d.png");
        EXPECT_EQ(r.options.socketPath, "/tmp/x/kelvat");
        EXPECT_EQ(r.options.broadcastAddress, "127.0.0.1");
        ASSERT_TRUE(r.options.port.has_value());
        EXPECT_EQ(*r.options.port, 50001);
    }
}

TEST(CommandLine, SourceValueMayContainBlanksAndEquals) {
    const commandLineParse r = parse({"--source", "videotestsrc num-buffers=10 ! videoconvert"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.source, "videotestsrc num-buffers=10 ! videoconvert");
    const commandLineParse joined = parse({"--source=videotestsrc pattern=ball ! videoconvert"});
    ASSERT_TRUE(joined.ok) << joined.error;
    EXPECT_EQ(joined.options.source, "videotestsrc pattern=ball ! videoconvert");
}

TEST(CommandLine, LongNamesOfTheChannelOptionsAreAccepted) {
    const commandLineParse r = parse({"--broadcast-address", "127.0.0.2", "--broadcast-port", "4000"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.broadcastAddress, "127.0.0.2");
    EXPECT_EQ(*r.options.port, 4000);
}

TEST(CommandLine, SwitchesLastOneWins) {
    struct switchCase {
        std::vector<std::string> args;
        std::optional<bool> commandLineOptions::*field;
        bool expected;
    };
    const std::vector<switchCase> cases = {
        {{"--no-emotions"}, &commandLineOptions::emotionsOn, false},
        {{"--no-emotions", "--emotions"}, &commandLineOptions::emotionsOn, true},
        {{"--draw-box"}, &commandLineOptions::drawBox, true},
        {{"--draw-box", "--no-box"}, &commandLineOptions::drawBox, false},
        {{"--draw-cross"}, &commandLineOptions::drawCross, true},
        {{"--draw-cross", "--no-cross"}, &commandLineOptions::drawCross, false},
        {{"--draw-binary"}, &commandLineOptions::drawBinary, true},
        {{"--no-binary"}, &commandLineOptions::drawBinary, false},
    };
    for (const switchCase& c : cases) {
        const commandLineParse r = parse(c.args);
        ASSERT_TRUE(r.ok) << r.error;
        ASSERT_TRUE((r.options.*c.field).has_value()) << c.args.front();
        EXPECT_EQ(*(r.options.*c.field), c.expected) << c.args.back();
    }
}

TEST(CommandLine, FlagsWithoutValues) {
    const commandLineParse r =
        parse({"--print-messages", "--latency", "--list-sources", "--help", "--version"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.options.printMessages);
    EXPECT_TRUE(r.options.reportLatency);
    EXPECT_TRUE(r.options.listSources);
    EXPECT_TRUE(r.options.help);
    EXPECT_TRUE(r.options.version);
    EXPECT_TRUE(parse({"-h"}).options.help);
}

TEST(CommandLine, BadInputIsRefusedWithAReason) {
    struct badCase {
        std::vector<std::string> args;
        std::string reasonPart;
    };
    const std::vector<badCase> cases = {
        {{"--frames"}, "--frames needs a value"},
        {{"--frames", "0"}, "positive whole number"},
        {{"--frames", "-3"}, "positive whole number"},
        {{"--frames", "12x"}, "positive whole number"},
        {{"--frames", "99999999999999999999999"}, "positive whole number"},
        {{"--port", "0"}, "--port"},
        {{"--port", "65536"}, "--port"},
        {{"--broadcast", "example.org"}, "numeric IPv4"},
        {{"--broadcast", "255.255.255.256"}, "numeric IPv4"},
        {{"--socket", std::string(200, 'a')}, "--socket"},
        {{"--source", ""}, "--source needs a non-empty value"},
        {{"--record="}, "--record needs a file name"},
        {{"--headless=yes"}, "takes no value"},
        {{"--colour"}, "unknown option '--colour'"},
        {{"-x"}, "unknown option '-x'"},
        {{"clip.mp4"}, "unexpected argument 'clip.mp4'"},
    };
    for (const badCase& c : cases) {
        const commandLineParse r = parse(c.args);
        EXPECT_FALSE(r.ok) << c.args.front();
        EXPECT_NE(r.error.find(c.reasonPart), std::string::npos)
            << "got '" << r.error << "' for " << c.args.front();
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << "one line: " << r.error;
    }
}

TEST(CommandLine, ArgcArgvSkipsTheProgramName) {
    const char* argv[] = {"vorn", "--headless", "--frames", "3"};
    const commandLineParse r = parseCommandLine(4, argv);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.options.headless);
    EXPECT_EQ(*r.options.frameLimit, 3u);
}

TEST(CommandLine, HelpNamesEveryOption) {
    const std::string usage = commandLineUsage("vorn");
    for (const char* name :
         {"--headless", "--source", "--frames", "--record", "--print-messages", "--socket",
          "--broadcast", "--port", "--emotions", "--no-emotions", "--draw-box", "--no-box",
          "--draw-cross", "--no-cross", "--draw-binary", "--no-binary", "--latency",
          "--list-sources", "--help", "--version"}) {
        EXPECT_NE(usage.find(name), std::string::npos) << name;
        // Each option the help names is one the parser knows.
        std::vector<std::string> args = {name};
        const bool takesValue = std::string(name) == "--source" || std::string(name) == "--frames" ||
                                std::string(name) == "--record" || std::string(name) == "--socket" ||
                                std::string(name) == "--broadcast" || std::string(name) == "--port";
        if (takesValue)
            args.push_back(std::string(name) == "--broadcast" ? "127.0.0.1" : "7");
        EXPECT_TRUE(parse(args).ok) << name;
    }
    EXPECT_EQ(usage.rfind("Usage: vorn", 0), 0u);
}

TEST(CommandLine, OverridesChangeOnlyWhatWasGiven) {
    visionSettingsRecord settings;
    settings.emotionsOn = true;
    settings.drawBox = true;
    settings.drawCross = false;
    settings.drawBinary = false;
    settings.minObjectSize = 250;

    commandLineOptions none;
    applySettingOverrides(none, settings);
    EXPECT_TRUE(settings.emotionsOn);
    EXPECT_TRUE(settings.drawBox);
    EXPECT_FALSE(settings.drawCross);
    EXPECT_FALSE(settings.drawBinary);

    const commandLineParse r = parse({"--no-emotions", "--no-box", "--draw-cross", "--draw-binary"});
    ASSERT_TRUE(r.ok);
    applySettingOverrides(r.options, settings);
    EXPECT_FALSE(settings.emotionsOn);
    EXPECT_FALSE(settings.drawBox);
    EXPECT_TRUE(settings.drawCross);
    EXPECT_TRUE(settings.drawBinary);
    EXPECT_EQ(settings.minObjectSize, 250u);
}

TEST(CommandLine, ChannelOptionsCommandLineOverEnvironment) {
    ::setenv("VORN_SOCKET", "/tmp/from-env/kelvat", 1);
    ::setenv("VORN_BROADCAST_ADDRESS", "127.0.0.3", 1);
    ::unsetenv("VORN_BROADCAST_PORT");

    commandLineOptions fromEnvironment;
    channelOptions channel = messageChannelOptions(fromEnvironment);
    EXPECT_EQ(channel.socketPath, "/tmp/from-env/kelvat");
    EXPECT_EQ(channel.broadcastAddress, "127.0.0.3");
    EXPECT_EQ(channel.broadcastPort, defaultBroadcastPort);

    const commandLineParse r =
        parse({"--socket", "/tmp/given/kelvat", "--broadcast", "127.0.0.1", "--port", "4100"});
    ASSERT_TRUE(r.ok);
    channel = messageChannelOptions(r.options);
    EXPECT_EQ(channel.socketPath, "/tmp/given/kelvat");
    EXPECT_EQ(channel.broadcastAddress, "127.0.0.1");
    EXPECT_EQ(channel.broadcastPort, 4100);
    EXPECT_FALSE(channel.privateDirectory);

    ::unsetenv("VORN_SOCKET");
    ::unsetenv("VORN_BROADCAST_ADDRESS");
}

TEST(CommandLine, VersionNamesTheProgram) {
    EXPECT_EQ(versionText().rfind("vorn ", 0), 0u);
    EXPECT_EQ(versionText().back(), '\n');
}

} // namespace
