#include "bootloaderprotocol.h"
#include "encoding.h"
#include "simulateddevice.h"

#include <QtTest>

namespace {

constexpr int RequestTimeoutMs = 2000;
constexpr quint32 Page = Bootloader::ApplicationBase + 4 * Bootloader::PageSize;
using Status = TransferOutcome::Status;

SetupPacket pageWrite()
{
    return SetupPacket{0x40, Bootloader::RequestWritePage, Bootloader::addressLow(Page),
                       Bootloader::addressHigh(Page), quint16(Bootloader::PageSize)};
}

SetupPacket memoryRead(quint16 length)
{
    return SetupPacket{0xC0, Bootloader::RequestReadMemory,
                       Bootloader::addressLow(Bootloader::FlashBase),
                       Bootloader::addressHigh(Bootloader::FlashBase), length};
}

QByteArray plainPage()
{
    QByteArray page(Bootloader::PageSize, '\0');
    for (int i = 0; i < page.size(); ++i)
        page[i] = char(i * 5 + 1);
    return page;
}

QByteArray encodedPage()
{
    QByteArray page = plainPage();
    EncodeBuffer(page.data(), page.size());
    return page;
}

TransferOutcome writePageWith(SimulatedDevice &device, const QString &ruleText)
{
    if (!ruleText.isEmpty())
        device.addFault(ruleText);
    return device.controlTransfer(pageWrite(), encodedPage(), RequestTimeoutMs);
}

bool pageStored(const SimulatedDevice &device)
{
    return device.readInternal(Page, Bootloader::PageSize) == plainPage();
}

} // namespace

// How the planned faults turn the model's answers into what the bus reports.
class TestSimulatedDevice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pageWriteFaults_data();
    void pageWriteFaults();
    void shortReadReturnsFewerBytes_data();
    void shortReadReturnsFewerBytes();
    void corruptReadFlipsOneByte();
    void corruptWriteStoresAlteredData();
};

void TestSimulatedDevice::pageWriteFaults_data()
{
    QTest::addColumn<QString>("ruleText");
    QTest::addColumn<Status>("status");
    QTest::addColumn<int>("transferred");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("stored");

    QTest::newRow("no fault stores the page")
        << QString() << Status::Completed << 2048 << 0 << true;
    QTest::newRow("timeout with a delay reports after it")
        << QStringLiteral("timeout:nth=1:delay=50") << Status::TimedOut << 0 << 50 << false;
    QTest::newRow("short data stage is acknowledged but not written")
        << QStringLiteral("short:nth=1:bytes=100") << Status::Completed << 100 << 0 << false;
}

void TestSimulatedDevice::pageWriteFaults()
{
    QFETCH(QString, ruleText);
    QFETCH(Status, status);
    QFETCH(int, transferred);
    QFETCH(int, delayMs);
    QFETCH(bool, stored);

    SimulatedDevice device;
    const TransferOutcome outcome = writePageWith(device, ruleText);
    QCOMPARE(outcome.status, status);
    QCOMPARE(outcome.transferred, transferred);
    QCOMPARE(outcome.delayMs, delayMs);
    QCOMPARE(pageStored(device), stored);
}

void TestSimulatedDevice::shortReadReturnsFewerBytes_data()
{
    QTest::addColumn<QString>("ruleText");
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("returned");

    QTest::newRow("default is half") << QStringLiteral("short:nth=1") << 64 << 32;
    QTest::newRow("never more than asked") << QStringLiteral("short:nth=1:bytes=9999") << 16 << 16;
}

void TestSimulatedDevice::shortReadReturnsFewerBytes()
{
    QFETCH(QString, ruleText);
    QFETCH(int, asked);
    QFETCH(int, returned);

    SimulatedDevice device;
    QVERIFY(device.addFault(ruleText));
    const TransferOutcome outcome =
        device.controlTransfer(memoryRead(quint16(asked)), QByteArray(), RequestTimeoutMs);
    QCOMPARE(outcome.status, Status::Completed);
    QCOMPARE(outcome.data.size(), returned);
    QCOMPARE(outcome.transferred, returned);
}

void TestSimulatedDevice::corruptReadFlipsOneByte()
{
    SimulatedDevice device;
    const QByteArray clean =
        device.controlTransfer(memoryRead(64), QByteArray(), RequestTimeoutMs).data;
    QVERIFY(device.addFault(QStringLiteral("corrupt:nth=1")));
    const QByteArray corrupted =
        device.controlTransfer(memoryRead(64), QByteArray(), RequestTimeoutMs).data;
    QCOMPARE(corrupted.size(), clean.size());
    int differing = 0;
    for (int i = 0; i < clean.size(); ++i)
        differing += clean.at(i) != corrupted.at(i) ? 1 : 0;
    QCOMPARE(differing, 1);
}

void TestSimulatedDevice::corruptWriteStoresAlteredData()
{
    SimulatedDevice device;
    QCOMPARE(writePageWith(device, QStringLiteral("corrupt:request=3")).status, Status::Completed);
    const QByteArray stored = device.readInternal(Page, Bootloader::PageSize);
    QVERIFY(stored != plainPage());
    QCOMPARE(stored.left(Bootloader::PageSize / 2), plainPage().left(Bootloader::PageSize / 2));
}

QTEST_GUILESS_MAIN(TestSimulatedDevice)
#include "tst_simulateddevice.moc"
