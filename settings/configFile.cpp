#include "settings/configFile.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>
#include <string>
#include <system_error>

#include "pipeline/backgroundSubtraction.h"
#include "pipeline/messageBox.h"
#include "settings/visionSettings.h"

namespace {

// True when the name refers to something that is not a regular file (a
// directory, a pipe, a device): opening those could block or read forever.
bool isSpecialFile(const char* name) {
    std::error_code error;
    const auto status = std::filesystem::status(name, error);
    if (error)
        return false; // missing: the caller's open decides
    return status.type() != std::filesystem::file_type::regular;
}

// Reads at most configReadLimit bytes of the file. False when it cannot be
// opened.
bool readPrefix(const char* name, std::string& text) {
    if (isSpecialFile(name))
        return false;
    std::ifstream file(name, std::ios::in | std::ios::binary);
    if (!file.is_open())
        return false;
    text.resize(configReadLimit);
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return true;
}

// A C-locale stream over the text, so a program locale with a decimal comma
// cannot change how the numbers are read.
std::istringstream classicStream(const std::string& text) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    return in;
}

bool readLevel(std::istream& in, double& field) {
    double value = 0.0;
    if (!(in >> value))
        return false;
    field = value;
    return true;
}

// An unsigned 32-bit decimal: leading white space, an optional '+', digits.
// The stream's own unsigned extraction would turn "-5" into 4294967291; a
// negative size is a malformed field here instead.
bool readSize(std::istream& in, std::uint32_t& field) {
    in >> std::ws;
    const int next = in.peek();
    if (next == '-' || next == std::char_traits<char>::eof())
        return false;
    unsigned long long value = 0;
    if (!(in >> value) || value > 0xFFFFFFFFull)
        return false;
    field = static_cast<std::uint32_t>(value);
    return true;
}

} // namespace

void loadSettings() {
    visionSettingsRecord& settings = visionSettings;
    settings.modelModes = 5.0f;
    settings.modelMatchDeviations = 3.0f;
    settings.modelLearningRate = 0.001f;
    settings.modelBackgroundWeight = 0.8f;
    settings.modelInitialDeviation = 2.0f;
    settings.minObjectSize = 100;
    settings.modelMinBrightness = 0.7f;
    settings.drawBox = true;
    settings.drawCross = false;
    settings.drawBinary = false;
    settings.emotionsOn = true;

    std::string text;
    if (readPrefix(configFileName, text)) {
        std::istringstream in = classicStream(text);
        // Each field only once it has parsed; the first bad one ends the read.
        readLevel(in, settings.happyLevel) && readLevel(in, settings.sadLevel) &&
            readLevel(in, settings.angerLevel) && readLevel(in, settings.surpriseLevel) &&
            readSize(in, settings.minObjectSize);
    }

    rebuildModelGrid();
    settings.reinitialiseRequested = false;
}

void saveSettings() {
    const visionSettingsRecord& settings = visionSettings;
    std::ostringstream line;
    line.imbue(std::locale::classic());
    line << settings.happyLevel << ' ' << settings.sadLevel << ' ' << settings.angerLevel << ' '
         << settings.surpriseLevel << ' ' << settings.minObjectSize << '\n';

    if (isSpecialFile(configFileName))
        return;
    std::ofstream file(configFileName, std::ios::out | std::ios::trunc);
    if (!file.is_open())
        return;
    file << line.str();
    file.flush();
}

void reloadSettings() {
    std::string text;
    if (!readPrefix(configFileName, text)) {
        showMessageBox("Cant find config file (emotion.cfg)");
        return;
    }
    std::istringstream in = classicStream(text);
    std::string label;
    if (!(in >> label) || label.size() > 99)
        return;
    std::uint32_t size = 0;
    if (readSize(in, size))
        visionSettings.minObjectSize = size;
}
