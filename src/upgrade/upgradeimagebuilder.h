#ifndef TQ470_UPGRADEIMAGEBUILDER_H
#define TQ470_UPGRADEIMAGEBUILDER_H

#include "bootloaderprotocol.h"
#include "hextobin.h"
#include "upgradefile.h"

#include <QByteArray>
#include <QString>

// Builds the plain (not yet encoded) upgrade image from the firmware's Intel HEX file: the
// application for internal flash, and a second copy of the top of the application that the
// device keeps in external flash, each region closed by the checksum of its other words.
class UpgradeImageBuilder
{
public:
    static constexpr quint32 ApplicationWindowStart = Bootloader::ApplicationBase;
    static constexpr quint32 ApplicationWindowEnd =
        Bootloader::ApplicationBase + Bootloader::ApplicationSize - 1;
    // The internal-flash range whose bytes the external-flash region repeats.
    static constexpr quint32 ExternalWindowStart = 0x08020000;
    static constexpr quint32 ExternalWindowEnd =
        ExternalWindowStart + Bootloader::UpgradeExternalSize - 1;

    static constexpr int ApplicationChecksumOffset =
        UpgradeFile::ApplicationOffset + UpgradeFile::ApplicationSize - UpgradeFile::ChecksumSize;
    static constexpr int ExternalChecksumOffset =
        UpgradeFile::ExternalOffset + UpgradeFile::ExternalSize - UpgradeFile::ChecksumSize;

    // Converts hexFileName into *plainImage (UpgradeFile::ImageSize bytes, zero where the file
    // defines nothing) and stores both checksums, reading the file once for both windows.
    // Returns HexToBinOk or the conversion's failure, and then *plainImage is left as it was.
    // The reports, when given, receive the line read last and whether each window got data.
    static int build(const QString &hexFileName, QByteArray *plainImage,
                     HexToBinReport *applicationReport = nullptr,
                     HexToBinReport *externalReport = nullptr);

    // The sum, modulo 2^32, of the little-endian words of a region but its last, which is
    // where the sum is stored.
    static quint32 regionChecksum(const QByteArray &plainImage, int regionOffset, int regionSize);
};

#endif
