#ifndef TQ470_TESTS_FILECONTENTS_H
#define TQ470_TESTS_FILECONTENTS_H

#include <QByteArray>
#include <QFile>
#include <QString>

// The whole file, or nothing when it cannot be read: a missing file then fails a comparison
// instead of stopping the test.
inline QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

#endif
