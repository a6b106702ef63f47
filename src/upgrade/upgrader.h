#ifndef TQ470_UPGRADER_H
#define TQ470_UPGRADER_H

#include "applicationstart.h"
#include "bootloaderreset.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>

#include <atomic>

class USBTQ470;

// The firmware upgrade worker. Each start applies the upgrade file named through
// slotSetFileName to the device, on its own thread, and reports only through its signals.
// It shares the window's device object and owns neither it nor anything of the window.
class Upgrader : public QThread
{
    Q_OBJECT

public:
    // Connect tries before the device counts as absent: one try and three retries.
    static constexpr int ConnectTries = 4;
    // A page is written and read back at most this often before the upgrade gives up on it.
    static constexpr int PageAttempts = 3;
    // After the reset: answers that are not the bootloader's, and connects that find nothing,
    // each bounded on its own.
    static constexpr int BootloaderAnswerAttempts = BootloaderReset::AnswerAttempts;
    static constexpr int BootloaderConnectFailures = BootloaderReset::ConnectFailures;

    // Reads of the serial and the version block, and the connect after the reset, each get
    // this many attempts.
    static constexpr int IdentifyAttempts = 3;
    // An external-flash chunk that differs is read again this often before it counts as
    // different, and written again this often before the run gives up on it.
    static constexpr int ChunkReadAttempts = 3;
    static constexpr int ChunkWriteAttempts = 3;
    // An unacknowledged start: the bus is looked at for this long, and the start sent again
    // at most this often while the bootloader is still there.
    static constexpr int StartConfirmWaitMs = ApplicationStart::ConfirmWaitMs;
    static constexpr int StartResends = ApplicationStart::Resends;

    static constexpr int ConnectRetryWaitMs = 200;
    static constexpr int ResetWaitMs = BootloaderReset::ResetWaitMs;
    static constexpr int ResetDisconnectWaitMs = BootloaderReset::ResetDisconnectWaitMs;
    static constexpr int BootloaderPollWaitMs = BootloaderReset::PollWaitMs;
    static constexpr int ApplicationStartWaitMs = ApplicationStart::LeaveBusWaitMs;

    // Every pause of a run. The product keeps the defaults, which follow the device's timing;
    // tests shorten them.
    struct Waits
    {
        int connectRetryMs = ConnectRetryWaitMs;
        int resetMs = ResetWaitMs;
        int resetDisconnectMs = ResetDisconnectWaitMs;
        int bootloaderPollMs = BootloaderPollWaitMs;
        int applicationStartMs = ApplicationStartWaitMs;
        // Bounds the wait for the bootloader after the reset; 0 for the counts only.
        int bootloaderDeadlineMs = 0;
        int startConfirmMs = StartConfirmWaitMs;
    };

    explicit Upgrader(USBTQ470 *usb);
    ~Upgrader() override;

    // Takes effect from the next start; not to be called while a run is going.
    void setWaits(const Waits &newWaits);

    // True when the last run ended with every page and the external flash verified and the
    // application started. Meaningful once the thread has finished.
    bool succeeded() const { return lastRunSucceeded.load(); }

    // How the last run ended, for a caller that tells its ends apart. Meaningful once the thread
    // has finished.
    enum class Outcome {
        Succeeded,
        Stopped,
        // The upgrade file was refused; the device was not touched.
        FileRejected,
        // No usable device: none found, or the one found stayed away (see the device's
        // lastConnectFailure); nothing was written.
        NotConnected,
        Failed,
    };
    Outcome outcome() const;
    // The last text of the last run: what the device holds now and what to do next. Every run
    // that got a file name ends with it.
    QString outcomeText() const;
    // The nine digits of the serial the device gave when the last run identified it; empty
    // when no device answered.
    QByteArray deviceSerial() const;

    // Any thread: the run ends at its next request boundary or within the device's
    // StopPollMs in any wait, without a failure text, and leaves the device as far as it got.
    // The request stays on the device object until its clearStopRequest.
    void requestStop();
    // True when the last run ended short of success because a stop was requested.
    bool stopped() const;

Q_SIGNALS:
    void sendText(QString text);
    void sendPercent(int percent);

public Q_SLOTS:
    void slotSetFileName(QString name);

protected:
    void run() override;

private:
    // Where the run is, for the text that tells how far the device got.
    enum class Stage {
        Connecting,
        Identifying,
        Resetting,
        WritingApplication,
        WritingExternal,
        VerifyingExternal,
        Starting,
    };

    bool connectDevice();
    // A device that left the bus is waited for; one that stays away ends the run.
    bool awaitDevice();
    // Reports serial and version block; false when the run cannot go on with this device.
    bool identifyDevice(bool *applicationRunning);
    bool resetIntoBootloader();
    bool writeApplication(const QByteArray &application);
    bool writeVerifiedPage(const QByteArray &plainPage, quint32 address, QByteArray &page,
                           QByteArray &readBack);
    bool writeExternalFlash(const QByteArray &external);
    bool verifyExternalFlash(const QByteArray &external, QByteArray &encoded);
    // Compares the read buffer with the image chunk by chunk; a chunk that differs is read
    // again and, with encoded, written again. *repaired tells whether anything was written.
    bool compareExternalChunks(const QByteArray &external, QByteArray *encoded,
                               QByteArray &readBuffer, bool *repaired);
    bool repairExternalChunk(const QByteArray &external, QByteArray &encoded,
                             QByteArray &readBuffer, int offset);
    bool readExternalChunk(const QByteArray &external, QByteArray &readBuffer, int offset);
    bool startApplication();
    bool stopping() const;

    // Records how the run ends unless it succeeds or is stopped.
    void endWith(Outcome outcome, const QString &text);
    void endWithConnectFailure();
    QString stoppedText() const;
    QString stillInBootloader() const;
    // Settles the outcome and sends its text, the run's last.
    void sendOutcome(const QString &fileName);

    USBTQ470 *usb;
    // Set from the GUI thread, also while a run is going.
    mutable QMutex fileNameLock;
    QString fileName;
    Waits waits;
    // The worker thread's own, during a run.
    Stage stage = Stage::Connecting;
    int pagesWritten = 0;
    Outcome endOutcome = Outcome::FileRejected;
    QString endText;
    QByteArray identifiedSerial;
    // The last run's result, read by other threads once it has ended.
    mutable QMutex resultLock;
    Outcome lastOutcome = Outcome::FileRejected;
    QString lastOutcomeText;
    QByteArray lastSerial;
    std::atomic<bool> lastRunSucceeded{false};
};

#endif
