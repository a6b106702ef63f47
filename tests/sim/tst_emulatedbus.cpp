#include "bootloaderprotocol.h"
#include "encoding.h"
#include "simtestsupport.h"

#include <QElapsedTimer>

#include <atomic>
#include <cerrno>
#include <thread>

#include <usb.h>

namespace {

constexpr int VendorIn = 0xC0;
constexpr int VendorOut = 0x40;
constexpr int TimeoutMs = 2000;
constexpr int ShortTimeoutMs = 300;
constexpr int ReenumerateMs = 50;
constexpr int WaitMs = 3000;
constexpr int HubClass = 9;
constexpr int ReadChunk = int(Bootloader::MemoryReadChunk);

QList<struct usb_device *> scan()
{
    usb_init();
    usb_find_busses();
    usb_find_devices();
    QList<struct usb_device *> devices;
    for (usb_bus *bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device *device = bus->devices; device; device = device->next)
            devices.append(device);
    }
    return devices;
}

QList<struct usb_device *> scanTq470s()
{
    QList<struct usb_device *> found;
    for (struct usb_device *device : scan()) {
        if (device->descriptor.idVendor == Bootloader::VendorId
            && device->descriptor.idProduct == Bootloader::ProductId)
            found.append(device);
    }
    return found;
}

// Opens the device the way the tool does: configuration 1, interface 0.
usb_dev_handle *open(struct usb_device *device)
{
    usb_dev_handle *handle = usb_open(device);
    if (handle && (usb_set_configuration(handle, 1) < 0 || usb_claim_interface(handle, 0) < 0)) {
        usb_close(handle);
        return nullptr;
    }
    return handle;
}

usb_dev_handle *openOnly()
{
    const QList<struct usb_device *> devices = scanTq470s();
    return devices.size() == 1 ? open(devices.first()) : nullptr;
}

void close(usb_dev_handle *handle)
{
    usb_release_interface(handle, 0);
    usb_close(handle);
}

int identity(usb_dev_handle *handle, QByteArray *answer, int timeoutMs = TimeoutMs)
{
    char bytes[2] = {};
    const int result =
        usb_control_msg(handle, VendorIn, Bootloader::RequestIdentity, 0, 0, bytes, 2, timeoutMs);
    *answer = QByteArray(bytes, qMax(result, 0));
    return result;
}

QString serial(usb_dev_handle *handle)
{
    char descriptor[Bootloader::StringDescriptorBufferSize] = {};
    const int length = usb_get_descriptor(handle, Bootloader::StringDescriptorType,
                                          Bootloader::SerialStringIndex, descriptor,
                                          sizeof(descriptor));
    if (length < 2 || descriptor[0] != length)
        return QString();
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(descriptor + 2), (length - 2) / 2);
}

int runApplication(usb_dev_handle *handle)
{
    return usb_control_msg(handle, VendorOut, Bootloader::RequestRunApplication, 0, 0, nullptr, 0,
                           TimeoutMs);
}

QByteArray plainPage()
{
    QByteArray page(Bootloader::PageSize, '\0');
    for (int i = 0; i < page.size(); ++i)
        page[i] = char(i ^ (i >> 8));
    return page;
}

} // namespace

// The simulated device as the real libusb 0.1 sees it on the emulated bus.
class TestEmulatedBus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void scanFindsDeviceBesideRootHub();
    void identityAndSerialPerMode_data();
    void identityAndSerialPerMode();
    void pageRoundTripIsEncodedOnTheWire();
    void disallowedRequestStalls();
    void runApplicationReenumeratesUnderNewNumber();
    void faultsReachTheHost_data();
    void faultsReachTheHost();
    void unplugFaultReturnsAfterReplugDelay();
    void unplugEndsAPendingTimeout();
    void departureListenerRunsBeforeTheHostLearns();
    void twoDevicesWithTheSameIds();
    void failingSetConfiguration();
    void bulkTransfersAreRefused();
    void unplugAllLeavesOnlyTheRootHub();
};

void TestEmulatedBus::cleanup()
{
    SimTestBus::bus().setDepartureListener(nullptr);
    SimTestBus::unplugAll();
}

