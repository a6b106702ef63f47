#include "upgradeall.h"

#include "attacheddevices.h"
#include "commandtable.h"
#include "connectreport.h"
#include "exitstatus.h"
#include "stopsignals.h"
#include "upgradefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QSet>

#include <csignal>
#include <cstring>

namespace {

constexpr char Unreadable[] = "-"; // the serial AttachedDevices shows for an unreadable one
constexpr double MsPerSecond = 1000.0;
constexpr int DeviceColumn = 9;
constexpr int SerialColumn = 11;
constexpr int ResultColumn = 16; // "access-refused" and two blanks
constexpr int SecondsDecimals = 1;
constexpr char FileCopyDirectory[] = "tq470-flash-XXXXXX";
constexpr char TraceSuffix[] = ".pcap";
constexpr char RecordOption[] = "--record";

// The text after the program's name, for a line that has it.
QString withoutProgramName(const QString &line)
{
    const QString prefix = QCoreApplication::applicationName() + QLatin1String(": ");
    return line.startsWith(prefix) ? line.mid(prefix.size()) : line;
}

} // namespace

struct UpgradeAll::Child
{
    UsbDeviceEntry entry;
    QString serial;
    QProcess process;
    QElapsedTimer clock;
    QByteArray pending[2]; // an unfinished line of standard output, of standard error
    QStringList log;
    QString lastError;
    bool killed = false;
    int code = ExitStatus::Failed; // the device's class
    QString result;                // ok, failed, interrupted or killed
    QString message;
    double seconds = 0;

    QString node() const { return entry.bus + QLatin1Char('/') + entry.device; }
    bool running() const { return process.state() != QProcess::NotRunning; }
    // What the summary's Result column shows: a failure by its class.
    QString shownResult() const
    {
        return result == QLatin1String("failed") ? ExitStatus::reason(code) : result;
    }

    void finish(int exitCode, QProcess::ExitStatus status)
    {
        seconds = double(clock.elapsed()) / MsPerSecond;
        const QString said = withoutProgramName(lastError);
        if (status == QProcess::NormalExit) {
            code = exitCode;
            result = QLatin1String(exitCode == ExitStatus::Done          ? "ok"
                                   : exitCode == ExitStatus::Interrupted ? "interrupted"
                                                                         : "failed");
            // A device's process ends with its outcome line.
            message = exitCode == ExitStatus::Done ? QString() : said;
        } else if (killed) {
            code = ExitStatus::Interrupted;
            result = QStringLiteral("killed");
            message = QStringLiteral("killed after the second stop; the device stays in its "
                                     "bootloader until a rerun of the upgrade repairs it");
        } else if (exitCode == SIGINT || exitCode == SIGTERM) {
            // The stop came before the process could catch it, so before its upgrade began.
            code = ExitStatus::Interrupted;
            result = QStringLiteral("interrupted");
            message = QStringLiteral("stopped before its upgrade began; nothing was written");
        } else {
            code = ExitStatus::Failed;
            result = QStringLiteral("failed");
            message = QStringLiteral("its process ended by signal %1 (%2)")
                          .arg(exitCode)
                          .arg(QString::fromLocal8Bit(strsignal(exitCode)));
        }
    }
};

UpgradeAll::UpgradeAll(QTextStream &out, QTextStream &err) : out(out), err(err)
{
    secondStopInvitation.setSingleShot(true);
    secondStopInvitation.setInterval(SecondStopAfterMs);
    QObject::connect(&secondStopInvitation, &QTimer::timeout, [this] { inviteSecondStop(); });
}

UpgradeAll::~UpgradeAll() = default;

