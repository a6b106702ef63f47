#include "launcheroptions.h"

#include "devicestatestore.h"
#include "bootloaderprotocol.h"
#include "tq470model.h"

#include <QCommandLineParser>

namespace {

constexpr char ProgramName[] = "tq470-sim";
constexpr quint64 LargestSerial = 999999999;

// In the order their values are checked.
const char *const OptionsWithValue[] = {
    "devices", "state", "mode", "serial", "fault-rate", "seed", "fault", "fault-device",
    "reenumerate-ms", "plug-after-ms", "replay", "check-trace",
};

} // namespace

LauncherOptions::Outcome LauncherOptions::parse(const QStringList &arguments)
{
    *this = LauncherOptions();
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")}, QString());
    const QCommandLineOption unplugged(QStringLiteral("unplugged"), QString());
    const QCommandLineOption noAccess(QStringLiteral("no-access"), QString());
    const QCommandLineOption reportClaims(QStringLiteral("report-claims"), QString());
    parser.addOptions({help, version, unplugged, noAccess, reportClaims});
    for (const char *name : OptionsWithValue)
        parser.addOption(
            QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("VALUE")));

    if (!parser.parse(QStringList(QLatin1String(ProgramName)) + arguments)) {
        invalid(parser.errorText());
        return Outcome::Invalid;
    }
    if (parser.isSet(help))
        return Outcome::Help;
    if (parser.isSet(version))
        return Outcome::Version;
    m_unplugged = parser.isSet(unplugged);
    m_noAccess = parser.isSet(noAccess);
    m_reportClaims = parser.isSet(reportClaims);
    for (const char *name : OptionsWithValue) {
        const QString option = QLatin1String(name);
        // Every --fault counts; of another option given twice, the last.
        for (const QString &value : parser.values(option))
            if (!apply(QLatin1String("--") + option, value))
                return Outcome::Invalid;
    }
    m_command = parser.positionalArguments();
    if (!m_checkTrace.isEmpty() && (!m_command.isEmpty() || !m_replayTrace.isEmpty())) {
        invalid(QStringLiteral("--check-trace takes no COMMAND and no --replay"));
        return Outcome::Invalid;
    }
    if (m_command.isEmpty() && m_checkTrace.isEmpty()) {
        invalid(QStringLiteral("no COMMAND given"));
        return Outcome::Invalid;
    }
    if (!m_replayTrace.isEmpty() && (m_devices > 1 || !m_faults.isEmpty() || m_faultRate)) {
        invalid(QStringLiteral("--replay plays one device as recorded: no --devices, --fault or "
                               "--fault-rate"));
        return Outcome::Invalid;
    }
    if (m_seed && !m_faultRate) {
        invalid(QStringLiteral("--seed has no effect without --fault-rate"));
        return Outcome::Invalid;
    }
    if (m_serial && m_serial->toULongLong() + quint64(m_devices) - 1 > LargestSerial) {
        invalid(QStringLiteral("%1 devices from serial %2 run past 999999999")
                    .arg(m_devices)
                    .arg(QString::fromLatin1(*m_serial)));
        return Outcome::Invalid;
    }
    if (m_faultDevice && m_faults.isEmpty() && !m_faultRate) {
        invalid(QStringLiteral("--fault-device has no effect without --fault or --fault-rate"));
        return Outcome::Invalid;
    }
    if (m_faultRate) {
        RandomFaults random;
        random.rate = *m_faultRate;
        random.seed = m_seed.value_or(DefaultSeed);
        m_random = random;
    }
    return Outcome::Run;
}

QByteArray LauncherOptions::serialAt(int index) const
{
    const QByteArray first = m_serial.value_or(QByteArray(DeviceOptions::DefaultSerial));
    return QByteArray::number(first.toULongLong() + quint64(index))
        .rightJustified(Bootloader::SerialDigits, '0');
}

bool LauncherOptions::apply(const QString &option, const QString &value)
{
    bool ok = false;
    if (option == QLatin1String("--state")) {
        if (value.isEmpty())
            return invalid(QStringLiteral("--state needs a directory"));
        m_stateDirectory = value;
    } else if (option == QLatin1String("--replay") || option == QLatin1String("--check-trace")) {
        if (value.isEmpty())
            return invalid(option + QStringLiteral(" needs a trace file"));
        (option == QLatin1String("--replay") ? m_replayTrace : m_checkTrace) = value;
    } else if (option == QLatin1String("--mode")) {
        DeviceMode mode;
        if (!DeviceStateStore::parseMode(value, &mode))
            return invalid(QStringLiteral("--mode must be bootloader or application, not '%1'")
                               .arg(value));
        m_mode = mode;
    } else if (option == QLatin1String("--serial")) {
        if (!Tq470Model::isValidSerial(value.toLatin1()))
            return invalid(QStringLiteral("--serial must be nine digits, not '%1'").arg(value));
        m_serial = value.toLatin1();
    } else if (option == QLatin1String("--devices")) {
        const int devices = value.toInt(&ok, 10);
        if (!ok || devices < 1 || devices > MaxDevices)
            return invalid(QStringLiteral("--devices must be a whole number from 1 to %1, not '%2'")
                               .arg(MaxDevices)
                               .arg(value));
        m_devices = devices;
    } else if (option == QLatin1String("--fault-device")) {
        if (!Tq470Model::isValidSerial(value.toLatin1()))
            return invalid(
                QStringLiteral("--fault-device must be nine digits, not '%1'").arg(value));
        m_faultDevice = value.toLatin1();
    } else if (option == QLatin1String("--fault-rate")) {
        const double rate = value.toDouble(&ok);
        if (!ok || rate < 0.0 || rate > 1.0)
            return invalid(
                QStringLiteral("--fault-rate must be a number from 0 to 1, not '%1'").arg(value));
        m_faultRate = rate;
    } else if (option == QLatin1String("--seed")) {
        const quint32 seed = value.toUInt(&ok, 10);
        if (!ok)
            return invalid(QStringLiteral("--seed must be a whole number, not '%1'").arg(value));
        m_seed = seed;
    } else if (option == QLatin1String("--fault")) {
        FaultRule rule;
        QString error;
        if (!FaultPlan::parseRule(value, &rule, &error))
            return invalid(QStringLiteral("--fault: %1").arg(error));
        m_faults.append(rule);
    } else if (option == QLatin1String("--reenumerate-ms")) {
        const int delay = value.toInt(&ok, 10);
        if (!ok || delay < 0)
            return invalid(
                QStringLiteral("--reenumerate-ms must be a whole number of milliseconds, not '%1'")
                    .arg(value));
        m_reenumerateDelayMs = delay;
    } else if (option == QLatin1String("--plug-after-ms")) {
        const int delay = value.toInt(&ok, 10);
        if (!ok || delay < 0)
            return invalid(
                QStringLiteral("--plug-after-ms must be a whole number of milliseconds, not '%1'")
                    .arg(value));
        m_plugAfterMs = delay;
    }
    return true;
}

