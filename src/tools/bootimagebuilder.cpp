#include "bootimagebuilder.h"

#include "hextobin.h"

#include <QSaveFile>

const char BootImageBuilder::FileNamePrefix[] = "Tq470Bootloader_";

int BootImageBuilder::build(const QString &hexFileName, const QString &serial, QByteArray *image,
                            HexToBinReport *report)
{
    QByteArray bytes(ImageSize, ErasedByte);
    const int result = HexToBin(hexFileName, bytes.data(), WindowStart, WindowEnd, report);
    if (result != HexToBinOk)
        return result;
    bytes.replace(SerialOffset, Bootloader::SerialDigits,
                  serial.toLatin1().leftJustified(Bootloader::SerialDigits, '\0', true));
    *image = bytes;
    return HexToBinOk;
}

QString BootImageBuilder::proposedFileName(const QString &serial)
{
    return QLatin1String(FileNamePrefix) + serial;
}

bool BootImageBuilder::write(const QString &fileName, const QByteArray &image, QString *error)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
