#ifndef TQ470_UPGRADEALL_H
#define TQ470_UPGRADEALL_H

#include "usbdeviceentry.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <memory>

class UpgradeFile;

// "tq470-flash upgrade --all FILE.upg": every attached Tq470 upgraded at the same time, each by
// a tq470-flash process of its own that selects it by its whole serial (the device lock is per
// process). The children's log lines go to standard output and their progress lines to
// standard error, each prefixed with the device's serial; a summary table closes the run, and
// after it each device that was not upgraded is named with its process's last line, its
// outcome.
//
// A stop (Ctrl-C, SIGTERM) is passed to every device's process, which ends at its next request
// and says how far its device got; a stop that comes SecondStopAfterMs or more after the first
// kills the processes still running (one that comes sooner is the same stop arriving twice: a
// terminal's Ctrl-C reaches every process of the group, and a launcher may pass it on as well).
// Neither can harm a device for good: the upgrade never writes the bootloader's region, so a
// rerun repairs whatever was cut short.
class UpgradeAll
{
public:
    static constexpr int SecondStopAfterMs = 1000;

    UpgradeAll(QTextStream &out, QTextStream &err);
    ~UpgradeAll();

    // Exit 0 only when every device was upgraded; ExitStatus::Interrupted after a stop;
    // otherwise the class the failed devices share, or Failed when they differ. waitMs: how
    // long to wait for a first Tq470 (0: not at all). passedOn: options each device's process
    // gets as well (--debug, --reset-timeout). recordFile: --record's FILE, each device's
    // process recording into recordFileOf() it (null: no recording). With jsonReport:
    // "devices", one entry each with bus, device, serial, result, reason (its class), message,
    // seconds and log.
    int run(const QString &fileName, int waitMs, const QStringList &passedOn,
            const QString &recordFile, QJsonObject *jsonReport);

    // FILE-SERIAL.pcap for FILE.pcap (or FILE): the trace of one device's process.
    static QString recordFileOf(const QString &recordFile, const QString &serial);

private:
    struct Child;

    int checkFile(const QString &fileName);
    int passOn(const QString &fileName, const UpgradeFile &upgradeFile);
    void start(Child &child, const QString &fileName, const QStringList &passedOn);
    void stop();
    void inviteSecondStop();
    QStringList stillRunning() const;
    void forward(Child &child, bool standardError);
    void printSummary();
    int exitCode(bool stopped) const;
    int fail(int code, const QString &message);

    QTextStream &out;
    QTextStream &err;
    // What the devices' processes read: the file named, or the copy of a pipe's contents.
    QString childFileName;
    QString recordFile;
    std::unique_ptr<QTemporaryDir> fileCopy;
    QList<std::shared_ptr<Child>> children;
    bool stopping = false;
    // Set once SecondStopAfterMs have passed since the first stop.
    bool secondStopDue = false;
    QTimer secondStopInvitation;
};

#endif
