#include "bootloaderprotocol.h"
#include "debugcapture.h"
#include "deviceidentity.h"
#include "encoding.h"
#include "simtestsupport.h"
#include "tq470model.h"
#include "transferrecorder.h"
#include "usbtq470.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cerrno>
#include <memory>

#include <usb.h>

using namespace Bootloader;

namespace {

struct Tq470 : USBTQ470 { static QMutex &lock() { return deviceLock; } };

// One operation on a device plugged in for it, and everything it leaves behind.
struct Case
{
    // Fault rules, "answer=HEX" (identity), "serial=TEXT" ('|' a zero unit), "no device",
    // "no config", "locked" (another thread holds the device lock as the operation starts).
    QStringList setup;
    bool connected; // before the operation
    QString op;
    uint address;
    int length, result;
    int moved;        // bytes that reached the device or the buffer, in place
    QString wire;     // the requests the device met; a run of equal ones as "*N"
    QString progress; // the percentages emitted
    bool open;        // afterwards
    QStringList lines = {}; // the transfers' debug lines; empty: not checked
};

QByteArray pattern(int length, int seed)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char((i * 31 + seed + (i >> 8)) & 0xFF);
    return bytes;
}

QString wireLog(const PluggedDevice &sim)
{
    QStringList runs;
    QString last;
    for (const LoggedRequest &r : sim->requestLog()) {
        const QString text = QString::asprintf("%02x %02x %04x %04x %d", r.requestType, r.request,
                                               r.value, r.index, r.length);
        const int count = text == last ? qMax(runs.takeLast().section('*', 1).toInt(), 1) + 1 : 1;
        runs << (count > 1 ? text + QStringLiteral(" *%1").arg(count) : text);
        last = text;
    }
    return runs.join(QStringLiteral(", "));
}

} // namespace

class TestUsbRequests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { SimTestBus::unplugAll(); }
    void requests_data();
    void requests();
    void searchSkipsRejectedDevicesAndEndsAtAGenuineOne();
    void chosenSerialIsReadBeforeAnythingElse_data();
    void chosenSerialIsReadBeforeAnythingElse();
    void deviceAnotherHandleHoldsIsInUse();
    void recordedTransfers_data();
    void recordedTransfers();
};

