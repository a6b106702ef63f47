#include "flashtool.h"

#include "attacheddevices.h"
#include "bootloaderprotocol.h"
#include "connectreport.h"
#include "debuglog.h"
#include "deviceidentity.h"
#include "exitstatus.h"
#include "hexdump.h"
#include "transferrecorder.h"
#include "usbtq470.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdio>
#include <utility>

namespace {

constexpr char ToolName[] = "tq470-flash";
constexpr char ToolVersion[] = "2.00";
constexpr char HelpName[] = "help";
constexpr char VersionName[] = "version";
constexpr char DebugName[] = "debug";
constexpr char RecordName[] = "record";
constexpr char JsonName[] = "json";
constexpr char AllDevicesName[] = "all";
constexpr char SerialName[] = "serial";
constexpr char FillName[] = "fill";
constexpr char AllowEmptyName[] = "allow-empty";
// The arguments and option values the number notes speak of.
constexpr char NumberArguments[] = "\\b(ADDRESS|LENGTH|DATA|PATTERN|START|END|BYTE)\\b";
constexpr int HelpColumn = 33; // where a command's summary starts in the general help
constexpr int HelpWidth = 79;
constexpr char WaitName[] = "wait";
constexpr char ResetTimeoutName[] = "reset-timeout";
constexpr double LongestWaitSeconds = 3600;
constexpr int MsPerSecond = 1000;

using Context = CommandTable::Context;
using Entry = CommandTable::Entry;

const char NumberNotes[] = "ADDRESS and DATA are hexadecimal, 0x optional; LENGTH and PATTERN "
                           "decimal.\nSTART, END and BYTE are hexadecimal with 0x or decimal.";

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Only the command table's options: the general ones come with every parser.
QList<QCommandLineOption> commandOptions(unsigned options)
{
    QList<QCommandLineOption> list;
    if (options & CommandTable::FillOption)
        list.append(QCommandLineOption(
            QString::fromLatin1(FillName),
            QStringLiteral("The byte for addresses the file leaves out (default 0)."),
            QStringLiteral("BYTE")));
    if (options & CommandTable::AllowEmptyOption)
        list.append(QCommandLineOption(
            QString::fromLatin1(AllowEmptyName),
            QStringLiteral("Write the output even when the HEX file holds no data for its "
                           "window (refused otherwise).")));
    if (options & CommandTable::ProductionSerialOption)
        list.append(QCommandLineOption(
            QString::fromLatin1(SerialName),
            QStringLiteral("The production serial, nine digits YYMMDDNNN (default: today's "
                           "date and number 001)."),
            QStringLiteral("YYMMDDNNN")));
    if (options & CommandTable::DeviceChoice)
        list.append(QCommandLineOption(
            QString::fromLatin1(SerialName),
            QStringLiteral("The Tq470 to use: its serial, or its first digits when they name "
                           "one attached Tq470 (needed when several are attached)."),
            QStringLiteral("SERIAL")));
    if (options & CommandTable::JsonOption)
        list.append(QCommandLineOption(
            QString::fromLatin1(JsonName),
            QStringLiteral("Write the result as one JSON document to standard output; the text "
                           "goes to standard error.")));
    if (options & CommandTable::AllDevicesOption)
        list.append(
            QCommandLineOption(QString::fromLatin1(AllDevicesName),
                               QStringLiteral("Upgrade every attached Tq470 at the same time.")));
    if (options & CommandTable::DeviceChoice)
        list.append(QCommandLineOption(
            QString::fromLatin1(WaitName),
            QStringLiteral("Wait up to SECONDS for a (matching) Tq470 to be attached."),
            QStringLiteral("SECONDS")));
    if (options & CommandTable::ResetOption)
        list.append(QCommandLineOption(
            QString::fromLatin1(ResetTimeoutName),
            QStringLiteral("Give up when the device is not back as its bootloader SECONDS after "
                           "the reset (default: 50 failed connects or 10 other answers)."),
            QStringLiteral("SECONDS")));
    return list;
}

// Every command's options, hidden, so that the command can be found before its own are known.
void addEveryCommandOption(QCommandLineParser &parser)
{
    unsigned every = CommandTable::NoOptions;
    for (const Entry &entry : CommandTable::entries())
        every |= entry.options;
    QStringList added;
    for (QCommandLineOption option : commandOptions(every)) {
        // --serial is a production serial to one command and a device's to others.
        if (added.contains(option.names().first()))
            continue;
        added += option.names();
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

// One command in the general help: its synopsis, then its summary wrapped at the help's width.
QString commandLine(const Entry &entry)
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
    parser.addOption(QCommandLineOption(
        QString::fromLatin1(RecordName),
        QStringLiteral("Record every USB transfer into FILE, a pcap trace as Wireshark captures "
                       "it; upgrading every device, into FILE-SERIAL.pcap for each."),
        QStringLiteral("FILE")));
}

bool showDebugOutput = false;

// The device layers narrate every transfer on the debug output; a script wants only the
// results unless it asks for the narration.
void filterDebugOutput(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && !showDebugOutput)
        return;
    std::fputs(
        qPrintable(DebugLog::isOurs(context) ? message : qFormatLogMessage(type, context, message)),
        stderr);
    std::fputc('\n', stderr);
}

} // namespace

