#include "upgradeimagebuilder.h"

#include "hextobin.h"

#include <QtEndian>

static_assert(UpgradeFile::ApplicationSize == int(Bootloader::ApplicationSize));
static_assert(UpgradeFile::ExternalSize == int(Bootloader::UpgradeExternalSize));

namespace {

constexpr int WordSize = 4;

void storeChecksum(QByteArray &image, int regionOffset, int regionSize)
{
    const quint32 sum = UpgradeImageBuilder::regionChecksum(image, regionOffset, regionSize);
    qToLittleEndian<quint32>(sum, image.data() + regionOffset + regionSize - WordSize);
}

} // namespace

int UpgradeImageBuilder::build(const QString &hexFileName, QByteArray *plainImage,
                               HexToBinReport *applicationReport, HexToBinReport *externalReport)
{
    QByteArray image(UpgradeFile::ImageSize, '\0');

    int result = HexToBin(hexFileName, image.data() + UpgradeFile::ApplicationOffset,
                          ApplicationWindowStart, ApplicationWindowEnd, applicationReport);
    if (result != HexToBinOk)
        return result;
    result = HexToBin(hexFileName, image.data() + UpgradeFile::ExternalOffset, ExternalWindowStart,
                      ExternalWindowEnd, externalReport);
    if (result != HexToBinOk)
        return result;

    storeChecksum(image, UpgradeFile::ApplicationOffset, UpgradeFile::ApplicationSize);
    storeChecksum(image, UpgradeFile::ExternalOffset, UpgradeFile::ExternalSize);
    *plainImage = image;
    return HexToBinOk;
}

quint32 UpgradeImageBuilder::regionChecksum(const QByteArray &plainImage, int regionOffset,
                                            int regionSize)
{
    const uchar *words = reinterpret_cast<const uchar *>(plainImage.constData()) + regionOffset;
    const int summedWords = regionSize / WordSize - 1;
    quint32 sum = 0;
    for (int i = 0; i < summedWords; ++i)
        sum += qFromLittleEndian<quint32>(words + WordSize * i);
    return sum;
}
