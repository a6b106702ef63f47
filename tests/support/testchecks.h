#ifndef TQ470_TESTS_TESTCHECKS_H
#define TQ470_TESTS_TESTCHECKS_H

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <unistd.h>

// The whole file, or a null array when it cannot be read.
inline QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes all of bytes to fd, which may take them in pieces (a pipe), and closes it.
inline void writeAllAndClose(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0, sent = 0; done < bytes.size(); done += sent)
        if ((sent = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done))) <= 0)
            break;
    ::close(fd);
}

// The text, across its lines, holds a match of the pattern; "^$" stands for no text at all.
inline void verifyMatches(const QString &text, const QString &pattern)
{
    const QRegularExpression expression(pattern, QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(expression.match(text).hasMatch(),
             qPrintable(QStringLiteral("'%1' does not match '%2'").arg(text, pattern)));
}

// One entry of a table's stored-state column against the file NAME: "NAME OFFSET HEXBYTES"
// (offset hexadecimal), "NAME size N" or "NAME absent".
inline void verifyStored(const QString &entry)
{
    const QStringList field = entry.split(QLatin1Char(' '));
    const QByteArray bytes = fileContents(field.at(0));
    if (field.at(1) == QLatin1String("absent"))
        QVERIFY2(bytes.isNull(), qPrintable(entry));
    else if (field.at(1) == QLatin1String("size"))
        QCOMPARE(QString::number(bytes.size()), field.at(2));
    else
        QCOMPARE(bytes.mid(field.at(1).toInt(nullptr, 16), field.at(2).size() / 2).toHex(),
                 field.at(2).toLatin1());
}

#endif
