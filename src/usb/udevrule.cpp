#include "udevrule.h"

#include <QDir>
#include <QFileInfo>

QStringList UdevRule::directories()
{
    return {QStringLiteral("/etc/udev/rules.d"), QStringLiteral("/run/udev/rules.d"),
            QStringLiteral("/usr/lib/udev/rules.d"), QStringLiteral("/lib/udev/rules.d")};
}

QString UdevRule::installedPath(const QStringList &searched)
{
    for (const QString &directory : searched) {
        const QFileInfo rule(QDir(directory).filePath(QLatin1String(FileName)));
        if (rule.isFile())
            return rule.filePath();
    }
    return QString();
}
