#ifndef TQ470_CONTROLCHANNEL_H
#define TQ470_CONTROLCHANNEL_H

#include "controlwire.h"
#include "setuppacket.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The emulated bus's end of the control socket (see controlwire.h): a listening socket in the
// testbed and one thread per connection, each serving one host handle's requests in turn, as
// usbfs does. A transfer that waits for its timeout holds only its own connection.
class ControlChannel
{
public:
    // Who sends a connection's requests: the node bind() chose, the connection (one open file of
    // usbfs, numbered from 1) and the host process at its other end.
    struct Host
    {
        int node = -1;
        quint64 connection = 0;
        qint64 process = 0;
    };
    struct Request
    {
        ControlWire::Operation operation = ControlWire::Operation::Control;
        unsigned number = 0;
        SetupPacket setup;
        QByteArray outData;
        int timeoutMs = 0;
    };
    struct Answer
    {
        int result = 0;
        int error = 0;
        QByteArray inData;
    };
    // Called on the connection's thread when the host's first request names its node; the node
    // it returns goes with every request of that connection.
    using Bind = std::function<int(int busNumber, int deviceNumber)>;
    using Serve = std::function<Answer(const Host &host, const Request &request)>;
    // Called once the host has closed the connection (closing its file, or ending), before the
    // host's close() returns.
    using End = std::function<void(const Host &host)>;

    // Listens at path; an existing file there is replaced.
    ControlChannel(const QString &path, Bind bind, Serve serve, End end);
    ~ControlChannel();
    ControlChannel(const ControlChannel &) = delete;
    ControlChannel &operator=(const ControlChannel &) = delete;

    bool isListening() const { return listener >= 0; }
    // Closes the socket and every connection and waits for their threads. Idempotent.
    void stop();

private:
    struct Connection
    {
        int socket = -1;
        quint64 number = 0;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void accept();
    void serveConnection(Connection &connection);

    Bind bind;
    Serve serve;
    End end;
    int listener = -1;
    quint64 lastConnection = 0;
    std::thread acceptor;
    std::mutex lock;
    bool stopping = false;
    std::vector<std::unique_ptr<Connection>> connections;
};

#endif
