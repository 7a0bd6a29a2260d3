// End to end: the real vorn binary reads frames through GStreamer, runs the
// pipeline and sends its messages to a receiver on a Unix socket in a
// temporary folder, which is also the run's working directory.

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "capture/frameRecorder.h"
#include "tests/runner/pngFile.h"
#include "tests/runner/vornProcess.h"

#ifndef VORN_BINARY
#error "VORN_BINARY must name the vorn program"
#endif

namespace {

namespace fs = std::filesystem;
using vornProcess::datagramReceiver;
using vornProcess::runResult;
using vornProcess::tempFolder;

// A textured grey room with a bright square that moves across it.
std::vector<std::uint8_t> sceneFrame(int width, int height, int index) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    const int size = std::max(8, width / 10);
    const int left = (index * 7) % std::max(1, width - size);
    const int top = height / 3;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            const bool inSquare = x >= left && x < left + size && y >= top && y < top + size;
            const int base = 90 + ((x / 8 + y / 8) % 2) * 20;
            p[0] = static_cast<std::uint8_t>(inSquare ? 240 : base);
            p[1] = static_cast<std::uint8_t>(inSquare ? 60 : base);
            p[2] = static_cast<std::uint8_t>(inSquare ? 40 : base + 10);
        }
    }
    return rgb;
}

std::string framePath(const tempFolder& folder, int index) {
    char name[32];
    std::snprintf(name, sizeof name, "in/f%05d.png", index);
    return folder.file(name);
}

// Writes frames first..first+count-1 of the scene as in/f%05d.png.
std::string writeSequence(const tempFolder& folder, int count, int width = 320, int height = 240,
                          int first = 0) {
    fs::create_directories(folder.file("in"));
    for (int i = first; i < first + count; ++i)
        EXPECT_TRUE(pngFile::write(framePath(folder, i), width, height, sceneFrame(width, height, i)));
    return folder.file("in/f%05d.png");
}

void truncateFile(const std::string& path, std::uintmax_t keep) {
    fs::resize_file(path, keep);
}

struct vornRun {
    runResult result;
    std::vector<std::string> datagrams;
};

vornRun runVorn(const tempFolder& folder, std::vector<std::string> args, vornProcess::watcher watch = {},
                datagramReceiver* receiver = nullptr) {
    std::unique_ptr<datagramReceiver> own;
    if (!receiver) {
        own = std::make_unique<datagramReceiver>(folder.file("kelvat"));
        receiver = own.get();
    }
    args.insert(args.begin(), "--headless");
    vornRun run;
    run.result = vornProcess::run(VORN_BINARY, args, folder.path(), folder.file("kelvat"),
                                  [&](pid_t pid, const runResult& r) {
                                      if (watch)
                                          watch(pid, r);
                                  });
    run.datagrams = receiver->drain();
    return run;
}

// The message lines of --print-messages: stdout without the channel's line.
std::vector<std::string> printedMessages(const runResult& r) {
    std::vector<std::string> lines;
    for (const std::string& line : r.outLines())
        if (line != "local connection open" && line != "broadcasting to network")
            lines.push_back(line);
    return lines;
}