void TestUsbRequests::requests_data()
{
    const QString send = QStringLiteral("UsbDevice::control_send()");
    const QString asked =
        QStringLiteral("USB Control Receive bRequest=255, wValue=0, wIndex=0, dataLength=2 - OK.");
    const QString answered = QString::fromLatin1("control_receivePrivate(  255 0 0 \xEB 2 )");
    const QStringList accepted = {"USB Connect", asked, answered, "\ntqid: eb", "\nUSB_TQ310_ID: eb"};
    const QString identity = QStringLiteral("c0 ff 0000 0000 2");
    const QString retry6 = QStringLiteral("40 06 0000 0000 256 *51, 40 06 0100 0000 256 *51");
    const QString retry5 = QStringLiteral("c0 05 0000 0000 512 *51, c0 05 0200 0000 512 *51");
    QTest::addColumn<Case>("c");
    QTest::newRow("memory read of 2049 bytes: a full chunk, then the last byte at +2048")
        << Case{{}, true, "read", FlashBase, 2049, 0, 2049,
                "c0 01 0000 0800 2048, c0 01 0800 0800 1", "", true};
    QTest::newRow("short memory chunk: -1 at once, no retry, the first chunk decoded, open")
        << Case{{"short:request=1:nth=2"}, true, "read", FlashBase, 4096, -1, 2048,
                "c0 01 0000 0800 2048, c0 01 0800 0800 2048", "", true};
    QTest::newRow("stalled read logs ERROR, wValue 0xFFFF as 65535, and closes the device")
        << Case{{"stall:request=1"}, true, "read", 0x0800FFFF, 32, -1, 0, "c0 01 ffff 0800 32", "",
                false,
                {"USB Control Receive bRequest=1, wValue=65535, wIndex=2048, dataLength=32 - ERROR.",
                 "USB Disconnect"}};
    QTest::newRow("page write: one encoded page, the address over wValue and wIndex")
        << Case{{}, true, "page", 0x08005000, 2048, 0, 2048, "40 03 5000 0800 2048", "", true,
                {send,
                 "USB Control Send bRequest=3, wValue=20480, wIndex=2048, dataLength=2048 - OK."}};
    QTest::newRow("short page write is a failure")
        << Case{{"short:request=3"}, true, "page", 0x08005000, 2048, -1, 0, "40 03 5000 0800 2048",
                "", true};
    QTest::newRow("external read of 1000 bytes: 512 and 488, progress 51 and 100")
        << Case{{}, true, "xread", 0x1234, 1000, 0, 1000, "c0 05 1234 0000 512, c0 05 1434 0000 488",
                "51 100", true};
    QTest::newRow("external write across 64 KiB: wIndex follows the address")
        << Case{{}, true, "xwrite", 0x0FFF00, 600, 0, 600,
                "40 06 ff00 000f 256, 40 06 0000 0010 256, 40 06 0100 0010 88", "42 85 100", true};
    QTest::newRow("external write absorbs 100 failed attempts spread over its chunks")
        << Case{{"short:request=6:times=50", "short:request=6:nth=52:times=50"}, true, "xwrite", 0,
                512, 0, 512, retry6, "50 100", true};
    QTest::newRow("external write ends at the 101st failed attempt")
        << Case{{"short:request=6:times=50", "short:request=6:nth=52:times=51"}, true, "xwrite", 0,
                512, -1, 256, retry6, "50", true};
    QTest::newRow("external read ends at the 101st failed attempt")
        << Case{{"short:request=5:times=50", "short:request=5:nth=52:times=51"}, true, "xread", 0,
                1024, -1, 512, retry5, "50", true};
    QTest::newRow("stalled external write closes the device; the retry searches again")
        << Case{{"stall:request=6:nth=1"}, true, "xwrite", 0, 256, 0, 256,
                "40 06 0000 0000 256, " + identity + ", 40 06 0000 0000 256", "100", true};
    QTest::newRow("external write of 0 bytes sends and emits nothing")
        << Case{{}, false, "xwrite", 0, 0, 0, 0, "", "", false};
    QTest::newRow("short receive after waiting for the device lock: its count, OK, stays open")
        << Case{{"short:request=1:bytes=10", "locked"}, true, "receive", FlashBase, 64, 10, 0,
                "c0 01 0000 0800 64", "", true,
                {"USB Control Receive bRequest=1, wValue=0, wIndex=2048, dataLength=64 - OK."}};
    QTest::newRow("receive of length 0: nothing on the wire, short-form ERROR, closed")
        << Case{{}, true, "receive", FlashBase, 0, -1, 0, "", "", false,
                {"USB Control Receive bRequest=1, wValue=0, wIndex=2048 - ERROR.", "USB Disconnect"}};
    QTest::newRow("send without a buffer has no data stage but logs its length")
        << Case{{}, true, "send", 0, 512, -1, 0, "40 02 0000 0000 0", "", false,
                {send, "USB Control Send bRequest=2, wValue=0, wIndex=0, dataLength=512 - ERROR.",
                 "USB Disconnect"}};
    QTest::newRow("run application after waiting for the device lock: request 4 without data")
        << Case{{"locked"}, true, "run", 0, 0, 0, 0, "40 04 0000 0000 0", "", true,
                {"USBTQ470::RunApplication(void)", send,
                 "USB Control Send bRequest=4, wValue=0, wIndex=0 - OK."}};
    QTest::newRow("no device: the search finds nothing and no transfer line follows")
        << Case{{"no device"}, false, "receive", FlashBase, 16, -1, 0, "", "", false, {"USB Connect"}};
    QTest::newRow("connect while open waits for the device lock, searches again, takes EB 00")
        << Case{{"locked"}, true, "connect", 0, 0, 0, 0, identity, "", true, accepted};
    QTest::newRow("identity 00 EB reads little-endian as 0xEB00 and is rejected")
        << Case{{"answer=00eb"}, false, "connect", 0, 0, -1, 0, identity, "", false,
                {"USB Connect", asked, "control_receivePrivate(  255 0 0  2 )", "\ntqid: ffffeb00",
                 "\nUSB_TQ310_ID: eb", "USB Disconnect"}};
    QTest::newRow("failing set-configuration: closed and skipped, the lock given back")
        << Case{{"no config"}, false, "connect", 0, 0, -1, 0, "", "", false,
                {"USB Connect", "USB Disconnect"}};
    QTest::newRow("destroying an open device closes it")
        << Case{{}, true, "destroy", 0, 0, 0, 0, "", "", false,
                {"UsbDevice destructor", "USB Disconnect"}};
    QTest::newRow("serial of a closed device: empty, nothing asked")
        << Case{{"serial=12|34"}, false, "serial", 0, 0, 0, 0, "", "", false};
    QTest::newRow("serial: string descriptor 3, ended by a zero code unit")
        << Case{{"serial=12|34"}, true, "serial", 0, 0, 2, 0, "80 06 0303 0000 256", "", true};
}

