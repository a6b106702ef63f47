#ifndef TQ470_TESTS_PROCESSRUN_H
#define TQ470_TESTS_PROCESSRUN_H

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// How a program run by runProcess() ended. A run that timed out was killed and keeps
// finished == false, exitCode == -1 and no output; a crash also gives exitCode == -1.
struct ProcessRun
{
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline ProcessRun runProcess(const QString &program, const QStringList &arguments, int timeoutMs,
                             const QProcessEnvironment &environment
                             = QProcessEnvironment(QProcessEnvironment::InheritFromParent))
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ProcessRun result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.finished = true;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

#endif
