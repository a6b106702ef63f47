#include "controlchannel.h"

#include "controlwire.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int Backlog = 16;

bool receiveAll(int socket, void *buffer, std::size_t length)
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

bool sendAll(int socket, const void *header, std::size_t headerLength, const QByteArray &data)
{
    iovec parts[2] = {{const_cast<void *>(header), headerLength},
                      {const_cast<char *>(data.constData()), std::size_t(data.size())}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = data.isEmpty() ? 1 : 2;
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

} // namespace

ControlChannel::ControlChannel(const QString &path, Bind bind, Serve serve)
    : bind(std::move(bind)), serve(std::move(serve))
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(name.size()) >= sizeof(address.sun_path))
        return;
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    unlink(name.constData());
    listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
        listen(listener, Backlog) != 0) {
        ::close(listener);
        listener = -1;
        return;
    }
    acceptor = std::thread([this] { accept(); });
}

ControlChannel::~ControlChannel()
{
    stop();
}

void ControlChannel::stop()
{
    {
        std::lock_guard<std::mutex> locker(lock);
        if (stopping)
            return;
        stopping = true;
        if (listener >= 0)
            shutdown(listener, SHUT_RDWR);
        for (const auto &connection : connections)
            shutdown(connection->socket, SHUT_RDWR);
    }
    if (acceptor.joinable())
        acceptor.join();
    if (listener >= 0)
        ::close(listener);
    // The acceptor has ended: nobody adds connections any more.
    for (const auto &connection : connections) {
        connection->thread.join();
        ::close(connection->socket);
    }
    connections.clear();
}

void ControlChannel::accept()
{
    for (;;) {
        const int socket = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        const int error = errno;
        std::lock_guard<std::mutex> locker(lock);
        if (socket < 0 && error == EINTR && !stopping)
            continue;
        if (socket < 0 || stopping) {
            if (socket >= 0)
                ::close(socket);
            return;
        }
        // A host opens a handle per run, so finished connections are few; collect them here.
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->finished) {
                (*it)->thread.join();
                ::close((*it)->socket);
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        Connection &served = *connection;
        connections.push_back(std::move(connection));
        served.thread = std::thread([this, &served] { serveConnection(served); });
    }
}

void ControlChannel::serveConnection(Connection &connection)
{
    ControlWire::Hello hello;
    if (receiveAll(connection.socket, &hello, sizeof(hello)) &&
        hello.magic == ControlWire::HelloMagic) {
        const int key = bind(int(hello.busNumber), int(hello.deviceNumber));
        for (;;) {
            ControlWire::Request request;
            if (!receiveAll(connection.socket, &request, sizeof(request)))
                break;
            Transfer transfer;
            transfer.setup.requestType = request.requestType;
            transfer.setup.request = request.request;
            transfer.setup.value = request.value;
            transfer.setup.index = request.index;
            transfer.setup.length = request.length;
            transfer.timeoutMs = int(request.timeoutMs);
            if (!transfer.setup.isIn() && request.length > 0) {
                transfer.outData.resize(request.length);
                if (!receiveAll(connection.socket, transfer.outData.data(), request.length))
                    break;
            }
            Answer answer = serve(key, transfer);
            if (!transfer.setup.isIn())
                answer.inData.clear();
            answer.inData.truncate(request.length);
            ControlWire::Answer header;
            header.result = answer.result;
            header.error = answer.error;
            header.inLength = std::uint32_t(answer.inData.size());
            if (!sendAll(connection.socket, &header, sizeof(header), answer.inData))
                break;
        }
    }
    connection.finished = true;
}
