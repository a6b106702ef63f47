#ifndef TQ470_UPGRADEALL_H
#define TQ470_UPGRADEALL_H

#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <memory>

class QProcess;

// "tq470-flash upgrade --all FILE.upg": every attached Tq470 upgraded at the same time, each by
// a tq470-flash process of its own that selects it by serial (the device lock is per process).
// The children's log lines go to standard output and their progress lines to standard error,
// each prefixed with the device's serial; a summary table closes the run.
class UpgradeAll
{
public:
    UpgradeAll(QTextStream &out, QTextStream &err);
    ~UpgradeAll();

    // Exit 0 only when every device was upgraded; 1 also when none is attached. With
    // jsonReport: "devices", one entry each with serial, result, seconds, log and reason.
    // passedOn: options each device's process gets as well (--debug, --reset-timeout).
    int run(const QString &fileName, const QStringList &passedOn, QJsonObject *jsonReport);

private:
    struct Child;

    void start(Child &child, const QString &fileName, const QStringList &passedOn);
    void forward(Child &child, bool standardError);
    void printSummary();

    QTextStream &out;
    QTextStream &err;
    QList<std::shared_ptr<Child>> children;
};

#endif
