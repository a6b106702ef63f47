#include "bootloaderprotocol.h"
#include "tq470model.h"

#include <QtTest>

namespace {

constexpr quint8 VendorIn = 0xC0;
constexpr quint8 VendorOut = 0x40;
constexpr quint8 StandardIn = 0x80;
constexpr quint8 GetDescriptor = 6;
constexpr quint32 LastPage = Bootloader::ApplicationBase + Bootloader::ApplicationSize
                             - Bootloader::PageSize;

SetupPacket setup(quint8 type, quint8 request, quint32 address, quint16 length)
{
    return SetupPacket{type, request, Bootloader::addressLow(address),
                       Bootloader::addressHigh(address), length};
}

DeviceOptions optionsFor(DeviceMode mode, const QByteArray &serial = DeviceOptions::DefaultSerial)
{
    DeviceOptions options;
    options.mode = mode;
    options.serial = serial;
    return options;
}

} // namespace

// The device's answers on their own: the bounds and the fixed descriptors, which the
// bus-level tests (serial, identity, encoding, re-enumeration) do not reach.
class TestTq470Model : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void freshDeviceHoldsBootloaderAndErasedApplication();
    void requestAcceptance_data();
    void requestAcceptance();
    void otherDescriptors_data();
    void otherDescriptors();
};

void TestTq470Model::freshDeviceHoldsBootloaderAndErasedApplication()
{
    const Tq470Model model(optionsFor(DeviceMode::Bootloader, "261205007"));
    const QByteArray version = model.readInternal(Bootloader::VersionBlockAddress,
                                                  Bootloader::VersionBlockSize);
    QCOMPARE(QByteArray(version.constData()), QByteArray("Tq470 BL 1.07"));
    QCOMPARE(QByteArray(version.constData() + Bootloader::VersionSecondTextOffset),
             QByteArray("2026-11-20"));
    QCOMPARE(model.readInternal(Bootloader::SerialAddress, Bootloader::SerialDigits),
             QByteArray("261205007"));
    QVERIFY(model.readInternal(Bootloader::BootloaderBase, 64) != QByteArray(64, char(0xFF)));
    QCOMPARE(model.readInternal(Bootloader::ApplicationBase, int(Bootloader::ApplicationSize)),
             QByteArray(int(Bootloader::ApplicationSize), char(0xFF)));
    QCOMPARE(model.readExternal(0, int(Bootloader::ExternalFlashSize)),
             QByteArray(int(Bootloader::ExternalFlashSize), char(0xFF)));
}

