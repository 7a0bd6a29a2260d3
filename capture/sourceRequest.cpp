#include "capture/sourceRequest.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return {};
    const auto end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Position and length of the one integer conversion in a sequence pattern,
// or npos when there is not exactly one (a "%%" is a literal percent sign).
struct conversion {
    std::size_t position = std::string::npos;
    std::size_t length = 0;
};

conversion findConversion(const std::string& text) {
    conversion found;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])))
            ++j;
        if (j >= text.size() || text[j] != 'd' || j - i - 1 > 2 || found.position != std::string::npos)
            return {};
        found.position = i;
        found.length = j - i + 1;
        i = j;
    }
    return found;
}

bool looksLikeMediaFile(const std::string& text) {
    static const char* const extensions[] = {
        ".mp4", ".m4v", ".mov", ".avi", ".mkv", ".webm", ".ogv", ".ogg", ".mpg", ".mpeg",
        ".ts", ".flv", ".wmv", ".y4m", ".mjpeg", ".mjpg", ".gif", ".png", ".jpg", ".jpeg",
        ".bmp", ".tif", ".tiff", ".webp", ".3gp",
    };
    const std::string lower = lowerCase(text);
    for (const char* extension : extensions) {
        const std::string e(extension);
        if (lower.size() > e.size() && lower.compare(lower.size() - e.size(), e.size(), e) == 0)
            return true;
    }
    return false;
}

// file:// URI of an existing local path, with the reserved bytes escaped.
std::string fileUri(const std::string& path) {
    std::error_code ignored;
    fs::path absolute = fs::absolute(fs::path(path), ignored).lexically_normal();
    const std::string text = absolute.string();
    std::string uri = "file://";
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

bool parseDemoOptions(const std::string& text, demoOptions& options, std::string& error) {
    // "demo", then options separated by ':'.
    std::stringstream rest(text.size() > 4 ? text.substr(5) : std::string());
    std::string option;
    while (std::getline(rest, option, ':')) {
        if (option == "unpaced") {
            options.paced = false;
        } else if (option == "paced") {
            options.paced = true;
        } else if (startsWith(option, "frames=")) {
            const std::string number = option.substr(7);
            char* end = nullptr;
            const long long frames = std::strtoll(number.c_str(), &end, 10);
            if (number.empty() || *end != '\0' || frames <= 0) {
                error = "demo: frames must be a positive whole number, got \"" + number + "\"";
                return false;
            }
            options.frameLimit = frames;
        } else {
            error = "demo: unknown option \"" + option + "\" (use unpaced, paced or frames=N)";
            return false;
        }
    }
    return true;
}

} // namespace

double videoMode::framesPerSecond() const {
    if (rateNumerator <= 0 || rateDenominator <= 0)
        return 0.0;
    return static_cast<double>(rateNumerator) / static_cast<double>(rateDenominator);
}

std::string videoMode::describe() const {
    std::ostringstream text;
    text << width << 'x' << height;
    const double fps = framesPerSecond();
    if (fps > 0.0)
        text << " at " << fps << " fps";
    if (!format.empty())
        text << " (" << format << ')';
    else if (mediaType == "image/jpeg")
        text << " (MJPEG)";
    return text.str();
}

sourceRequest parseSourceText(const std::string& original) {
    sourceRequest request;
    request.text = original;
    const std::string text = trimmed(original);
    if (text.empty()) {
        request.error = "no source given";
        return request;
    }
    if (text == "demo" || startsWith(text, "demo:")) {
        if (parseDemoOptions(text, request.demo, request.error))
            request.kind = sourceKind::demo;
        return request;
    }
    if (text == "camera") {
        request.kind = sourceKind::camera;
        return request;
    }
    if (startsWith(text, "camera:")) {
        request.kind = sourceKind::camera;
        request.device = trimmed(text.substr(7));
        return request;
    }
    if (text.find('!') != std::string::npos) {
        request.kind = sourceKind::pipeline;
        request.pipeline = text;
        return request;
    }
    if (startsWith(text, "/dev/")) {
        request.kind = sourceKind::camera;
        request.device = text;
        return request;
    }
    if (startsWith(text, "file://")) {
        request.kind = sourceKind::file;
        request.uri = text;
        return request;
    }
    if (text.find("://") != std::string::npos) {
        request.kind = sourceKind::file; // a network stream: the decoder decides
        request.uri = text;
        return request;
    }
    if (isSequencePattern(text)) {
        request.kind = sourceKind::imageSequence;
        request.path = text;
        return request;
    }
    std::error_code failure;
    const fs::file_status status = fs::status(fs::path(text), failure);
    if (fs::is_directory(status)) {
        request.error = "a folder, not a video file: " + text;
        return request;
    }
    if (fs::exists(status)) {
        request.kind = sourceKind::file;
        request.path = text;
        request.uri = fileUri(text);
        return request;
    }
    if (text.find('/') != std::string::npos || looksLikeMediaFile(text)) {
        request.error = "file not found: " + text;
        return request;
    }
    // Anything else names a camera ("HD Webcam").
    request.kind = sourceKind::camera;
    request.device = text;
    return request;
}