FlashTool::FlashTool() : out(stdout), err(stderr) {}

int FlashTool::run(const QStringList &arguments)
{
    const int code = runCommand(arguments);
    // Bad usage found before the command was known still gives a script that asked for a
    // document one.
    if (!json && !(code == ExitStatus::Usage && arguments.contains(QLatin1String("--json"))))
        return code;
    if (!report.contains(QLatin1String("result")))
        report.insert(QStringLiteral("result"), code == ExitStatus::Done ? QStringLiteral("ok")
                                                : code == ExitStatus::Interrupted
                                                    ? QStringLiteral("interrupted")
                                                    : QStringLiteral("failed"));
    report.insert(QStringLiteral("reason"), ExitStatus::reason(code));
    if (code != ExitStatus::Done && !report.contains(QLatin1String("message")) &&
        !ExitStatus::lastMessage().isEmpty())
        report.insert(QStringLiteral("message"), ExitStatus::lastMessage());
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
    addEveryCommandOption(parser);
    if (!parser.parse(arguments))
        return usage(err, parser.errorText(), QString());

    showDebugOutput = parser.isSet(QString::fromLatin1(DebugName));
    DebugLog::setEnabled(showDebugOutput);
    qInstallMessageHandler(filterDebugOutput);

    if (parser.isSet(QString::fromLatin1(VersionName))) {
        out << ToolName << ' ' << ToolVersion << '\n';
        out.flush();
        return ExitStatus::Done;
    }

    QStringList args = parser.positionalArguments();
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    const bool helpCommand = command == QLatin1String(CommandTable::HelpCommand);
    // "COMMAND --help" is "help COMMAND", whatever else the line holds.
    if (helpCommand || parser.isSet(QString::fromLatin1(HelpName))) {
        if (helpCommand && args.size() > 1)
            return usage(err, QStringLiteral("help takes one COMMAND at most"), command);
        Context context(out, err);
        context.command = QString::fromLatin1(CommandTable::HelpCommand);
        context.arguments = helpCommand || command.isEmpty() ? args : QStringList{command};
        return CommandTable::find(context.command)->action(context);
    }
    if (command.isEmpty())
        return usage(err, QStringLiteral("no command given"), QString());

    const Entry *entry = CommandTable::find(command);
    if (!entry)
        return unknownCommand(err, command);
    return runEntry(*entry, arguments, args);
}