void TestTq470Model::requestAcceptance_data()
{
    QTest::addColumn<DeviceMode>("mode");
    QTest::addColumn<quint8>("type");
    QTest::addColumn<quint8>("request");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("accepted");

    const DeviceMode bl = DeviceMode::Bootloader;
    const DeviceMode app = DeviceMode::Application;
    const quint8 read = Bootloader::RequestReadMemory;
    const quint8 page = Bootloader::RequestWritePage;
    const quint8 extRead = Bootloader::RequestReadExternalFlash;
    const quint8 extWrite = Bootloader::RequestWriteExternalFlash;
    const quint8 test = Bootloader::RequestWriteTestBlock;
    const quint8 run = Bootloader::RequestRunApplication;
    const int pageSize = int(Bootloader::PageSize);
    const quint32 flashEnd = Bootloader::FlashBase + Bootloader::FlashSize;
    const quint32 extEnd = Bootloader::ExternalFlashSize;

    QTest::newRow("page write at last application page accepted")
        << bl << VendorOut << page << LastPage << pageSize << true;
    QTest::newRow("page write at unaligned address stalls")
        << bl << VendorOut << page << Bootloader::ApplicationBase + 4 << pageSize << false;
    QTest::newRow("page write into the bootloader stalls")
        << bl << VendorOut << page << Bootloader::ApplicationBase - Bootloader::PageSize
        << pageSize << false;
    QTest::newRow("page write of 2047 bytes stalls")
        << bl << VendorOut << page << Bootloader::ApplicationBase << pageSize - 1 << false;
    QTest::newRow("memory read of the last byte accepted")
        << bl << VendorIn << read << flashEnd - 1 << 1 << true;
    QTest::newRow("memory read of 2049 bytes stalls")
        << bl << VendorIn << read << Bootloader::FlashBase << 2049 << false;
    QTest::newRow("memory read across the end of flash stalls")
        << bl << VendorIn << read << flashEnd - 1 << 2 << false;
    QTest::newRow("external read of 512 bytes at the end accepted")
        << bl << VendorIn << extRead << extEnd - 512 << 512 << true;
    QTest::newRow("external read of 513 bytes stalls")
        << bl << VendorIn << extRead << 0u << 513 << false;
    QTest::newRow("external write of 256 bytes accepted")
        << bl << VendorOut << extWrite << 0x1BF00u << 256 << true;
    QTest::newRow("external write of 257 bytes stalls")
        << bl << VendorOut << extWrite << 0u << 257 << false;
    QTest::newRow("external write past 2 MiB stalls")
        << bl << VendorOut << extWrite << extEnd - 4 << 8 << false;
    QTest::newRow("test block of 512 bytes accepted")
        << bl << VendorOut << test << 0u << 512 << true;
    QTest::newRow("test block of 511 bytes stalls")
        << bl << VendorOut << test << 0u << 511 << false;
    QTest::newRow("test block in application mode stalls")
        << app << VendorOut << test << 0u << 512 << false;
    QTest::newRow("run application with a data stage stalls")
        << bl << VendorOut << run << 0u << 4 << false;
    QTest::newRow("unknown vendor request stalls") << bl << VendorIn << quint8(0x07) << 0u << 4
                                                    << false;
    QTest::newRow("class request stalls") << bl << quint8(0xA1) << read << 0u << 4 << false;
}

void TestTq470Model::requestAcceptance()
{
    QFETCH(DeviceMode, mode);
    QFETCH(quint8, type);
    QFETCH(quint8, request);
    QFETCH(quint32, address);
    QFETCH(int, length);
    QFETCH(bool, accepted);

    Tq470Model model(optionsFor(mode));
    const SetupPacket packet = setup(type, request, address, quint16(length));
    const QByteArray out = packet.isIn() ? QByteArray() : QByteArray(length, '\x5A');
    const Tq470Model::Answer answer = model.handleControl(packet, out);
    QCOMPARE(!answer.stalled, accepted);
    if (accepted && packet.isIn())
        QCOMPARE(answer.data.size(), length);
}

void TestTq470Model::otherDescriptors_data()
{
    QTest::addColumn<quint16>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("string 0 lists US English") << quint16(0x0300) << QByteArray("\x04\x03\x09\x04");
    QTest::newRow("string 1 stalls") << quint16(0x0301) << QByteArray();
    QTest::newRow("device descriptor names the ids and string 3")
        << quint16(0x0100)
        << QByteArray::fromHex("1201000200000040c0168807000100000301");
    QTest::newRow("configuration 0 is one interface with two bulk endpoints")
        << quint16(0x0200)
        << QByteArray::fromHex("0902200001010080320904000002ff0000000705020240000007058102400000");
    QTest::newRow("configuration 1 stalls") << quint16(0x0201) << QByteArray();
}

void TestTq470Model::otherDescriptors()
{
    QFETCH(quint16, value);
    QFETCH(QByteArray, expected);

    Tq470Model model;
    const Tq470Model::Answer answer =
        model.handleControl(SetupPacket{StandardIn, GetDescriptor, value, 0, 255}, QByteArray());
    QCOMPARE(answer.stalled, expected.isEmpty());
    QCOMPARE(answer.data, expected);
}

QTEST_GUILESS_MAIN(TestTq470Model)
#include "tst_tq470model.moc"
