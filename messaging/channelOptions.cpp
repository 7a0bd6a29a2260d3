#include "messaging/channelOptions.h"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <iostream>

std::string privateSocketDirectory() {
    return "/tmp/vorn-" + std::to_string(static_cast<unsigned long>(::getuid()));
}

std::string defaultSocketPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        return std::string(runtime) + "/" + socketName;
    return privateSocketDirectory() + "/" + socketName;
}

channelOptions defaultChannelOptions() {
    channelOptions options;
    options.socketPath = defaultSocketPath();
    options.privateDirectory = options.socketPath.rfind(privateSocketDirectory() + "/", 0) == 0;
    options.broadcastAddress = defaultBroadcastAddress;
    options.broadcastPort = defaultBroadcastPort;
    return options;
}

bool setChannelOption(channelOptions& options, std::string_view name, std::string_view value,
                      std::string& error) {
    if (name == "socket") {
        sockaddr_un probe{};
        if (value.empty() || value.size() >= sizeof probe.sun_path) {
            error = "socket path must have 1 to " + std::to_string(sizeof probe.sun_path - 1) +
                    " characters: '" + std::string(value) + "'";
            return false;
        }
        options.socketPath = std::string(value);
        // A path the user names is the user's choice; only our own default
        // directory under /tmp needs the ownership check.
        options.privateDirectory = false;
        return true;
    }
    if (name == "broadcast-address") {
        in_addr address{};
        const std::string text(value);
        if (::inet_pton(AF_INET, text.c_str(), &address) != 1) {
            error = "broadcast address must be a numeric IPv4 address: '" + text + "'";
            return false;
        }
        options.broadcastAddress = text;
        return true;
    }
    if (name == "broadcast-port") {
        unsigned port = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
        if (ec != std::errc() || end != value.data() + value.size() || port < 1 || port > 65535) {
            error = "broadcast port must be a number from 1 to 65535: '" + std::string(value) + "'";
            return false;
        }
        options.broadcastPort = static_cast<std::uint16_t>(port);
        return true;
    }
    error = "unknown channel option '" + std::string(name) + "'";
    return false;
}

bool applyChannelEnvironment(channelOptions& options, std::string& error) {
    static const struct {
        const char* variable;
        const char* option;
    } table[] = {
        {"VORN_SOCKET", "socket"},
        {"VORN_BROADCAST_ADDRESS", "broadcast-address"},
        {"VORN_BROADCAST_PORT", "broadcast-port"},
    };
    for (const auto& entry : table) {
        const char* value = std::getenv(entry.variable);
        if (!value)
            continue;
        if (!setChannelOption(options, entry.option, value, error)) {
            error = std::string(entry.variable) + ": " + error;
            return false;
        }
    }
    return true;
}

channelOptions channelOptionsFromEnvironment() {
    channelOptions options = defaultChannelOptions();
    std::string error;
    if (!applyChannelEnvironment(options, error)) {
        std::cerr << "ERROR: " << error << std::endl;
        std::exit(1);
    }
    return options;
}

int checkPrivateDirectory(const std::string& directory, bool create) {
    struct stat info {};
    if (::lstat(directory.c_str(), &info) != 0) {
        if (errno != ENOENT || !create)
            return errno;
        if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
        if (::lstat(directory.c_str(), &info) != 0)
            return errno;
    }
    // Anyone could have made it first: it must be ours and closed to others,
    // or they could read our messages or swap the socket.
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid() || (info.st_mode & (S_IWGRP | S_IWOTH)))
        return EACCES;
    return 0;
}
