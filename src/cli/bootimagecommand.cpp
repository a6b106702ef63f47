#include "bootimagecommand.h"

#include "bootimagebuilder.h"
#include "commandtable.h"
#include "conversioncommands.h"
#include "exitstatus.h"
#include "flashtool.h"
#include "hextobin.h"
#include "productionserial.h"

#include <QDate>

BootImageCommand::BootImageCommand(QTextStream &out, QTextStream &err) : out(out), err(err) {}

int BootImageCommand::run(const QString &hexFileName, const QString &outFileName,
                          const QString &serial, bool allowEmpty)
{
    const QString productionSerial =
        serial.isNull() ? ProductionSerial::preselected(QDate::currentDate()) : serial;
    if (!ProductionSerial::isValid(productionSerial))
        return usage(QStringLiteral("the serial '%1' is not YYMMDDNNN with YY 00 to 99, MM 01 to "
                                    "12, DD a day of that month and NNN 001 to 999")
                         .arg(productionSerial));

    QString error;
    if (!CommandTable::checkReadable(hexFileName, &error))
        return ExitStatus::report(err, ExitStatus::BadInput, error);
    QByteArray image;
    HexToBinReport report;
    const int result = BootImageBuilder::build(hexFileName, productionSerial, &image, &report);
    if (result != HexToBinOk)
        return ExitStatus::report(
            err, ExitStatus::BadInput,
            ConversionCommands::conversionFailureText(hexFileName, result, report));

    if (!report.windowHasData && !allowEmpty)
        return ExitStatus::report(
            err, ExitStatus::BadInput,
            ConversionCommands::noDataRefusal(
                hexFileName, BootImageBuilder::WindowStart, BootImageBuilder::WindowEnd,
                QStringLiteral("%1 would hold nothing but the serial").arg(outFileName),
                QStringLiteral("that it is the bootloader's HEX file")));

    if (!BootImageBuilder::write(outFileName, image, &error))
        return ExitStatus::report(err, ExitStatus::Failed,
                                  QStringLiteral("cannot write %1: %2").arg(outFileName, error));

    out << "Serial: " << productionSerial << '\n' << "Bootloader image: " << outFileName << '\n';
    out.flush();
    return ExitStatus::Done;
}

int BootImageCommand::usage(const QString &message)
{
    return FlashTool::usage(err, message, QStringLiteral("boot-image"));
}