int UpgradeAll::run(const QString &fileName, int waitMs, const QStringList &passedOn,
                    const QString &recordFile, QJsonObject *jsonReport)
{
    this->recordFile = recordFile;
    if (jsonReport)
        jsonReport->insert(QStringLiteral("file"), fileName);
    const int fileRefused = checkFile(fileName);
    if (fileRefused != ExitStatus::Done)
        return fileRefused;

    StopSignals stopSignals;
    AttachedDevices attached(out, err);
    if (waitMs > 0 && !attached.waitForAny(waitMs))
        return ExitStatus::NotFound;
    const QList<UsbDeviceEntry> entries = AttachedDevices::tq470s();
    if (entries.isEmpty())
        return fail(ExitStatus::NotFound, QStringLiteral("no Tq470 is attached"));
    QCoreApplication::processEvents(); // a stop that came while looking
    if (stopSignals.caught())
        return fail(ExitStatus::Interrupted,
                    QStringLiteral("interrupted before any device was touched"));

    QEventLoop loop;
    int running = 0;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &loop, [this] { stop(); });
    for (const UsbDeviceEntry &entry : entries) {
        auto child = std::make_shared<Child>();
        child->entry = entry;
        child->serial = AttachedDevices::shownSerial(entry);
        children.append(child);
        if (entry.accessRefused) {
            child->code = ExitStatus::AccessRefused;
            child->result = QStringLiteral("failed");
            child->message = ConnectReport::refusedDevice(
                ConnectFailure{ConnectFailure::Reason::AccessRefused, entry.bus, entry.device});
            continue;
        }
        if (child->serial == QLatin1String(Unreadable)) {
            child->result = QStringLiteral("failed");
            child->message = QStringLiteral("its serial could not be read");
            continue;
        }
        Child *c = child.get();
        QObject::connect(&c->process, &QProcess::readyReadStandardOutput,
                         [this, c] { forward(*c, false); });
        QObject::connect(&c->process, &QProcess::readyReadStandardError,
                         [this, c] { forward(*c, true); });
        QObject::connect(&c->process, &QProcess::finished, &loop,
                         [this, c, &running, &loop](int exitCode, QProcess::ExitStatus status) {
                             forward(*c, false);
                             forward(*c, true);
                             c->finish(exitCode, status);
                             if (--running == 0)
                                 loop.quit();
                         });
        QObject::connect(&c->process, &QProcess::errorOccurred, &loop,
                         [c, &running, &loop](QProcess::ProcessError error) {
                             if (error != QProcess::FailedToStart)
                                 return;
                             c->result = QStringLiteral("failed");
                             c->message = c->process.errorString();
                             if (--running == 0)
                                 loop.quit();
                         });
        ++running;
        start(*c, childFileName, passedOn);
    }
    if (running > 0)
        loop.exec();

    printSummary();
    QJsonArray devices;
    bool accessRefused = false;
    QStringList notDone;
    for (const auto &child : std::as_const(children)) {
        if (child->code == ExitStatus::AccessRefused) {
            accessRefused = true;
            err << QCoreApplication::applicationName() << ": " << child->message << '\n';
        } else if (child->code != ExitStatus::Done) {
            notDone << child->serial + QLatin1String(": ") + child->message;
        }
        QJsonObject device{
            {QStringLiteral("bus"), child->entry.bus},
            {QStringLiteral("device"), child->entry.device},
            {QStringLiteral("serial"), child->serial},
            {QStringLiteral("result"), child->result},
            {QStringLiteral("reason"), ExitStatus::reason(child->code)},
            {QStringLiteral("seconds"), child->seconds},
            {QStringLiteral("log"), QJsonArray::fromStringList(child->log)},
        };
        if (child->code != ExitStatus::Done)
            device.insert(QStringLiteral("message"), child->message);
        devices.append(device);
    }
    if (accessRefused)
        err << ConnectReport::waysIn() << '\n';
    if (jsonReport)
        jsonReport->insert(QStringLiteral("devices"), devices);
    const int code = exitCode(stopSignals.caught());
    for (const QString &line : std::as_const(notDone))
        err << QCoreApplication::applicationName() << ": " << line << '\n';
    err.flush();
    return code;
}

// Every device would fail on a bad file alike: told once, before anything starts.
int UpgradeAll::checkFile(const QString &fileName)
{
    QString unreadable;
    if (!CommandTable::checkReadable(fileName, &unreadable))
        return fail(ExitStatus::BadInput, unreadable);
    UpgradeFile upgradeFile;
    switch (upgradeFile.read(fileName)) {
    case UpgradeFile::Status::Ok:
        return passOn(fileName, upgradeFile);
    case UpgradeFile::Status::WrongHeader:
        return fail(ExitStatus::BadInput,
                    QStringLiteral("%1 is no upgrade file: Wrong file header").arg(fileName));
    case UpgradeFile::Status::WrongVersion:
        return fail(ExitStatus::BadInput,
                    QStringLiteral("%1 is no upgrade file: Wrong file version").arg(fileName));
    case UpgradeFile::Status::WrongSize:
        break;
    }
    return fail(ExitStatus::BadInput,
                QStringLiteral("%1 is no upgrade file: Wrong file size").arg(fileName));
}