int FlashTool::runEntry(const Entry &entry, const QStringList &arguments, const QStringList &args)
{
    const QString command = QString::fromLatin1(entry.name);
    QCommandLineParser commandParser;
    addGeneralOptions(commandParser);
    commandParser.addOptions(commandOptions(entry.options));
    if (!commandParser.parse(arguments)) {
        const QStringList unknown = commandParser.unknownOptionNames();
        return usage(err,
                     unknown.isEmpty()
                         ? commandParser.errorText()
                         : QStringLiteral("%1 takes no option '%2'").arg(command, unknown.first()),
                     command);
    }
    const QStringList expected = words(entry.arguments);
    if (args.size() != expected.size())
        return usage(err,
                     expected.isEmpty()
                         ? QStringLiteral("%1 takes no arguments").arg(command)
                         : QStringLiteral("%1 takes %2").arg(command, expected.join(' ')),
                     command);
    // Asks the parser only for the command's own options: for others it would complain.
    const auto value = [&commandParser, &entry](const char *name, unsigned option) {
        return entry.options & option ? commandParser.value(QString::fromLatin1(name)) : QString();
    };

    Context context(out, err);
    context.command = command;
    context.arguments = args;
    context.serial =
        value(SerialName, CommandTable::DeviceChoice | CommandTable::ProductionSerialOption);
    context.fill = value(FillName, CommandTable::FillOption);
    context.allDevices = (entry.options & CommandTable::AllDevicesOption) &&
                         commandParser.isSet(QString::fromLatin1(AllDevicesName));
    context.allowEmpty = (entry.options & CommandTable::AllowEmptyOption) &&
                         commandParser.isSet(QString::fromLatin1(AllowEmptyName));
    if (context.allDevices && commandParser.isSet(QString::fromLatin1(SerialName)))
        return usage(err, QStringLiteral("--all upgrades every device; it takes no --serial"),
                     command);
    json = (entry.options & CommandTable::JsonOption) &&
           commandParser.isSet(QString::fromLatin1(JsonName));
    if (json) {
        // Standard output carries the document alone; the text a person reads goes beside
        // the errors.
        out.flush();
        humanOutput.open(stderr, QIODevice::WriteOnly);
        out.setDevice(&humanOutput);
        report.insert(QStringLiteral("command"), command);
        context.jsonReport = &report;
    }

    // Seconds, as milliseconds; 0 when not given, -1 when not a number of seconds.
    const auto milliseconds = [](const QString &text) {
        if (text.isNull())
            return 0;
        bool ok = false;
        const double seconds = text.toDouble(&ok);
        return ok && seconds > 0 && seconds <= LongestWaitSeconds
                   ? qMax(1, int(seconds * MsPerSecond))
                   : -1;
    };
    const QString wait = value(WaitName, CommandTable::DeviceChoice);
    const QString resetTimeout = value(ResetTimeoutName, CommandTable::ResetOption);
    for (const auto &[name, text] :
         {std::pair(WaitName, wait), std::pair(ResetTimeoutName, resetTimeout)})
        if (milliseconds(text) < 0)
            return usage(err,
                         QStringLiteral("--%1 takes a number of seconds above 0 and up to %2, "
                                        "not '%3'")
                             .arg(QLatin1String(name))
                             .arg(LongestWaitSeconds)
                             .arg(text),
                         command);
    context.waitMs = milliseconds(wait);
    context.resetDeadlineMs = milliseconds(resetTimeout);
    if (showDebugOutput)
        context.passedOn << QStringLiteral("--%1").arg(QLatin1String(DebugName));
    if (!resetTimeout.isNull())
        context.passedOn << QStringLiteral("--%1").arg(QLatin1String(ResetTimeoutName))
                         << resetTimeout;

    // The devices' processes of --all record their own devices; the search here, which reads
    // every device's serial, belongs to none of them and is left out.
    context.recordFile = commandParser.value(QString::fromLatin1(RecordName));
    QString unrecorded;
    if (!context.recordFile.isNull() && !context.allDevices &&
        !TransferRecorder::start(context.recordFile, &unrecorded))
        return ExitStatus::report(err, ExitStatus::Failed, unrecorded);

    if ((entry.options & CommandTable::DeviceChoice) && !context.allDevices) {
        const int refused = AttachedDevices(out, err).choose(context.serial, context.waitMs);
        if (refused >= 0)
            return refused;
    }
    return entry.action(context);
}

int FlashTool::usage(QTextStream &err, const QString &message, const QString &command)
{
    ExitStatus::report(err, ExitStatus::Usage, message);
    err << "Try '" << ToolName << ' ' << CommandTable::HelpCommand
        << (command.isEmpty() || command == QLatin1String(CommandTable::HelpCommand)
                ? QString()
                : QLatin1Char(' ') + command)
        << "'.\n";
    err.flush();
    return ExitStatus::Usage;
}

