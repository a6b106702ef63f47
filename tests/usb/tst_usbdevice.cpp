#include "bootloaderprotocol.h"
#include "debugcapture.h"
#include "simtestsupport.h"
#include "usbconstants.h"
#include "usbdevice.h"

#include <QThread>
#include <QtTest>

#include <usb.h>

#include <atomic>

using namespace Bootloader;

namespace {

constexpr int ShortTimeoutMs = 50;
constexpr quint16 FlashHigh = addressHigh(FlashBase);

// A transport fixed to the Tq470's ids, as the device object sets it up.
class Transport : public UsbDevice
{
public:
    Transport()
    {
        set_vid_pid(VendorId, ProductId);
        set_device_id(IdentityWord);
    }
};

int countOf(const QStringList &lines, const QString &line) { return int(lines.count(line)); }

int countStartingWith(const QStringList &lines, const QString &prefix)
{
    return int(std::count_if(lines.begin(), lines.end(),
                             [&](const QString &l) { return l.startsWith(prefix); }));
}

int requestsWithCode(const PluggedDevice &device, quint8 code)
{
    const QList<LoggedRequest> log = device->requestLog();
    return int(std::count_if(log.begin(), log.end(),
                             [&](const LoggedRequest &r) { return r.request == code; }));
}

// The device number of the first Tq470 in libusb's own bus and device order.
int firstListedTq470()
{
    usb_init();
    usb_find_busses();
    usb_find_devices();
    for (struct usb_bus *bus = usb_get_busses(); bus; bus = bus->next)
        for (struct usb_device *dev = bus->devices; dev; dev = dev->next)
            if (dev->descriptor.idVendor == VendorId && dev->descriptor.idProduct == ProductId)
                return QByteArray(dev->filename).toInt();
    return 0;
}

} // namespace

class TestUsbDevice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void identityAnswer_data();
    void identityAnswer();
    void everyRejectedDeviceIsClosedAndTheSearchGoesOn();
    void firstListedDeviceIsTaken();
    void failingSetConfigurationIsSkippedWithoutBlocking();
    void connectWhileOpenSearchesAgain();
    void noDeviceLeavesConnectionClosed();

    void controlLogLines_data();
    void controlLogLines();
    void sendWithoutBufferHasNoDataStage();
    void shortReceiveStaysOpen();
    void failedTransferClosesAndNextOneSearches();
    void transferWithoutDeviceWritesNoTransferLine();
    void receiveWithoutLengthIsAFailure();
    void bulkNeverSearches();
    void destructorReleasesOpenDevice();
    void twoThreadsNeverInterleaveOnTheWire();
};

void TestUsbDevice::cleanup() { SimTestBus::unplugAll(); }

void TestUsbDevice::identityAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("tqidLine");

    QTest::newRow("EB 00 is the identity word 0x00EB")
        << QByteArray("\xEB\x00", 2) << 0 << QStringLiteral("\ntqid: eb");
    QTest::newRow("00 EB is read little-endian as 0xEB00 and rejected")
        << QByteArray("\x00\xEB", 2) << -1 << QStringLiteral("\ntqid: ffffeb00");
    QTest::newRow("another word is rejected") << QByteArray("\xEC\x00", 2) << -1
                                              << QStringLiteral("\ntqid: ec");
    QTest::newRow("one byte is rejected before any word is formed")
        << QByteArray("\xEB", 1) << -1 << QString();
}

void TestUsbDevice::identityAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, result);
    QFETCH(QString, tqidLine);

    DeviceOptions options;
    options.identityAnswer = answer;
    const PluggedDevice device = SimTestBus::plugFresh(options);

    Transport transport;
    DebugCapture debug;
    QCOMPARE(transport.connect(), result);
    QCOMPARE(transport.connection_status(), result);

    const QStringList lines = debug.lines();
    QCOMPARE(lines.first(), QStringLiteral("USB Connect"));
    QCOMPARE(countOf(lines, QStringLiteral("usb_claim_interface ")), 1);
    QCOMPARE(countOf(lines, QStringLiteral("USB Control Receive bRequest=255, wValue=0, wIndex=0,"
                                           " dataLength=2 - OK.")),
             1);
    QCOMPARE(countStartingWith(lines, QStringLiteral("control_receivePrivate(  255 0 0 ")), 1);
    if (tqidLine.isEmpty()) {
        QCOMPARE(countStartingWith(lines, QStringLiteral("\ntqid: ")), 0);
    } else {
        QCOMPARE(countOf(lines, tqidLine), 1);
        QCOMPARE(countOf(lines, QStringLiteral("\nUSB_TQ310_ID: eb")), 1);
    }
    QCOMPARE(countOf(lines, QStringLiteral("USB Disconnect")), result == 0 ? 0 : 1);
    QCOMPARE(requestsWithCode(device, RequestIdentity), 1);
}

