#ifndef TQ470_FUZZ_SCRATCHFILE_H
#define TQ470_FUZZ_SCRATCHFILE_H

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The parsers under test read files by name: each process has its own files, in memory where
// the system offers it.
inline QString scratchPath(const char *name)
{
    return QDir(QFile::exists(QStringLiteral("/dev/shm")) ? QStringLiteral("/dev/shm")
                                                          : QDir::tempPath())
        .filePath(QStringLiteral("tq470-fuzz-%1-%2")
                      .arg(QCoreApplication::applicationPid())
                      .arg(QLatin1String(name)));
}

// Each input goes to the same file.
inline QString writeScratchFile(const uint8_t *data, size_t size)
{
    static const QString path = scratchPath("input");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        abort();
    return path;
}

#endif