QString FlashTool::generalHelp()
{
    QString commands;
    for (const Entry &entry : CommandTable::entries())
        commands += commandLine(entry);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Service tool for the Tq470.\n\nCommands:\n") + commands +
        QStringLiteral("\n%1\n'%2 help COMMAND' shows a command's arguments and options.\n"
                       "\nExit codes, the same for every command:\n%3")
            .arg(QLatin1String(NumberNotes), QLatin1String(ToolName), ExitStatus::table().chopped(1)));
    addGeneralOptions(parser);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to run."));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 QStringLiteral("The command's arguments."),
                                 QStringLiteral("[...]"));
    return withUsageLine(parser.helpText(), QStringLiteral("[options] command [arguments...]"));
}

QString FlashTool::commandHelp(const Entry &entry)
{
    const QString synopsis = QStringLiteral("%1 [options] %2")
                                 .arg(QLatin1String(entry.name), QLatin1String(entry.arguments))
                                 .trimmed();
    QCommandLineParser parser;
    const bool numbers = synopsis.contains(QRegularExpression(QLatin1String(NumberArguments))) ||
                         (entry.options & CommandTable::FillOption);
    parser.setApplicationDescription(
        QLatin1String(entry.summary) +
        (numbers ? QLatin1Char('\n') + QLatin1String(NumberNotes) : QString()));
    addGeneralOptions(parser);
    parser.addOptions(commandOptions(entry.options));
    return withUsageLine(parser.helpText(), synopsis);
}

int FlashTool::help(const Context &context)
{
    QString text;
    if (context.arguments.isEmpty()) {
        text = generalHelp();
    } else {
        const Entry *entry = CommandTable::find(context.arguments.first());
        if (!entry)
            return unknownCommand(context.err, context.arguments.first());
        text = commandHelp(*entry);
    }
    context.out << text;
    context.out.flush();
    return ExitStatus::Done;
}

int FlashTool::unknownCommand(QTextStream &err, const QString &name)
{
    return usage(err, QStringLiteral("unknown command: %1").arg(name), QString());
}

int FlashTool::info(const Context &context)
{
    USBTQ470 device;
    if (const int refused = ConnectReport::connect(device, context.err))
        return refused;

    DeviceIdentity identity;
    const bool versionRead = identity.read(device);
    device.disconnect();

    context.out << "Serial: " << QString::fromLatin1(identity.serial) << '\n';
    if (versionRead) {
        context.out << "Bootloader version: "
                    << QString::fromLatin1(DeviceIdentity::firstVersionText(identity.versionBlock))
                    << '\n';
        context.out << "Version date: "
                    << QString::fromLatin1(DeviceIdentity::secondVersionText(identity.versionBlock))
                    << '\n';
    }
    context.out << "Mode: " << DeviceIdentity::modeName(identity.mode) << '\n';
    context.out.flush();
    if (context.jsonReport) {
        context.jsonReport->insert(
            QStringLiteral("serial"),
            QString::fromLatin1(identity.serial.left(Bootloader::SerialDigits)));
        context.jsonReport->insert(QStringLiteral("mode"),
                                   QString::fromLatin1(DeviceIdentity::modeName(identity.mode)));
        if (versionRead) {
            context.jsonReport->insert(
                QStringLiteral("bootloaderVersion"),
                QString::fromLatin1(DeviceIdentity::firstVersionText(identity.versionBlock)));
            context.jsonReport->insert(
                QStringLiteral("versionDate"),
                QString::fromLatin1(DeviceIdentity::secondVersionText(identity.versionBlock)));
        }
    }

    if (!versionRead)
        return ExitStatus::report(context.err, ExitStatus::Failed,
                                  QStringLiteral("the bootloader version block could not be read"));
    if (identity.mode == DeviceIdentity::Mode::Unknown)
        return ExitStatus::report(
            context.err, ExitStatus::Failed,
            QStringLiteral("the serial tells neither bootloader nor application"));
    return ExitStatus::Done;
}

int FlashTool::hexdump(const Context &context)
{
    const QString &fileName = context.arguments.at(0);
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return ExitStatus::report(context.err, ExitStatus::BadInput,
                                  CommandTable::cannotOpen(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return ExitStatus::report(
            context.err, ExitStatus::BadInput,
            QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString()));
    // The dump opens with a line break meant for a log that is already written to.
    context.out << HexDump(bytes.constData(), int(bytes.size())).mid(1) << '\n';
    context.out.flush();
    return ExitStatus::Done;
}
