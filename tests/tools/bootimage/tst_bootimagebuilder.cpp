#include "bootimagebuilder.h"
#include "hextobin.h"
#include "intelhextext.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

using Hex = IntelHexText;

constexpr int ImageSize = 16384;
constexpr int SerialOffset = 0x3FF0;
const QString Serial = QStringLiteral("261205001");
const QByteArray SerialBytes("\x32\x36\x31\x32\x30\x35\x30\x30\x31");

} // namespace

class TestBootImageBuilder : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString hexFile(const QByteArray &text)
    {
        const QString fileName = dir.filePath(QStringLiteral("boot.hex"));
        if (!Hex::write(fileName, text))
            qFatal("cannot write %s", qPrintable(fileName));
        return fileName;
    }

private Q_SLOTS:
    // Erased bytes where the HEX file has none, its bytes at address minus 0x08000000, the
    // serial over whatever the file has at 0x08003FF0 to 0x08003FF8.
    void imageHoldsWindowAndSerial_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<int>("dataOffset");
        QTest::addColumn<QByteArray>("data");

        const QByteArray tail = Hex::pattern(0x18);
        QTest::newRow("data up to the window's end: serial replaces 3FF0-3FF8, 3FF9-3FFF survive")
            << Hex::file(0x08003FE8, tail) << 0x3FE8 << tail;
        QTest::newRow("data at the window's start")
            << Hex::file(0x08000000, Hex::pattern(0x20)) << 0 << Hex::pattern(0x20);
        QTest::newRow("data just below and just above the window is ignored")
            << Hex::records(0x07FFFFF0, Hex::pattern(0x10)) + Hex::file(0x08004000, tail) << 0
            << QByteArray();
        QTest::newRow("end record only") << Hex::end() + '\n' << 0 << QByteArray();
    }

    void imageHoldsWindowAndSerial()
    {
        QFETCH(QByteArray, hex);
        QFETCH(int, dataOffset);
        QFETCH(QByteArray, data);

        QByteArray expected(ImageSize, '\xFF');
        expected.replace(dataOffset, data.size(), data);
        expected.replace(SerialOffset, SerialBytes.size(), SerialBytes);

        QByteArray image;
        QCOMPARE(BootImageBuilder::build(hexFile(hex), Serial, &image), int(HexToBinOk));
        QCOMPARE(image.size(), ImageSize);
        QCOMPARE(image.toHex(), expected.toHex());
    }
};

QTEST_GUILESS_MAIN(TestBootImageBuilder)
#include "tst_bootimagebuilder.moc"
