#pragma once
// A fresh folder under the system's temporary directory, removed with all it
// holds at the end, for tests that need real files or sockets.
//
//   testSupport::tempFolder dir("vorn-channel-test");
//   const std::string socketPath = dir.file("kelvat");

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testSupport {

class tempFolder {
public:
    explicit tempFolder(const std::string& prefix = "vorn-test") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~tempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    tempFolder(const tempFolder&) = delete;
    tempFolder& operator=(const tempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace testSupport
