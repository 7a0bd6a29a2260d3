#pragma once
// Minimal PNG files for the runner's tests: 8-bit RGB, stored (uncompressed)
// deflate blocks, so the inputs need no library and are exactly what we say.

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace pngFile {

inline std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

inline void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

inline void chunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& body) {
    put32(out, static_cast<std::uint32_t>(body.size()));
    std::vector<std::uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    out.insert(out.end(), typed.begin(), typed.end());
    put32(out, crc32(typed.data(), typed.size()));
}

// `rgb` holds width * height * 3 bytes, rows top first.
inline std::vector<std::uint8_t> encode(int width, int height, const std::vector<std::uint8_t>& rgb) {
    std::vector<std::uint8_t> raw; // each row: filter byte 0, then the pixels
    raw.reserve(static_cast<std::size_t>(height) * (width * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgb.begin() + static_cast<std::ptrdiff_t>(y) * width * 3,
                   rgb.begin() + static_cast<std::ptrdiff_t>(y + 1) * width * 3);
    }
    std::vector<std::uint8_t> z = {0x78, 0x01};
    std::size_t done = 0;
    do {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - done);
        const bool last = done + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n));
        z.push_back(static_cast<std::uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(done),
                 raw.begin() + static_cast<std::ptrdiff_t>(done + n));
        done += n;
    } while (done < raw.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, (b << 16) | a);

    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    put32(header, static_cast<std::uint32_t>(width));
    put32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit, RGB, deflate, no filter, no interlace
    chunk(out, "IHDR", header);
    chunk(out, "IDAT", z);
    chunk(out, "IEND", {});
    return out;
}

inline bool write(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb) {
    const std::vector<std::uint8_t> bytes = encode(width, height, rgb);
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

// Width and height from a PNG's header; false when the file is no PNG.
inline bool readSize(const std::string& path, int& width, int& height) {
    std::ifstream file(path, std::ios::binary);
    std::uint8_t head[24] = {};
    if (!file.read(reinterpret_cast<char*>(head), sizeof head))
        return false;
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!std::equal(signature, signature + 8, head) || std::string(head + 12, head + 16) != "IHDR")
        return false;
    width = (head[16] << 24) | (head[17] << 16) | (head[18] << 8) | head[19];
    height = (head[20] << 24) | (head[21] << 16) | (head[22] << 8) | head[23];
    return true;
}

} // namespace pngFile
