#include "commandtable.h"

#include "attacheddevices.h"
#include "backupcommands.h"
#include "bootimagecommand.h"
#include "conversioncommands.h"
#include "flashtool.h"
#include "servicecommands.h"
#include "upgradeall.h"
#include "upgradecommand.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

// In the order the general help lists them.
const CommandTable::Entry CommandTable::commands[] = {
    {"info", "", DeviceChoice | JsonOption,
     "Show the device's serial, bootloader version and mode.", FlashTool::info},
    {"upgrade", "FILE.upg", DeviceChoice | ResetOption | JsonOption | AllDevicesOption,
     "Upgrade the device's firmware.",
     [](const Context &c) {
         return c.allDevices
                    ? UpgradeAll(c.out, c.err)
                          .run(c.arguments.at(0), c.waitMs, c.passedOn, c.recordFile, c.jsonReport)
                    : UpgradeCommand(c.out, c.err)
                          .run(c.arguments.at(0), c.resetDeadlineMs, c.serial, c.jsonReport);
     }},
    {"list", "", JsonOption, "List the attached Tq470s: bus, device, serial, mode, access.",
     [](const Context &c) { return AttachedDevices(c.out, c.err).list(c.jsonReport); }},
    {"create-upg", "FIRMWARE.hex OUT.upg", NoOptions,
     "Make an upgrade file from an Intel HEX firmware.",
     [](const Context &c) {
         return ConversionCommands(c.out, c.err).createUpg(c.arguments.at(0), c.arguments.at(1));
     }},
    {"hex2bin", "IN.hex OUT.bin START END", FillOption | AllowEmptyOption,
     "Convert the window START..END (inclusive) of an Intel HEX file into a binary of "
     "END-START+1 bytes.",
     [](const Context &c) {
         return ConversionCommands(c.out, c.err).hex2bin(c.arguments, c.fill, c.allowEmpty);
     }},
    {"boot-image", "BOOT.hex OUT.bin", ProductionSerialOption | AllowEmptyOption,
     "Make a bootloader image with a production serial.",
     [](const Context &c) {
         return BootImageCommand(c.out, c.err)
             .run(c.arguments.at(0), c.arguments.at(1), c.serial, c.allowEmpty);
     }},
    {"read", "ADDRESS LENGTH", DeviceChoice, "Dump device memory.",
     [](const Context &c) {
         return ServiceCommands(c.out, c.err).read(c.arguments.at(0), c.arguments.at(1));
     }},
    {"read-ext", "ADDRESS LENGTH", DeviceChoice, "Dump external flash, decoded.",
     [](const Context &c) {
         return ServiceCommands(c.out, c.err).readExternal(c.arguments.at(0), c.arguments.at(1));
     }},
    {"write-ext", "ADDRESS LENGTH DATA", DeviceChoice,
     "Fill external flash with the low byte of DATA.",
     [](const Context &c) {
         return ServiceCommands(c.out, c.err)
             .writeExternal(c.arguments.at(0), c.arguments.at(1), c.arguments.at(2));
     }},
    {"write-ext-bin", "FILE.bin", DeviceChoice, "Write FILE at external address 0 and verify it.",
     [](const Context &c) {
         return ServiceCommands(c.out, c.err).writeExternalImage(c.arguments.at(0));
     }},
    {"write-page", "PATTERN", DeviceChoice, "Fill the test page at 0x08005000 with PATTERN.",
     [](const Context &c) { return ServiceCommands(c.out, c.err).writePage(c.arguments.at(0)); }},
    {"run", "", DeviceChoice, "Start the application.",
     [](const Context &c) { return ServiceCommands(c.out, c.err).run(); }},
    {"save", "ADDRESS LENGTH FILE", DeviceChoice, "Save device memory into FILE, raw.",
     [](const Context &c) {
         return BackupCommands(c.out, c.err)
             .save(c.arguments.at(0), c.arguments.at(1), c.arguments.at(2), false);
     }},
    {"save-ext", "ADDRESS LENGTH FILE", DeviceChoice, "Save external flash into FILE, decoded.",
     [](const Context &c) {
         return BackupCommands(c.out, c.err)
             .save(c.arguments.at(0), c.arguments.at(1), c.arguments.at(2), true);
     }},
    {"verify", "FILE.upg", DeviceChoice | ResetOption | JsonOption,
     "Compare the device's application and external flash with FILE without writing.",
     [](const Context &c) {
         return BackupCommands(c.out, c.err, c.resetDeadlineMs)
             .verify(c.arguments.at(0), c.jsonReport);
     }},
    {"bootloader", "", DeviceChoice | ResetOption,
     "Reset a device that runs its application into its bootloader.",
     [](const Context &c) { return BackupCommands(c.out, c.err, c.resetDeadlineMs).bootloader(); }},
    {"hexdump", "FILE", NoOptions, "Show a hex and character dump of FILE.", FlashTool::hexdump},
    {HelpCommand, "[COMMAND]", NoOptions, "Show this help, or COMMAND's arguments and options.",
     FlashTool::help},
};

CommandTable::Entries CommandTable::entries()
{
    return {std::begin(commands), std::end(commands)};
}

const CommandTable::Entry *CommandTable::find(const QString &name)
{
    for (const Entry &entry : commands)
        if (name == QLatin1String(entry.name))
            return &entry;
    return nullptr;
}

void CommandTable::warn(QTextStream &err, const QString &message)
{
    err << QCoreApplication::applicationName() << ": " << message << '\n';
    err.flush();
}

QString CommandTable::cannotOpen(const QString &fileName, const QString &reason)
{
    return QStringLiteral("cannot open %1: %2").arg(fileName, reason);
}

bool CommandTable::checkReadable(const QString &fileName, QString *error)
{
    // Opening a FIFO waits for its writer, and closing it again before the real read would
    // leave that writer without a reader: a pipe is only asked whether it may be read.
    const QByteArray path = QFile::encodeName(fileName);
    struct stat status = {};
    if (::stat(path.constData(), &status) == 0 && S_ISFIFO(status.st_mode)) {
        if (::access(path.constData(), R_OK) == 0)
            return true;
        *error = cannotOpen(fileName, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    QFile file(fileName);
    if (file.open(QIODevice::ReadOnly))
        return true;
    *error = cannotOpen(fileName, file.errorString());
    return false;
}
