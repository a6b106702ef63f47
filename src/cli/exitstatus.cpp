#include "exitstatus.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

struct ExitClass
{
    int code;
    const char *reason;
    const char *meaning;
};

constexpr ExitClass Classes[] = {
    {ExitStatus::Done, "done", "done"},
    {ExitStatus::Failed, "failed", "the device or the operation failed"},
    {ExitStatus::Usage, "usage", "bad usage"},
    {ExitStatus::NotFound, "not-found", "no (matching) Tq470 found"},
    {ExitStatus::AccessRefused, "access-refused", "access to the Tq470 refused"},
    {ExitStatus::Ambiguous, "ambiguous", "several Tq470s and none chosen"},
    {ExitStatus::BadInput, "bad-input", "an input file unreadable or not valid"},
    {ExitStatus::Interrupted, "interrupted", "interrupted"},
};

const ExitClass &classOf(int code)
{
    for (const ExitClass &entry : Classes)
        if (entry.code == code)
            return entry;
    return Classes[1];
}

} // namespace

QString ExitStatus::reason(int code)
{
    return QLatin1String(classOf(code).reason);
}

QString ExitStatus::table()
{
    QString text;
    for (const ExitClass &entry : Classes)
        text += QStringLiteral("%1 %2\n").arg(entry.code, 3).arg(QLatin1String(entry.meaning));
    return text;
}

int ExitStatus::report(QTextStream &err, int code, const QString &message)
{
    err << QCoreApplication::applicationName() << ": " << message << '\n';
    err.flush();
    lastReported = message;
    return code;
}

QString ExitStatus::lastMessage()
{
    return lastReported;
}
