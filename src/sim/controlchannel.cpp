#include "controlchannel.h"

#include "controlwire.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int Backlog = 16;

} // namespace

ControlChannel::ControlChannel(const QString &path, Bind bind, Serve serve, End end)
    : bind(std::move(bind)), serve(std::move(serve)), end(std::move(end))
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
        connection->number = ++lastConnection;
        Connection &served = *connection;
        connections.push_back(std::move(connection));
        served.thread = std::thread([this, &served] { serveConnection(served); });
    }
}

void ControlChannel::serveConnection(Connection &connection)
{
    ControlWire::Hello hello;
    if (ControlWire::receiveAll(connection.socket, &hello, sizeof(hello)) &&
        hello.magic == ControlWire::HelloMagic) {
        ucred credentials{};
        socklen_t length = sizeof(credentials);
        getsockopt(connection.socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length);
        const Host host{bind(int(hello.busNumber), int(hello.deviceNumber)), connection.number,
                        credentials.pid};
        for (;;) {
            ControlWire::Request wire;
            if (!ControlWire::receiveAll(connection.socket, &wire, sizeof(wire)))
                break;
            Request request;
            request.operation = wire.operation;
            request.number = wire.number;
            request.setup =
                SetupPacket{wire.requestType, wire.request, wire.value, wire.index, wire.length};
            request.timeoutMs = int(wire.timeoutMs);
            if (!request.setup.isIn() && wire.length > 0) {
                request.outData.resize(wire.length);
                if (!ControlWire::receiveAll(connection.socket, request.outData.data(),
                                             wire.length))
                    break;
            }
            Answer answer = serve(host, request);
            if (!request.setup.isIn())
                answer.inData.clear();
            answer.inData.truncate(wire.length);
            ControlWire::Answer header;
            header.result = answer.result;
            header.error = answer.error;
            header.inLength = std::uint32_t(answer.inData.size());
            iovec parts[2] = {{&header, sizeof(header)},
                              {answer.inData.data(), std::size_t(answer.inData.size())}};
            if (!ControlWire::sendAll(connection.socket, parts, answer.inData.isEmpty() ? 1 : 2))
                break;
        }
        end(host);
    }
    // The host's close() waits for this, as usbfs releases a file's claims inside close().
    shutdown(connection.socket, SHUT_RDWR);
    connection.finished = true;
}