void TestEmulatedBus::scanFindsDeviceBesideRootHub()
{
    const PluggedDevice plugged = SimTestBus::plugFresh();
    const QList<struct usb_device *> devices = scan();
    QCOMPARE(devices.size(), 2);
    int hubs = 0;
    for (struct usb_device *device : devices) {
        if (device->descriptor.bDeviceClass == HubClass) {
            ++hubs;
            QCOMPARE(int(device->devnum), 1);
        } else {
            QCOMPARE(device->descriptor.idVendor, Bootloader::VendorId);
            QCOMPARE(device->descriptor.iSerialNumber, quint8(Bootloader::SerialStringIndex));
            QCOMPARE(int(device->devnum), SimTestBus::bus().deviceNumber(plugged.id));
            QVERIFY(SimTestBus::bus().nodePath(plugged.id)
                        .endsWith(QLatin1String(device->filename)));
            QCOMPARE(int(device->config[0].interface[0].altsetting[0].bNumEndpoints), 2);
        }
    }
    QCOMPARE(hubs, 1);
}

void TestEmulatedBus::identityAndSerialPerMode_data()
{
    QTest::addColumn<DeviceMode>("mode");
    QTest::addColumn<QString>("serial");

    QTest::newRow("bootloader: nine digits and b") << DeviceMode::Bootloader
                                                   << QStringLiteral("261205007b");
    QTest::newRow("application: nine digits") << DeviceMode::Application
                                              << QStringLiteral("261205007");
}

void TestEmulatedBus::identityAndSerialPerMode()
{
    QFETCH(DeviceMode, mode);
    QFETCH(QString, serial);

    DeviceOptions options;
    options.mode = mode;
    options.serial = "261205007";
    const PluggedDevice plugged = SimTestBus::plugFresh(options);
    usb_dev_handle *handle = openOnly();
    QVERIFY(handle);
    QByteArray answer;
    QCOMPARE(identity(handle, &answer), 2);
    QCOMPARE(answer, QByteArray("\xEB\x00", 2));
    QCOMPARE(::serial(handle), serial);
    close(handle);

    const QList<LoggedRequest> log = plugged->requestLog();
    QCOMPARE(log.size(), 2);
    QCOMPARE(log.at(0).requestType, quint8(VendorIn));
    QCOMPARE(log.at(0).request, Bootloader::RequestIdentity);
    QCOMPARE(log.at(0).length, quint16(2));
    QCOMPARE(log.at(1).value, quint16(0x0303));
}

void TestEmulatedBus::pageRoundTripIsEncodedOnTheWire()
{
    const PluggedDevice plugged = SimTestBus::plugFresh();
    usb_dev_handle *handle = openOnly();
    QVERIFY(handle);
    const quint32 address = Bootloader::ApplicationBase + 7 * Bootloader::PageSize;
    QByteArray page = plainPage();
    EncodeBuffer(page.data(), page.size());
    QCOMPARE(usb_control_msg(handle, VendorOut, Bootloader::RequestWritePage,
                             Bootloader::addressLow(address), Bootloader::addressHigh(address),
                             page.data(), page.size(), TimeoutMs),
             page.size());
    QCOMPARE(plugged->readInternal(address, page.size()), plainPage());

    QByteArray read(ReadChunk, '\0');
    QCOMPARE(usb_control_msg(handle, VendorIn, Bootloader::RequestReadMemory,
                             Bootloader::addressLow(address), Bootloader::addressHigh(address),
                             read.data(), read.size(), TimeoutMs),
             ReadChunk);
    QCOMPARE(read, page);
    DecodeBuffer(read.data(), read.size());
    QCOMPARE(read, plainPage());
    close(handle);
}

void TestEmulatedBus::disallowedRequestStalls()
{
    DeviceOptions options;
    options.mode = DeviceMode::Application;
    const PluggedDevice plugged = SimTestBus::plugFresh(options);
    usb_dev_handle *handle = openOnly();
    QVERIFY(handle);
    QByteArray page = plainPage();
    QCOMPARE(usb_control_msg(handle, VendorOut, Bootloader::RequestWritePage,
                             Bootloader::addressLow(Bootloader::ApplicationBase),
                             Bootloader::addressHigh(Bootloader::ApplicationBase), page.data(),
                             page.size(), TimeoutMs),
             -EPIPE);
    QCOMPARE(plugged->readInternal(Bootloader::ApplicationBase, 4), QByteArray(4, char(0xFF)));
    close(handle);
}

