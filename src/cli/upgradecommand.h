#ifndef TQ470_UPGRADECOMMAND_H
#define TQ470_UPGRADECOMMAND_H

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <array>

// "tq470-flash upgrade FILE.upg": the window's upgrade without the window. The worker's log
// lines go to standard output as they come; the three progress bars go to standard error,
// redrawn in place on a terminal and as a line every ten percent otherwise.
//
// The worker's outcome line (what the device holds, what to do) ends standard error after the
// program's name. SIGINT and SIGTERM during the run stop the worker at its next request boundary
// or in its wait; its outcome then says how far the device got, and the command exits with
// ExitStatus::Interrupted.
class UpgradeCommand
{
public:
    UpgradeCommand(QTextStream &out, QTextStream &err);

    // Runs one upgrade to its end. The exit code is an ExitStatus: Done only when every page
    // and the external flash were verified and the application's start was confirmed.
    // resetDeadlineMs bounds the wait for the bootloader after the reset; 0 keeps the counts.
    // With jsonReport: the file, the serial of the device the worker identified (serialChoice
    // when none answered), the result, the outcome line, the seconds, the log lines (the
    // outcome not among them) and, on failure, the message (the outcome line).
    int run(const QString &fileName, int resetDeadlineMs = 0,
            const QString &serialChoice = QString(), QJsonObject *jsonReport = nullptr);

private:
    enum class Bar { Flash, ExternalFlashWrite, ExternalFlashVerify };
    static constexpr int BarCount = 3;

    void showText(const QString &text);
    void showProgress(Bar bar, int percent);
    void drawLiveBar(Bar bar, int percent);
    void finishLiveBar();

    QTextStream &out;
    QTextStream &err;
    QStringList log;
    const bool liveProgress;
    bool liveBarOpen = false;
    Bar liveBar = Bar::Flash;
    // Per bar: the percent last drawn live, or the tenth last printed as a line.
    std::array<int, BarCount> lastShown{-1, -1, -1};
};

#endif