std::vector<std::string> fieldsOf(const std::string& text) {
    std::vector<std::string> fields;
    std::istringstream in(text);
    for (std::string f; in >> f;)
        fields.push_back(f);
    return fields;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// Checks the wire form of every datagram, that the texts equal the printed
// lines in order, and that the sequence numbers run 1, 2, 3, ...
void expectSameMessages(const vornRun& run, std::size_t expectedCount) {
    const std::vector<std::string> printed = printedMessages(run.result);
    ASSERT_EQ(run.datagrams.size(), expectedCount) << run.result.transcript();
    ASSERT_EQ(printed.size(), expectedCount) << run.result.transcript();
    for (std::size_t i = 0; i < expectedCount; ++i) {
        const std::string& d = run.datagrams[i];
        ASSERT_FALSE(d.empty());
        EXPECT_EQ(d.back(), '\0') << "datagram " << i;
        EXPECT_EQ(d.find('\0'), d.size() - 1) << "one zero byte, at the end";
        const std::string text = d.substr(0, d.size() - 1);
        EXPECT_EQ(text, printed[i]) << "message " << i;
        const std::vector<std::string> fields = fieldsOf(text);
        ASSERT_EQ(fields.size(), 6u) << text;
        EXPECT_EQ(fields[0], std::to_string(i + 1)) << text;
        EXPECT_EQ(fields[5], "0") << "not calibrating: " << text;
    }
}

TEST(HeadlessRun, MessagesOnTheSocketEqualThePrintedOnesInOrder) {
    tempFolder folder;
    const std::string pattern = writeSequence(folder, 24);
    const vornRun run = runVorn(folder, {"--source", pattern, "--print-messages"});
    ASSERT_TRUE(run.result.exitedWith(0)) << run.result.transcript();
    EXPECT_EQ(run.result.outLines().front(), "local connection open");
    expectSameMessages(run, 24);
    EXPECT_NE(run.result.err.find("vorn: 24 frames processed, 0 dropped, 24 messages sent"),
              std::string::npos)
        << run.result.err;
    // A normal end keeps the settings.
    EXPECT_EQ(readFile(folder.file("emotion.cfg")), "0.2 0.5 0.5 0.5 100\n");
}

TEST(HeadlessRun, FileSourcesAreReproducible) {
    tempFolder folder;
    const std::string pattern = writeSequence(folder, 12);
    const vornRun first = runVorn(folder, {"--source", pattern, "--print-messages"});
    fs::remove(folder.file("emotion.cfg"));
    const vornRun second = runVorn(folder, {"--source", pattern, "--print-messages"});
    ASSERT_TRUE(first.result.exitedWith(0)) << first.result.transcript();
    ASSERT_TRUE(second.result.exitedWith(0)) << second.result.transcript();
    EXPECT_EQ(printedMessages(first.result).size(), 12u);
    EXPECT_EQ(printedMessages(first.result), printedMessages(second.result));
    EXPECT_EQ(first.datagrams, second.datagrams);
}

TEST(HeadlessRun, FrameLimitStopsAfterThatManyFrames) {
    tempFolder folder;
    const std::string pattern = writeSequence(folder, 15);
    const vornRun run = runVorn(folder, {"--source", pattern, "--frames", "6", "--print-messages"});
    ASSERT_TRUE(run.result.exitedWith(0)) << run.result.transcript();
    expectSameMessages(run, 6);
    EXPECT_NE(run.result.err.find("vorn: 6 frames processed, 0 dropped, 6 messages sent"),
              std::string::npos)
        << run.result.err;
}

TEST(HeadlessRun, SwitchesFromTheCommandLineApplyAfterTheSettingsLoad) {
    tempFolder folder;
    const std::string pattern = writeSequence(folder, 10);
    // emotion.cfg cannot switch emotions off; only the command line can.
    {
        std::ofstream cfg(folder.file("emotion.cfg"));
        cfg << "0.3 0.4 0.6 0.7 150\n";
    }
    const vornRun run = runVorn(folder, {"--source", pattern, "--no-emotions", "--print-messages"});
    ASSERT_TRUE(run.result.exitedWith(0)) << run.result.transcript();
    const std::vector<std::string> printed = printedMessages(run.result);
    ASSERT_EQ(printed.size(), 10u);
    for (const std::string& text : printed) {
        const std::vector<std::string> fields = fieldsOf(text);
        ASSERT_EQ(fields.size(), 6u);
        EXPECT_EQ(fields[3], "9") << "no emotion while emotions are off: " << text;
        EXPECT_EQ(fields[4], "0") << text;
    }
    // The loaded values go back unchanged; the switch is not a setting of the file.
    EXPECT_EQ(readFile(folder.file("emotion.cfg")), "0.3 0.4 0.6 0.7 150\n");
}

TEST(HeadlessRun, OversizedFramesReportTheSizeOnceAndSendNothing) {
    tempFolder folder;
    const std::string pattern = writeSequence(folder, 4, 802, 600);
    const vornRun run = runVorn(folder, {"--source", pattern, "--print-messages"});
    ASSERT_TRUE(run.result.exitedWith(0)) << run.result.transcript();
    const std::string message = "Size incompatibility, got 802x600, max 800x700";
    const std::size_t at = run.result.err.find(message + "\n");
    ASSERT_NE(at, std::string::npos) << run.result.err;
    EXPECT_EQ(run.result.err.find(message, at + 1), std::string::npos) << "reported once";
    EXPECT_TRUE(run.datagrams.empty());
    EXPECT_TRUE(printedMessages(run.result).empty());
    EXPECT_NE(run.result.err.find("vorn: 4 frames processed, 0 dropped, 0 messages sent"),
              std::string::npos)
        << run.result.err;
}

TEST(HeadlessRun, AnOddSizeJustInsideTheLimitIsProcessed) {
    tempFolder folder;
    const std::string pattern = writeSequence(folder, 3, 801, 701);
    const vornRun run = runVorn(folder, {"--source", pattern});
    ASSERT_TRUE(run.result.exitedWith(0)) << run.result.transcript();
    EXPECT_EQ(run.result.err.find("Size incompatibility"), std::string::npos) << run.result.err;
    EXPECT_EQ(run.datagrams.size(), 3u);
}

struct badInputCase {
    const char* name;
    // Prepares the folder and returns the arguments.
    std::function<std::vector<std::string>(const tempFolder&)> prepare;
    const char* stderrPattern; // regex that one line of stderr must match
};

TEST(HeadlessRun, BadInputEndsWithStatusOneAndOneClearLine) {
    const std::vector<badInputCase> cases = {
        {"missing file",
         [](const tempFolder& f) { return std::vector<std::string>{"--source", f.file("nothing.mp4")}; },
         "^Error: .*nothing\\.mp4.*$"},
        {"corrupt file",
         [](const tempFolder& f) {
             std::ofstream junk(f.file("junk.mp4"), std::ios::binary);
             for (int i = 0; i < 20000; ++i)
                 junk.put(static_cast<char>((i * 7919) % 251));
             return std::vector<std::string>{"--source", f.file("junk.mp4")};
         },
         "^Error: .+$"},
        {"text file named as an image",
         [](const tempFolder& f) {
             std::ofstream text(f.file("notes.png"));
             text << "not a picture\n";
             return std::vector<std::string>{"--source", f.file("notes.png")};
         },
         "^Error: .+$"},
        {"unparsable pipeline",
         [](const tempFolder&) {
             return std::vector<std::string>{"--source", "videotestsrc ! nosuchelementatall"};
         },
         "^Error: .+$"},
        {"sequence without its first file",
         [](const tempFolder& f) {
             writeSequence(f, 2, 64, 48, 5);
             return std::vector<std::string>{"--source", f.file("in/f%05d.png")};
         },
         "^Error: .*f00000\\.png.*$"},
        {"sequence with a gap",
         [](const tempFolder& f) {
             const std::string pattern = writeSequence(f, 5, 64, 48);
             fs::remove(framePath(f, 2));
             return std::vector<std::string>{"--source", pattern};
         },
         "^Error: .*f00002\\.png.*$"},
        {"sequence whose first file is truncated",
         [](const tempFolder& f) {
             const std::string pattern = writeSequence(f, 3, 64, 48);
             truncateFile(framePath(f, 0), 40);
             return std::vector<std::string>{"--source", pattern};
         },
         "^Error: .*f00000\\.png.*$"},
        {"sequence with a truncated file in the middle",
         [](const tempFolder& f) {
             const std::string pattern = writeSequence(f, 4, 64, 48);
             truncateFile(framePath(f, 2), 60);
             return std::vector<std::string>{"--source", pattern};
         },
         "^Error: .*f00002\\.png.*$"},
        {"live source that stops delivering",
         [](const tempFolder&) {
             // One frame, then the next only after 30 s: taken as a source that is gone.
             return std::vector<std::string>{
                 "--source",
                 "videotestsrc is-live=true ! video/x-raw,framerate=1/30,width=64,height=48 ! videoconvert"};
         },
         "^Error: no frame from .* for 10 s$"},
        {"recording to an unknown format",
         [](const tempFolder& f) {
             const std::string pattern = writeSequence(f, 2, 64, 48);
             return std::vector<std::string>{"--source", pattern, "--record", "out.txt"};
         },
         "^Error: cannot record to out\\.txt.*$"},
        {"recording into a place that cannot be written",
         [](const tempFolder& f) {
             const std::string pattern = writeSequence(f, 2, 64, 48);
             std::ofstream(f.file("blocker")) << "a file, not a folder";
             return std::vector<std::string>{"--source", pattern, "--record", "blocker/f%05d.png"};
         },
         "^Error: recording to blocker/f%05d\\.png failed: .+$"},
        {"bad option value",
         [](const tempFolder&) { return std::vector<std::string>{"--frames", "0"}; },
         "^vorn: --frames needs a positive whole number.*$"},
        {"unknown option",
         [](const tempFolder&) { return std::vector<std::string>{"--fast"}; },
         "^vorn: unknown option '--fast'.*$"},
    };
    for (const badInputCase& c : cases) {
        SCOPED_TRACE(c.name);
        tempFolder folder;
        const std::vector<std::string> args = c.prepare(folder);
        const vornRun run = runVorn(folder, args);
        EXPECT_FALSE(run.result.timedOut);
        EXPECT_TRUE(run.result.exitedWith(1)) << run.result.transcript();
        bool matched = false;
        std::istringstream lines(run.result.err);
        for (std::string line; std::getline(lines, line);)
            matched = matched || std::regex_match(line, std::regex(c.stderrPattern));
        EXPECT_TRUE(matched) << "no line matches " << c.stderrPattern << "\n" << run.result.err;
        // An error end writes no settings.
        EXPECT_FALSE(fs::exists(folder.file("emotion.cfg")));
    }
}

TEST(HeadlessRun, WithoutACameraStartUpIsRefused) {
    for (int i = 0; i < 64; ++i)
        if (fs::exists("/dev/video" + std::to_string(i)))
            GTEST_SKIP() << "this machine has a camera";
    tempFolder folder;
    const vornRun run = runVorn(folder, {"--source", "camera"});
    EXPECT_TRUE(run.result.exitedWith(1)) << run.result.transcript();
    EXPECT_EQ(run.result.err.rfind("Error:  No image source found", 0), 0u) << run.result.err;
    EXPECT_FALSE(fs::exists(folder.file("emotion.cfg")));
    EXPECT_TRUE(run.datagrams.empty());
}

TEST(HeadlessRun, InterruptEndsCleanlyAndSavesTheSettings) {
    // The demo scene is endless: only the signal ends the run. Live, it drops
    // frames; unpaced, its producer waits for room in the queue, and the
    // shutdown must release it.
    const std::vector<std::pair<const char*, int>> cases = {
        {"demo", SIGINT}, {"demo", SIGTERM}, {"demo:unpaced", SIGINT}, {"demo:unpaced", SIGTERM}};
    for (const auto& [source, signalNumber] : cases) {
        SCOPED_TRACE(std::string(source) + (signalNumber == SIGINT ? " SIGINT" : " SIGTERM"));
        tempFolder folder;
        datagramReceiver receiver(folder.file("kelvat"));
        bool sent = false;
        const vornRun run = runVorn(
            folder, {"--source", source},
            [&](pid_t pid, const runResult&) {
                if (!sent && receiver.count() >= 5) {
                    ::kill(pid, signalNumber);
                    sent = true;
                }
            },
            &receiver);
        ASSERT_TRUE(sent) << run.result.transcript();
        EXPECT_TRUE(run.result.exitedWith(0)) << run.result.transcript();
        EXPECT_NE(run.result.err.find(signalNumber == SIGINT ? "stopped by SIGINT" : "stopped by SIGTERM"),
                  std::string::npos)
            << run.result.err;
        EXPECT_NE(run.result.err.find(" frames processed, "), std::string::npos) << run.result.err;
        EXPECT_EQ(readFile(folder.file("emotion.cfg")), "0.2 0.5 0.5 0.5 100\n");
        ASSERT_GE(run.datagrams.size(), 5u);
        for (std::size_t i = 0; i < run.datagrams.size(); ++i)
            EXPECT_EQ(fieldsOf(run.datagrams[i].substr(0, run.datagrams[i].size() - 1))[0],
                      std::to_string(i + 1));
    }
}

TEST(HeadlessRun, LiveDemoKeepsTheLatestFrameAndStopsAtTheLimit) {
    tempFolder folder;
    const vornRun run = runVorn(folder, {"--source", "demo", "--frames", "20", "--print-messages"});
    ASSERT_TRUE(run.result.exitedWith(0)) << run.result.transcript();
    expectSameMessages(run, 20);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(run.result.err, m,
                                  std::regex("vorn: 20 frames processed, ([0-9]+) dropped, 20 messages sent")))
        << run.result.err;
}

