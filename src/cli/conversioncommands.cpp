#include "conversioncommands.h"

#include "commandtable.h"
#include "debuglog.h"
#include "exitstatus.h"
#include "flashtool.h"
#include "hextobin.h"
#include "upgradefile.h"
#include "upgradeimagebuilder.h"

#include <QDebug>
#include <QSaveFile>

#include <cstring>
#include <sys/mman.h>

namespace {

// A window of many megabytes is filled and written whole: large pages spare the thousands of
// page faults that filling it page by page costs.
void preferLargePages(QByteArray &buffer)
{
    constexpr quintptr LargePage = 2 * 1024 * 1024;
    const quintptr begin = (quintptr(buffer.data()) + LargePage - 1) & ~(LargePage - 1);
    const quintptr end = (quintptr(buffer.data()) + quintptr(buffer.size())) & ~(LargePage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
}

constexpr int HexBase = 16;
constexpr int DecimalBase = 10;
constexpr int ChecksumDigits = 8;
constexpr int ByteDigits = 2;
const QLatin1String HexPrefix("0x");
constexpr int AddressDigits = 8;

QString hexAddress(quint32 address)
{
    return QStringLiteral("0x%1").arg(address, AddressDigits, HexBase, QLatin1Char('0'));
}

int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    int value = -1;
    if (u >= u'0' && u <= u'9')
        value = u - u'0';
    else if (u >= u'a' && u <= u'f')
        value = u - u'a' + DecimalBase;
    else if (u >= u'A' && u <= u'F')
        value = u - u'A' + DecimalBase;
    return value < base ? value : -1;
}

} // namespace

ConversionCommands::ConversionCommands(QTextStream &out, QTextStream &err) : out(out), err(err) {}

int ConversionCommands::createUpg(const QString &hexFileName, const QString &upgFileName)
{
    QString error;
    if (!CommandTable::checkReadable(hexFileName, &error))
        return ExitStatus::report(err, ExitStatus::BadInput, error);
    QByteArray image;
    HexToBinReport application;
    HexToBinReport external;
    const int result = UpgradeImageBuilder::build(hexFileName, &image, &application, &external);
    if (result != HexToBinOk)
        return conversionFailed(hexFileName, result, application);

    // The external window lies inside the application's, so an empty application window is
    // the one thing to say.
    if (!application.windowHasData)
        return ExitStatus::report(
            err, ExitStatus::BadInput,
            noDataText(hexFileName, UpgradeImageBuilder::ApplicationWindowStart,
                       UpgradeImageBuilder::ApplicationWindowEnd,
                       QStringLiteral("%1 would erase the device's application").arg(upgFileName)) +
                QStringLiteral("; nothing was written. Check that it is the firmware's HEX file"));
    if (!UpgradeFile::write(upgFileName, image, &error))
        return ExitStatus::report(err, ExitStatus::Failed,
                                  QStringLiteral("cannot write %1: %2").arg(upgFileName, error));
    if (!external.windowHasData)
        CommandTable::warn(
            err,
            noDataWarning(
                hexFileName, UpgradeImageBuilder::ExternalWindowStart,
                UpgradeImageBuilder::ExternalWindowEnd,
                QStringLiteral("the external flash part of %1 is all zeros").arg(upgFileName)));

    const auto checksumText = [&image](int regionOffset, int regionSize) {
        return QStringLiteral("0x%1").arg(
            UpgradeImageBuilder::regionChecksum(image, regionOffset, regionSize), ChecksumDigits,
            HexBase, QLatin1Char('0'));
    };
    out << "Application checksum: "
        << checksumText(UpgradeFile::ApplicationOffset, UpgradeFile::ApplicationSize) << '\n'
        << "External flash checksum: "
        << checksumText(UpgradeFile::ExternalOffset, UpgradeFile::ExternalSize) << '\n';
    out.flush();
    return ExitStatus::Done;
}

