#ifndef TQ470_TESTS_DEBUGCAPTURE_H
#define TQ470_TESTS_DEBUGCAPTURE_H

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

// Collects the qDebug lines written from any thread while it exists; other messages go on to
// the previous handler so that test diagnostics stay visible.
class DebugCapture
{
public:
    DebugCapture() : previous(qInstallMessageHandler(handle)) { current = this; }
    ~DebugCapture() { qInstallMessageHandler(previous); }
    QStringList lines() const
    {
        QMutexLocker locker(&mutex);
        return captured;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type != QtDebugMsg)
            return current->previous(type, context, message);
        QMutexLocker locker(&current->mutex);
        current->captured << message;
    }
    static inline DebugCapture *current = nullptr;
    QtMessageHandler previous;
    mutable QMutex mutex;
    QStringList captured;
};

#endif