void TestUsbDevice::everyRejectedDeviceIsClosedAndTheSearchGoesOn()
{
    DeviceOptions wrongWord;
    wrongWord.identityAnswer = QByteArray("\x00\xEB", 2);
    DeviceOptions oneByte;
    oneByte.identityAnswer = QByteArray("\xEB", 1);
    DeviceOptions genuine;
    genuine.serial = "470000077";
    const PluggedDevice first = SimTestBus::plugFresh(wrongWord);
    const PluggedDevice second = SimTestBus::plugAnother(oneByte);
    const PluggedDevice good = SimTestBus::plugAnother(genuine);

    Transport transport;
    DebugCapture debug;
    QCOMPARE(transport.connect(), 0);

    // Whatever the bus order, each rejected device that was asked is closed, and the search
    // ends on the genuine one.
    const int rejectedAsked = requestsWithCode(first, RequestIdentity) +
                              requestsWithCode(second, RequestIdentity);
    QCOMPARE(countOf(debug.lines(), QStringLiteral("USB Disconnect")), rejectedAsked);
    QCOMPARE(requestsWithCode(good, RequestIdentity), 1);

    char buffer[4];
    QCOMPARE(transport.control_receive(RequestReadMemory, addressLow(SerialAddress),
                                       addressHigh(SerialAddress), buffer, 4),
             4);
    QCOMPARE(requestsWithCode(good, RequestReadMemory), 1);
}

void TestUsbDevice::firstListedDeviceIsTaken()
{
    const PluggedDevice a = SimTestBus::plugFresh();
    const PluggedDevice b = SimTestBus::plugAnother();
    const int first = firstListedTq470();
    QVERIFY(first != 0);

    Transport transport;
    QCOMPARE(transport.connect(), 0);
    const bool aIsFirst = SimTestBus::bus().deviceNumber(a.id) == first;
    QCOMPARE(requestsWithCode(a, RequestIdentity), aIsFirst ? 1 : 0);
    QCOMPARE(requestsWithCode(b, RequestIdentity), aIsFirst ? 0 : 1);
}

void TestUsbDevice::failingSetConfigurationIsSkippedWithoutBlocking()
{
    DeviceOptions broken;
    broken.failSetConfiguration = true;
    const PluggedDevice device = SimTestBus::plugFresh(broken);

    Transport transport;
    DebugCapture debug;
    QCOMPARE(transport.connect(), -1);
    const QStringList lines = debug.lines();
    QCOMPARE(countOf(lines, QStringLiteral("usb_opened ")), 1);
    QCOMPARE(countOf(lines, QStringLiteral("usb_set_configuration ")), 0);
    QCOMPARE(countOf(lines, QStringLiteral("USB Disconnect")), 1);
    QCOMPARE(requestsWithCode(device, RequestIdentity), 0);

    // The lock was given back: the next operation runs.
    QCOMPARE(transport.connection_status(), -1);
}

void TestUsbDevice::connectWhileOpenSearchesAgain()
{
    const PluggedDevice device = SimTestBus::plugFresh();
    Transport transport;
    QCOMPARE(transport.connect(), 0);

    DebugCapture debug;
    QCOMPARE(transport.connect(), 0);
    QCOMPARE(debug.lines().first(), QStringLiteral("USB Connect"));
    // The open handle is closed without releasing the interface and without its own line.
    QCOMPARE(countOf(debug.lines(), QStringLiteral("USB Disconnect")), 0);
    QCOMPARE(requestsWithCode(device, RequestIdentity), 2);
    QCOMPARE(transport.connection_status(), 0);
}

void TestUsbDevice::noDeviceLeavesConnectionClosed()
{
    Transport transport;
    DebugCapture debug;
    QCOMPARE(transport.connect(), -1);
    QCOMPARE(transport.connection_status(), -1);
    QCOMPARE(countOf(debug.lines(), QStringLiteral("usb_opened ")), 0);

    DebugCapture disconnectLines;
    transport.disconnect();
    QCOMPARE(disconnectLines.lines(), QStringList{QStringLiteral("USB Disconnect")});
}

