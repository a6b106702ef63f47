#include "flashtool.h"

#include "bootimagecommand.h"
#include "connectreport.h"
#include "conversioncommands.h"
#include "deviceidentity.h"
#include "hexdump.h"
#include "servicecommands.h"
#include "upgradecommand.h"
#include "usbtq470.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {

constexpr char ToolName[] = "tq470-flash";
constexpr char ToolVersion[] = "2.00";

bool showDebugOutput = false;

// The device layers narrate every transfer on the debug output; a script wants only the
// results unless it asks for the narration.
void filterDebugOutput(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && !showDebugOutput)
        return;
    std::fputs(qPrintable(qFormatLogMessage(type, context, message)), stderr);
    std::fputc('\n', stderr);
}

} // namespace

FlashTool::FlashTool() : out(stdout), err(stderr) {}

int FlashTool::run(const QStringList &arguments)
{
    QCoreApplication::setApplicationName(QString::fromLatin1(ToolName));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ToolVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Service tool for the Tq470.\n\n"
        "Commands:\n"
        "  info                           Show the device's serial, bootloader version and mode.\n"
        "  upgrade FILE.upg               Upgrade the device's firmware.\n"
        "  create-upg FIRMWARE.hex OUT.upg\n"
        "                                 Make an upgrade file from an Intel HEX firmware.\n"
        "  hex2bin IN.hex OUT.bin START END [--fill BYTE]\n"
        "                                 Convert the window START..END (inclusive) of an\n"
        "                                 Intel HEX file into a binary of END-START+1 bytes.\n"
        "  boot-image BOOT.hex OUT.bin [--serial YYMMDDNNN]\n"
        "                                 Make a bootloader image with a production serial\n"
        "                                 (default: today's date and number 001).\n"
        "  read ADDRESS LENGTH            Dump device memory.\n"
        "  read-ext ADDRESS LENGTH        Dump external flash, decoded.\n"
        "  write-ext ADDRESS LENGTH DATA  Fill external flash with the low byte of DATA.\n"
        "  write-ext-bin FILE.bin         Write FILE at external address 0 and verify it.\n"
        "  write-page PATTERN             Fill the test page at 0x08005000 with PATTERN.\n"
        "  run                            Start the application.\n"
        "  hexdump FILE                   Show a hex and character dump of FILE.\n"
        "\n"
        "ADDRESS and DATA are hexadecimal, 0x optional; LENGTH and PATTERN decimal.\n"
        "START, END and BYTE are hexadecimal with 0x or decimal.\n"
        "Exit code: 0 success, 1 failure, 2 bad usage."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption debugOption(
        QStringList{QStringLiteral("d"), QStringLiteral("debug")},
        QStringLiteral("Write the device layers' debug lines to standard error."));
    parser.addOption(debugOption);
    const QCommandLineOption fillOption(
        QStringLiteral("fill"),
        QStringLiteral("hex2bin: the byte for addresses the file leaves out."),
        QStringLiteral("BYTE"));
    parser.addOption(fillOption);
    const QCommandLineOption serialOption(
        QStringLiteral("serial"),
        QStringLiteral("boot-image: the production serial, nine digits YYMMDDNNN."),
        QStringLiteral("YYMMDDNNN"));
    parser.addOption(serialOption);
    // For scripts that must tell a device they may not open from no device at all.
    QCommandLineOption accessExitOption(
        QStringLiteral("access-refused-exit"),
        QStringLiteral("info: the exit code when the device refuses access."),
        QStringLiteral("CODE"));
    accessExitOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(accessExitOption);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to run."));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 QStringLiteral("The command's arguments."),
                                 QStringLiteral("[...]"));
    parser.process(arguments);

    showDebugOutput = parser.isSet(debugOption);
    qInstallMessageHandler(filterDebugOutput);

    const QStringList positional = parser.positionalArguments();
    const QString command = positional.value(0);
    const QStringList args = positional.mid(1);

    if (command == QLatin1String("info") && args.isEmpty())
        return info(parser.isSet(accessExitOption) ? parser.value(accessExitOption).toInt()
                                                   : ExitFailure);
    if (command == QLatin1String("hexdump") && args.size() == 1)
        return hexdump(args.at(0));
    if (command == QLatin1String("upgrade") && args.size() == 1)
        return UpgradeCommand(out, err).run(args.at(0));
    if (command == QLatin1String("create-upg") && args.size() == 2)
        return ConversionCommands(out, err).createUpg(args.at(0), args.at(1));
    if (command == QLatin1String("hex2bin") && args.size() == ConversionCommands::Hex2binArguments)
        return ConversionCommands(out, err)
            .hex2bin(args, parser.isSet(fillOption) ? parser.value(fillOption) : QString());
    if (command == QLatin1String("boot-image") && args.size() == 2)
        return BootImageCommand(out, err).run(
            args.at(0), args.at(1),
            parser.isSet(serialOption) ? parser.value(serialOption) : QString());
    ServiceCommands service(out, err);
    if (command == QLatin1String("read") && args.size() == 2)
        return service.read(args.at(0), args.at(1));
    if (command == QLatin1String("read-ext") && args.size() == 2)
        return service.readExternal(args.at(0), args.at(1));
    if (command == QLatin1String("write-ext") && args.size() == 3)
        return service.writeExternal(args.at(0), args.at(1), args.at(2));
    if (command == QLatin1String("write-ext-bin") && args.size() == 1)
        return service.writeExternalImage(args.at(0));
    if (command == QLatin1String("write-page") && args.size() == 1)
        return service.writePage(args.at(0));
    if (command == QLatin1String("run") && args.isEmpty())
        return service.run();

    err << ToolName << ": "
        << (command.isEmpty() ? QStringLiteral("no command given")
                              : QStringLiteral("unknown command or wrong arguments: ") +
                                    positional.join(QLatin1Char(' ')))
        << "\nTry '" << ToolName << " --help'.\n";
    err.flush();
    return ExitUsage;
}

int FlashTool::info(int accessRefusedExit)
{
    USBTQ470 device;
    if (device.connect() != 0) {
        const ConnectFailure failure = device.lastConnectFailure();
        const int code = fail(ConnectReport::message(failure));
        return failure.accessRefused() ? accessRefusedExit : code;
    }

    DeviceIdentity identity;
    const bool versionRead = identity.read(device);
    device.disconnect();

    out << "Serial: " << QString::fromLatin1(identity.serial) << '\n';
    if (versionRead) {
        out << "Version: "
            << QString::fromLatin1(DeviceIdentity::firstVersionText(identity.versionBlock))
            << '\n';
        out << "Version: "
            << QString::fromLatin1(DeviceIdentity::secondVersionText(identity.versionBlock))
            << '\n';
    }
    out << "Mode: " << DeviceIdentity::modeName(identity.mode) << '\n';
    out.flush();

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
