#include "flashtool.h"

#include "attacheddevices.h"
#include "backupcommands.h"
#include "bootimagecommand.h"
#include "bootloaderprotocol.h"
#include "connectreport.h"
#include "conversioncommands.h"
#include "debuglog.h"
#include "deviceidentity.h"
#include "exitstatus.h"
#include "hexdump.h"
#include "servicecommands.h"
#include "upgradeall.h"
#include "upgradecommand.h"
#include "usbtq470.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdio>

namespace {

constexpr char ToolName[] = "tq470-flash";
constexpr char ToolVersion[] = "2.00";
constexpr char HelpCommand[] = "help";
constexpr char HelpName[] = "help";
constexpr char VersionName[] = "version";
constexpr char DebugName[] = "debug";
constexpr char JsonName[] = "json";
constexpr char AllDevicesName[] = "all";
// The arguments and option values the number notes speak of.
constexpr char NumberArguments[] = "\\b(ADDRESS|LENGTH|DATA|PATTERN|START|END|BYTE)\\b";
constexpr int HelpColumn = 33; // where a command's summary starts in the general help
constexpr int HelpWidth = 79;
constexpr char WaitName[] = "wait";
constexpr char ResetTimeoutName[] = "reset-timeout";
constexpr double LongestWaitSeconds = 3600;
constexpr int MsPerSecond = 1000;

// The options a command takes beside the general ones (help, version, debug).
enum CommandOptions : unsigned {
    NoOptions = 0,
    FillOption = 1u << 0,
    SerialOption = 1u << 1,
    AccessRefusedExitOption = 1u << 2,
    // A command that talks to no device, or to all: no --serial to choose one.
    NoDeviceChoice = 1u << 3,
    // A command that resets the device into its bootloader: --reset-timeout.
    ResetOption = 1u << 4,
    // Only for finding the command; every device command takes --wait.
    WaitOption = 1u << 5,
    JsonOption = 1u << 6,
    AllDevicesOption = 1u << 7,
    AllOptions = FillOption | SerialOption | AccessRefusedExitOption | ResetOption | WaitOption |
                 JsonOption | AllDevicesOption,
};

} // namespace

struct FlashTool::CommandEntry
{
    const char *name;
    const char *arguments; // as the help shows them, one word each
    unsigned options;
    const char *summary;
};

