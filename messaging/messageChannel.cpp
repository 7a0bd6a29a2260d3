// Opening the result channel: a receiver on this machine first, the network
// second, and the process ends when neither can be reached.

#include <cstdlib>
#include <iostream>

#include "messaging/localSocketTransport.h"
#include "messaging/messageStream.h"
#include "messaging/udpBroadcastTransport.h"

void openMessageChannel(const channelOptions& options) {
    int error = 0;
    std::unique_ptr<datagramTransport> transport;
    if (options.privateDirectory) {
        const std::string directory = options.socketPath.substr(0, options.socketPath.rfind('/'));
        error = checkPrivateDirectory(directory, false);
    }
    if (error == 0)
        transport = localSocketTransport::open(options.socketPath, error);
    if (transport) {
        std::cout << "local connection open" << std::endl;
        messageStream.setTransport(std::move(transport));
        return;
    }
    std::cerr << "ERROR: Unable to create local mailslot " << static_cast<unsigned>(error) << std::endl;

    transport = udpBroadcastTransport::open(options.broadcastAddress, options.broadcastPort, error);
    if (!transport) {
        std::cerr << "ERROR: Unable to create broadcast mailslot " << static_cast<unsigned>(error)
                  << std::endl;
        std::exit(1);
    }
    std::cout << "broadcasting to network" << std::endl;
    messageStream.setTransport(std::move(transport));
}