bool LauncherOptions::invalid(const QString &message)
{
    m_error = message;
    return false;
}

QString LauncherOptions::helpText(const QString &program)
{
    return QStringLiteral(
               "Usage: %1 [OPTION]... [--] COMMAND [ARGS]...\n"
               "  or:  %1 [--fault RULE]... [--fault-rate P] --check-trace FILE\n"
               "Runs COMMAND with a simulated Tq470 plugged into an emulated USB bus that only\n"
               "COMMAND sees. COMMAND's libusb talks to it as to the real device and never\n"
               "reaches real USB hardware.\n"
               "\n"
               "Options:\n"
               "  --devices N          plug in N Tq470s (1 to %5, default 1), their serials\n"
               "                       counting up from --serial\n"
               "  --state DIR          keep the device in DIR across runs (created with a fresh\n"
               "                       device when missing): internal.bin, external.bin and\n"
               "                       device.json, saved when COMMAND ends and whenever the\n"
               "                       device leaves the bus; with --devices above 1, each\n"
               "                       device in DIR/SERIAL\n"
               "  --mode MODE          bootloader (default) or application; overrides the mode\n"
               "                       stored in DIR\n"
               "  --serial DIGITS      the nine-digit serial of a fresh device (default %2)\n"
               "  --fault RULE         inject a fault; may be given many times (see below)\n"
               "  --fault-device SERIAL\n"
               "                       let --fault and --fault-rate hit this device only\n"
               "                       (default: every device, each counting on its own)\n"
               "  --fault-rate P       let each request fail with probability P (0 to 1) with a\n"
               "                       stall, timeout, short transfer or corrupted read data\n"
               "  --seed N             the seed for --fault-rate (default %3); the same seed\n"
               "                       gives the same faults for the same requests\n"
               "  --reenumerate-ms MS  how long the device is off the bus after request 0x04\n"
               "                       (default %4)\n"
               "  --unplugged          leave the devices off the bus: COMMAND finds an empty bus\n"
               "  --plug-after-ms MS   plug the devices in MS milliseconds after COMMAND starts\n"
               "                       (default 0: before it starts)\n"
               "  --no-access          the device is there, but COMMAND may not open it for\n"
               "                       writing, as a user without the udev rule: opening it\n"
               "                       read-write fails with EACCES, every usbfs request on it\n"
               "                       with EPERM\n"
               "  --report-claims      when COMMAND ends, write to standard error, per device,\n"
               "                       how many host processes selected its configuration or\n"
               "                       claimed its interface and how many such requests were\n"
               "                       refused, then a line for each refusal\n"
               "  --replay FILE        let the Tq470 of FILE, a USB trace in usbmon's pcap or\n"
               "                       pcapng format, answer: each request of COMMAND gets the\n"
               "                       recorded answer of the next recorded request, which it\n"
               "                       must repeat; the first other request ends the replay\n"
               "  --check-trace FILE   send the recorded requests of FILE to the simulated\n"
               "                       device, with the faults given, and list where its\n"
               "                       answers differ (no COMMAND)\n"
               "  -h, --help           show this help\n"
               "  -V, --version        show the version\n"
               "\n")
               .arg(program, QLatin1String(DeviceOptions::DefaultSerial))
               .arg(DefaultSeed)
               .arg(DeviceOptions::DefaultReenumerateDelayMs)
               .arg(MaxDevices)
           + FaultPlan::syntaxHelp()
           + QStringLiteral(
               "\n"
               "Like the Linux kernel, the bus refuses to select the configuration while an\n"
               "interface is claimed and to claim an interface another open file holds (EBUSY);\n"
               "closing the file or the end of its process releases its claims.\n"
               "\n"
               "Exit status: COMMAND's, or 128 + N when a signal N ended it; 2 for bad usage or\n"
               "a malformed state directory or trace; 124 when COMMAND left a --replay's trace;\n"
               "125 when the simulator itself fails; 126 when COMMAND cannot run and 127 when it\n"
               "is not found. --check-trace: 0 when every answer agrees, 1 when one differs.\n"
               "SIGINT and SIGTERM sent to %1 are passed on to COMMAND.\n")
                 .arg(program);
}
