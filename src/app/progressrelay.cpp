#include "progressrelay.h"

#include <QProgressBar>
#include <QThread>

ProgressRelay::ProgressRelay(QProgressBar *bar) : QObject(bar), bar(bar)
{
}

void ProgressRelay::report(int percent)
{
    // A service command run from the window reports on the window's own thread: shown at once,
    // as it goes.
    if (QThread::currentThread() == thread()) {
        bar->setValue(percent);
        return;
    }
    latest = percent;
    if (!queued.exchange(true))
        QMetaObject::invokeMethod(this, &ProgressRelay::show, Qt::QueuedConnection);
}

void ProgressRelay::show()
{
    // Cleared first: a value reported from here on queues the next update.
    queued = false;
    bar->setValue(latest);
}
