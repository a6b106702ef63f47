#ifndef TQ470_BOOTIMAGEBUILDER_H
#define TQ470_BOOTIMAGEBUILDER_H

#include "bootloaderprotocol.h"
#include "hextobin.h"

#include <QByteArray>
#include <QString>

// The production image of the bootloader: internal flash 0x08000000-0x08003FFF as raw bytes,
// taken from the bootloader's Intel HEX file, with the production serial written over the
// nine bytes at 0x08003FF0.
class BootImageBuilder
{
public:
    static constexpr quint32 WindowStart = Bootloader::BootloaderBase;
    static constexpr quint32 WindowEnd =
        Bootloader::BootloaderBase + Bootloader::BootloaderSize - 1;
    static constexpr int ImageSize = int(Bootloader::BootloaderSize);
    static constexpr int SerialOffset = int(Bootloader::SerialAddress - Bootloader::BootloaderBase);
    // What erased flash reads as, so that bytes the HEX file leaves out are programmed as if
    // never written.
    static constexpr char ErasedByte = '\xFF';
    static const char FileNamePrefix[];

    // Converts hexFileName into *image (ImageSize bytes, ErasedByte where the file defines
    // nothing) and writes the serial's digits at SerialOffset. Returns HexToBinOk, or the
    // conversion's failure, in which case *image is left as it was. The report, when given,
    // receives what the conversion saw.
    static int build(const QString &hexFileName, const QString &serial, QByteArray *image,
                     HexToBinReport *report = nullptr);

    // The name the image is proposed under: the prefix and the serial, no extension.
    static QString proposedFileName(const QString &serial);

    // The target is replaced only when the whole image was written; on failure no file is left
    // behind and error says why.
    static bool write(const QString &fileName, const QByteArray &image, QString *error);
};

#endif
