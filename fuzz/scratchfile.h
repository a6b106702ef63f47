#ifndef TQ470_FUZZ_SCRATCHFILE_H
#define TQ470_FUZZ_SCRATCHFILE_H

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The parsers under test read files by name: each input goes to one file per process, in
// memory where the system offers it.
inline QString writeScratchFile(const uint8_t *data, size_t size)
{
    static const QString path = QDir(QFile::exists(QStringLiteral("/dev/shm"))
                                         ? QStringLiteral("/dev/shm")
                                         : QDir::tempPath())
                                    .filePath(QStringLiteral("tq470-fuzz-%1")
                                                  .arg(QCoreApplication::applicationPid()));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        abort();
    return path;
}

#endif
