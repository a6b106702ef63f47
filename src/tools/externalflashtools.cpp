#include "externalflashtools.h"

#include "encoding.h"
#include "hexdump.h"
#include "usbtq470.h"

namespace {

constexpr int ReportFieldWidth = 8;
constexpr int HexBase = 16;
constexpr quint32 LowByteMask = 0xFF;

} // namespace

ExternalFlashTools::ExternalFlashTools(USBTQ470 &device) : device(device) {}

bool ExternalFlashTools::read(quint32 address, int length, QByteArray *decoded)
{
    *decoded = QByteArray(length, '\0');
    if (device.ReadExternalFlashFromAddress(decoded->data(), address, quint32(length)) != 0) {
        decoded->clear();
        return false;
    }
    DecodeBuffer(decoded->data(), length);
    return true;
}

bool ExternalFlashTools::fill(quint32 address, int length, quint32 data, QByteArray *sent)
{
    *sent = QByteArray(length, char(data & LowByteMask));
    EncodeBuffer(sent->data(), length);
    return device.WriteExternalFlashToAddress(sent->data(), address, quint32(length)) == 0;
}

QStringList ExternalFlashTools::fillReport(quint32 address, int length, const QByteArray &sent)
{
    return {
        QStringLiteral("lenght: %1").arg(length, ReportFieldWidth),
        QStringLiteral("address: 0x%1").arg(address, ReportFieldWidth, HexBase, QLatin1Char(' ')),
        QString::fromLatin1(HexDump(sent.constData(), length))};
}

ExternalFlashTools::ImageResult ExternalFlashTools::writeImage(const QByteArray &image)
{
    if (!isImageLength(image.size()))
        return ImageResult::LengthError;
    const int length = int(image.size());

    QByteArray written = image;
    EncodeBuffer(written.data(), length);
    if (device.WriteExternalFlashToAddress(written.data(), ImageAddress, quint32(length)) != 0)
        return ImageResult::WriteFailed;

    QByteArray readBack;
    if (!read(ImageAddress, length, &readBack))
        return ImageResult::ReadBackFailed;
    return readBack == image ? ImageResult::Written : ImageResult::Mismatch;
}

bool ExternalFlashTools::isImageLength(qsizetype length)
{
    return length > 0 && length % ImageAlignment == 0;
}
