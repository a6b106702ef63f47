#include "upgradecommand.h"

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

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int PercentPerPlainLine = 10;
constexpr int LiveBarWidth = 40;
constexpr int LabelWidth = 22;
constexpr int FullPercent = 100;

// The labels of the window's three bars.
const char *const BarLabels[] = {"Flash", "External Flash Write", "External Flash Verify"};

constexpr double MsPerSecond = 1000.0;

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
            jsonReport->insert(QStringLiteral("outcome"), reason);
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
    // The worker's last text is its outcome, stored before it is sent: it ends standard error
    // rather than the log.
    QObject::connect(&upgrader, &Upgrader::sendText, &receiver,
                     [this, &upgrader](const QString &text) {
                         if (text != upgrader.outcomeText())
                             showText(text);
                     });
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
    const QString outcome = upgrader.outcomeText();
    int code = ExitStatus::Failed;
    switch (upgrader.outcome()) {
    case Upgrader::Outcome::Succeeded:
        code = ExitStatus::Done;
        break;
    case Upgrader::Outcome::Stopped:
        code = ExitStatus::Interrupted;
        break;
    case Upgrader::Outcome::FileRejected:
        code = ExitStatus::BadInput;
        break;
    case Upgrader::Outcome::NotConnected:
        code = ConnectReport::exitCode(failure);
        // The commands that let this user in, before the end line that names the device.
        if (failure.accessRefused()) {
            err << ConnectReport::waysIn() << '\n';
            err.flush();
        }
        break;
    case Upgrader::Outcome::Failed:
        break;
    }
    if (jsonReport) {
        const QByteArray identified = upgrader.deviceSerial();
        jsonReport->insert(QStringLiteral("file"), fileName);
        jsonReport->insert(QStringLiteral("serial"), identified.isEmpty()
                                                         ? serialChoice
                                                         : QString::fromLatin1(identified));
        jsonReport->insert(QStringLiteral("result"),
                           code == ExitStatus::Done          ? QStringLiteral("ok")
                           : code == ExitStatus::Interrupted ? QStringLiteral("interrupted")
                                                             : QStringLiteral("failed"));
        jsonReport->insert(QStringLiteral("outcome"), outcome);
        jsonReport->insert(QStringLiteral("seconds"), double(clock.elapsed()) / MsPerSecond);
        jsonReport->insert(QStringLiteral("log"), QJsonArray::fromStringList(log));
        if (code != ExitStatus::Done)
            jsonReport->insert(QStringLiteral("message"), outcome);
    }
    return ExitStatus::report(err, code, outcome);
}

void UpgradeCommand::showText(const QString &text)
{
    log << text;
    finishLiveBar();
    out << text << '\n';
    out.flush();
}

void UpgradeCommand::showProgress(Bar bar, int percent)
{
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