void TestEmulatedBus::runApplicationReenumeratesUnderNewNumber()
{
    DeviceOptions options;
    options.reenumerateDelayMs = ReenumerateMs;
    const PluggedDevice plugged = SimTestBus::plugFresh(options);
    EmulatedBus &bus = SimTestBus::bus();
    const int before = bus.deviceNumber(plugged.id);
    usb_dev_handle *handle = openOnly();
    QVERIFY(handle);

    QCOMPARE(runApplication(handle), 0);
    QVERIFY(!bus.isPresent(plugged.id));
    QVERIFY(scanTq470s().isEmpty());
    QByteArray answer;
    QCOMPARE(identity(handle, &answer), -ENODEV);
    close(handle);

    QVERIFY(bus.waitUntilPresent(plugged.id, WaitMs));
    const int after = bus.deviceNumber(plugged.id);
    QVERIFY(after != before);
    const QList<struct usb_device *> devices = scanTq470s();
    QCOMPARE(devices.size(), 1);
    QCOMPARE(int(devices.first()->devnum), after);
    handle = open(devices.first());
    QVERIFY(handle);
    QCOMPARE(serial(handle), QString::fromLatin1(DeviceOptions::DefaultSerial));

    QCOMPARE(runApplication(handle), 0);
    close(handle);
    QVERIFY(bus.waitUntilPresent(plugged.id, WaitMs));
    QCOMPARE(plugged->mode(), DeviceMode::Bootloader);
}

void TestEmulatedBus::faultsReachTheHost_data()
{
    QTest::addColumn<QString>("ruleText");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("minimumMs");
    QTest::addColumn<bool>("presentAfter");

    QTest::newRow("stall is -EPIPE") << QStringLiteral("stall:nth=1") << -EPIPE << 0 << true;
    QTest::newRow("timeout with delay is -ETIMEDOUT after the delay")
        << QStringLiteral("timeout:nth=1:delay=150") << -ETIMEDOUT << 150 << true;
    QTest::newRow("timeout without delay waits the transfer's own timeout")
        << QStringLiteral("timeout:nth=1") << -ETIMEDOUT << ShortTimeoutMs << true;
    QTest::newRow("short transfer succeeds with fewer bytes")
        << QStringLiteral("short:nth=1:bytes=1") << 1 << 0 << true;
    QTest::newRow("unplug is -ENODEV and the device is gone")
        << QStringLiteral("unplug:nth=1") << -ENODEV << 0 << false;
}

