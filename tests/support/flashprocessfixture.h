#ifndef TQ470_TESTS_FLASHPROCESSFIXTURE_H
#define TQ470_TESTS_FLASHPROCESSFIXTURE_H

#include "intelhextext.h"
#include "processrun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// For tests that run tq470-flash as a process on files of their own: a scratch folder, the
// HEX input written into it, and the run itself. TQ470_FLASH is the program's path.
class FlashProcessFixture
{
protected:
    static constexpr int RunTimeoutMs = 60000;

    explicit FlashProcessFixture(const char *hexName) : hexName(hexName) {}

    static ProcessRun flash(const QStringList &arguments)
    {
        return runProcess(QStringLiteral(TQ470_FLASH), arguments, RunTimeoutMs);
    }

    QString path(const char *name) const { return dir.filePath(QLatin1String(name)); }

    QString hexFile(const QByteArray &text) const
    {
        const QString fileName = path(hexName);
        if (!IntelHexText::write(fileName, text))
            qFatal("cannot write %s", qPrintable(fileName));
        return fileName;
    }

    void removeFiles() const
    {
        for (const QString &name : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(name));
    }

    QTemporaryDir dir;

private:
    const char *hexName;
};

#endif
