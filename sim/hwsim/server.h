// The runner's side of the simulated devices: a listening socket that the
// preloaded shim connects to for every open of a device, and the loop that
// serves the connections, one request at a time as a driver serialises them.
#pragma once

#include "devices.h"
#include "request.h"
#include "unique_fd.h"

#include <sys/types.h>

#include <map>
#include <string>

namespace sim {

class Server {
public:
    // Listens at a new abstract address. Throws std::runtime_error.
    explicit Server(Devices &devices);

    // The address to give programs in HWSIM_SOCKET.
    const std::string &name() const { return name_; }

    // Serves the devices until the process `child` ends; its exit status,
    // 128 + the signal if a signal ended it. SIGCHLD must be blocked.
    int serve(pid_t child);

private:
    // A connection: one open descriptor of a device in a program.
    struct Connection {
        UniqueFd socket;
        bool opened = false;
        Abi abi;
        OpenFile file;
    };
    void accept_one();
    bool serve_packet(Connection &connection);
    bool open(Connection &connection, const std::uint8_t *packet, std::size_t size);
    bool ioctl(Connection &connection, const std::uint8_t *packet, std::size_t size);
    void drop(int fd);

    Devices &devices_;
    std::string name_;
    UniqueFd listener_;
    std::map<int, Connection> connections_;
};

} // namespace sim
