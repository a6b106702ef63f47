#include "upgradecommand.h"

#include "bootloaderprotocol.h"
#include "commandtable.h"
#include "connectreport.h"
#include "exitstatus.h"
#include "flashtool.h"
#include "stopsignals.h"
#include "upgrader.h"
#include "usbtq470.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int PercentPerPlainLine = 10;
constexpr int LiveBarWidth = 40;
constexpr int LabelWidth = 22;
constexpr int FullPercent = 100;

// The labels of the window's three bars.
const char *const BarLabels[] = {"Flash", "External Flash Write", "External Flash Verify"};

constexpr char SerialLine[] = "^\\d{%1}";
constexpr double MsPerSecond = 1000.0;

// The worker's line before the first page is written.
constexpr char WritingFirmwareLine[] = "Writting firmware ... ";

} // namespace

UpgradeCommand::UpgradeCommand(QTextStream &out, QTextStream &err)
    : out(out), err(err), liveProgress(isatty(fileno(stderr)) != 0)
{
}

int UpgradeCommand::run(const QString &fileName, int resetDeadlineMs,
                        const QString &serialChoice, QJsonObject *jsonReport)
{
    // The worker reports a file it cannot open as a wrong header; the reason is told here,
    // before any device is touched.
    QString reason;
    if (!CommandTable::checkReadable(fileName, &reason)) {
        if (jsonReport) {
            jsonReport->insert(QStringLiteral("file"), fileName);
            jsonReport->insert(QStringLiteral("result"), QStringLiteral("failed"));
            jsonReport->insert(QStringLiteral("message"), reason);
        }
        return ExitStatus::report(err, ExitStatus::BadInput, reason);
    }

    QElapsedTimer clock;
    clock.start();
    USBTQ470 device;
    Upgrader upgrader(&device);
    Upgrader::Waits waits;
    waits.bootloaderDeadlineMs = resetDeadlineMs;
    upgrader.setWaits(waits);

    // The reports are emitted on the worker thread; queued to this one, they arrive in the
    // order they were sent, and the thread's end comes after the last of them.
    QObject receiver;
    QEventLoop loop;
    QObject::connect(&upgrader, &Upgrader::sendText, &receiver,
                     [this](const QString &text) { showText(text); });
    QObject::connect(&upgrader, &Upgrader::sendPercent, &receiver,
                     [this](int percent) { showProgress(Bar::Flash, percent); });
    QObject::connect(&device, &USBTQ470::sendPercentExtFlashWrite, &receiver,
                     [this](int percent) { showProgress(Bar::ExternalFlashWrite, percent); });
    QObject::connect(&device, &USBTQ470::sendPercentExtFlashRead, &receiver,
                     [this](int percent) { showProgress(Bar::ExternalFlashVerify, percent); });
    QObject::connect(&upgrader, &QThread::finished, &receiver, [&loop] { loop.quit(); });

    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &receiver,
                     [&upgrader] { upgrader.requestStop(); });
    upgrader.slotSetFileName(fileName);
    upgrader.start(QThread::InheritPriority);
    loop.exec();
    upgrader.wait();
    finishLiveBar();
    const ConnectFailure failure = device.lastConnectFailure();
    const Upgrader::Outcome outcome = upgrader.outcome();
    int code = ExitStatus::Failed;
    QString message = QStringLiteral("the upgrade of the device did not complete");
    switch (outcome) {
    case Upgrader::Outcome::Succeeded:
        code = ExitStatus::Done;
        message.clear();
        break;
    case Upgrader::Outcome::Stopped:
        code = ExitStatus::Interrupted;
        message = QStringLiteral("upgrade interrupted: ") + reachedStage();
        break;
    case Upgrader::Outcome::FileRejected:
        code = ExitStatus::BadInput;
        message = QStringLiteral("%1 is no upgrade file: %2; nothing was sent to the device")
                      .arg(fileName, log.value(log.size() - 1));
        break;
    case Upgrader::Outcome::NotConnected:
        code = ConnectReport::exitCode(failure);
        message = ConnectReport::message(failure);
        break;
    case Upgrader::Outcome::Failed:
        break;
    }
    if (jsonReport) {
        // The worker's second line is the serial the device gave.
        QString serial = serialChoice;
        for (const QString &line : std::as_const(log))
            if (QRegularExpression(QString::fromLatin1(SerialLine).arg(Bootloader::SerialDigits))
                    .match(line)
                    .hasMatch()) {
                serial = line.left(Bootloader::SerialDigits);
                break;
            }
        jsonReport->insert(QStringLiteral("file"), fileName);
        jsonReport->insert(QStringLiteral("serial"), serial);
        jsonReport->insert(QStringLiteral("result"),
                           code == ExitStatus::Done          ? QStringLiteral("ok")
                           : code == ExitStatus::Interrupted ? QStringLiteral("interrupted")
                                                             : QStringLiteral("failed"));
        jsonReport->insert(QStringLiteral("seconds"), double(clock.elapsed()) / MsPerSecond);
        jsonReport->insert(QStringLiteral("log"), QJsonArray::fromStringList(log));
        if (code != ExitStatus::Done)
            jsonReport->insert(QStringLiteral("message"), message);
    }
    if (code == ExitStatus::Done)
        return code;
    return ExitStatus::report(err, code, message);
}

