#include "preloadenvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

namespace {

constexpr char PreloadStem[] = "libumockdev-preload";
constexpr char AsanLinkOrderKey[] = "verify_asan_link_order";
constexpr char ListSeparator = ':';
constexpr char OwnExecutable[] = "/proc/self/exe";

QByteArray appended(const QByteArray &list, const QByteArray &entry)
{
    return list.isEmpty() ? entry : list + ListSeparator + entry;
}

} // namespace

QString PreloadEnvironment::library(const char *fileName)
{
    const QDir own = QFileInfo(QFileInfo(QLatin1String(OwnExecutable)).symLinkTarget()).dir();
    for (const QString &directory :
         {own.path(), own.filePath(installedDirectory()), QStringLiteral(TQ470_SIM_BUILD_DIR)}) {
        const QFileInfo candidate{QDir(directory), QLatin1String(fileName)};
        if (candidate.isFile())
            return candidate.absoluteFilePath();
    }
    return QString();
}

QString PreloadEnvironment::installedDirectory()
{
    return QStringLiteral(TQ470_LIBDIR_FROM_BINDIR);
}

QByteArray PreloadEnvironment::withPreload(const QByteArray &ldPreload,
                                           const QByteArray &controlLibrary)
{
    QByteArrayList entries;
    for (const QByteArray &entry : ldPreload.split(ListSeparator))
        if (!entry.isEmpty())
            entries.append(entry);
    const auto has = [&entries](const QByteArray &name) {
        for (const QByteArray &entry : std::as_const(entries))
            if (entry.contains(name))
                return true;
        return false;
    };
    const bool hasUmockdev = has(PreloadStem);
    if (!has(ControlLibrary)) {
        // Ahead of umockdev's, whose ioctl() it stands in front of.
        qsizetype position = entries.size();
        for (qsizetype i = 0; i < entries.size(); ++i)
            if (entries.at(i).contains(PreloadStem)) {
                position = i;
                break;
            }
        entries.insert(position, controlLibrary);
    }
    if (!hasUmockdev)
        entries.append(PreloadLibrary);
    return entries.join(ListSeparator);
}

QByteArray PreloadEnvironment::withAsanOption(const QByteArray &asanOptions)
{
    return asanOptions.contains(AsanLinkOrderKey) ? asanOptions
                                                  : appended(asanOptions, AsanLinkOrderOption);
}

bool PreloadEnvironment::isActive()
{
    const QByteArray preload = qgetenv(PreloadVariable);
    return preload.contains(PreloadStem) && preload.contains(ControlLibrary);
}

bool PreloadEnvironment::apply()
{
    const QString control = library(ControlLibrary);
    if (control.isEmpty())
        return false;
    qputenv(PreloadVariable, withPreload(qgetenv(PreloadVariable), QFile::encodeName(control)));
    qputenv(AsanVariable, withAsanOption(qgetenv(AsanVariable)));
    return true;
}
