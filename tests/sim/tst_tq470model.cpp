#include "bootloaderprotocol.h"
#include "encoding.h"
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

QByteArray plainPage(int seed)
{
    QByteArray page(Bootloader::PageSize, '\0');
    for (int i = 0; i < page.size(); ++i)
        page[i] = char(i * 13 + seed);
    return page;
}

QByteArray encoded(QByteArray data)
{
    EncodeBuffer(data.data(), data.size());
    return data;
}

QByteArray decoded(QByteArray data)
{
    DecodeBuffer(data.data(), data.size());
    return data;
}

QByteArray stringDescriptor(Tq470Model &model, int index)
{
    return model.handleControl(SetupPacket{StandardIn, GetDescriptor, quint16(0x0300 | index), 0,
                                           Bootloader::StringDescriptorBufferSize},
                               QByteArray())
        .data;
}

QByteArray utf16Descriptor(const QString &text)
{
    QByteArray d;
    d.append(char(2 + 2 * text.size()));
    d.append(char(Bootloader::StringDescriptorType));
    for (QChar c : text) {
        d.append(char(c.unicode() & 0xFF));
        d.append(char(c.unicode() >> 8));
    }
    return d;
}

} // namespace

// The device's answers on their own, without a bus.
class TestTq470Model : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void freshDeviceHoldsBootloaderAndErasedApplication();
    void requestAcceptance_data();
    void requestAcceptance();
    void pageWriteIsStoredPlainAndReadBackEncoded();
    void readChunkIsEncodedOnItsOwn();
    void externalFlashIsStoredAsSent();
    void runApplicationSwitchesModeAndLeavesBus();
    void serialDescriptor_data();
    void serialDescriptor();
    void otherDescriptors_data();
    void otherDescriptors();
    void identityAnswer_data();
    void identityAnswer();
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

    QTest::newRow("page write at first application page accepted")
        << bl << VendorOut << page << Bootloader::ApplicationBase << pageSize << true;
    QTest::newRow("page write at last application page accepted")
        << bl << VendorOut << page << LastPage << pageSize << true;
    QTest::newRow("page write at unaligned address stalls")
        << bl << VendorOut << page << Bootloader::ApplicationBase + 4 << pageSize << false;
    QTest::newRow("page write into the bootloader stalls")
        << bl << VendorOut << page << Bootloader::ApplicationBase - Bootloader::PageSize
        << pageSize << false;
    QTest::newRow("page write of 2047 bytes stalls")
        << bl << VendorOut << page << Bootloader::ApplicationBase << pageSize - 1 << false;
    QTest::newRow("page write in application mode stalls")
        << app << VendorOut << page << Bootloader::ApplicationBase << pageSize << false;
    QTest::newRow("memory read of 2048 bytes accepted")
        << bl << VendorIn << read << Bootloader::FlashBase << 2048 << true;
    QTest::newRow("memory read of the last byte accepted")
        << bl << VendorIn << read << flashEnd - 1 << 1 << true;
    QTest::newRow("memory read of 2049 bytes stalls")
        << bl << VendorIn << read << Bootloader::FlashBase << 2049 << false;
    QTest::newRow("memory read across the end of flash stalls")
        << bl << VendorIn << read << flashEnd - 1 << 2 << false;
    QTest::newRow("memory read in application mode accepted")
        << app << VendorIn << read << Bootloader::VersionBlockAddress << 32 << true;
    QTest::newRow("external read of 512 bytes at the end accepted")
        << bl << VendorIn << extRead << extEnd - 512 << 512 << true;
    QTest::newRow("external read of 513 bytes stalls")
        << bl << VendorIn << extRead << 0u << 513 << false;
    QTest::newRow("external read in application mode stalls")
        << app << VendorIn << extRead << 0u << 16 << false;
    QTest::newRow("external write of 256 bytes accepted")
        << bl << VendorOut << extWrite << 0x1BF00u << 256 << true;
    QTest::newRow("external write of 257 bytes stalls")
        << bl << VendorOut << extWrite << 0u << 257 << false;
    QTest::newRow("external write past 2 MiB stalls")
        << bl << VendorOut << extWrite << extEnd - 4 << 8 << false;
    QTest::newRow("test block of 512 bytes accepted") << bl << VendorOut << test << 0u << 512 << true;
    QTest::newRow("test block of 511 bytes stalls") << bl << VendorOut << test << 0u << 511 << false;
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

void TestTq470Model::pageWriteIsStoredPlainAndReadBackEncoded()
{
    Tq470Model model;
    const QByteArray plain = plainPage(3);
    QVERIFY(!model.handleControl(setup(VendorOut, Bootloader::RequestWritePage, LastPage,
                                       Bootloader::PageSize),
                                 encoded(plain))
                 .stalled);
    QCOMPARE(model.readInternal(LastPage, plain.size()), plain);

    const Tq470Model::Answer read = model.handleControl(
        setup(VendorIn, Bootloader::RequestReadMemory, LastPage, Bootloader::PageSize),
        QByteArray());
    QVERIFY(read.data != plain);
    QCOMPARE(decoded(read.data), plain);
}

