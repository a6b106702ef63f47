#include "launcheroptions.h"

#include "devicestatestore.h"
#include "tq470model.h"

namespace {

const QStringList OptionsWithValue = {
    QStringLiteral("--state"),      QStringLiteral("--mode"),  QStringLiteral("--serial"),
    QStringLiteral("--fault-rate"), QStringLiteral("--seed"),  QStringLiteral("--fault"),
    QStringLiteral("--reenumerate-ms"),
};

} // namespace

LauncherOptions::Outcome LauncherOptions::parse(const QStringList &arguments)
{
    *this = LauncherOptions();
    int i = 0;
    for (; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--")) {
            ++i;
            break;
        }
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help"))
            return Outcome::Help;
        if (!argument.startsWith(QLatin1Char('-')))
            break;
        if (argument == QLatin1String("--unplugged")) {
            m_unplugged = true;
            continue;
        }
        if (argument == QLatin1String("--no-access")) {
            m_noAccess = true;
            continue;
        }
        const int equals = argument.indexOf(QLatin1Char('='));
        const QString option = equals < 0 ? argument : argument.left(equals);
        if (!OptionsWithValue.contains(option)) {
            invalid(QStringLiteral("unknown option '%1'").arg(argument));
            return Outcome::Invalid;
        }
        QString value;
        if (equals >= 0) {
            value = argument.mid(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments.at(++i);
        } else {
            invalid(QStringLiteral("%1 needs a value").arg(option));
            return Outcome::Invalid;
        }
        if (!apply(option, value))
            return Outcome::Invalid;
    }
    m_command = arguments.mid(i);
    if (m_command.isEmpty()) {
        invalid(QStringLiteral("no COMMAND given"));
        return Outcome::Invalid;
    }
    if (m_seed && !m_faultRate) {
        invalid(QStringLiteral("--seed has no effect without --fault-rate"));
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

bool LauncherOptions::apply(const QString &option, const QString &value)
{
    bool ok = false;
    if (option == QLatin1String("--state")) {
        if (value.isEmpty())
            return invalid(QStringLiteral("--state needs a directory"));
        m_stateDirectory = value;
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
               "Runs COMMAND with a simulated Tq470 plugged into an emulated USB bus that only\n"
               "COMMAND sees. COMMAND's libusb talks to it as to the real device and never\n"
               "reaches real USB hardware.\n"
               "\n"
               "Options:\n"
               "  --state DIR          keep the device in DIR across runs (created with a fresh\n"
               "                       device when missing): internal.bin, external.bin and\n"
               "                       device.json, saved when COMMAND ends and whenever the\n"
               "                       device leaves the bus\n"
               "  --mode MODE          bootloader (default) or application; overrides the mode\n"
               "                       stored in DIR\n"
               "  --serial DIGITS      the nine-digit serial of a fresh device (default %2)\n"
               "  --fault RULE         inject a fault; may be given many times (see below)\n"
               "  --fault-rate P       let each request fail with probability P (0 to 1) with a\n"
               "                       stall, timeout, short transfer or corrupted read data\n"
               "  --seed N             the seed for --fault-rate (default %3); the same seed\n"
               "                       gives the same faults for the same requests\n"
               "  --reenumerate-ms MS  how long the device is off the bus after request 0x04\n"
               "                       (default %4)\n"
               "  --unplugged          leave the device off the bus: COMMAND finds an empty bus\n"
               "  --no-access          the device is there, but COMMAND may not open it for\n"
               "                       writing, as a user without the udev rule: opening it\n"
               "                       read-write fails with EACCES, every usbfs request on it\n"
               "                       with EPERM\n"
               "  -h, --help           show this help\n"
               "\n")
               .arg(program, QLatin1String(DeviceOptions::DefaultSerial))
               .arg(DefaultSeed)
               .arg(DeviceOptions::DefaultReenumerateDelayMs)
           + FaultPlan::syntaxHelp()
           + QStringLiteral(
               "\n"
               "Exit status: COMMAND's, or 128 + N when a signal N ended it; 2 for bad usage or\n"
               "a malformed state directory; 125 when the simulator itself fails; 126 when\n"
               "COMMAND cannot run and 127 when it is not found.\n"
               "SIGINT and SIGTERM sent to %1 are passed on to COMMAND.\n")
                 .arg(program);
}