void TestUsbRequests::requests()
{
    QFETCH(Case, c);
    DeviceOptions options;
    options.failSetConfiguration = c.setup.contains(QStringLiteral("no config"));
    for (const QString &item : c.setup) {
        if (item.startsWith(QLatin1String("answer=")))
            options.identityAnswer = QByteArray::fromHex(item.mid(7).toLatin1());
        if (item.startsWith(QLatin1String("serial=")))
            options.serialOverride = item.mid(7).replace('|', QChar(0));
    }
    // Memories that hold a pattern, so that a chunk at the wrong place shows.
    DeviceState state = Tq470Model::freshState(DeviceMode::Bootloader, options.serial);
    state.internalFlash = pattern(int(FlashSize), 1);
    state.externalFlash = pattern(int(ExternalFlashSize), 2);
    PluggedDevice sim;
    if (!c.setup.contains(QStringLiteral("no device")))
        sim = SimTestBus::plugFresh(state, options);
    auto device = std::make_unique<Tq470>();
    if (c.connected)
        QCOMPARE(device->connect(), 0);
    for (const QString &rule : c.setup)
        if (rule.contains(':'))
            QVERIFY(sim->addFault(rule));
    if (sim.device)
        sim->clearRequestLog();

    QSignalSpy spy(device.get(), c.op == "xread" ? &USBTQ470::sendPercentExtFlashRead
                                                 : &USBTQ470::sendPercentExtFlashWrite);
    const QByteArray plain = pattern(qMax(c.length, 1), 9);
    QByteArray buffer = c.op == "xwrite" || c.op == "page" ? plain : QByteArray(plain.size(), 'Z');
    char *data = buffer.data();
    const quint32 length = quint32(c.length);
    const auto run = [&] {
        return c.op == "read"     ? device->ReadMemoryFromAddress(data, c.address, length)
               : c.op == "page"   ? device->WritePageToAddress(data, c.address)
               : c.op == "xread"  ? device->ReadExternalFlashFromAddress(data, c.address, length)
               : c.op == "xwrite" ? device->WriteExternalFlashToAddress(data, c.address, length)
               : c.op == "receive"
                   ? device->control_receive(RequestReadMemory, 0, 0x0800, data, c.length)
               : c.op == "send"    ? device->control_send(RequestWriteTestBlock, 0, 0, {}, c.length)
               : c.op == "run"     ? (device->RunApplication(), 0)
               : c.op == "connect" ? device->connect()
               : c.op == "serial"  ? int(device->ReadSerialNumber().size())
                                   : (device.reset(), 0);
    };
    DebugCapture debug;
    int got = 0;
    if (c.setup.contains(QStringLiteral("locked"))) {
        Tq470::lock().lock();
        std::unique_ptr<QThread> other(QThread::create([&] { got = run(); }));
        other->start();
        QThread::msleep(100);
        const qsizetype whileHeld = sim->requestLog().size();
        Tq470::lock().unlock();
        QVERIFY(other->wait(5000));
        QCOMPARE(whileHeld, 0);
    } else {
        got = run();
    }

    QCOMPARE(got, c.result);
    QStringList lines = debug.lines();
    const QRegularExpression transferLine(QStringLiteral("^(USB|Usb|control_|\n)"));
    lines.removeIf([&](const QString &line) { return !transferLine.match(line).hasMatch(); });
    if (!c.lines.isEmpty())
        QCOMPARE(lines, c.lines);
    QCOMPARE(sim.device ? wireLog(sim) : QString(), c.wire);
    QStringList percents;
    for (const QList<QVariant> &emission : spy)
        percents << emission.at(0).toString();
    QCOMPARE(percents.join(' '), c.progress);
    QCOMPARE(device ? device->connection_status() : -1, c.open ? 0 : -1);

    const QByteArray stored = c.op.startsWith('x') ? state.externalFlash.mid(c.address)
                                                   : state.internalFlash.mid(c.address - FlashBase);
    if (c.op == "read" || c.op == "xread")
        QCOMPARE(buffer.left(c.moved), stored.left(c.moved));
    if (c.op == "xwrite") {
        QCOMPARE(buffer, plain);
        QCOMPARE(sim->readExternal(c.address, c.length),
                 plain.left(c.moved) + stored.mid(c.moved, c.length - c.moved));
    }
    if (c.op == "page") {
        QByteArray encoded = plain;
        EncodeBufferQuietly(encoded.data(), int(PageSize));
        QCOMPARE(buffer, encoded);
        QCOMPARE(sim->readInternal(c.address, PageSize), c.result ? stored.left(PageSize) : plain);
    }
}

