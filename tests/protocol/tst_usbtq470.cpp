#include "bootloaderprotocol.h"
#include "debugcapture.h"
#include "encoding.h"
#include "simtestsupport.h"
#include "usbtq470.h"

#include <QSignalSpy>
#include <QtTest>

using namespace Bootloader;

namespace {

constexpr int ShortTimeoutMs = 20;

QList<LoggedRequest> requestsWithCode(const PluggedDevice &device, quint8 code)
{
    QList<LoggedRequest> found;
    for (const LoggedRequest &r : device->requestLog())
        if (r.request == code)
            found << r;
    return found;
}

QList<int> percents(const QSignalSpy &spy)
{
    QList<int> values;
    for (const QList<QVariant> &emission : spy)
        values << emission.at(0).toInt();
    return values;
}

QByteArray pattern(int length, int seed)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char((i * 31 + seed * 7 + (i >> 8)) & 0xFF);
    return bytes;
}

} // namespace

class TestUsbTq470 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void constructorFixesTheTq470Ids();
    void memoryReadIsChunkedAndDecoded();
    void memoryReadStopsAtShortChunk();
    void pageWriteStoresThePlainPage();
    void failedPageWriteLeavesThePageEncoded();
    void externalReadChunksAndProgress();
    void externalWriteChunksAndProgress();
    void externalRetryBudget_data();
    void externalRetryBudget();
    void externalRetriesRecoverFromTimeouts();
    void zeroLengthSendsNothing();
    void runApplicationSwitchesTheDevice();
    void serialNumber_data();
    void serialNumber();
    void serialNeedsAnOpenDevice();
};

void TestUsbTq470::cleanup() { SimTestBus::unplugAll(); }

void TestUsbTq470::constructorFixesTheTq470Ids()
{
    DebugCapture debug;
    USBTQ470 device;
    QCOMPARE(debug.lines(), QStringList{QStringLiteral("USBTQ470 constructor")});

    SimTestBus::plugFresh();
    QCOMPARE(device.connect(), 0);
}

void TestUsbTq470::memoryReadIsChunkedAndDecoded()
{
    const PluggedDevice sim = SimTestBus::plugFresh();
    USBTQ470 device;
    QByteArray buffer(2049, '\0');
    QCOMPARE(device.ReadMemoryFromAddress(buffer.data(), FlashBase, 2049), 0);
    QCOMPARE(buffer, sim->readInternal(FlashBase, 2049));

    const QList<LoggedRequest> reads = requestsWithCode(sim, RequestReadMemory);
    QCOMPARE(reads.size(), 2);
    QCOMPARE(reads.at(0).value, quint16(0x0000));
    QCOMPARE(reads.at(0).index, quint16(0x0800));
    QCOMPARE(reads.at(0).length, quint16(2048));
    QCOMPARE(reads.at(1).value, quint16(0x0800));
    QCOMPARE(reads.at(1).index, quint16(0x0800));
    QCOMPARE(reads.at(1).length, quint16(1));
}

void TestUsbTq470::memoryReadStopsAtShortChunk()
{
    const PluggedDevice sim = SimTestBus::plugFresh();
    FaultRule rule = FaultRule::onNthRequest(FaultKind::ShortTransfer, RequestReadMemory, 2);
    sim->addFault(rule);

    USBTQ470 device;
    QByteArray buffer(4096, '\x5A');
    QCOMPARE(device.ReadMemoryFromAddress(buffer.data(), BootloaderBase, 4096), -1);
    QCOMPARE(buffer.left(2048), sim->readInternal(BootloaderBase, 2048));
    QCOMPARE(requestsWithCode(sim, RequestReadMemory).size(), 2);
}

void TestUsbTq470::pageWriteStoresThePlainPage()
{
    const PluggedDevice sim = SimTestBus::plugFresh();
    USBTQ470 device;
    const quint32 address = ApplicationBase + 5 * PageSize;
    const QByteArray plain = pattern(PageSize, 3);
    QByteArray page = plain;

    QCOMPARE(device.WritePageToAddress(page.data(), address), 0);
    QCOMPARE(sim->readInternal(address, PageSize), plain);
    QByteArray encoded = plain;
    EncodeBufferQuietly(encoded.data(), PageSize);
    QCOMPARE(page, encoded);

    const QList<LoggedRequest> writes = requestsWithCode(sim, RequestWritePage);
    QCOMPARE(writes.size(), 1);
    QCOMPARE(writes.first().value, addressLow(address));
    QCOMPARE(writes.first().index, addressHigh(address));
    QCOMPARE(writes.first().length, quint16(PageSize));

    QByteArray readBack(PageSize, '\0');
    QCOMPARE(device.ReadMemoryFromAddress(readBack.data(), address, PageSize), 0);
    QCOMPARE(readBack, plain);
}