void TestUsbDevice::controlLogLines_data()
{
    QTest::addColumn<bool>("send");
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("line");

    QTest::newRow("receive with data logs its length")
        << false << int(RequestReadMemory) << 0x3FD0 << int(FlashHigh) << 32 << 32
        << QStringLiteral("USB Control Receive bRequest=1, wValue=16336, wIndex=2048,"
                          " dataLength=32 - OK.");
    QTest::newRow("wValue 0xFFFF is logged as 65535")
        << false << int(RequestReadMemory) << 0xFFFF << int(FlashHigh) << 1 << 1
        << QStringLiteral("USB Control Receive bRequest=1, wValue=65535, wIndex=2048,"
                          " dataLength=1 - OK.");
    QTest::newRow("stalled receive logs ERROR")
        << false << int(RequestReadMemory) << 0 << 0 << 16 << -1
        << QStringLiteral("USB Control Receive bRequest=1, wValue=0, wIndex=0,"
                          " dataLength=16 - ERROR.");
    QTest::newRow("send without data logs the short form")
        << true << int(RequestRunApplication) << 0 << 0 << 0 << 0
        << QStringLiteral("USB Control Send bRequest=4, wValue=0, wIndex=0 - OK.");
    QTest::newRow("send with data logs its length")
        << true << int(RequestWriteExternalFlash) << 0x0100 << 0 << 256 << 256
        << QStringLiteral("USB Control Send bRequest=6, wValue=256, wIndex=0,"
                          " dataLength=256 - OK.");
    QTest::newRow("stalled send logs ERROR")
        << true << int(RequestWritePage) << 0 << int(FlashHigh) << 2048 << -1
        << QStringLiteral("USB Control Send bRequest=3, wValue=0, wIndex=2048,"
                          " dataLength=2048 - ERROR.");
}

void TestUsbDevice::controlLogLines()
{
    QFETCH(bool, send);
    QFETCH(int, request);
    QFETCH(int, value);
    QFETCH(int, index);
    QFETCH(int, length);
    QFETCH(int, result);
    QFETCH(QString, line);

    SimTestBus::plugFresh();
    Transport transport;
    QCOMPARE(transport.connect(), 0);

    QByteArray buffer(qMax(length, 1), '\0');
    char *data = length ? buffer.data() : nullptr;
    DebugCapture debug;
    const int got = send ? transport.control_send(quint8(request), quint16(value),
                                                  quint16(index), data, length)
                         : transport.control_receive(quint8(request), quint16(value),
                                                     quint16(index), data, length);
    QCOMPARE(got, result);

    QStringList expected;
    if (send)
        expected << QStringLiteral("UsbDevice::control_send()");
    expected << line;
    if (result < 0)
        expected << QStringLiteral("USB Disconnect");
    QCOMPARE(debug.lines(), expected);
    QCOMPARE(transport.connection_status(), result < 0 ? -1 : 0);
}

void TestUsbDevice::sendWithoutBufferHasNoDataStage()
{
    const PluggedDevice device = SimTestBus::plugFresh();
    Transport transport;
    QCOMPARE(transport.connect(), 0);
    device->clearRequestLog();

    DebugCapture debug;
    transport.control_send(RequestWriteTestBlock, 0, 0, nullptr, TestBlockSize);
    QCOMPARE(countStartingWith(debug.lines(),
                               QStringLiteral("USB Control Send bRequest=2, wValue=0, wIndex=0,"
                                              " dataLength=512 - ")),
             1);
    const QList<LoggedRequest> log = device->requestLog();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.first().requestType, UsbConstants::VendorRequestOut);
    QCOMPARE(log.first().length, quint16(0));
}

void TestUsbDevice::shortReceiveStaysOpen()
{
    const PluggedDevice device = SimTestBus::plugFresh();
    FaultRule rule = FaultRule::onNthRequest(FaultKind::ShortTransfer, RequestReadMemory, 1);
    rule.bytes = 10;
    device->addFault(rule);

    Transport transport;
    char buffer[64];
    DebugCapture debug;
    QCOMPARE(transport.control_receive(RequestReadMemory, 0, FlashHigh, buffer, 64), 10);
    QCOMPARE(countOf(debug.lines(),
                     QStringLiteral("USB Control Receive bRequest=1, wValue=0, wIndex=2048,"
                                    " dataLength=64 - OK.")),
             1);
    QCOMPARE(countOf(debug.lines(), QStringLiteral("USB Disconnect")), 0);
    QCOMPARE(transport.connection_status(), 0);
}

