#pragma once
// Datagrams by UDP to a configurable IPv4 address and port, broadcast allowed
// (by default the limited broadcast address 255.255.255.255, port 47474).
// The fallback when no receiver listens on this machine.

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>

#include "messaging/datagramTransport.h"
#include "messaging/uniqueFd.h"

class udpBroadcastTransport : public datagramTransport {
public:
    // Ready transport, or nullptr with the errno in `errorNumber` (EINVAL for
    // an address that is not numeric IPv4, ENETUNREACH when there is no route).
    static std::unique_ptr<udpBroadcastTransport> open(const std::string& address,
                                                       std::uint16_t port, int& errorNumber);

    // Never blocks; a full send queue (EAGAIN, ENOBUFS) drops the datagram.
    sendResult send(const char* bytes, std::size_t count) override;

private:
    udpBroadcastTransport(uniqueFd fd, const sockaddr_in& target);

    uniqueFd fd_;
    sockaddr_in target_;
};