TEST(HeadlessRun, RecordsTheAnnotatedFramesAsPngs) {
    tempFolder folder;
    const std::string pattern = writeSequence(folder, 8, 160, 120);
    const vornRun run =
        runVorn(folder, {"--source", pattern, "--draw-cross", "--record", "out/frame%05d.png"});
    ASSERT_TRUE(run.result.exitedWith(0)) << run.result.transcript();
    for (int i = 0; i < 8; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "out/frame%05d.png", i);
        int width = 0, height = 0;
        ASSERT_TRUE(pngFile::readSize(folder.file(name), width, height)) << name;
        EXPECT_EQ(width, 160);
        EXPECT_EQ(height, 120);
    }
    EXPECT_FALSE(fs::exists(folder.file("out/frame00008.png")));
    EXPECT_NE(run.result.err.find("8 annotated frames recorded to out/frame%05d.png"), std::string::npos)
        << run.result.err;

    // The recording is itself a source with the same frames.
    fs::remove(folder.file("emotion.cfg"));
    const vornRun replay = runVorn(folder, {"--source", folder.file("out/frame%05d.png")});
    EXPECT_TRUE(replay.result.exitedWith(0)) << replay.result.transcript();
    EXPECT_EQ(replay.datagrams.size(), 8u);
}

TEST(HeadlessRun, RecordsAVideoFile) {
    tempFolder folder;
    const std::string pattern = writeSequence(folder, 10, 160, 120);
    const vornRun run = runVorn(folder, {"--source", pattern, "--record", "annotated.webm"});
    ASSERT_TRUE(run.result.exitedWith(0)) << run.result.transcript();
    ASSERT_TRUE(fs::exists(folder.file("annotated.webm")));
    EXPECT_GT(fs::file_size(folder.file("annotated.webm")), 200u);
    // It plays back as a source of ten frames.
    fs::remove(folder.file("emotion.cfg"));
    const vornRun replay = runVorn(folder, {"--source", folder.file("annotated.webm")});
    EXPECT_TRUE(replay.result.exitedWith(0)) << replay.result.transcript();
    EXPECT_EQ(replay.datagrams.size(), 10u);
}

