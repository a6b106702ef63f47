#ifndef TQ470_DEBUGLOG_H
#define TQ470_DEBUGLOG_H

#include <QLoggingCategory>

// The debug lines of the device layers, the upgrade worker and the window go through one
// logging category: a line whose category is off is neither formatted nor written.
Q_DECLARE_LOGGING_CATEGORY(tq470Debug)

class DebugLog
{
public:
    static constexpr char CategoryName[] = "tq470";

    // Turns the category's debug lines on or off for the whole process (on by default).
    static void setEnabled(bool enabled);
    static bool isOurs(const QMessageLogContext &context);

    // Writes the category's lines as plain qDebug() lines, without the category in front, and
    // hands every other message to the handler installed before.
    static void installPlainHandler();

private:
    static void plainHandler(QtMsgType type, const QMessageLogContext &context,
                             const QString &message);
    static inline QtMessageHandler previousHandler = nullptr;
};

#endif