int ConversionCommands::hex2bin(const QStringList &args, const QString &fill, bool allowEmpty)
{
    if (args.size() != Hex2binArguments)
        return usage(QStringLiteral("hex2bin takes IN.hex OUT.bin START END [--fill BYTE] "
                                    "[--allow-empty]"));
    const QString &hexFileName = args.at(0);
    const QString &binFileName = args.at(1);

    quint64 start = 0;
    quint64 end = 0;
    if (!parseNumber(args.at(2), HighestAddress, &start))
        return usage(QStringLiteral("START '%1' is not an address from 0 to 0xFFFFFFFF "
                                    "(decimal, or hexadecimal with 0x)")
                         .arg(args.at(2)));
    if (!parseNumber(args.at(3), HighestAddress, &end))
        return usage(QStringLiteral("END '%1' is not an address from 0 to 0xFFFFFFFF "
                                    "(decimal, or hexadecimal with 0x)")
                         .arg(args.at(3)));
    if (start > end)
        return usage(QStringLiteral("START %1 lies above END %2").arg(args.at(2), args.at(3)));
    const quint64 size = end - start + 1;
    if (size > MostWindowBytes)
        return usage(QStringLiteral("the window %1..%2 holds %3 bytes; at most %4 (64 MiB) "
                                    "are converted at once")
                         .arg(args.at(2), args.at(3))
                         .arg(size)
                         .arg(MostWindowBytes));

    quint64 fillByte = quint8(DefaultFill);
    if (!fill.isNull() && !parseNumber(fill, HighestFill, &fillByte))
        return usage(QStringLiteral("the fill byte '%1' is not a number from 0 to 255 "
                                    "(decimal, or hexadecimal with 0x)")
                         .arg(fill));

    QString error;
    if (!CommandTable::checkReadable(hexFileName, &error))
        return ExitStatus::report(err, ExitStatus::BadInput, error);
    QByteArray window(static_cast<qsizetype>(size), Qt::Uninitialized);
    preferLargePages(window);
    std::memset(window.data(), int(fillByte), size_t(size));
    HexToBinReport report;
    const int result = HexToBin(hexFileName, window.data(), quint32(start), quint32(end), &report);
    if (result != HexToBinOk)
        return conversionFailed(hexFileName, result, report);
    if (!report.windowHasData && !allowEmpty)
        return ExitStatus::report(
            err, ExitStatus::BadInput,
            noDataRefusal(hexFileName, quint32(start), quint32(end),
                          QStringLiteral("%1 would hold nothing but the fill byte 0x%2")
                              .arg(binFileName)
                              .arg(fillByte, ByteDigits, HexBase, QLatin1Char('0')),
                          QStringLiteral("the HEX file and the window")));

    if (!writeWhole(binFileName, window, &error))
        return ExitStatus::report(err, ExitStatus::Failed,
                                  QStringLiteral("cannot write %1: %2").arg(binFileName, error));
    return ExitStatus::Done;
}

int ConversionCommands::conversionFailed(const QString &hexFileName, int result,
                                         const HexToBinReport &report)
{
    return ExitStatus::report(err, ExitStatus::BadInput,
                              conversionFailureText(hexFileName, result, report));
}

QString ConversionCommands::conversionFailureText(const QString &hexFileName, int result,
                                                  const HexToBinReport &report)
{
    qCDebug(tq470Debug) << "HexToBin result" << result << "at line" << report.line << "of" << hexFileName;
    if (result == HexToBinCannotRead)
        return QStringLiteral("cannot read %1 after line %2; check the file and the disk it is on")
            .arg(hexFileName)
            .arg(report.line);
    return QStringLiteral("%1, line %2, is no Intel HEX record: %3. Export the HEX file from "
                          "the firmware build again")
        .arg(hexFileName)
        .arg(report.line)
        .arg(HexToBinResultText(result));
}

QString ConversionCommands::noDataText(const QString &hexFileName, quint32 windowStart,
                                       quint32 windowEnd, const QString &consequence)
{
    return QStringLiteral("%1 holds no data for %2..%3, so %4")
        .arg(hexFileName, hexAddress(windowStart), hexAddress(windowEnd), consequence);
}

QString ConversionCommands::noDataWarning(const QString &hexFileName, quint32 windowStart,
                                          quint32 windowEnd, const QString &consequence)
{
    return QStringLiteral("warning: ") +
           noDataText(hexFileName, windowStart, windowEnd, consequence) +
           QStringLiteral("; check that it is the right HEX file");
}

QString ConversionCommands::noDataRefusal(const QString &hexFileName, quint32 windowStart,
                                          quint32 windowEnd, const QString &consequence,
                                          const QString &toCheck)
{
    return noDataText(hexFileName, windowStart, windowEnd, consequence) +
           QStringLiteral("; nothing was written. Check %1, or give --allow-empty to write it "
                          "anyway")
               .arg(toCheck);
}

int ConversionCommands::usage(const QString &message)
{
    return FlashTool::usage(err, message, QStringLiteral("hex2bin"));
}

// Digits only: QString::toULongLong would take blanks and a sign too, and with base 0 it
// would read a leading zero as octal.
bool ConversionCommands::parseNumber(const QString &text, quint64 highest, quint64 *value)
{
    const bool hexadecimal = text.startsWith(HexPrefix, Qt::CaseInsensitive);
    const QString digits = hexadecimal ? text.mid(HexPrefix.size()) : text;
    const int base = hexadecimal ? HexBase : DecimalBase;
    if (digits.isEmpty())
        return false;
    quint64 result = 0;
    for (const QChar c : digits) {
        const int digit = digitValue(c, base);
        if (digit < 0)
            return false;
        result = result * quint64(base) + quint64(digit);
        if (result > highest)
            return false;
    }
    *value = result;
    return true;
}

bool ConversionCommands::writeWhole(const QString &fileName, const QByteArray &bytes,
                                    QString *error)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
