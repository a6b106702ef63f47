#ifndef TQ470_TESTS_DEBUGCAPTURE_H
#define TQ470_TESTS_DEBUGCAPTURE_H

#include <QMutex>
#include <QStringList>

// Collects the qDebug lines of every thread while it lives; other messages go on as before.
class DebugCapture
{
public:
    DebugCapture() : previous(qInstallMessageHandler(handle)) { current = this; }
    ~DebugCapture() { qInstallMessageHandler(previous); }
    QStringList lines() const { QMutexLocker locker(&mutex); return captured; }

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
