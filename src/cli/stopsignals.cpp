#include "stopsignals.h"

#include "usbtq470.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler only writes a byte into this pipe; its reading end wakes the event loop.
int stopPipe[2] = {-1, -1};
constexpr int DrainBytes = 16;

} // namespace

StopSignals::StopSignals(USBTQ470 *device)
{
    if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    stoppedDevice.store(device);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : Signals)
        sigaction(signalNumber, &action, nullptr);
    catching = true;
    notifier = std::make_unique<QSocketNotifier>(stopPipe[0], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &StopSignals::drain);
}

StopSignals::~StopSignals()
{
    notifier.reset();
    if (!catching)
        return;
    stoppedDevice.store(nullptr);
    for (const int signalNumber : Signals)
        std::signal(signalNumber, SIG_IGN);
    for (int &end : stopPipe) {
        ::close(end);
        end = -1;
    }
}

void StopSignals::onSignal(int)
{
    const int savedErrno = errno;
    if (USBTQ470 *device = stoppedDevice.load())
        device->requestStop();
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
    errno = savedErrno;
}

void StopSignals::drain()
{
    char bytes[DrainBytes];
    while (::read(stopPipe[0], bytes, sizeof bytes) > 0) {
    }
    signalled = true;
    Q_EMIT stopRequested();
}
