#include "upgradeimagebuilder.h"

#include "hextobin.h"

#include <QtEndian>

#include <utility>

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

    HexToBinWindow windows[2];
    HexToBinWindow &application = windows[0];
    HexToBinWindow &external = windows[1];
    application.buffer = image.data() + UpgradeFile::ApplicationOffset;
    application.start = ApplicationWindowStart;
    application.end = ApplicationWindowEnd;
    external.buffer = image.data() + UpgradeFile::ExternalOffset;
    external.start = ExternalWindowStart;
    external.end = ExternalWindowEnd;
    HexToBinReport report;
    const int result = HexToBin(hexFileName, windows, 2, &report);
    for (const auto &[window, windowReport] :
         {std::pair{&application, applicationReport}, std::pair{&external, externalReport}})
        if (windowReport) {
            windowReport->line = report.line;
            windowReport->windowHasData = window->hasData;
        }
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
