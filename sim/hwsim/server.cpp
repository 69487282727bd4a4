#include "server.h"

#include "protocol.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <vector>

namespace sim {
namespace {

using Packet = std::vector<std::uint8_t>;

sockaddr_un address_of(const std::string &name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    return address;
}

bool send_packet(int fd, const hvl::ByteWriter &out) {
    return out.ok() &&
           ::send(fd, out.data(), out.length(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.length());
}

// The next packet from the shim; empty when the connection is gone or broken.
// Its size is asked first (MSG_PEEK | MSG_TRUNC), so that no more is allocated.
Packet receive_packet(int fd) {
    std::uint8_t first = 0;
    ssize_t size = 0;
    do {
        size = ::recv(fd, &first, 1, MSG_PEEK | MSG_TRUNC);
    } while (size < 0 && errno == EINTR);
    Packet packet(size > 0 && static_cast<std::size_t>(size) <= wire::kMaxPacket
                      ? static_cast<std::size_t>(size)
                      : 0);
    if (!packet.empty() && ::recv(fd, packet.data(), packet.size(), 0) != size) {
        packet.clear();
    }
    return packet;
}

// The caller's memory behind the connection: the record that came with the
// request is at hand; anything else is asked for. Writes are collected for Done.
class RemoteMemory : public UserMemory {
public:
    RemoteMemory(int fd, const Abi &abi) : UserMemory(abi), fd_(fd) {}

    // Bytes of the caller's memory that came with the request, read off `in`.
    void take(std::uint64_t address, bool readable, const std::uint8_t *bytes, std::size_t count,
              hvl::ByteReader &in) {
        in.skip(count);
        if (in.ok()) {
            fetched_.push_back({address, readable, Packet(bytes, bytes + count)});
        }
    }

    bool read(std::uint64_t address, std::uint8_t *to, std::size_t count) override {
        if (count == 0) {
            return true;
        }
        const Fetched *range = find(address, count);
        range = range != nullptr ? range : ask(address, count);
        if (range != nullptr && range->readable) {
            std::copy_n(range->bytes.begin() +
                            static_cast<std::ptrdiff_t>(address - range->address),
                        count, to);
        }
        return range != nullptr && range->readable;
    }

    void write(std::uint64_t address, const std::uint8_t *from, std::size_t count) override {
        if (count > 0) {
            writes_.push_back({address, Packet(from, from + count)});
        }
    }

    struct Write {
        std::uint64_t address;
        Packet bytes;
    };
    const std::vector<Write> &writes() const { return writes_; }
    // The connection failed while memory was read: the request is lost with it.
    bool lost() const { return lost_; }

private:
    struct Fetched {
        std::uint64_t address;
        bool readable;
        Packet bytes;
    };

    // Bytes that did not come with the request, asked for.
    const Fetched *ask(std::uint64_t address, std::size_t count) {
        std::uint8_t request[16];
        hvl::ByteWriter out(request, sizeof request);
        out.u8(wire::kRead).u64(address).u32(static_cast<std::uint32_t>(count));
        const Packet answer = !lost_ && count <= wire::kMaxRead && send_packet(fd_, out)
                                  ? receive_packet(fd_)
                                  : Packet();
        hvl::ByteReader in(answer.data(), answer.size());
        const bool bytes = in.u8() == wire::kBytes;
        Fetched fetched{address, in.u8() != 0, Packet(count)};
        in.bytes(fetched.bytes.data(), count);
        lost_ = lost_ || !bytes || !in.finished();
        fetched_.push_back(std::move(fetched));
        return &fetched_.back();
    }

    const Fetched *find(std::uint64_t address, std::size_t count) const {
        for (const Fetched &range : fetched_) {
            if (address >= range.address && address - range.address <= range.bytes.size() &&
                count <= range.bytes.size() - (address - range.address)) {
                return &range;
            }
        }
        return nullptr;
    }

    int fd_;
    std::vector<Fetched> fetched_;
    std::vector<Write> writes_;
    bool lost_ = false;
};

bool send_done(int fd, const Outcome &outcome, bool ready, const RemoteMemory &memory) {
    Packet packet(wire::kMaxPacket);
    hvl::ByteWriter out(packet.data(), packet.size());
    out.u8(wire::kDone)
        .u32(static_cast<std::uint32_t>(outcome.ret))
        .u32(static_cast<std::uint32_t>(outcome.err))
        .u8(ready ? 1 : 0)
        .u16(static_cast<std::uint16_t>(memory.writes().size()));
    for (const RemoteMemory::Write &write : memory.writes()) {
        out.u64(write.address);
        out.u32(static_cast<std::uint32_t>(write.bytes.size()))
            .bytes(write.bytes.data(), write.bytes.size());
    }
    return send_packet(fd, out);
}

} // namespace

Server::Server(Devices &devices) : devices_(devices) {
    listener_.reset(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener_.valid()) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    for (unsigned attempt = 0;; ++attempt) {
        name_ = "hwsim-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        const sockaddr_un address = address_of(name_);
        if (::bind(listener_.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) ==
            0) {
            break;
        }
        if (errno != EADDRINUSE || attempt == 100) {
            throw std::runtime_error("socket " + name_ + ": " + std::strerror(errno));
        }
    }
    if (::listen(listener_.get(), SOMAXCONN) != 0) {
        throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
    }
}

int Server::serve(pid_t child) {
    sigset_t chld;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    const UniqueFd signals(::signalfd(-1, &chld, SFD_CLOEXEC | SFD_NONBLOCK));
    int status = 0;
    bool running = true;
    for (;;) {
        std::vector<pollfd> fds{{listener_.get(), POLLIN, 0}, {signals.get(), POLLIN, 0}};
        for (const auto &[fd, connection] : connections_) {
            fds.push_back({fd, POLLIN, 0});
        }
        // Once the program has ended, what its descriptors left is served
        // (their closes, above all), and then the runner ends too.
        if (::poll(fds.data(), fds.size(), running ? -1 : 0) <= 0 && !running) {
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            accept_one();
        }
        signalfd_siginfo info{};
        while (::read(signals.get(), &info, sizeof info) > 0) {
        }
        if (running && ::waitpid(child, &status, WNOHANG) == child) {
            running = false;
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents != 0 && !serve_packet(connections_.at(fds[i].fd))) {
                drop(fds[i].fd);
            }
        }
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

void Server::accept_one() {
    const int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        connections_[fd].socket.reset(fd);
    }
}

void Server::drop(int fd) {
    const auto found = connections_.find(fd);
    if (found->second.opened) {
        devices_.close(found->second.file);
    }
    connections_.erase(found);
}

// One packet from a program; false when the connection is to be dropped.
bool Server::serve_packet(Connection &connection) {
    const Packet packet = receive_packet(connection.socket.get());
    if (packet.empty()) {
        return false;
    }
    if (!connection.opened) {
        return packet[0] == wire::kOpen && open(connection, packet.data(), packet.size());
    }
    return packet[0] == wire::kIoctl && ioctl(connection, packet.data(), packet.size());
}

bool Server::open(Connection &connection, const std::uint8_t *packet, std::size_t size) {
    hvl::ByteReader in(packet + 1, size - 1);
    connection.abi = Abi{in.u8(), in.u8(), in.u8() != 0}; // sizes, then byte order
    connection.file.pid = static_cast<int>(in.u32());
    connection.file.fd = static_cast<int>(in.u32());
    const int flags = static_cast<int>(in.u32());
    const std::string path(reinterpret_cast<const char *>(packet + (size - in.remaining())),
                           in.remaining());
    connection.file.device = device_at(path);
    const bool abi_known = (connection.abi.pointer_size == 4 || connection.abi.pointer_size == 8) &&
                           (connection.abi.long_size == 4 || connection.abi.long_size == 8);
    if (!in.ok() || connection.file.device == nullptr || !abi_known) {
        return false;
    }
    const int err = devices_.open(connection.file, flags);
    connection.opened = err == 0;
    const std::vector<wire::PointedBuffer> buffers =
        pointed_buffers(*connection.file.device, connection.abi);
    std::uint8_t answer[64];
    hvl::ByteWriter out(answer, sizeof answer);
    out.u8(wire::kOpened)
        .u32(static_cast<std::uint32_t>(err))
        .u16(connection.file.device->record_size)
        .u8(static_cast<std::uint8_t>(buffers.size()));
    for (const wire::PointedBuffer &buffer : buffers) {
        wire::put_buffer(out, buffer);
    }
    return send_packet(connection.socket.get(), out) && connection.opened;
}

bool Server::ioctl(Connection &connection, const std::uint8_t *packet, std::size_t size) {
    hvl::ByteReader in(packet + 1, size - 1);
    // A braced list reads the fields left to right.
    const IoctlCall call{in.u32(), in.u8(), in.u8(), in.u16(), in.u64()};
    const int fd = connection.socket.get();
    RemoteMemory memory(fd, connection.abi);
    const std::size_t record = in.u16();
    memory.take(call.arg, true, packet + (size - in.remaining()), record, in);
    for (std::uint8_t buffers = in.u8(); buffers > 0 && in.ok(); --buffers) {
        const std::uint64_t address = in.u64();
        const std::size_t count = in.u32();
        const bool readable = in.u8() != 0;
        memory.take(address, readable, packet + (size - in.remaining()), count, in);
    }
    if (!in.finished()) {
        return false;
    }
    Outcome outcome;
    try {
        outcome = devices_.ioctl(connection.file, call, memory);
    } catch (const std::exception &error) {
        (void)std::fprintf(stderr, "hwsim: %s\n", error.what());
        outcome = failed("error", EIO);
    }
    if (memory.lost() || !send_done(fd, outcome, readable(connection.file), memory)) {
        return false;
    }
    bool faulted = false;
    if (!memory.writes().empty()) {
        const Packet applied = receive_packet(fd);
        hvl::ByteReader answer(applied.data(), applied.size());
        if (answer.u8() != wire::kApplied) {
            return false;
        }
        faulted = answer.u16() != wire::kAllApplied;
    }
    devices_.finish(connection.file, outcome, faulted);
    const bool now_ready = readable(connection.file);
    if (faulted) {
        std::uint8_t result[8];
        hvl::ByteWriter out(result, sizeof result);
        out.u8(wire::kResult).u32(static_cast<std::uint32_t>(outcome.err)).u8(now_ready ? 1 : 0);
        if (!send_packet(fd, out)) {
            return false;
        }
    }
    std::uint8_t kind = 0;
    return !now_ready || send_packet(fd, hvl::ByteWriter(&kind, 1).u8(wire::kReady));
}

} // namespace sim
