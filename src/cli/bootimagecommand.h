#ifndef TQ470_BOOTIMAGECOMMAND_H
#define TQ470_BOOTIMAGECOMMAND_H

#include <QString>
#include <QTextStream>

// tq470-flash boot-image BOOT.hex OUT.bin [--serial YYMMDDNNN] [--allow-empty]: the window's
// CreateBootBin without its dialogs. Returns FlashTool's exit code; a failed command writes no
// output file and leaves an existing one as it was. Unlike the window, it refuses a HEX file
// with no byte for the bootloader's window unless allowEmpty: the image would hold nothing but
// the serial.
class BootImageCommand
{
public:
    BootImageCommand(QTextStream &out, QTextStream &err);

    // A null serial means the one the window preselects today: today's date and number 001.
    int run(const QString &hexFileName, const QString &outFileName, const QString &serial,
            bool allowEmpty);

private:
    int usage(const QString &message);

    QTextStream &out;
    QTextStream &err;
};

#endif