void TestUsbDevice::failedTransferClosesAndNextOneSearches()
{
    const PluggedDevice device = SimTestBus::plugFresh();
    FaultRule rule = FaultRule::onNthRequest(FaultKind::Timeout, RequestReadMemory, 1);
    rule.delayMs = ShortTimeoutMs;
    device->addFault(rule);

    Transport transport;
    QCOMPARE(transport.connect(), 0);
    char buffer[16];
    {
        DebugCapture debug;
        QCOMPARE(transport.control_receive(RequestReadMemory, 0, FlashHigh, buffer, 16), -1);
        QCOMPARE(debug.lines(),
                 (QStringList{QStringLiteral("USB Control Receive bRequest=1, wValue=0,"
                                             " wIndex=2048, dataLength=16 - ERROR."),
                              QStringLiteral("USB Disconnect")}));
    }
    QCOMPARE(transport.connection_status(), -1);

    DebugCapture debug;
    QCOMPARE(transport.control_receive(RequestReadMemory, 0, FlashHigh, buffer, 16), 16);
    QCOMPARE(debug.lines().first(), QStringLiteral("USB Connect"));
    QCOMPARE(debug.lines().last(),
             QStringLiteral("USB Control Receive bRequest=1, wValue=0, wIndex=2048,"
                            " dataLength=16 - OK."));
    QCOMPARE(requestsWithCode(device, RequestIdentity), 2);
}

void TestUsbDevice::transferWithoutDeviceWritesNoTransferLine()
{
    Transport transport;
    char buffer[16];
    DebugCapture debug;
    QCOMPARE(transport.control_receive(RequestReadMemory, 0, FlashHigh, buffer, 16), -1);
    QCOMPARE(transport.control_send(RequestWriteExternalFlash, 0, 0, buffer, 16), -1);
    const QStringList lines = debug.lines();
    QCOMPARE(countOf(lines, QStringLiteral("USB Connect")), 2);
    QCOMPARE(countOf(lines, QStringLiteral("UsbDevice::control_send()")), 1);
    QCOMPARE(countStartingWith(lines, QStringLiteral("USB Control ")), 0);
}

void TestUsbDevice::receiveWithoutLengthIsAFailure()
{
    const PluggedDevice device = SimTestBus::plugFresh();
    Transport transport;
    QCOMPARE(transport.connect(), 0);
    device->clearRequestLog();

    char buffer[4];
    DebugCapture debug;
    QCOMPARE(transport.control_receive(RequestReadMemory, 0, FlashHigh, buffer, 0), -1);
    QCOMPARE(debug.lines(),
             (QStringList{QStringLiteral("USB Control Receive bRequest=1, wValue=0,"
                                         " wIndex=2048 - ERROR."),
                          QStringLiteral("USB Disconnect")}));
    QVERIFY(device->requestLog().isEmpty());
}

void TestUsbDevice::bulkNeverSearches()
{
    SimTestBus::plugFresh();
    Transport transport;
    char buffer[64] = {};
    DebugCapture debug;
    QCOMPARE(transport.bulk_read(buffer, 64), -1);
    QCOMPARE(transport.bulk_write(buffer, 64), -1);
    QVERIFY(debug.lines().isEmpty());
    QCOMPARE(transport.connection_status(), -1);

    QCOMPARE(transport.connect(), 0);
    QCOMPARE(transport.bulk_write(nullptr, 64), -1);
    QCOMPARE(transport.bulk_read(buffer, 0), -1);
    // The device has no bulk contract: the library's error comes back and the device stays open.
    QVERIFY(transport.bulk_read(buffer, 64) < 0);
    QCOMPARE(transport.connection_status(), 0);
}

void TestUsbDevice::destructorReleasesOpenDevice()
{
    SimTestBus::plugFresh();
    auto *transport = new Transport;
    QCOMPARE(transport->connect(), 0);
    DebugCapture debug;
    delete transport;
    QCOMPARE(debug.lines(),
             (QStringList{QStringLiteral("UsbDevice destructor"),
                          QStringLiteral("USB Disconnect")}));
}

void TestUsbDevice::twoThreadsNeverInterleaveOnTheWire()
{
    SimTestBus::plugFresh();
    Transport transport;
    QCOMPARE(transport.connect(), 0);
    constexpr int Rounds = 200;
    std::atomic<int> failures{0};

    auto reader = [&](quint32 address) {
        char buffer[64];
        for (int i = 0; i < Rounds; ++i)
            if (transport.control_receive(RequestReadMemory, addressLow(address),
                                          addressHigh(address), buffer, 64) != 64)
                ++failures;
    };
    QThread *worker = QThread::create(reader, ApplicationBase);
    worker->start();
    reader(BootloaderBase);
    QVERIFY(worker->wait(30000));
    delete worker;
    QCOMPARE(failures.load(), 0);
    QCOMPARE(transport.connection_status(), 0);
}

TQ470_SIM_TEST_GUILESS_MAIN(TestUsbDevice)
#include "tst_usbdevice.moc"
