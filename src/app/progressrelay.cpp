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
        // By name: the call is then built inside QtCore, which hands it over under its own lock
        // (a functor built here would be a hand-over ThreadSanitizer cannot follow).
        QMetaObject::invokeMethod(this, "show", Qt::QueuedConnection);
}

void ProgressRelay::show()
{
    // Cleared first: a value reported from here on queues the next update.
    queued = false;
    bar->setValue(latest);
}
