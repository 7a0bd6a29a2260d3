#pragma once
// Where the result channel sends: the local receiver's Unix datagram socket,
// and the UDP address and port of the broadcast fallback.
//
// Defaults: socket "kelvat" in $XDG_RUNTIME_DIR, else in the private
// directory /tmp/vorn-<uid>; broadcast to 255.255.255.255 port 47474.
// Environment: VORN_SOCKET, VORN_BROADCAST_ADDRESS, VORN_BROADCAST_PORT.
// Program options (passed through setChannelOption): --socket,
// --broadcast-address, --broadcast-port.

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::uint16_t defaultBroadcastPort = 47474;
inline constexpr const char* defaultBroadcastAddress = "255.255.255.255";
inline constexpr const char* socketName = "kelvat";

struct channelOptions {
    std::string socketPath;       // the local receiver's socket
    std::string broadcastAddress; // numeric IPv4 address
    std::uint16_t broadcastPort = defaultBroadcastPort;
    // True when socketPath lies in the per-user directory under /tmp, which
    // must be ours and closed to others before anything is sent through it.
    bool privateDirectory = false;
};

// "$XDG_RUNTIME_DIR/kelvat" when that variable names an absolute path, else
// "/tmp/vorn-<uid>/kelvat".
std::string defaultSocketPath();
std::string privateSocketDirectory(); // "/tmp/vorn-<uid>"

// Built-in defaults only.
channelOptions defaultChannelOptions();

// Sets one option by name: "socket", "broadcast-address" or "broadcast-port".
// Returns false and a reason in `error` for an unknown name or a bad value.
bool setChannelOption(channelOptions& options, std::string_view name, std::string_view value,
                      std::string& error);

// Applies VORN_SOCKET, VORN_BROADCAST_ADDRESS and VORN_BROADCAST_PORT when set.
bool applyChannelEnvironment(channelOptions& options, std::string& error);

// Defaults plus environment; a bad environment value is reported on stderr
// ("ERROR: <reason>") and ends the process with status 1.
channelOptions channelOptionsFromEnvironment();

// Checks that `directory` is a real directory owned by us and writable by
// nobody else; with `create`, makes it (mode 0700) when missing.
// Returns 0 or an errno value (EACCES for a directory we must not trust).
int checkPrivateDirectory(const std::string& directory, bool create);
