#pragma once
// The transport under the result channel: it delivers one whole datagram per
// call. Implementations: the local Unix datagram socket, UDP broadcast, and
// an in-memory recorder for tests.

#include <cstddef>

struct sendResult {
    bool ok;            // false: the write failed (the channel ends the process)
    bool dropped;       // true: the receiver did not take it (queue full) and this datagram was lost
    std::size_t bytesWritten;
    int errorNumber;    // errno of a failed or dropped write, 0 otherwise
};

class datagramTransport {
public:
    virtual ~datagramTransport() = default;
    // Never blocks.
    virtual sendResult send(const char* bytes, std::size_t count) = 0;
};