// Told from the worker's reports, which all arrive before its end.
QString UpgradeCommand::reachedStage() const
{
    const int flash = reached[size_t(Bar::Flash)];
    const int externalWrite = reached[size_t(Bar::ExternalFlashWrite)];
    if (!writingStarted)
        return QStringLiteral("nothing was written, the device holds its previous firmware; run "
                              "the upgrade again");
    QString stage;
    if (flash < FullPercent)
        stage = QStringLiteral("the application is partly written");
    else if (externalWrite < 0)
        stage = QStringLiteral("the application is written, the external flash not yet");
    else if (externalWrite < FullPercent)
        stage = QStringLiteral("the application is written, the external flash partly");
    else
        stage = QStringLiteral("the application and the external flash are written but not "
                               "verified");
    return stage + QStringLiteral("; the device stays in its bootloader until a rerun of the "
                                  "upgrade repairs it");
}

void UpgradeCommand::showText(const QString &text)
{
    if (text == QLatin1String(WritingFirmwareLine))
        writingStarted = true;
    log << text;
    finishLiveBar();
    out << text << '\n';
    out.flush();
}

void UpgradeCommand::showProgress(Bar bar, int percent)
{
    reached[size_t(bar)] = percent;
    int &last = lastShown[size_t(bar)];
    if (liveProgress) {
        if (percent == last && liveBarOpen && liveBar == bar)
            return;
        last = percent;
        drawLiveBar(bar, percent);
        return;
    }
    const int step = percent / PercentPerPlainLine;
    if (step == last)
        return;
    last = step;
    err << BarLabels[int(bar)] << ": " << percent << "%\n";
    err.flush();
}

void UpgradeCommand::drawLiveBar(Bar bar, int percent)
{
    if (liveBarOpen && liveBar != bar)
        err << '\n';
    liveBarOpen = true;
    liveBar = bar;
    const int filled = qBound(0, percent, FullPercent) * LiveBarWidth / FullPercent;
    err << '\r' << QString::fromLatin1(BarLabels[int(bar)]).leftJustified(LabelWidth) << '['
        << QString(filled, QLatin1Char('#')) << QString(LiveBarWidth - filled, QLatin1Char('.'))
        << "] " << QString::number(percent).rightJustified(3) << '%';
    err.flush();
}

void UpgradeCommand::finishLiveBar()
{
    if (!liveBarOpen)
        return;
    err << '\n';
    err.flush();
    liveBarOpen = false;
}
