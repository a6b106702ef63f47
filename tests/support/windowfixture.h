#ifndef TQ470_TESTS_WINDOWFIXTURE_H
#define TQ470_TESTS_WINDOWFIXTURE_H

#include "debugcapture.h"
#include "dialogscript.h"
#include "intelhextext.h"
#include "tq470_bootloader.h"
#include "upgrader.h"

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <memory>

// A fresh main window for each test of a command that works on files, run in a scratch
// working directory with its debug lines captured. The log starts with one earlier line, so
// that a test sees whether the command clears it.
class WindowFixture
{
protected:
    // Call from init(); QVERIFY inside needs the caller to return on failure.
    void openWindow(const QString &earlierLine)
    {
        dir = std::make_unique<QTemporaryDir>();
        startDirectory = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir->path()));
        debug = std::make_unique<DebugCapture>();
        window = new TQ470_Bootloader;
        worker = window->worker();
        logBrowser()->append(earlierLine);
    }

    // Call from cleanup(). The window never deletes its worker; the test does.
    void closeWindow()
    {
        delete window;
        window = nullptr;
        delete worker;
        worker = nullptr;
        debug.reset();
        QDir::setCurrent(startDirectory);
        dir.reset();
    }

    QString writeHex(const QString &name, const QByteArray &text) const
    {
        const QString fileName = dir->filePath(name);
        if (!IntelHexText::write(fileName, text))
            qFatal("cannot write %s", qPrintable(fileName));
        return fileName;
    }

    QList<SeenDialog> clickButton(const QString &objectName, QList<DialogScript::Answer> answers)
    {
        DialogScript script(window, std::move(answers));
        window->findChild<QPushButton *>(objectName)->click();
        return script.seen;
    }

    QTextBrowser *logBrowser() const { return window->findChild<QTextBrowser *>("txt"); }

    QStringList filesInDirectory() const
    {
        return QDir(dir->path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    }

    std::unique_ptr<DebugCapture> debug;
    TQ470_Bootloader *window = nullptr;
    Upgrader *worker = nullptr;
    std::unique_ptr<QTemporaryDir> dir;

private:
    QString startDirectory;
};

#endif