TEST(HeadlessRun, AVideoFileThatEndsEarlyIsWarnedAbout) {
    tempFolder folder;
    const std::string path = folder.file("clip.webm");
    {
        frameRecorder recorder(path, 25.0);
        for (int i = 0; i < 40; ++i) {
            const std::vector<std::uint8_t> rgb = sceneFrame(96, 64, i);
            std::vector<std::uint8_t> bgrx(96 * 64 * 4);
            for (std::size_t p = 0; p < 96 * 64; ++p) {
                bgrx[p * 4 + 0] = rgb[p * 3 + 2];
                bgrx[p * 4 + 1] = rgb[p * 3 + 1];
                bgrx[p * 4 + 2] = rgb[p * 3 + 0];
            }
            std::string error;
            ASSERT_TRUE(recorder.write(bgrx.data(), 96, 64, error)) << error;
        }
        std::string error;
        ASSERT_TRUE(recorder.finish(error)) << error;
    }
    const vornRun whole = runVorn(folder, {"--source", path});
    ASSERT_TRUE(whole.result.exitedWith(0)) << whole.result.transcript();
    EXPECT_EQ(whole.datagrams.size(), 40u);
    EXPECT_EQ(whole.result.err.find("warning"), std::string::npos) << whole.result.err;

    // Cut to a third: the header still announces 40 frames.
    truncateFile(path, fs::file_size(path) / 3);
    const vornRun cut = runVorn(folder, {"--source", path});
    ASSERT_TRUE(cut.result.exitedWith(0)) << cut.result.transcript();
    EXPECT_LT(cut.datagrams.size(), 40u);
    EXPECT_NE(cut.result.err.find("vorn: warning: " + path + " ended after " +
                                  std::to_string(cut.datagrams.size()) + " of the 40 frames"),
              std::string::npos)
        << cut.result.err;
}