namespace {

using CommandEntry = FlashTool::CommandEntry;

const CommandEntry Commands[] = {
    {"info", "", AccessRefusedExitOption | JsonOption,
     "Show the device's serial, bootloader version and mode."},
    {"upgrade", "FILE.upg", ResetOption | JsonOption | AllDevicesOption,
     "Upgrade the device's firmware."},
    {"list", "", NoDeviceChoice | JsonOption,
     "List the attached Tq470s: bus, device, serial, mode, access."},
    {"create-upg", "FIRMWARE.hex OUT.upg", NoDeviceChoice,
     "Make an upgrade file from an Intel HEX firmware."},
    {"hex2bin", "IN.hex OUT.bin START END", FillOption | NoDeviceChoice,
     "Convert the window START..END (inclusive) of an Intel HEX file into a binary of "
     "END-START+1 bytes."},
    {"boot-image", "BOOT.hex OUT.bin", SerialOption | NoDeviceChoice,
     "Make a bootloader image with a production serial."},
    {"read", "ADDRESS LENGTH", NoOptions, "Dump device memory."},
    {"read-ext", "ADDRESS LENGTH", NoOptions, "Dump external flash, decoded."},
    {"write-ext", "ADDRESS LENGTH DATA", NoOptions,
     "Fill external flash with the low byte of DATA."},
    {"write-ext-bin", "FILE.bin", NoOptions, "Write FILE at external address 0 and verify it."},
    {"write-page", "PATTERN", NoOptions, "Fill the test page at 0x08005000 with PATTERN."},
    {"run", "", NoOptions, "Start the application."},
    {"save", "ADDRESS LENGTH FILE", NoOptions, "Save device memory into FILE, raw."},
    {"save-ext", "ADDRESS LENGTH FILE", NoOptions, "Save external flash into FILE, decoded."},
    {"verify", "FILE.upg", ResetOption | JsonOption,
     "Compare the device's application and external flash with FILE without writing."},
    {"bootloader", "", ResetOption,
     "Reset a device that runs its application into its bootloader."},
    {"hexdump", "FILE", NoDeviceChoice, "Show a hex and character dump of FILE."},
    {HelpCommand, "[COMMAND]", NoDeviceChoice, "Show this help, or COMMAND's arguments and options."},
};

const char NumberNotes[] = "ADDRESS and DATA are hexadecimal, 0x optional; LENGTH and PATTERN "
                           "decimal.\nSTART, END and BYTE are hexadecimal with 0x or decimal.";

const CommandEntry *findCommand(const QString &name)
{
    for (const CommandEntry &entry : Commands)
        if (name == QLatin1String(entry.name))
            return &entry;
    return nullptr;
}

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool takesWait(unsigned options)
{
    return (options & WaitOption) || !(options & (NoDeviceChoice | SerialOption));
}

// Only the command table's options: the general ones come with every parser.
QList<QCommandLineOption> commandOptions(unsigned options)
{
    QList<QCommandLineOption> list;
    if (options & FillOption)
        list.append(QCommandLineOption(
            QStringLiteral("fill"),
            QStringLiteral("The byte for addresses the file leaves out (default 0)."),
            QStringLiteral("BYTE")));
    if (options & SerialOption)
        list.append(QCommandLineOption(
            QStringLiteral("serial"),
            QStringLiteral("The production serial, nine digits YYMMDDNNN (default: today's "
                           "date and number 001)."),
            QStringLiteral("YYMMDDNNN")));
    if (!(options & (NoDeviceChoice | SerialOption)))
        list.append(QCommandLineOption(
            QStringLiteral("serial"),
            QStringLiteral("The Tq470 whose serial starts with DIGITS (needed when several are "
                           "attached)."),
            QStringLiteral("DIGITS")));
    if (options & JsonOption)
        list.append(QCommandLineOption(
            QString::fromLatin1(JsonName),
            QStringLiteral("Write the result as one JSON document to standard output; the text "
                           "goes to standard error.")));
    if (options & AllDevicesOption)
        list.append(
            QCommandLineOption(QString::fromLatin1(AllDevicesName),
                               QStringLiteral("Upgrade every attached Tq470 at the same time.")));
    if (takesWait(options))
        list.append(QCommandLineOption(
            QString::fromLatin1(WaitName),
            QStringLiteral("Wait up to SECONDS for a (matching) Tq470 to be attached."),
            QStringLiteral("SECONDS")));
    if (options & ResetOption)
        list.append(QCommandLineOption(
            QString::fromLatin1(ResetTimeoutName),
            QStringLiteral("Give up when the device is not back as its bootloader SECONDS after "
                           "the reset (default: 50 failed connects or 10 other answers)."),
            QStringLiteral("SECONDS")));
    if (options & AccessRefusedExitOption) {
        // For scripts that must tell a device they may not open from no device at all.
        QCommandLineOption option(QStringLiteral("access-refused-exit"),
                                  QStringLiteral("The exit code when the device refuses access."),
                                  QStringLiteral("CODE"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        list.append(option);
    }
    return list;
}

// One command in the general help: its synopsis, then its summary wrapped at the help's width.
QString commandLine(const CommandEntry &entry)
{
    const QString indent(HelpColumn, QLatin1Char(' '));
    const QString synopsis =
        QStringLiteral("  ") +
        (QLatin1String(entry.name) + QLatin1Char(' ') + QLatin1String(entry.arguments)).trimmed();
    QString text;
    QString line = synopsis.leftJustified(HelpColumn);
    if (synopsis.size() >= HelpColumn) {
        text = synopsis + QLatin1Char('\n');
        line = indent;
    }
    for (const QString &word : words(entry.summary)) {
        if (line.size() > HelpColumn) {
            if (line.size() + 1 + word.size() > HelpWidth) {
                text += line + QLatin1Char('\n');
                line = indent;
            } else {
                line += QLatin1Char(' ');
            }
        }
        line += word;
    }
    return text + line + QLatin1Char('\n');
}

// Qt's help opens with a usage line of its own; ours names the command and its arguments.
QString withUsageLine(const QString &helpText, const QString &synopsis)
{
    return QStringLiteral("Usage: %1 %2\n").arg(QLatin1String(ToolName), synopsis) +
           helpText.section(QLatin1Char('\n'), 1);
}

void addGeneralOptions(QCommandLineParser &parser)
{
    parser.addOption(
        QCommandLineOption(QStringList{QStringLiteral("h"), QString::fromLatin1(HelpName)},
                           QStringLiteral("Show the help and exit.")));
    parser.addOption(
        QCommandLineOption(QStringList{QStringLiteral("V"), QString::fromLatin1(VersionName)},
                           QStringLiteral("Show the version and exit.")));
    parser.addOption(QCommandLineOption(
        QStringList{QStringLiteral("d"), QString::fromLatin1(DebugName)},
        QStringLiteral("Write the device layers' debug lines to standard error.")));
}

bool showDebugOutput = false;

// The device layers narrate every transfer on the debug output; a script wants only the
// results unless it asks for the narration.
void filterDebugOutput(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && !showDebugOutput)
        return;
    std::fputs(qPrintable(DebugLog::isOurs(context) ? message
                                                    : qFormatLogMessage(type, context, message)),
               stderr);
    std::fputc('\n', stderr);
}

} // namespace

FlashTool::FlashTool() : out(stdout), err(stderr) {}

int FlashTool::run(const QStringList &arguments)
{
    const int code = runCommand(arguments);
    if (!json)
        return code;
    // A command that stopped before it could say more still gives the script a document.
    if (report.isEmpty() && code == ExitUsage)
        return code;
    if (!report.contains(QLatin1String("result")))
        report.insert(QStringLiteral("result"),
                      code == ExitSuccess ? QStringLiteral("ok") : QStringLiteral("failed"));
    report.insert(QStringLiteral("reason"), ExitStatus::reason(code));
    QTextStream document(stdout);
    document << QJsonDocument(report).toJson(QJsonDocument::Indented);
    document.flush();
    return code;
}

int FlashTool::runCommand(const QStringList &arguments)
{
    QCoreApplication::setApplicationName(QString::fromLatin1(ToolName));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ToolVersion));

    // Every option of every command first, to find the command; then only the command's own.
    QCommandLineParser parser;
    addGeneralOptions(parser);
    for (QCommandLineOption option : commandOptions(AllOptions)) {
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    if (!parser.parse(arguments))
        return usage(err, parser.errorText(), QString());

    showDebugOutput = parser.isSet(QString::fromLatin1(DebugName));
    DebugLog::setEnabled(showDebugOutput);
    qInstallMessageHandler(filterDebugOutput);

    if (parser.isSet(QString::fromLatin1(VersionName))) {
        out << ToolName << ' ' << ToolVersion << '\n';
        out.flush();
        return ExitSuccess;
    }

    QStringList args = parser.positionalArguments();
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    const bool helpWanted =
        command == QLatin1String(HelpCommand) || parser.isSet(QString::fromLatin1(HelpName));
    if (command == QLatin1String(HelpCommand) && args.size() > 1)
        return usage(err, QStringLiteral("help takes one COMMAND at most"), command);
    const QString topic = command == QLatin1String(HelpCommand) ? args.value(0) : command;
    if (helpWanted && topic.isEmpty())
        return showHelp(generalHelp());
    if (command.isEmpty())
        return usage(err, QStringLiteral("no command given"), QString());

    const CommandEntry *entry = findCommand(topic);
    if (!entry)
        return usage(err, QStringLiteral("unknown command: %1").arg(topic), QString());
    if (helpWanted)
        return showHelp(commandHelp(*entry));

    QCommandLineParser commandParser;
    addGeneralOptions(commandParser);
    commandParser.addOptions(commandOptions(entry->options));
    if (!commandParser.parse(arguments)) {
        const QStringList unknown = commandParser.unknownOptionNames();
        return usage(err,
                     unknown.isEmpty()
                         ? commandParser.errorText()
                         : QStringLiteral("%1 takes no option '%2'").arg(command, unknown.first()),
                     command);
    }
    const QStringList expected = words(entry->arguments);
    if (args.size() != expected.size())
        return usage(err,
                     expected.isEmpty()
                         ? QStringLiteral("%1 takes no arguments").arg(command)
                         : QStringLiteral("%1 takes %2").arg(command, expected.join(' ')),
                     command);
    const auto value = [&commandParser](const char *name) {
        return commandParser.value(QString::fromLatin1(name));
    };
    const bool allDevices = (entry->options & AllDevicesOption) &&
                            commandParser.isSet(QString::fromLatin1(AllDevicesName));
    if (allDevices && commandParser.isSet(QStringLiteral("serial")))
        return usage(err, QStringLiteral("--all upgrades every device; it takes no --serial"),
                     command);
    json = (entry->options & JsonOption) && commandParser.isSet(QString::fromLatin1(JsonName));
    QJsonObject *const jsonReport = json ? &report : nullptr;
    if (json) {
        // Standard output carries the document alone; the text a person reads goes beside
        // the errors.
        out.flush();
        humanOutput.open(stderr, QIODevice::WriteOnly);
        out.setDevice(&humanOutput);
        report.insert(QStringLiteral("command"), command);
    }

    if (command == QLatin1String("list"))
        return AttachedDevices(out, err).list(jsonReport);
    // Seconds, as milliseconds; 0 when not given or not the command's, -1 when not a number
    // of seconds.
    const auto milliseconds = [&commandParser, entry](const char *name) {
        const bool takesIt =
            name == WaitName ? takesWait(entry->options) : (entry->options & ResetOption) != 0;
        const QString text = takesIt ? commandParser.value(QString::fromLatin1(name)) : QString();
        if (text.isNull())
            return 0;
        bool ok = false;
        const double seconds = text.toDouble(&ok);
        return ok && seconds > 0 && seconds <= LongestWaitSeconds
                   ? qMax(1, int(seconds * MsPerSecond))
                   : -1;
    };
    for (const char *name : {WaitName, ResetTimeoutName})
        if (milliseconds(name) < 0)
            return usage(err,
                         QStringLiteral("--%1 takes a number of seconds above 0 and up to %2, "
                                        "not '%3'")
                             .arg(QLatin1String(name))
                             .arg(LongestWaitSeconds)
                             .arg(value(name)),
                         command);
    const int waitMs = milliseconds(WaitName);
    const int resetDeadlineMs = milliseconds(ResetTimeoutName);
    if (allDevices) {
        QStringList passedOn;
        if (showDebugOutput)
            passedOn << QStringLiteral("--debug");
        if (resetDeadlineMs > 0)
            passedOn << QStringLiteral("--%1").arg(QLatin1String(ResetTimeoutName))
                     << value(ResetTimeoutName);
        return UpgradeAll(out, err).run(args.at(0), waitMs, passedOn, jsonReport);
    }
    if (!(entry->options & NoDeviceChoice)) {
        const int refused = AttachedDevices(out, err).choose(value("serial"), waitMs);
        if (refused >= 0)
            return refused;
    }

    if (command == QLatin1String("info")) {
        int accessRefusedExit = ExitFailure;
        if (commandParser.isSet(QStringLiteral("access-refused-exit"))) {
            bool isNumber = false;
            accessRefusedExit = value("access-refused-exit").toInt(&isNumber);
            if (!isNumber)
                return usage(err, QStringLiteral("--access-refused-exit takes a number"), command);
        }
        return info(accessRefusedExit, jsonReport);
    }
    if (command == QLatin1String("hexdump"))
        return hexdump(args.at(0));
    if (command == QLatin1String("upgrade"))
        return UpgradeCommand(out, err).run(args.at(0), resetDeadlineMs, value("serial"),
                                            jsonReport);
    if (command == QLatin1String("create-upg"))
        return ConversionCommands(out, err).createUpg(args.at(0), args.at(1));
    if (command == QLatin1String("hex2bin"))
        return ConversionCommands(out, err).hex2bin(args, value("fill"));
    if (command == QLatin1String("boot-image"))
        return BootImageCommand(out, err).run(args.at(0), args.at(1), value("serial"));
    BackupCommands backup(out, err, resetDeadlineMs);
    if (command == QLatin1String("save") || command == QLatin1String("save-ext"))
        return backup.save(args.at(0), args.at(1), args.at(2), command.endsWith("-ext"));
    if (command == QLatin1String("verify"))
        return backup.verify(args.at(0), jsonReport);
    if (command == QLatin1String("bootloader"))
        return backup.bootloader();
    ServiceCommands service(out, err);
    if (command == QLatin1String("read"))
        return service.read(args.at(0), args.at(1));
    if (command == QLatin1String("read-ext"))
        return service.readExternal(args.at(0), args.at(1));
    if (command == QLatin1String("write-ext"))
        return service.writeExternal(args.at(0), args.at(1), args.at(2));
    if (command == QLatin1String("write-ext-bin"))
        return service.writeExternalImage(args.at(0));
    if (command == QLatin1String("write-page"))
        return service.writePage(args.at(0));
    return service.run();
}

