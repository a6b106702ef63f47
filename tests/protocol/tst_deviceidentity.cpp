#include "deviceidentity.h"

#include <QtTest>

using Mode = DeviceIdentity::Mode;
Q_DECLARE_METATYPE(DeviceIdentity::Mode)

class TestDeviceIdentity : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void modeFromSerial_data();
    void modeFromSerial();
    void versionTexts_data();
    void versionTexts();
};

void TestDeviceIdentity::modeFromSerial_data()
{
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<Mode>("mode");
    QTest::newRow("nine digits: application") << QByteArray("261205001") << Mode::Application;
    QTest::newRow("nine digits and b: bootloader") << QByteArray("261205001b") << Mode::Bootloader;
    QTest::newRow("ten bytes ending in a") << QByteArray("261205001a") << Mode::Unknown;
    QTest::newRow("capital B is not the marker") << QByteArray("261205001B") << Mode::Unknown;
    QTest::newRow("eleven bytes") << QByteArray("261205001bb") << Mode::Unknown;
    QTest::newRow("empty, no device") << QByteArray() << Mode::Unknown;
}

void TestDeviceIdentity::modeFromSerial()
{
    QFETCH(QByteArray, serial);
    QFETCH(Mode, mode);
    QCOMPARE(DeviceIdentity::modeFromSerial(serial), mode);
}

void TestDeviceIdentity::versionTexts_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");

    QByteArray block(32, '\0');
    block.replace(0, 4, "v1.7");
    block.replace(16, 10, "2026-11-20");
    QTest::newRow("two terminated texts")
        << block << QByteArray("v1.7") << QByteArray("2026-11-20");

    const QByteArray full(32, 'x');
    QTest::newRow("no terminator: first runs through the block, second to its end")
        << full << QByteArray(32, 'x') << QByteArray(16, 'x');

    QTest::newRow("erased block reads as zero texts") << QByteArray(32, '\0') << QByteArray()
                                                      << QByteArray();
}

void TestDeviceIdentity::versionTexts()
{
    QFETCH(QByteArray, block);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QCOMPARE(DeviceIdentity::firstVersionText(block), first);
    QCOMPARE(DeviceIdentity::secondVersionText(block), second);
}

QTEST_APPLESS_MAIN(TestDeviceIdentity)
#include "tst_deviceidentity.moc"
