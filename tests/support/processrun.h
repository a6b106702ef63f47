#ifndef TQ470_TESTS_PROCESSRUN_H
#define TQ470_TESTS_PROCESSRUN_H

#include <QProcess>

// How a program run by runProcess() ended: a run that timed out was killed and keeps
// finished == false, exitCode == -1 and no output; a crash also gives exitCode == -1.
struct ProcessRun
{
    bool finished = false;
    int exitCode = -1;
    QByteArray out, err;
};

inline ProcessRun runProcess(const QString &program, const QStringList &arguments, int timeoutMs,
                             const QProcessEnvironment &environment =
                                 QProcessEnvironment(QProcessEnvironment::InheritFromParent))
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {true, process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

#endif
