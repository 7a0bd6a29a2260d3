// emotion.cfg: load, save and reload, including files that are not what
// they should be. Every test runs in a fresh temporary directory.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <locale>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/messageBox.h"
#include "pipeline/pipeline.h"
#include "settings/configFile.h"
#include "settings/visionSettings.h"

namespace fs = std::filesystem;

namespace {

class configFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousDirectory = fs::current_path();
        std::string pattern = (fs::temp_directory_path() / "vorn-config-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
        fs::current_path(directory);
        visionSettings = visionSettingsRecord{};
        setMessageBoxHandler([this](const std::string& text) { boxes.push_back(text); });
    }
    void TearDown() override {
        setMessageBoxHandler({});
        fs::current_path(previousDirectory);
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }

    static void writeFile(const std::string& content) {
        std::ofstream file(configFileName, std::ios::binary | std::ios::trunc);
        file << content;
    }
    static std::string readFile() {
        std::ifstream file(configFileName, std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        return content.str();
    }

    fs::path previousDirectory;
    fs::path directory;
    std::vector<std::string> boxes;
};

struct fields {
    double happy, sad, anger, surprise;
    std::uint32_t minSize;
};

void expectFields(const fields& expected) {
    EXPECT_EQ(visionSettings.happyLevel, expected.happy);
    EXPECT_EQ(visionSettings.sadLevel, expected.sad);
    EXPECT_EQ(visionSettings.angerLevel, expected.anger);
    EXPECT_EQ(visionSettings.surpriseLevel, expected.surprise);
    EXPECT_EQ(visionSettings.minObjectSize, expected.minSize);
}

const fields initial{0.2, 0.5, 0.5, 0.5, 100};

TEST_F(configFileTest, WithoutAFileLoadSetsTheDefaultsAndRebuildsTheGrid) {
    // Teach one cell something so that the rebuild shows.
    pixelModelGS& cell = pipelineState().modelGrid.cell(4, 4);
    const float sample[3] = {1, 2, 3};
    cell.probability(sample);
    cell.update();
    ASSERT_EQ(cell.modeCount(), 1);
    visionSettings.reinitialiseRequested = true;

    loadSettings();
    expectFields(initial);
    EXPECT_TRUE(visionSettings.drawBox);
    EXPECT_FALSE(visionSettings.drawCross);
    EXPECT_FALSE(visionSettings.drawBinary);
    EXPECT_TRUE(visionSettings.emotionsOn);
    EXPECT_TRUE(visionSettings.visionOn);
    EXPECT_FALSE(visionSettings.reinitialiseRequested);
    EXPECT_EQ(visionSettings.modelModes, 5.0f);
    EXPECT_EQ(visionSettings.modelMatchDeviations, 3.0f);
    EXPECT_EQ(visionSettings.modelLearningRate, 0.001f);
    EXPECT_EQ(visionSettings.modelBackgroundWeight, 0.8f);
    EXPECT_EQ(visionSettings.modelInitialDeviation, 2.0f);
    EXPECT_EQ(visionSettings.modelMinBrightness, 0.7f);
    EXPECT_EQ(cell.modeCount(), 0);
    EXPECT_EQ(cell.maxModes(), 5);
    EXPECT_EQ(cell.matchDeviations(), 3.0f);
    EXPECT_TRUE(boxes.empty()) << "a missing file is not reported";
    EXPECT_FALSE(fs::exists(configFileName)) << "loading creates nothing";

    saveSettings();
    EXPECT_EQ(readFile(), "0.2 0.5 0.5 0.5 100\n");
}

TEST_F(configFileTest, ReadsFieldsUntilTheFirstBadOne) {
    struct row {
        const char* content;
        fields expected;
    } table[] = {
        {"0.1 0.2 0.3 0.4 250\n", {0.1, 0.2, 0.3, 0.4, 250}},
        {"0.3 0.4", {0.3, 0.4, 0.5, 0.5, 100}},
        {"0.3 x 0.6 0.6 250", {0.3, 0.5, 0.5, 0.5, 100}},
        {"  0.1\t0.2\n\n0.3\r\n 0.4   250 and more text", {0.1, 0.2, 0.3, 0.4, 250}},
        {"0.1 0.2 0.3 0.4 100.7", {0.1, 0.2, 0.3, 0.4, 100}},
        {"0.1 0.2 0.3 0.4abc 9", {0.1, 0.2, 0.3, 0.4, 100}},
        {"1.7 -0.2 0.5 0.5 4000000000", {1.7, -0.2, 0.5, 0.5, 4000000000u}},
        {"0.1 0.2 0.3 0.4 4294967295", {0.1, 0.2, 0.3, 0.4, 4294967295u}},
        {"0.1 0.2 0.3 0.4 4294967296", {0.1, 0.2, 0.3, 0.4, 100}},
        {"0.1 0.2 0.3 0.4 99999999999999999999999", {0.1, 0.2, 0.3, 0.4, 100}},
        {"0.1 0.2 0.3 0.4 -5", {0.1, 0.2, 0.3, 0.4, 100}},
        {"0.1 0.2 0.3 0.4 -0", {0.1, 0.2, 0.3, 0.4, 100}},
        {"0.1 0.2 0.3 0.4 +7", {0.1, 0.2, 0.3, 0.4, 7}},
        {"1e999 0.2 0.3 0.4 7", initial},
        {"0.1 nan 0.3 0.4 7", {0.1, 0.5, 0.5, 0.5, 100}},
        {"2.5e-1 1E0 .5 5. 0", {0.25, 1.0, 0.5, 5.0, 0}},
        {"", initial},
        {"\n\n   \t", initial},
        {"0,25 0.5 0.5 0.5 7", {0.0, 0.5, 0.5, 0.5, 100}},
    };
    for (const row& r : table) {
        visionSettings = visionSettingsRecord{};
        writeFile(r.content);
        loadSettings();
        SCOPED_TRACE(std::string("file: \"") + r.content + "\"");
        expectFields(r.expected);
    }
}

TEST_F(configFileTest, HostileFilesNeitherCrashNorHang) {
    std::mt19937 random(12345);
    std::string garbage(200000, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random() & 0xFF);
    garbage[0] = 'Z'; // not a number: the first field is bad

    struct row {
        const char* what;
        std::string content;
        bool defaults; // every field keeps its value
    } table[] = {
        {"binary garbage", garbage, true},
        {"ten megabytes of digits", std::string(10 * 1024 * 1024, '9'), true},
        {"long run of zeros", "0." + std::string(500000, '0') + "1 0.2 0.3 0.4 5", false},
        {"numbers after a megabyte of blanks", std::string(1024 * 1024, ' ') + "0.1 0.2 0.3 0.4 5", true},
        {"zero bytes", std::string(1000, '\0'), true},
    };
    for (const row& r : table) {
        visionSettings = visionSettingsRecord{};
        writeFile(r.content);
        const auto start = std::chrono::steady_clock::now();
        loadSettings();
        const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        SCOPED_TRACE(r.what);
        if (r.defaults)
            expectFields(initial);
        EXPECT_LT(seconds, 10.0);
        EXPECT_FALSE(visionSettings.reinitialiseRequested);
    }
}

TEST_F(configFileTest, SpecialFilesAreNeitherReadNorWritten) {
    // A directory and a pipe without a writer (opening it would block).
    fs::create_directory(configFileName);
    loadSettings();
    expectFields(initial);
    saveSettings();
    EXPECT_TRUE(fs::is_directory(configFileName));
    reloadSettings();
    ASSERT_EQ(boxes.size(), 1u);
    fs::remove(configFileName);

    ASSERT_EQ(mkfifo(configFileName, 0600), 0);
    visionSettings.happyLevel = 0.9;
    loadSettings();
    EXPECT_EQ(visionSettings.happyLevel, 0.9);
    saveSettings();
    EXPECT_TRUE(fs::is_fifo(configFileName));
}

TEST_F(configFileTest, SavedValuesReadBackTheSame) {
    struct row {
        fields values;
        const char* text;
    } table[] = {
        {{0.2, 0.5, 0.5, 0.5, 100}, "0.2 0.5 0.5 0.5 100\n"},
        {{0.29, 0.07, 1.0, 0.35, 225}, "0.29 0.07 1 0.35 225\n"},
        {{1.7, -0.2, 0.0, 0.5, 4000000000u}, "1.7 -0.2 0 0.5 4000000000\n"},
        {{0.123456789, 1e-7, 123456789.0, 0.5, 0}, "0.123457 1e-07 1.23457e+08 0.5 0\n"},
    };
    for (const row& r : table) {
        visionSettings.happyLevel = r.values.happy;
        visionSettings.sadLevel = r.values.sad;
        visionSettings.angerLevel = r.values.anger;
        visionSettings.surpriseLevel = r.values.surprise;
        visionSettings.minObjectSize = r.values.minSize;
        saveSettings();
        EXPECT_EQ(readFile(), r.text);
    }
    // Slider positions times 0.01 come back as the same doubles.
    visionSettings.happyLevel = 35 * 0.01;
    visionSettings.sadLevel = 7 * 0.01;
    visionSettings.minObjectSize = 250;
    saveSettings();
    visionSettings = visionSettingsRecord{};
    loadSettings();
    EXPECT_EQ(visionSettings.happyLevel, 0.35);
    EXPECT_EQ(visionSettings.sadLevel, 0.07);
    EXPECT_EQ(visionSettings.minObjectSize, 250u);
}

// A locale that writes 0,5 and groups thousands.
struct commaPunctuation : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST_F(configFileTest, FormatDoesNotDependOnTheProgramLocale) {
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new commaPunctuation));
    visionSettings.happyLevel = 0.25;
    visionSettings.minObjectSize = 4000000;
    saveSettings();
    const std::string written = readFile();
    writeFile("0.75 0.5 0.5 0.5 1234567");
    loadSettings();
    std::locale::global(previous);
    EXPECT_EQ(written, "0.25 0.5 0.5 0.5 4000000\n");
    EXPECT_EQ(visionSettings.happyLevel, 0.75);
    EXPECT_EQ(visionSettings.minObjectSize, 1234567u);
}

TEST_F(configFileTest, ReloadTakesTheValueAfterALabel) {
    reloadSettings();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Cant find config file (emotion.cfg)");

    struct row {
        std::string content;
        std::uint32_t expected; // 77: unchanged
    } table[] = {
        {"minimum 250\n", 250},
        {"\n  size\t\t400 junk", 400},
        {"0.2 0.5 0.5 0.5 100\n", 0}, // what the save writes: the second number's integer part
        {std::string(99, 'a') + " 12", 12},
        {std::string(100, 'a') + " 12", 77},
        {"label -5", 77},
        {"label", 77},
        {"label x", 77},
        {"", 77},
    };
    for (const row& r : table) {
        visionSettings.minObjectSize = 77;
        writeFile(r.content);
        reloadSettings();
        EXPECT_EQ(visionSettings.minObjectSize, r.expected) << "file: \"" << r.content << "\"";
    }
    EXPECT_EQ(boxes.size(), 1u) << "only the missing file is reported";
}

} // namespace