void TestUsbRequests::searchSkipsRejectedDevicesAndEndsAtAGenuineOne()
{
    // Two wrong words, so that one of them comes before another device in any bus order.
    DeviceOptions wrongWord, swapped, oneByte;
    wrongWord.identityAnswer = QByteArray("\xEC\x00", 2);
    swapped.identityAnswer = QByteArray("\x00\xEB", 2);
    oneByte.identityAnswer = QByteArray("\xEB", 1);
    const PluggedDevice rejected[] = {SimTestBus::plugFresh(wrongWord),
                                      SimTestBus::plugAnother(swapped),
                                      SimTestBus::plugAnother(oneByte)};
    USBTQ470 device;
    DebugCapture debug;
    QCOMPARE(device.connect(), -1);
    // Each rejected device is asked once and closed; the first genuine one ends the search.
    for (const PluggedDevice &sim : rejected)
        QCOMPARE(sim->requestLog().size(), 1);
    QCOMPARE(debug.lines().count(QStringLiteral("USB Disconnect")), 3);
    const PluggedDevice genuine[] = {SimTestBus::plugAnother(), SimTestBus::plugAnother()};
    QCOMPARE(device.connect(), 0);
    QCOMPARE(genuine[0]->requestLog().size() + genuine[1]->requestLog().size(), 1);
}

// The search with a serial chosen: every other device is asked for its serial and closed again,
// never configured, claimed or identified; a garbled serial is read again.
void TestUsbRequests::chosenSerialIsReadBeforeAnythingElse_data()
{
    QTest::addColumn<QString>("fault"); // on the chosen device
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("chosenWire");
    const QString serialRead = QStringLiteral("80 06 0303 0000 256");
    const QString identity = QStringLiteral(", c0 ff 0000 0000 2");
    QTest::newRow("the chosen one identified after its serial") << "" << 0 << serialRead + identity;
    QTest::newRow("a serial garbled twice is read a third time")
        << "corrupt:nth=1:times=2" << 0 << serialRead + " *3" + identity;
    QTest::newRow("a serial garbled three times: the device is left alone")
        << "corrupt:nth=1:times=3" << -1 << serialRead + " *3";
}

void TestUsbRequests::chosenSerialIsReadBeforeAnythingElse()
{
    QFETCH(QString, fault);
    QFETCH(int, result);
    QFETCH(QString, chosenWire);
    DeviceOptions options;
    QList<PluggedDevice> others = {SimTestBus::plugFresh(options)};
    options.serial = "470000002";
    const PluggedDevice chosen = SimTestBus::plugAnother(options);
    options.serial = "470000003";
    others << SimTestBus::plugAnother(options);
    if (!fault.isEmpty())
        QVERIFY(chosen->addFault(fault));
    UsbDevice::set_serial_filter(SerialStringIndex, [](const QByteArray &descriptor) {
        const QByteArray serial = DeviceIdentity::wellFormedSerial(descriptor);
        return serial.isEmpty()                ? UsbDevice::SerialVerdict::Unreadable
               : serial.startsWith("470000002") ? UsbDevice::SerialVerdict::Chosen
                                                : UsbDevice::SerialVerdict::Other;
    });
    USBTQ470 device;
    DebugCapture quiet;
    const int got = device.connect();
    UsbDevice::set_serial_filter(SerialStringIndex, {});
    QCOMPARE(got, result);
    QCOMPARE(wireLog(chosen), chosenWire);
    for (const PluggedDevice &other : others)
        QVERIFY2(QStringList({"", "80 06 0303 0000 256"}).contains(wireLog(other)),
                 qPrintable(wireLog(other)));
    if (result != 0)
        QCOMPARE(device.lastConnectFailure().reason, ConnectFailure::Reason::NoAnswer);
}

// Another open file (another program) has claimed the device: the search names it in use.
void TestUsbRequests::deviceAnotherHandleHoldsIsInUse()
{
    const PluggedDevice sim = SimTestBus::plugFresh();
    usb_init();
    usb_find_busses();
    usb_find_devices();
    usb_dev_handle *other = nullptr;
    for (struct usb_bus *bus = usb_get_busses(); bus; bus = bus->next)
        for (struct usb_device *dev = bus->devices; dev; dev = dev->next)
            if (dev->descriptor.idVendor == VendorId && dev->descriptor.idProduct == ProductId)
                other = usb_open(dev);
    QVERIFY(other);
    QCOMPARE(usb_set_configuration(other, 1), 0);
    QCOMPARE(usb_claim_interface(other, 0), 0);
    USBTQ470 device;
    DebugCapture quiet;
    QCOMPARE(device.connect(), -1);
    const ConnectFailure failure = device.lastConnectFailure();
    QCOMPARE(failure.reason, ConnectFailure::Reason::InUse);
    QCOMPARE(failure.bus + '/' + failure.device,
             SimTestBus::bus().nodePath(sim.id).section('/', -2));
    QCOMPARE(usb_close(other), 0);
    QCOMPARE(device.connect(), 0);
}