void TestUsbTq470::failedPageWriteLeavesThePageEncoded()
{
    SimTestBus::plugFresh();
    USBTQ470 device;
    const QByteArray plain = pattern(PageSize, 4);
    QByteArray page = plain;
    // The bootloader's own region cannot be written.
    QCOMPARE(device.WritePageToAddress(page.data(), BootloaderBase), -1);
    QByteArray encoded = plain;
    EncodeBufferQuietly(encoded.data(), PageSize);
    QCOMPARE(page, encoded);
}

void TestUsbTq470::externalReadChunksAndProgress()
{
    const PluggedDevice sim = SimTestBus::plugFresh();
    USBTQ470 device;
    const QByteArray data = pattern(1000, 5);
    QByteArray toWrite = data;
    QCOMPARE(device.WriteExternalFlashToAddress(toWrite.data(), 0x1234, 1000), 0);

    QSignalSpy read(&device, &USBTQ470::sendPercentExtFlashRead);
    QSignalSpy written(&device, &USBTQ470::sendPercentExtFlashWrite);
    QByteArray buffer(1000, '\0');
    QCOMPARE(device.ReadExternalFlashFromAddress(buffer.data(), 0x1234, 1000), 0);
    QCOMPARE(buffer, data);
    QCOMPARE(percents(read), (QList<int>{51, 100}));
    QCOMPARE(written.count(), 0);

    const QList<LoggedRequest> reads = requestsWithCode(sim, RequestReadExternalFlash);
    QCOMPARE(reads.size(), 2);
    QCOMPARE(reads.at(0).length, quint16(512));
    QCOMPARE(reads.at(1).length, quint16(488));
    QCOMPARE(reads.at(1).value, quint16(0x1234 + 512));
}

void TestUsbTq470::externalWriteChunksAndProgress()
{
    const PluggedDevice sim = SimTestBus::plugFresh();
    USBTQ470 device;
    const quint32 address = 0x0FFF00;
    const QByteArray data = pattern(600, 6);
    QByteArray buffer = data;
    QSignalSpy written(&device, &USBTQ470::sendPercentExtFlashWrite);

    QCOMPARE(device.WriteExternalFlashToAddress(buffer.data(), address, 600), 0);
    QCOMPARE(buffer, data);
    QCOMPARE(sim->readExternal(address, 600), data);
    QCOMPARE(percents(written), (QList<int>{42, 85, 100}));

    const QList<LoggedRequest> writes = requestsWithCode(sim, RequestWriteExternalFlash);
    QCOMPARE(writes.size(), 3);
    QCOMPARE(writes.at(0).index, quint16(0x0F));
    QCOMPARE(writes.at(1).value, quint16(0x0000));
    QCOMPARE(writes.at(1).index, quint16(0x10));
}

void TestUsbTq470::externalRetryBudget_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("result");
    QTest::newRow("write: 100 failures are absorbed") << true << 100 << 0;
    QTest::newRow("write: the 101st failure ends the call") << true << 101 << -1;
    QTest::newRow("read: 100 failures are absorbed") << false << 100 << 0;
    QTest::newRow("read: the 101st failure ends the call") << false << 101 << -1;
}

void TestUsbTq470::externalRetryBudget()
{
    QFETCH(bool, write);
    QFETCH(int, failures);
    QFETCH(int, result);

    const PluggedDevice sim = SimTestBus::plugFresh();
    const quint8 code = write ? RequestWriteExternalFlash : RequestReadExternalFlash;
    // The budget belongs to the whole call: the failures are spread over its three chunks.
    FaultRule first = FaultRule::onNthRequest(FaultKind::Stall, code, 1);
    first.times = failures / 2;
    FaultRule later = FaultRule::onNthRequest(FaultKind::ShortTransfer, code, failures / 2 + 2);
    later.times = failures - failures / 2;
    sim->addFault(first);
    sim->addFault(later);

    USBTQ470 device;
    const int length = write ? 600 : 1200;
    QByteArray buffer = pattern(length, 7);
    QSignalSpy progress(&device, write ? &USBTQ470::sendPercentExtFlashWrite
                                       : &USBTQ470::sendPercentExtFlashRead);
    const int got = write ? device.WriteExternalFlashToAddress(buffer.data(), 0, length)
                          : device.ReadExternalFlashFromAddress(buffer.data(), 0, length);
    QCOMPARE(got, result);
    // Three good chunks on success; on failure only the first chunk got through.
    QCOMPARE(int(requestsWithCode(sim, code).size()), failures + (result == 0 ? 3 : 1));
    if (result == 0)
        QCOMPARE(percents(progress).last(), 100);
    else
        QCOMPARE(percents(progress), QList<int>{42});
}