// The devices' processes open the file by its name, which must name the same file for them: a
// regular file, but none of the names through which a process sees its own open files
// (/dev/stdin, /dev/fd/N, /proc/self/fd/N). Otherwise, a pipe above all, which can be read once
// only, they get a private copy of what was read here, which lives as long as this run.
int UpgradeAll::passOn(const QString &fileName, const UpgradeFile &upgradeFile)
{
    childFileName = fileName;
    const QFileInfo file(fileName);
    if (file.isFile() && !file.absoluteFilePath().startsWith(QLatin1String("/dev/")) &&
        !file.absoluteFilePath().startsWith(QLatin1String("/proc/")))
        return ExitStatus::Done;
    fileCopy = std::make_unique<QTemporaryDir>(
        QDir(QDir::tempPath()).filePath(QLatin1String(FileCopyDirectory)));
    QString error = fileCopy->errorString();
    childFileName = fileCopy->filePath(file.fileName());
    if (fileCopy->isValid() && UpgradeFile::write(childFileName, upgradeFile.plainImage(), &error))
        return ExitStatus::Done;
    return fail(ExitStatus::Failed,
                QStringLiteral("cannot keep a copy of %1 for the devices' processes: %2")
                    .arg(fileName, error));
}

void UpgradeAll::start(Child &child, const QString &fileName, const QStringList &passedOn)
{
    QStringList arguments =
        QStringList{QStringLiteral("--serial"), child.serial, QStringLiteral("upgrade"), fileName} +
        passedOn;
    if (!recordFile.isNull())
        arguments << QLatin1String(RecordOption) << recordFileOf(recordFile, child.serial);
    child.clock.start();
    child.process.start(QCoreApplication::applicationFilePath(), arguments);
}

QString UpgradeAll::recordFileOf(const QString &recordFile, const QString &serial)
{
    const QString suffix = QLatin1String(TraceSuffix);
    const QString base =
        recordFile.endsWith(suffix) ? recordFile.chopped(suffix.size()) : recordFile;
    return base + QLatin1Char('-') + serial + suffix;
}

// The first stop asks each device's process to end at its next request; a later one kills the
// processes that have not ended yet.
void UpgradeAll::stop()
{
    if (stillRunning().isEmpty())
        return;
    if (!stopping) {
        stopping = true;
        err << QCoreApplication::applicationName()
            << ": stopping: each device's upgrade ends at its next request\n";
        err.flush();
        for (const auto &child : std::as_const(children))
            if (child->running())
                child->process.terminate();
        secondStopInvitation.start();
        return;
    }
    if (!secondStopDue)
        return;
    err << QCoreApplication::applicationName() << ": killing the upgrades still running: "
        << stillRunning().join(QLatin1String(", ")) << '\n';
    err.flush();
    for (const auto &child : std::as_const(children))
        if (child->running()) {
            child->killed = true;
            child->process.kill();
        }
}

void UpgradeAll::inviteSecondStop()
{
    secondStopDue = true;
    const QStringList running = stillRunning();
    if (running.isEmpty())
        return;
    err << QCoreApplication::applicationName() << ": still waiting for "
        << running.join(QLatin1String(", ")) << "; stop again to kill "
        << (running.size() == 1 ? "it" : "them") << '\n';
    err.flush();
}

QStringList UpgradeAll::stillRunning() const
{
    QStringList running;
    for (const auto &child : std::as_const(children))
        if (child->running())
            running << child->serial;
    return running;
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
    out << QStringLiteral("Device").leftJustified(DeviceColumn)
        << QStringLiteral("Serial").leftJustified(SerialColumn)
        << QStringLiteral("Result").leftJustified(ResultColumn) << "Seconds\n";
    for (const auto &child : std::as_const(children))
        out << child->node().leftJustified(DeviceColumn) << child->serial.leftJustified(SerialColumn)
            << child->shownResult().leftJustified(ResultColumn)
            << QString::number(child->seconds, 'f', SecondsDecimals) << '\n';
    out.flush();
}

int UpgradeAll::exitCode(bool stopped) const
{
    QSet<int> classes;
    for (const auto &child : std::as_const(children))
        if (child->code != ExitStatus::Done)
            classes.insert(child->code);
    if (classes.isEmpty())
        return ExitStatus::Done;
    if (stopped)
        return ExitStatus::Interrupted;
    return classes.size() == 1 ? *classes.begin() : int(ExitStatus::Failed);
}

int UpgradeAll::fail(int code, const QString &message)
{
    return ExitStatus::report(err, code, message);
}
