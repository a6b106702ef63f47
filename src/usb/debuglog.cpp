#include "debuglog.h"

#include <cstring>

Q_LOGGING_CATEGORY(tq470Debug, DebugLog::CategoryName, QtDebugMsg)

void DebugLog::setEnabled(bool enabled)
{
    const_cast<QLoggingCategory &>(tq470Debug()).setEnabled(QtDebugMsg, enabled);
}

bool DebugLog::isOurs(const QMessageLogContext &context)
{
    return context.category && std::strcmp(context.category, CategoryName) == 0;
}

void DebugLog::installPlainHandler()
{
    previousHandler = qInstallMessageHandler(plainHandler);
}

void DebugLog::plainHandler(QtMsgType type, const QMessageLogContext &context,
                            const QString &message)
{
    if (!isOurs(context))
        return previousHandler(type, context, message);
    const QMessageLogContext plain(context.file, context.line, context.function, "default");
    previousHandler(type, plain, message);
}
