#ifndef TQ470_PROGRESSRELAY_H
#define TQ470_PROGRESSRELAY_H

#include <QObject>

#include <atomic>

class QProgressBar;

// Passes a worker's progress to a progress bar, the latest value only: however fast the worker
// reports, at most one update waits in the window's event queue. A progress bar repaints at once
// on every new value, so a backlog of values would stand the window still.
class ProgressRelay : public QObject
{
    Q_OBJECT

public:
    // Belongs to bar, and lives in its thread.
    explicit ProgressRelay(QProgressBar *bar);

    // Safe from any thread: connect worker signals to it with Qt::DirectConnection. On the bar's
    // own thread the value is shown at once.
    void report(int percent);

private:
    Q_INVOKABLE void show();

    QProgressBar *const bar;
    std::atomic<int> latest{0};
    std::atomic<bool> queued{false};
};

#endif
