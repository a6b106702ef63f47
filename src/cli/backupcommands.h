#ifndef TQ470_BACKUPCOMMANDS_H
#define TQ470_BACKUPCOMMANDS_H

#include <QByteArray>
#include <QString>
#include <QJsonObject>
#include <QTextStream>

class USBTQ470;

// Backup and check of a device without the window:
//   save ADDRESS LENGTH FILE       raw bytes of internal memory into FILE
//   save-ext ADDRESS LENGTH FILE   decoded bytes of external flash into FILE
//   verify FILE.upg                compares the application and external regions with FILE
//   bootloader                     resets a device that runs its application into its bootloader
// FILE is replaced only when all of it was read and written. verify writes nothing to the
// device; one that runs its application is reset for it and started again after, and verify
// succeeds only once that start is proven. Ctrl-C or SIGTERM stops verify and bootloader in any
// wait, saying where (ExitStatus::Interrupted). Each returns FlashTool's exit code.
class BackupCommands
{
public:
    // resetDeadlineMs bounds the wait for the bootloader after a reset; 0 keeps the counts.
    BackupCommands(QTextStream &out, QTextStream &err, int resetDeadlineMs = 0);

    int save(const QString &address, const QString &length, const QString &fileName,
             bool external);
    // With jsonReport: "equal", and per region the count of differing bytes and the first.
    int verify(const QString &fileName, QJsonObject *jsonReport = nullptr);
    int bootloader();

private:
    // Counts the bytes where read differs from expected; the first one's address goes to *first.
    static int countDifferences(const QByteArray &read, const QByteArray &expected, quint32 base,
                                quint32 *first);
    // Resets the connected device into its bootloader and waits for it; false when it does not
    // come back as its bootloader.
    bool resetIntoBootloader(USBTQ470 &device);
    int failure(const QString &message);
    int stopped(const QString &message);
    // A line of err after the program's name, for what the command does or waits for.
    void say(const QString &message);

    QTextStream &out;
    QTextStream &err;
    int resetDeadlineMs;
};

#endif
