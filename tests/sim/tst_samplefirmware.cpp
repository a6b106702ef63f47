#include "bootloaderprotocol.h"
#include "hextobin.h"
#include "samplefirmware.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace Bootloader;

class TestSampleFirmware : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hexConvertsBackToTheApplication();
    void seedChoosesTheFirmware();
};

void TestSampleFirmware::hexConvertsBackToTheApplication()
{
    const SampleFirmware firmware;
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("sample.hex")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(firmware.intelHex());
    file.close();

    // One byte of margin on each side shows that nothing lies outside the application.
    QByteArray converted(int(ApplicationSize) + 2, '\x5A');
    QCOMPARE(HexToBin(file.fileName(), converted.data(), ApplicationBase - 1,
                      ApplicationBase + ApplicationSize),
             0);
    QCOMPARE(converted.front(), '\x5A');
    QCOMPARE(converted.back(), '\x5A');
    QCOMPARE(converted.mid(1, int(ApplicationSize)), firmware.application());
}

void TestSampleFirmware::seedChoosesTheFirmware()
{
    QCOMPARE(SampleFirmware().intelHex(), SampleFirmware(SampleFirmware::DefaultSeed).intelHex());
    QVERIFY(SampleFirmware(1).application() != SampleFirmware(2).application());
}

QTEST_APPLESS_MAIN(TestSampleFirmware)
#include "tst_samplefirmware.moc"