int FlashTool::usage(QTextStream &err, const QString &message, const QString &command)
{
    err << ToolName << ": " << message << "\nTry '" << ToolName << ' ' << HelpCommand
        << (command.isEmpty() || command == QLatin1String(HelpCommand) ? QString()
                                                                       : QLatin1Char(' ') + command)
        << "'.\n";
    err.flush();
    return ExitUsage;
}

QString FlashTool::generalHelp()
{
    QString commands;
    for (const CommandEntry &entry : Commands)
        commands += commandLine(entry);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Service tool for the Tq470.\n\nCommands:\n") + commands +
        QStringLiteral("\n%1\n'%2 help COMMAND' shows a command's arguments and options.\n"
                       "Exit code: 0 success, 1 failure, 2 bad usage.")
            .arg(QLatin1String(NumberNotes), QLatin1String(ToolName)));
    addGeneralOptions(parser);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to run."));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 QStringLiteral("The command's arguments."),
                                 QStringLiteral("[...]"));
    return withUsageLine(parser.helpText(), QStringLiteral("[options] command [arguments...]"));
}

QString FlashTool::commandHelp(const CommandEntry &entry)
{
    const QString synopsis = QStringLiteral("%1 [options] %2")
                                 .arg(QLatin1String(entry.name), QLatin1String(entry.arguments))
                                 .trimmed();
    QCommandLineParser parser;
    const bool numbers = synopsis.contains(QRegularExpression(QLatin1String(NumberArguments))) ||
                         (entry.options & FillOption);
    parser.setApplicationDescription(
        QLatin1String(entry.summary) +
        (numbers ? QLatin1Char('\n') + QLatin1String(NumberNotes) : QString()));
    addGeneralOptions(parser);
    parser.addOptions(commandOptions(entry.options));
    return withUsageLine(parser.helpText(), synopsis);
}

