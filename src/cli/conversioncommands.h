#ifndef TQ470_CONVERSIONCOMMANDS_H
#define TQ470_CONVERSIONCOMMANDS_H

#include "hextobin.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTextStream>

// The file conversions of tq470-flash, which need no device:
//   create-upg FIRMWARE.hex OUT.upg   the window's CreateUpg without its dialogs
//   hex2bin IN.hex OUT.bin START END [--fill BYTE]
// Each returns FlashTool's exit code. A failed command writes no output file and leaves an
// existing one as it was.
class ConversionCommands
{
public:
    // A window larger than this is refused: it is most likely a mistyped address, and the
    // whole window is held in memory and written out.
    static constexpr quint64 MostWindowBytes = 64 * 1024 * 1024;
    static constexpr quint64 HighestAddress = 0xFFFFFFFF;
    static constexpr quint64 HighestFill = 0xFF;
    static constexpr char DefaultFill = '\0';
    static constexpr int Hex2binArguments = 4;

    ConversionCommands(QTextStream &out, QTextStream &err);

    int createUpg(const QString &hexFileName, const QString &upgFileName);

    // args: IN.hex OUT.bin START END. START and END (inclusive) and the fill byte are
    // hexadecimal with "0x" or decimal; a null fill means the default.
    int hex2bin(const QStringList &args, const QString &fill);

    // What a technician is told when hexFileName cannot be converted: the file, the line and
    // what is wrong with it, and what to do. The converter's code goes to the debug output.
    static QString conversionFailureText(const QString &hexFileName, int result,
                                         const HexToBinReport &report);
    // The warning for a window of an image that no data byte of hexFileName fell in.
    static QString noDataWarning(const QString &hexFileName, quint32 windowStart, quint32 windowEnd,
                                 const QString &consequence);

private:
    int conversionFailed(const QString &hexFileName, int result, const HexToBinReport &report);
    int usage(const QString &message);

    static bool parseNumber(const QString &text, quint64 highest, quint64 *value);
    static bool writeWhole(const QString &fileName, const QByteArray &bytes, QString *error);

    QTextStream &out;
    QTextStream &err;
};

#endif