void TestEmulatedBus::faultsReachTheHost()
{
    QFETCH(QString, ruleText);
    QFETCH(int, result);
    QFETCH(int, minimumMs);
    QFETCH(bool, presentAfter);

    const PluggedDevice plugged = SimTestBus::plugFresh();
    usb_dev_handle *handle = openOnly();
    QVERIFY(handle);
    QVERIFY(plugged->addFault(ruleText));
    QElapsedTimer clock;
    clock.start();
    QByteArray answer;
    QCOMPARE(identity(handle, &answer, ShortTimeoutMs), result);
    QVERIFY2(clock.elapsed() >= minimumMs, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(clock.elapsed() < TimeoutMs);
    QCOMPARE(SimTestBus::bus().isPresent(plugged.id), presentAfter);
    if (presentAfter) {
        QCOMPARE(identity(handle, &answer), 2);
        QCOMPARE(answer, QByteArray("\xEB\x00", 2));
    }
    close(handle);
}

void TestEmulatedBus::unplugFaultReturnsAfterReplugDelay()
{
    const PluggedDevice plugged = SimTestBus::plugFresh();
    const int before = SimTestBus::bus().deviceNumber(plugged.id);
    usb_dev_handle *handle = openOnly();
    QVERIFY(handle);
    QVERIFY(plugged->addFault(QStringLiteral("unplug:request=0xFF:nth=2:replug=50")));
    QByteArray answer;
    QCOMPARE(identity(handle, &answer), 2);
    QCOMPARE(identity(handle, &answer), -ENODEV);
    close(handle);

    QVERIFY(SimTestBus::bus().waitUntilPresent(plugged.id, WaitMs));
    QVERIFY(SimTestBus::bus().deviceNumber(plugged.id) != before);
    handle = openOnly();
    QVERIFY(handle);
    QCOMPARE(identity(handle, &answer), 2);
    close(handle);
}

void TestEmulatedBus::unplugEndsAPendingTimeout()
{
    const PluggedDevice plugged = SimTestBus::plugFresh();
    usb_dev_handle *handle = openOnly();
    QVERIFY(handle);
    QVERIFY(plugged->addFault(QStringLiteral("timeout:nth=1")));
    std::thread puller([&plugged] {
        QThread::msleep(100);
        SimTestBus::bus().unplug(plugged.id);
    });
    QElapsedTimer clock;
    clock.start();
    QByteArray answer;
    const int result = identity(handle, &answer);
    puller.join();
    QCOMPARE(result, -ENODEV);
    QVERIFY(clock.elapsed() < TimeoutMs);
    close(handle);
}

void TestEmulatedBus::departureListenerRunsBeforeTheHostLearns()
{
    DeviceOptions options;
    options.reenumerateDelayMs = ReenumerateMs;
    const PluggedDevice plugged = SimTestBus::plugFresh(options);
    std::atomic<bool> hostKnows{false};
    std::atomic<int> departures{0};
    std::atomic<bool> sawApplication{false};
    SimTestBus::bus().setDepartureListener([&](EmulatedBus::DeviceId id, SimulatedDevice &device) {
        if (id == plugged.id && !hostKnows)
            ++departures;
        sawApplication = device.state().mode == DeviceMode::Application;
    });
    usb_dev_handle *handle = openOnly();
    QVERIFY(handle);
    QCOMPARE(runApplication(handle), 0);
    hostKnows = true;
    close(handle);
    QCOMPARE(departures.load(), 1);
    QVERIFY(sawApplication);

    QVERIFY(SimTestBus::bus().waitUntilPresent(plugged.id, WaitMs));
    QVERIFY(plugged->addFault(QStringLiteral("unplug:nth=1")));
    hostKnows = false;
    handle = openOnly();
    QVERIFY(handle);
    QByteArray answer;
    QCOMPARE(identity(handle, &answer), -ENODEV);
    close(handle);
    QCOMPARE(departures.load(), 2);
}

void TestEmulatedBus::twoDevicesWithTheSameIds()
{
    DeviceOptions impostor;
    impostor.identityAnswer = QByteArray("\x00\xEB", 2);
    impostor.serial = "111111111";
    SimTestBus::plugFresh(impostor);
    DeviceOptions genuine;
    genuine.serial = "222222222";
    SimTestBus::plugAnother(genuine);

    const QList<struct usb_device *> devices = scanTq470s();
    QCOMPARE(devices.size(), 2);
    QVERIFY(devices.at(0)->devnum != devices.at(1)->devnum);
    QStringList answers;
    for (struct usb_device *device : devices) {
        usb_dev_handle *handle = open(device);
        QVERIFY(handle);
        QByteArray answer;
        identity(handle, &answer);
        answers.append(serial(handle) + QLatin1Char(' ') + QString::fromLatin1(answer.toHex()));
        close(handle);
    }
    answers.sort();
    QCOMPARE(answers, QStringList({"111111111b 00eb", "222222222b eb00"}));
}

void TestEmulatedBus::failingSetConfiguration()
{
    DeviceOptions options;
    options.failSetConfiguration = true;
    SimTestBus::plugFresh(options);
    const QList<struct usb_device *> devices = scanTq470s();
    QCOMPARE(devices.size(), 1);
    usb_dev_handle *handle = usb_open(devices.first());
    QVERIFY(handle);
    QVERIFY(usb_set_configuration(handle, 1) < 0);
    QVERIFY(usb_claim_interface(handle, 1) < 0);
    QVERIFY(usb_claim_interface(handle, 0) >= 0);
    close(handle);
}

void TestEmulatedBus::bulkTransfersAreRefused()
{
    SimTestBus::plugFresh();
    usb_dev_handle *handle = openOnly();
    QVERIFY(handle);
    char data[64] = {};
    QVERIFY(usb_bulk_write(handle, 0x02, data, sizeof(data), ShortTimeoutMs) < 0);
    close(handle);
}

void TestEmulatedBus::unplugAllLeavesOnlyTheRootHub()
{
    SimTestBus::plugFresh();
    SimTestBus::plugAnother();
    QCOMPARE(scan().size(), 3);
    SimTestBus::unplugAll();
    const QList<struct usb_device *> devices = scan();
    QCOMPARE(devices.size(), 1);
    QCOMPARE(int(devices.first()->descriptor.bDeviceClass), HubClass);
}

TQ470_SIM_TEST_GUILESS_MAIN(TestEmulatedBus)
#include "tst_emulatedbus.moc"