int FlashTool::showHelp(const QString &text)
{
    out << text;
    out.flush();
    return ExitSuccess;
}

int FlashTool::info(int accessRefusedExit, QJsonObject *jsonReport)
{
    USBTQ470 device;
    if (device.connect() != 0) {
        const ConnectFailure failure = device.lastConnectFailure();
        fail(ConnectReport::message(failure));
        return failure.accessRefused() ? accessRefusedExit : ConnectReport::exitCode(failure);
    }

    DeviceIdentity identity;
    const bool versionRead = identity.read(device);
    device.disconnect();

    out << "Serial: " << QString::fromLatin1(identity.serial) << '\n';
    if (versionRead) {
        out << "Version: "
            << QString::fromLatin1(DeviceIdentity::firstVersionText(identity.versionBlock)) << '\n';
        out << "Version: "
            << QString::fromLatin1(DeviceIdentity::secondVersionText(identity.versionBlock))
            << '\n';
    }
    out << "Mode: " << DeviceIdentity::modeName(identity.mode) << '\n';
    out.flush();
    if (jsonReport) {
        jsonReport->insert(QStringLiteral("serial"),
                           QString::fromLatin1(identity.serial.left(Bootloader::SerialDigits)));
        jsonReport->insert(QStringLiteral("mode"),
                           QString::fromLatin1(DeviceIdentity::modeName(identity.mode)));
        if (versionRead) {
            jsonReport->insert(
                QStringLiteral("bootloaderVersion"),
                QString::fromLatin1(DeviceIdentity::firstVersionText(identity.versionBlock)));
            jsonReport->insert(
                QStringLiteral("versionDate"),
                QString::fromLatin1(DeviceIdentity::secondVersionText(identity.versionBlock)));
        }
    }

    if (!versionRead)
        return fail(QStringLiteral("the bootloader version block could not be read"));
    if (identity.mode == DeviceIdentity::Mode::Unknown)
        return fail(QStringLiteral("the serial tells neither bootloader nor application"));
    return ExitSuccess;
}

int FlashTool::hexdump(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot open %1: %2").arg(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString()));
    // The dump opens with a line break meant for a log that is already written to.
    out << HexDump(bytes.constData(), int(bytes.size())).mid(1) << '\n';
    out.flush();
    return ExitSuccess;
}

int FlashTool::fail(const QString &message)
{
    err << ToolName << ": " << message << '\n';
    err.flush();
    return ExitFailure;
}
