#ifndef TQ470_CONTROLWIRE_H
#define TQ470_CONTROLWIRE_H

// What the control-transfer library (preloaded into the program under test) and the emulated
// bus say to each other over the bus's control socket: one message per request and one answer,
// where umockdev's own ioctl path needs three round trips. One connection per open device node,
// so that the bus sees one open file of usbfs in each. Plain structures in host order: both ends
// run on the same machine. Free of Qt and of the heap, as the preloaded library must be.

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/uio.h>

namespace ControlWire {

// In $UMOCKDEV_DIR.
constexpr char SocketName[] = "tq470-control";
constexpr std::uint32_t HelloMagic = 0x54513437; // "TQ47"

// Sent once, when the program makes its first request on a node it opened.
struct Hello
{
    std::uint32_t magic = HelloMagic;
    std::uint32_t busNumber = 0;
    std::uint32_t deviceNumber = 0;
};

// The usbfs requests that go to the bus.
enum class Operation : std::uint8_t { Control, SetConfiguration, ClaimInterface, ReleaseInterface };

// Followed by wLength bytes of data for an OUT control transfer. The other operations carry their
// configuration or interface in number and no setup.
struct Request
{
    Operation operation = Operation::Control;
    std::uint32_t number = 0;
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
    std::uint32_t timeoutMs = 0;
};

// What the ioctl returns: result >= 0 the bytes moved, else -1 and errno = error. Followed by
// inLength bytes for an IN transfer.
struct Answer
{
    std::int32_t result = 0;
    std::int32_t error = 0;
    std::uint32_t inLength = 0;
};

// Both ends' way of moving a message whole. A closed socket or an error gives false.
inline bool sendAll(int socket, iovec *parts, int count)
{
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = std::size_t(count);
    while (message.msg_iovlen > 0) {
        const ssize_t sent = sendmsg(socket, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        std::size_t left = std::size_t(sent);
        while (message.msg_iovlen > 0 && left >= message.msg_iov->iov_len) {
            left -= message.msg_iov->iov_len;
            ++message.msg_iov;
            --message.msg_iovlen;
        }
        if (message.msg_iovlen > 0) {
            message.msg_iov->iov_base = static_cast<char *>(message.msg_iov->iov_base) + left;
            message.msg_iov->iov_len -= left;
        }
    }
    return true;
}

inline bool receiveAll(int socket, void *buffer, std::size_t length)
{
    auto *bytes = static_cast<char *>(buffer);
    while (length > 0) {
        const ssize_t received = recv(socket, bytes, length, MSG_WAITALL);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return false;
        bytes += received;
        length -= std::size_t(received);
    }
    return true;
}

} // namespace ControlWire

#endif
