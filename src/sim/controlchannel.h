#ifndef TQ470_CONTROLCHANNEL_H
#define TQ470_CONTROLCHANNEL_H

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
// testbed and one thread per connection, each serving one host handle's control transfers in
// turn, as usbfs does. A transfer that waits for its timeout holds only its own connection.
class ControlChannel
{
public:
    struct Transfer
    {
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
    // Called on the connection's thread when the host's first transfer names its node; the
    // key it returns goes with every transfer of that connection.
    using Bind = std::function<int(int busNumber, int deviceNumber)>;
    using Serve = std::function<Answer(int key, const Transfer &transfer)>;

    // Listens at path; an existing file there is replaced.
    ControlChannel(const QString &path, Bind bind, Serve serve);
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
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void accept();
    void serveConnection(Connection &connection);

    Bind bind;
    Serve serve;
    int listener = -1;
    std::thread acceptor;
    std::mutex lock;
    bool stopping = false;
    std::vector<std::unique_ptr<Connection>> connections;
};

#endif
