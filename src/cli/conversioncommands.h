#ifndef TQ470_CONVERSIONCOMMANDS_H
#define TQ470_CONVERSIONCOMMANDS_H

#include "hextobin.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTextStream>

// The file conversions of tq470-flash, which need no device:
//   create-upg FIRMWARE.hex OUT.upg   the window's CreateUpg without its dialogs
//   hex2bin IN.hex OUT.bin START END [--fill BYTE] [--allow-empty]
// Each returns FlashTool's exit code. A failed command writes no output file and leaves an
// existing one as it was. Unlike the window, neither writes an output that no byte of the HEX
// file reached (create-upg: no application; hex2bin: without --allow-empty): in a script that
// is a wrong file or a mistyped window, and what it would write looks like a good result.
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
    int hex2bin(const QStringList &args, const QString &fill, bool allowEmpty);

    // What a technician is told when hexFileName cannot be converted: the file, the line and
    // what is wrong with it, and what to do. The converter's code goes to the debug output.
    static QString conversionFailureText(const QString &hexFileName, int result,
                                         const HexToBinReport &report);
    // What is said of a window of an image that no data byte of hexFileName fell in: the
    // file, the window and the consequence; as a warning, or as the refusal that --allow-empty
    // overrides, naming toCheck.
    static QString noDataText(const QString &hexFileName, quint32 windowStart, quint32 windowEnd,
                              const QString &consequence);
    static QString noDataWarning(const QString &hexFileName, quint32 windowStart, quint32 windowEnd,
                                 const QString &consequence);
    static QString noDataRefusal(const QString &hexFileName, quint32 windowStart, quint32 windowEnd,
                                 const QString &consequence, const QString &toCheck);

private:
    int conversionFailed(const QString &hexFileName, int result, const HexToBinReport &report);
    int usage(const QString &message);

    static bool parseNumber(const QString &text, quint64 highest, quint64 *value);
    static bool writeWhole(const QString &fileName, const QByteArray &bytes, QString *error);

    QTextStream &out;
    QTextStream &err;
};

#endif