bool isSequencePattern(const std::string& text) {
    return findConversion(text).position != std::string::npos;
}

std::string formatSequencePath(const std::string& pattern, long long index) {
    const conversion found = findConversion(pattern);
    if (found.position == std::string::npos)
        return pattern;
    std::string conversion = pattern.substr(found.position, found.length);
    conversion.insert(conversion.size() - 1, "ll");
    char number[64];
    std::snprintf(number, sizeof number, conversion.c_str(), index);
    // Literal "%%" before and after the conversion become single '%'.
    auto unescape = [](const std::string& part) {
        std::string out;
        for (std::size_t i = 0; i < part.size(); ++i) {
            out += part[i];
            if (part[i] == '%' && i + 1 < part.size() && part[i + 1] == '%')
                ++i;
        }
        return out;
    };
    return unescape(pattern.substr(0, found.position)) + number +
        unescape(pattern.substr(found.position + found.length));
}

long long firstSequenceIndex(const std::string& pattern) {
    for (long long index : {0LL, 1LL}) {
        std::error_code ignored;
        if (fs::is_regular_file(fs::path(formatSequencePath(pattern, index)), ignored))
            return index;
    }
    return -1;
}

long long countSequenceFiles(const std::string& pattern, long long firstIndex) {
    if (firstIndex < 0)
        return 0;
    long long count = 0;
    std::error_code ignored;
    while (fs::is_regular_file(fs::path(formatSequencePath(pattern, firstIndex + count)), ignored))
        ++count;
    return count;
}

std::vector<videoMode> usableModes(const std::vector<videoMode>& offered, int maxWidth, int maxHeight) {
    std::map<std::pair<int, int>, videoMode> best;
    for (const videoMode& mode : offered) {
        if (mode.width <= 0 || mode.height <= 0 || mode.width > maxWidth || mode.height > maxHeight)
            continue;
        const auto key = std::make_pair(mode.width, mode.height);
        auto found = best.find(key);
        if (found == best.end()) {
            best.emplace(key, mode);
            continue;
        }
        const videoMode& kept = found->second;
        const double rate = mode.framesPerSecond();
        const double keptRate = kept.framesPerSecond();
        const bool raw = mode.mediaType == "video/x-raw";
        const bool keptRaw = kept.mediaType == "video/x-raw";
        if (rate > keptRate || (rate == keptRate && raw && !keptRaw))
            found->second = mode;
    }
    std::vector<videoMode> modes;
    for (const auto& entry : best)
        modes.push_back(entry.second);
    std::sort(modes.begin(), modes.end(), [](const videoMode& a, const videoMode& b) {
        const long long areaA = static_cast<long long>(a.width) * a.height;
        const long long areaB = static_cast<long long>(b.width) * b.height;
        if (areaA != areaB)
            return areaA > areaB;
        return a.width > b.width;
    });
    return modes;
}

videoMode chooseCameraMode(const std::vector<videoMode>& offered, bool& found, int maxWidth, int maxHeight) {
    found = !offered.empty();
    if (!found)
        return {};
    const std::vector<videoMode> usable = usableModes(offered, maxWidth, maxHeight);
    for (const videoMode& mode : usable) {
        if (mode.width == 640 && mode.height == 480)
            return mode;
    }
    if (!usable.empty())
        return usable.front();
    // Nothing fits: the smallest size, at its best rate; the pipeline scales it.
    const std::vector<videoMode> all = usableModes(offered, 1 << 30, 1 << 30);
    return all.back();
}

void fitWithin(int width, int height, int maxWidth, int maxHeight, int& fittedWidth, int& fittedHeight) {
    fittedWidth = width;
    fittedHeight = height;
    if (width <= 0 || height <= 0)
        return;
    const double scale = std::min({1.0, static_cast<double>(maxWidth) / width,
                                   static_cast<double>(maxHeight) / height});
    if (scale >= 1.0)
        return;
    fittedWidth = std::max(2, static_cast<int>(std::floor(width * scale)) & ~1);
    fittedHeight = std::max(2, static_cast<int>(std::floor(height * scale)) & ~1);
}