TEST(HeadlessRun, LatencyReportGivesMedianAndPercentile) {
    tempFolder folder;
    const std::string pattern = writeSequence(folder, 10, 160, 120);
    const vornRun run = runVorn(folder, {"--source", pattern, "--latency"});
    ASSERT_TRUE(run.result.exitedWith(0)) << run.result.transcript();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        run.result.err, m,
        std::regex("latency from frame out of the queue to message sent: 10 frames, median ([0-9.]+) ms, "
                   "99th percentile ([0-9.]+) ms, max [0-9.]+ ms; processing alone: median ([0-9.]+) ms")))
        << run.result.err;
    EXPECT_GT(std::stod(m[1]), 0.0);
    EXPECT_LE(std::stod(m[1]), std::stod(m[2]));
    EXPECT_GT(std::stod(m[3]), 0.0);
    EXPECT_LE(std::stod(m[3]), std::stod(m[1])) << "processing is part of the whole";
}

TEST(HeadlessRun, InformationOptionsExitAtOnce) {
    tempFolder folder;
    const vornRun help = runVorn(folder, {"--help"});
    EXPECT_TRUE(help.result.exitedWith(0));
    EXPECT_NE(help.result.out.find("--print-messages"), std::string::npos);
    const vornRun version = runVorn(folder, {"--version"});
    EXPECT_TRUE(version.result.exitedWith(0));
    EXPECT_EQ(version.result.out.rfind("vorn ", 0), 0u);
    const vornRun list = runVorn(folder, {"--list-sources"});
    EXPECT_TRUE(list.result.exitedWith(0)) << list.result.transcript();
    EXPECT_FALSE(list.result.out.empty());
    EXPECT_TRUE(help.datagrams.empty() && version.datagrams.empty() && list.datagrams.empty());
    EXPECT_FALSE(fs::exists(folder.file("emotion.cfg")));
}

} // namespace