void TestUsbTq470::externalRetriesRecoverFromTimeouts()
{
    const PluggedDevice sim = SimTestBus::plugFresh();
    FaultRule rule = FaultRule::onNthRequest(FaultKind::Timeout, RequestWriteExternalFlash, 2);
    rule.delayMs = ShortTimeoutMs;
    rule.times = 3;
    sim->addFault(rule);

    USBTQ470 device;
    const QByteArray data = pattern(512, 8);
    QByteArray buffer = data;
    DebugCapture debug;
    QCOMPARE(device.WriteExternalFlashToAddress(buffer.data(), 0, 512), 0);
    QCOMPARE(sim->readExternal(0, 512), data);
    // Each timeout closed the device; the next attempt found it again.
    QCOMPARE(debug.lines().count(QStringLiteral("USB Connect")), 4);
}

void TestUsbTq470::zeroLengthSendsNothing()
{
    const PluggedDevice sim = SimTestBus::plugFresh();
    USBTQ470 device;
    QSignalSpy read(&device, &USBTQ470::sendPercentExtFlashRead);
    QSignalSpy written(&device, &USBTQ470::sendPercentExtFlashWrite);
    char buffer[4] = {};
    QCOMPARE(device.ReadMemoryFromAddress(buffer, FlashBase, 0), 0);
    QCOMPARE(device.ReadExternalFlashFromAddress(buffer, 0, 0), 0);
    QCOMPARE(device.WriteExternalFlashToAddress(buffer, 0, 0), 0);
    QVERIFY(sim->requestLog().isEmpty());
    QCOMPARE(read.count() + written.count(), 0);
}

void TestUsbTq470::runApplicationSwitchesTheDevice()
{
    DeviceOptions options;
    options.reenumerateDelayMs = 50;
    const PluggedDevice sim = SimTestBus::plugFresh(options);
    USBTQ470 device;
    QCOMPARE(device.connect(), 0);
    QCOMPARE(device.ReadSerialNumber(), QByteArray(DeviceOptions::DefaultSerial) + 'b');

    DebugCapture debug;
    device.RunApplication();
    QCOMPARE(debug.lines().first(), QStringLiteral("USBTQ470::RunApplication(void)"));
    QVERIFY(debug.lines().contains(
        QStringLiteral("USB Control Send bRequest=4, wValue=0, wIndex=0 - OK.")));
    device.disconnect();

    QVERIFY(SimTestBus::bus().waitUntilAbsent(sim.id, 2000));
    QVERIFY(SimTestBus::bus().waitUntilPresent(sim.id, 2000));
    QCOMPARE(device.connect(), 0);
    QCOMPARE(device.ReadSerialNumber(), QByteArray(DeviceOptions::DefaultSerial));
    QCOMPARE(sim->mode(), DeviceMode::Application);
}

void TestUsbTq470::serialNumber_data()
{
    QTest::addColumn<QString>("descriptor");
    QTest::addColumn<QByteArray>("serial");
    QTest::newRow("plain text") << QStringLiteral("ABC") << QByteArray("ABC");
    QTest::newRow("a character above U+00FF keeps its low byte")
        << QStringLiteral("A\u0141C") << QByteArray("AAC");
    QTest::newRow("empty string") << QString() << QByteArray();
}

void TestUsbTq470::serialNumber()
{
    QFETCH(QString, descriptor);
    QFETCH(QByteArray, serial);
    DeviceOptions options;
    options.serialOverride = descriptor;
    SimTestBus::plugFresh(options);

    USBTQ470 device;
    QCOMPARE(device.connect(), 0);
    QCOMPARE(device.ReadSerialNumber(), serial);
}

void TestUsbTq470::serialNeedsAnOpenDevice()
{
    const PluggedDevice sim = SimTestBus::plugFresh();
    USBTQ470 device;
    DebugCapture debug;
    QCOMPARE(device.ReadSerialNumber(), QByteArray());
    QVERIFY(debug.lines().isEmpty());
    QVERIFY(sim->requestLog().isEmpty());
}

TQ470_SIM_TEST_GUILESS_MAIN(TestUsbTq470)
#include "tst_usbtq470.moc"