void TestTq470Model::readChunkIsEncodedOnItsOwn()
{
    Tq470Model model;
    const quint32 address = Bootloader::FlashBase + 0x123;
    const int length = 101;
    const QByteArray read = model.handleControl(setup(VendorIn, Bootloader::RequestReadMemory,
                                                      address, quint16(length)),
                                                QByteArray())
                                .data;
    QCOMPARE(decoded(read), model.readInternal(address, length));
    QCOMPARE(read.right(1), model.readInternal(address + length - 1, 1));
}

void TestTq470Model::externalFlashIsStoredAsSent()
{
    Tq470Model model;
    const QByteArray data = plainPage(9).left(Bootloader::ExternalFlashWriteChunk);
    const quint32 address = 0x1BF00;
    QVERIFY(!model.handleControl(setup(VendorOut, Bootloader::RequestWriteExternalFlash, address,
                                       quint16(data.size())),
                                 data)
                 .stalled);
    QCOMPARE(model.readExternal(address, data.size()), data);
    QCOMPARE(model.handleControl(setup(VendorIn, Bootloader::RequestReadExternalFlash, address,
                                       quint16(data.size())),
                                 QByteArray())
                 .data,
             data);
}

void TestTq470Model::runApplicationSwitchesModeAndLeavesBus()
{
    Tq470Model model;
    const SetupPacket run = setup(VendorOut, Bootloader::RequestRunApplication, 0, 0);
    Tq470Model::Answer answer = model.handleControl(run, QByteArray());
    QVERIFY(!answer.stalled);
    QVERIFY(answer.leavesBus);
    QCOMPARE(model.mode(), DeviceMode::Application);
    answer = model.handleControl(run, QByteArray());
    QVERIFY(answer.leavesBus);
    QCOMPARE(model.mode(), DeviceMode::Bootloader);
}

void TestTq470Model::serialDescriptor_data()
{
    QTest::addColumn<DeviceMode>("mode");
    QTest::addColumn<std::optional<QString>>("override");
    QTest::addColumn<QString>("text");

    const std::optional<QString> none;
    QTest::newRow("bootloader: digits and b") << DeviceMode::Bootloader << none
                                              << QStringLiteral("261205007b");
    QTest::newRow("application: digits alone") << DeviceMode::Application << none
                                               << QStringLiteral("261205007");
    QTest::newRow("override with three letters")
        << DeviceMode::Bootloader << std::optional<QString>(QStringLiteral("ABC"))
        << QStringLiteral("ABC");
    QTest::newRow("override with a character above U+00FF")
        << DeviceMode::Bootloader << std::optional<QString>(QStringLiteral("12\u0141"))
        << QStringLiteral("12\u0141");
    QTest::newRow("override of ten characters ending in a")
        << DeviceMode::Bootloader << std::optional<QString>(QStringLiteral("261205007a"))
        << QStringLiteral("261205007a");
}

void TestTq470Model::serialDescriptor()
{
    QFETCH(DeviceMode, mode);
    QFETCH(std::optional<QString>, override);
    QFETCH(QString, text);

    DeviceOptions options = optionsFor(mode, "261205007");
    options.serialOverride = override;
    Tq470Model model(options);
    QCOMPARE(stringDescriptor(model, Bootloader::SerialStringIndex), utf16Descriptor(text));
}

void TestTq470Model::otherDescriptors_data()
{
    QTest::addColumn<quint16>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("string 0 lists US English") << quint16(0x0300) << QByteArray("\x04\x03\x09\x04");
    QTest::newRow("string 1 stalls") << quint16(0x0301) << QByteArray();
    QTest::newRow("string 2 stalls") << quint16(0x0302) << QByteArray();
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

void TestTq470Model::identityAnswer_data()
{
    QTest::addColumn<DeviceMode>("mode");
    QTest::addColumn<QByteArray>("configured");
    QTest::addColumn<QByteArray>("answer");

    const QByteArray genuine("\xEB\x00", 2);
    QTest::newRow("bootloader answers EB 00") << DeviceMode::Bootloader << genuine << genuine;
    QTest::newRow("application answers EB 00") << DeviceMode::Application << genuine << genuine;
    QTest::newRow("another word") << DeviceMode::Bootloader << QByteArray("\x00\xEB", 2)
                                  << QByteArray("\x00\xEB", 2);
    QTest::newRow("one byte only") << DeviceMode::Bootloader << QByteArray("\xEB")
                                   << QByteArray("\xEB");
}

void TestTq470Model::identityAnswer()
{
    QFETCH(DeviceMode, mode);
    QFETCH(QByteArray, configured);
    QFETCH(QByteArray, answer);

    DeviceOptions options = optionsFor(mode);
    options.identityAnswer = configured;
    Tq470Model model(options);
    QCOMPARE(model.handleControl(setup(VendorIn, Bootloader::RequestIdentity, 0, 2), QByteArray())
                 .data,
             answer);
}

QTEST_GUILESS_MAIN(TestTq470Model)
#include "tst_tq470model.moc"