// While a recording runs, each transfer is written as usbmon shows it: the endpoint's
// direction bit, the setup, the bytes that moved, the kernel's status, the device's bus and
// address.
void TestUsbRequests::recordedTransfers_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("transfer"); // "ENDPOINT SETUP: BYTES STATUS"
    const auto row = [](const char *name, const char *fault, const char *op,
                        const QString &transfer) {
        QTest::newRow(name) << fault << op << transfer;
    };
    const QString read = QStringLiteral("80 c0 01 0000 0800 16: %1 %2");
    const QString serial = QStringLiteral("80 80 06 0303 0000 256: 22 0");
    row("receive: IN on 0x80, the bytes received", "", "receive", read.arg(16).arg(0));
    row("short receive: the bytes that came", "short:request=1:bytes=10", "receive",
        read.arg(10).arg(0));
    row("stalled receive: -EPIPE, nothing received", "stall:request=1", "receive",
        read.arg(0).arg(-EPIPE));
    row("timed-out receive: the URB killed at the timeout, -ENOENT", "timeout:request=1:delay=1",
        "receive", read.arg(0).arg(-ENOENT));
    row("send: OUT on 0x00, the bytes sent", "", "send", "00 40 03 5000 0800 2048: 2048 0");
    row("send without data", "", "run", "00 40 04 0000 0000 0: 0 0");
    row("connect: the identity request", "", "connect", "80 c0 ff 0000 0000 2: 2 0");
    row("serial of the open device: string descriptor 3", "", "serial", serial);
    row("serial read by the search of attached devices", "", "attached", serial);
}

void TestUsbRequests::recordedTransfers()
{
    QFETCH(QString, fault);
    QFETCH(QString, op);
    QFETCH(QString, transfer);
    const PluggedDevice sim = SimTestBus::plugFresh();
    // Taken now: the started application leaves the bus.
    const QString node = SimTestBus::bus().nodePath(sim.id).section('/', -2);
    DebugCapture quiet;
    USBTQ470 device;
    if (op != "connect" && op != "attached")
        QCOMPARE(device.connect(), 0);
    if (!fault.isEmpty())
        QVERIFY(sim->addFault(fault));
    const QTemporaryDir dir;
    const QString trace = dir.filePath("t.pcap");
    QString error;
    QVERIFY2(TransferRecorder::start(trace, &error), qPrintable(error));
    QByteArray buffer = op == "send" ? pattern(int(PageSize), 3) : QByteArray(16, 'Z');
    if (op == "receive")
        device.control_receive(RequestReadMemory, 0, 0x0800, buffer.data(), int(buffer.size()));
    else if (op == "send")
        device.control_send(RequestWritePage, 0x5000, 0x0800, buffer.data(), int(buffer.size()));
    else if (op == "run")
        device.RunApplication();
    else if (op == "connect")
        device.connect();
    else if (op == "serial")
        device.ReadSerialNumber();
    else
        UsbDevice::attached(VendorId, ProductId, SerialStringIndex);
    // A failed transfer is in the file at once; the others may wait for the recording's end.
    QList<UsbTransfer> transfers;
    if (!transfer.endsWith(" 0"))
        QVERIFY2(UsbmonTrace::read(trace, &transfers, &error) && transfers.size() == 1,
                 qPrintable(error));
    TransferRecorder::stop();

    QVERIFY2(UsbmonTrace::read(trace, &transfers, &error), qPrintable(error));
    QCOMPARE(transfers.size(), 1);
    const UsbTransfer &t = transfers.first();
    QCOMPARE(QString::asprintf("%02x %02x %02x %04x %04x %d: %d %d", t.endpoint, t.requestType(),
                               t.request(), t.value(), t.index(), t.length(), int(t.data.size()),
                               t.status),
             transfer);
    QVERIFY(t.type == UsbTransfer::Control && t.requestedLength == t.length());
    QVERIFY(t.completed && t.submittedUs <= t.completedUs);
    QCOMPARE(QString::asprintf("%03d/%03d", t.bus, t.device), node);
    if (op == "receive" || op == "send")
        QCOMPARE(t.data, buffer.left(t.data.size()));
}

TQ470_SIM_TEST_GUILESS_MAIN(TestUsbRequests)
#include "tst_usbrequests.moc"
