#ifndef TQ470_STOPSIGNALS_H
#define TQ470_STOPSIGNALS_H

#include <QObject>

#include <atomic>
#include <csignal>
#include <memory>

class QSocketNotifier;
class USBTQ470;

// While it lives, Ctrl-C (SIGINT) and SIGTERM no longer end the process: each is reported by
// stopRequested() on the thread that made this object, so that the work can end at a clean
// point and say how far it got. Once it is gone both stay ignored: the work has its result
// then, and a stop that comes too late (a terminal's Ctrl-C and a parent's SIGTERM may both
// come) must not turn a finished command into a killed one. Only one may live at a time; when
// its pipe cannot be made, the default handling stays.
//
// Work that waits on this thread without an event loop names its device: the handler itself
// asks the device to stop, which its waits notice within USBTQ470::StopPollMs.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(USBTQ470 *device = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // True once a signal came.
    bool caught() const { return signalled; }

Q_SIGNALS:
    void stopRequested();

private:
    static constexpr int Signals[] = {SIGINT, SIGTERM};

    static void onSignal(int);
    void drain();

    // The device of the living object, if it named one.
    static inline std::atomic<USBTQ470 *> stoppedDevice{nullptr};

    bool catching = false;
    bool signalled = false;
    std::unique_ptr<QSocketNotifier> notifier;
};

#endif
