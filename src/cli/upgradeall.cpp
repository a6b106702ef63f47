#include "upgradeall.h"

#include "attacheddevices.h"
#include "flashtool.h"
#include "stopsignals.h"
#include "upgradecommand.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QProcess>

namespace {

constexpr char Unreadable[] = "-"; // the serial AttachedDevices shows for an unreadable one
constexpr double MsPerSecond = 1000.0;
constexpr int SerialColumn = 11;
constexpr int ResultColumn = 13; // "interrupted" and two blanks
constexpr int SecondsDecimals = 1;

} // namespace

struct UpgradeAll::Child
{
    QString serial;
    QProcess process;
    QElapsedTimer clock;
    QByteArray pending[2]; // an unfinished line of standard output, of standard error
    QStringList log;
    QString lastError;
    bool succeeded = false;
    bool interrupted = false;
    double seconds = 0;

    QString result() const
    {
        return QLatin1String(succeeded ? "ok" : interrupted ? "interrupted" : "failed");
    }
};

UpgradeAll::UpgradeAll(QTextStream &out, QTextStream &err) : out(out), err(err) {}

UpgradeAll::~UpgradeAll() = default;

int UpgradeAll::run(const QString &fileName, const QStringList &passedOn,
                    QJsonObject *jsonReport)
{
    // Every device would fail on it alike: told once, before anything starts.
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        err << QCoreApplication::applicationName() << ": cannot open " << fileName << ": "
            << file.errorString() << '\n';
        err.flush();
        return FlashTool::ExitFailure;
    }
    file.close();

    const QStringList serials = AttachedDevices::serials();
    if (serials.isEmpty()) {
        err << QCoreApplication::applicationName() << ": no Tq470 is attached\n";
        err.flush();
        return FlashTool::ExitFailure;
    }

    QEventLoop loop;
    int running = 0;
    // Each device's process stops at its next request and says how far its device got.
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &loop, [this] {
        for (const auto &child : std::as_const(children))
            if (child->process.state() != QProcess::NotRunning)
                child->process.terminate();
    });
    for (const QString &serial : serials) {
        auto child = std::make_shared<Child>();
        child->serial = serial;
        children.append(child);
        if (serial == QLatin1String(Unreadable)) {
            child->lastError = QStringLiteral("its serial could not be read");
            continue;
        }
        Child *c = child.get();
        QObject::connect(&c->process, &QProcess::readyReadStandardOutput,
                         [this, c] { forward(*c, false); });
        QObject::connect(&c->process, &QProcess::readyReadStandardError,
                         [this, c] { forward(*c, true); });
        QObject::connect(&c->process, &QProcess::finished, &loop,
                         [this, c, &running, &loop](int exitCode, QProcess::ExitStatus status) {
                             c->seconds = double(c->clock.elapsed()) / MsPerSecond;
                             forward(*c, false);
                             forward(*c, true);
                             c->succeeded = status == QProcess::NormalExit &&
                                            exitCode == FlashTool::ExitSuccess;
                             c->interrupted = status == QProcess::NormalExit &&
                                              exitCode == UpgradeCommand::ExitInterrupted;
                             if (--running == 0)
                                 loop.quit();
                         });
        QObject::connect(&c->process, &QProcess::errorOccurred, &loop,
                         [this, c, &running, &loop](QProcess::ProcessError error) {
                             if (error != QProcess::FailedToStart)
                                 return;
                             c->lastError = c->process.errorString();
                             if (--running == 0)
                                 loop.quit();
                         });
        ++running;
        start(*c, fileName, passedOn);
    }
    if (running > 0)
        loop.exec();

    printSummary();
    bool allSucceeded = true;
    QJsonArray devices;
    for (const auto &child : std::as_const(children)) {
        allSucceeded = allSucceeded && child->succeeded;
        QJsonObject device{
            {QStringLiteral("serial"), child->serial},
            {QStringLiteral("result"), child->result()},
            {QStringLiteral("seconds"), child->seconds},
            {QStringLiteral("log"), QJsonArray::fromStringList(child->log)},
        };
        if (!child->succeeded)
            device.insert(QStringLiteral("reason"),
                          !child->log.isEmpty() ? child->log.last() : child->lastError);
        devices.append(device);
    }
    if (jsonReport) {
        jsonReport->insert(QStringLiteral("file"), fileName);
        jsonReport->insert(QStringLiteral("devices"), devices);
    }
    if (allSucceeded)
        return FlashTool::ExitSuccess;
    err << QCoreApplication::applicationName()
        << ": the upgrade of some devices did not complete\n";
    err.flush();
    if (stopSignals.caught())
        return UpgradeCommand::ExitInterrupted;
    return FlashTool::ExitFailure;
}

void UpgradeAll::start(Child &child, const QString &fileName, const QStringList &passedOn)
{
    const QStringList arguments = QStringList{QStringLiteral("--serial"), child.serial,
                                              QStringLiteral("upgrade"), fileName} +
                                  passedOn;
    child.clock.start();
    child.process.start(QCoreApplication::applicationFilePath(), arguments);
}

// Whole lines only, so that the devices' lines do not run into each other.
void UpgradeAll::forward(Child &child, bool standardError)
{
    child.process.setReadChannel(standardError ? QProcess::StandardError
                                               : QProcess::StandardOutput);
    QByteArray &pending = child.pending[standardError ? 1 : 0];
    pending += child.process.readAll();
    int end;
    while ((end = int(pending.indexOf('\n'))) >= 0) {
        const QString line = QString::fromUtf8(pending.left(end));
        pending.remove(0, end + 1);
        QTextStream &stream = standardError ? err : out;
        stream << child.serial << ": " << line << '\n';
        stream.flush();
        if (standardError)
            child.lastError = line;
        else
            child.log << line;
    }
}

void UpgradeAll::printSummary()
{
    out << QStringLiteral("Serial").leftJustified(SerialColumn)
        << QStringLiteral("Result").leftJustified(ResultColumn) << "Seconds\n";
    for (const auto &child : std::as_const(children))
        out << child->serial.leftJustified(SerialColumn)
            << child->result().leftJustified(ResultColumn)
            << QString::number(child->seconds, 'f', SecondsDecimals) << '\n';
    out.flush();
}
