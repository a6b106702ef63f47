#include "hextobin.h"
#include "intelhextext.h"
#include "upgradefile.h"
#include "upgradeimagebuilder.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

using Hex = IntelHexText;

constexpr int UpgradeFileSize = 393282;
constexpr int ApplicationChecksumAt = 0x3FFFC;
constexpr int ExternalChecksumAt = 0x5BFFC;

// Written out word by word rather than through the builder, so that a wrong word count or
// byte order shows.
quint32 sumOfWords(const QByteArray &image, int from, int to)
{
    quint32 sum = 0;
    for (int at = from; at < to; at += 4)
        sum += qFromLittleEndian<quint32>(image.constData() + at);
    return sum;
}

quint32 wordAt(const QByteArray &image, int offset)
{
    return qFromLittleEndian<quint32>(image.constData() + offset);
}

bool allZero(const QByteArray &bytes)
{
    return bytes.count('\0') == bytes.size();
}

} // namespace

class TestUpgradeImageBuilder : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString writeHex(const QByteArray &text)
    {
        const QString fileName = dir.filePath(QStringLiteral("firmware.hex"));
        if (!Hex::write(fileName, text))
            qFatal("cannot write %s", qPrintable(fileName));
        return fileName;
    }

    QByteArray build(const QByteArray &hex)
    {
        QByteArray image;
        const int result = UpgradeImageBuilder::build(writeHex(hex), &image);
        if (result != HexToBinOk)
            qFatal("build failed with %d", result);
        return image;
    }

private Q_SLOTS:
    void regionsHoldTheirWindowsAndChecksums()
    {
        const QByteArray bytes = Hex::pattern(16);
        QByteArray hex;
        for (const quint32 address :
             {0x08003FF0u, 0x08004000u, 0x0801FFF8u, 0x0803BFF8u, 0x0803FFF0u, 0x08040000u})
            hex += Hex::records(address, bytes);
        const QByteArray image = build(hex + Hex::end() + '\n');

        QCOMPARE(image.size(), UpgradeFile::ImageSize);
        QVERIFY2(allZero(image.left(0x4000)), "nothing below the application");
        QCOMPARE(image.mid(0x4000, 16), bytes);
        QCOMPARE(image.mid(0x1FFF8, 16), bytes);
        QCOMPARE(image.mid(0x3BFF8, 16), bytes);
        QCOMPARE(image.mid(0x3FFF0, 12), bytes.left(12));

        QCOMPARE(image.mid(0x40000, 8), bytes.mid(8));
        QCOMPARE(image.mid(0x5BFF8, 4), bytes.left(4));
        QVERIFY2(allZero(image.mid(0x40008, 0x5BFF8 - 0x40008)), "only the copied bytes");
        QVERIFY2(allZero(image.mid(0x5C000)), "nothing after the external region");

        QCOMPARE(wordAt(image, ApplicationChecksumAt), sumOfWords(image, 0x4000, 0x3FFFC));
        QCOMPARE(wordAt(image, ExternalChecksumAt), sumOfWords(image, 0x40000, 0x5BFFC));
        QVERIFY(wordAt(image, ApplicationChecksumAt) != qFromLittleEndian<quint32>(bytes.mid(12)));
    }

    void zeroDataGivesZeroChecksums()
    {
        const QByteArray image = build(Hex::records(0x08004000, QByteArray(0x400, '\0')) +
                                       Hex::file(0x0803BC00, QByteArray(0x4400, '\0')));
        QVERIFY(allZero(image));
    }

    void dataBelowTheCopiedRangeLeavesExternalRegionZero()
    {
        const QByteArray image = build(Hex::records(0x08004000, Hex::pattern(0x100)) +
                                       Hex::file(0x0801FF00, Hex::pattern(0x100)));
        QVERIFY(wordAt(image, ApplicationChecksumAt) != 0);
        QVERIFY(allZero(image.mid(UpgradeFile::ExternalOffset, UpgradeFile::ExternalSize)));
    }

    void failedConversionLeavesImageAsItWas_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<int>("result");
        QTest::newRow("bad checksum") << QByteArray(":0400000001020304F0\n") << -8;
        QTest::newRow("extended segment address")
            << Hex::record(Hex::ExtendedSegmentAddress, 0, QByteArray("\x10\x00", 2)) + '\n'
            << -7;
    }

    void failedConversionLeavesImageAsItWas()
    {
        QFETCH(QByteArray, hex);
        QFETCH(int, result);
        QByteArray image("unchanged");
        QCOMPARE(UpgradeImageBuilder::build(writeHex(hex), &image), result);
        QCOMPARE(image, QByteArray("unchanged"));
        QCOMPARE(UpgradeImageBuilder::build(dir.filePath(QStringLiteral("missing.hex")), &image),
                 int(HexToBinCannotRead));
    }

    void writtenFileHoldsHeaderVersionAndImage()
    {
        const QByteArray image = build(Hex::records(0x08004000, Hex::pattern(0x1000)) +
                                       Hex::file(0x08020000, Hex::pattern(0x1000, 3)));
        const QString fileName = dir.filePath(QStringLiteral("firmware.upg"));
        QString error;
        QVERIFY2(UpgradeFile::write(fileName, image, &error), qPrintable(error));

        QFile file(fileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.size(), UpgradeFileSize);
        QCOMPARE(bytes.left(4).toHex(), QByteArray("00000032"));
        QCOMPARE(bytes.mid(4, 50), QByteArray("\0T\0q\0004\0007\0000\0 \0U\0p\0g\0r\0a\0d\0e\0 "
                                              "\0F\0i\0l\0e\0 \0H\0e\0a\0d\0e\0r",
                                              50));
        QCOMPARE(bytes.mid(54, 4).toHex(), QByteArray("00000004"));
        QCOMPARE(bytes.mid(58, 4).toHex(), QByteArray("00300031"));
        QCOMPARE(bytes.mid(62, 4).toHex(), QByteArray("00060000"));
        QVERIFY2(bytes.mid(66) != image, "the image is stored encoded");

        UpgradeFile upgrade;
        QCOMPARE(upgrade.read(fileName), UpgradeFile::Status::Ok);
        QCOMPARE(upgrade.plainImage(), image);
    }
};

QTEST_GUILESS_MAIN(TestUpgradeImageBuilder)
#include "tst_upgradeimagebuilder.moc"
