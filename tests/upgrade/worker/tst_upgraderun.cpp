#include "bootloaderprotocol.h"
#include "bootloaderreset.h"
#include "debugcapture.h"
#include "deviceidentity.h"
#include "encoding.h"
#include "hexdump.h"
#include "intelhextext.h"
#include "simtestsupport.h"
#include "upgradefile.h"
#include "upgrader.h"
#include "usbdevice.h"
#include "usbtq470.h"

#include <QDataStream>
#include <QTemporaryDir>

#include <atomic>

using namespace Bootloader;

namespace {

constexpr int RunTimeoutMs = 30000;
constexpr int ReenumerateMs = 50; // several polls of the worker's shortened wait
constexpr int BrokenPage = 5, All = int(ApplicationPages);
// Connects while the device reenumerates depend on timing; those after failed transfers are
// the command set's.
constexpr int AnyCount = -1;
constexpr int LockRuns = 20;
constexpr char Erased = char(0xFF);
constexpr quint8 VendorTypeMask = 0x60, VendorType = 0x40; // bmRequestType's type bits
enum class External { Erased, Image, Differs };

struct Scenario
{
    QByteArray serial; // 9 bytes: application, 10: bootloader; empty: no device
    QStringList faults;
    QStringList log; // after the file name
    int connects = 0;
    int pagesDone = -1; // -1: no progress at all
    int pageWrites = 0;
    int pagesStored = 0;
    External external = External::Erased;
    QByteArray file;
    int externalWrites = AnyCount;
};

// The worker and what it sent. Qt's wait is invisible to a thread sanitizer: the flag stored as
// the thread finishes orders the run's writes before the reads after it.
struct Run
{
    USBTQ470 usb;
    Upgrader upgrader{&usb};
    QStringList texts;
    QList<int> percents;
    std::atomic<bool> finished{false};

    Run()
    {
        QObject::connect(&upgrader, &Upgrader::sendText, [this](const QString &t) { texts << t; });
        QObject::connect(&upgrader, &Upgrader::sendPercent, [this](int p) { percents << p; });
        QObject::connect(&upgrader, &QThread::finished,
                         [this] { finished.store(true, std::memory_order_release); });
    }
    bool wait()
    {
        return upgrader.wait(RunTimeoutMs) && finished.exchange(false, std::memory_order_acquire);
    }
};

} // namespace

Q_DECLARE_METATYPE(Scenario)

// The upgrade worker against a simulated Tq470 on the emulated bus, through the real libusb.
class TestUpgradeRun : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    const QByteArray plain = IntelHexText::pattern(UpgradeFile::ImageSize); // all pages differ

private Q_SLOTS:
    void cleanup() { SimTestBus::unplugAll(); }

    void run_data()
    {
        QTest::addColumn<Scenario>("s");
        QByteArray valid;
        QDataStream out(&valid, QIODevice::WriteOnly);
        out << QString(UpgradeFile::Header) << QString(UpgradeFile::Version) << plain;
        EncodeBuffer(valid.data() + valid.size() - plain.size(), int(plain.size()));
        const QByteArray app = "470000001";
        const QByteArray boot = app + 'b';
        const QStringList found{boot, "Tq470 BL 1.07", "2026-11-20", "Bootloader mode",
                                "Writting firmware ... "};
        const QStringList reset =
            QStringList{app} + found.mid(1, 2) + QStringList{"Apllication mode", "Reset device"};
        const QStringList written = found + QStringList{"OK", "Writting External Flash ... "};
        const QStringList verify = written + QStringList{"OK", "Verify External Flash ...  "};
        const QStringList noReturn = reset + QStringList{"USB timout\nCheck USB cable"};
        const QString broken =
            QStringLiteral(":address=0x%1").arg(ApplicationBase + BrokenPage * PageSize, 0, 16);
        const auto row = [&](const char *name, const QByteArray &serial, const QStringList &faults,
                             const QStringList &log, int connects, int pagesDone = 0,
                             int pageWrites = 0, int pagesStored = 0,
                             External external = External::Erased, const QByteArray &file = {},
                             int externalWrites = AnyCount) {
            QTest::newRow(name) << Scenario{serial,      faults,    log,
                                            connects,    pagesDone, pageWrites,
                                            pagesStored, external,  file.isEmpty() ? valid : file,
                                            externalWrites};
        };
        const auto file = [&](const char *name, const QByteArray &bytes, const char *text) {
            row(name, boot, {}, {text}, 0, -1, 0, 0, External::Erased, bytes);
        };

        row("success from the bootloader, with retried version read, pages and verify read",
            boot,
            {"stall:request=0x01:nth=1", "stall:request=0x03:nth=5:times=2",
             "stall:request=0x01:nth=20", "corrupt:request=0x01:nth=40",
             "corrupt:request=0x05:address=0xc600:times=3", "corrupt:request=0x06:nth=300"},
            verify + QStringList{"OK"}, AnyCount, All, All + 4, All, External::Image, {},
            int(UpgradeExternalSize / ExternalFlashWriteChunk) + 2); // one chunk written again
        row("success from the application", app, {},
            reset + QStringList{"Disconnect", "Connect", "Serial:" + boot} + verify.mid(4) +
                QStringList{"OK"},
            AnyCount, All, All, All, External::Image);
        file("wrong header", "no upgrade file", "Wrong file header");
        file("wrong version", // "01" in UTF-16 made "02"
             QByteArray(valid).replace(QByteArray::fromHex("0031"), QByteArray::fromHex("0032")),
             "Wrong file version");
        file("file ends inside the image", valid.chopped(1), "Wrong file size");
        row("no device", "", {}, {"USB Timeout\nCheck USB Cable"}, Upgrader::ConnectTries);
        row("serial of 10 bytes ending in a", app + 'a', {},
            QStringList{app + 'a'} + found.mid(1, 2) + QStringList{"Serial:" + app + 'a'}, 1);
        row("version block unreadable three times", boot,
            {"stall:request=0x01:address=0x8003fd0"}, {boot, "Bootloader Version Read Error"},
            Upgrader::IdentifyAttempts);
        row("page fails on every attempt, written twice, verified once", boot,
            {"stall:request=0x03:times=2" + broken, "corrupt:request=0x01" + broken},
            found + QStringList{"ERROR"}, AnyCount, BrokenPage, BrokenPage + 3, BrokenPage + 1);
        row("external flash write fails", boot, {"stall:request=0x06:address=0"},
            written + QStringList{"Error"}, AnyCount, All, All, All);
        row("external flash read fails", boot, {"stall:request=0x05"},
            verify + QStringList{"Error"}, AnyCount, All, All, All, External::Image);
        row("external flash differs after every write", boot,
            {"corrupt:request=0x06:address=0x200"},
            verify + QStringList{"Error", "read_buffer", "<dump of what was read>",
                                 "ext_datas.data()", "<dump of the image>"},
            1, All, All, All, External::Differs);
        row("device leaves the bus for 300 ms in a page and the external flash write, first "
            "start stalls",
            boot,
            {"unplug:request=0x03:nth=50:replug=300", "unplug:request=0x06:nth=200:replug=300",
             "stall:request=0x04:nth=1"},
            verify + QStringList{"OK"}, AnyCount, All, All + 1, All, External::Image);
        row("start never acknowledged", boot, {"stall:request=0x04"},
            verify + QStringList{"OK", "The firmware is written and verified, but its start could "
                                       "not be confirmed: replug the Tq470, or start it with "
                                       "\"tq470-flash run\""},
            AnyCount, All, All, All, External::Image);
        row("device never returns after the reset", app, {"unplug:request=0x04"}, noReturn,
            1 + Upgrader::BootloaderConnectFailures);
        row("device keeps its application after the reset", app, {"stall:request=0x04"}, noReturn,
            1 + Upgrader::BootloaderAnswerAttempts);
    }

    void run()
    {
        QFETCH(Scenario, s);
        DebugCapture debug; // also keeps the transfer layer's lines out
        PluggedDevice device;
        if (!s.serial.isEmpty()) {
            DeviceOptions options;
            options.mode = s.serial.size() == 9 ? DeviceMode::Application : DeviceMode::Bootloader;
            if (s.serial.size() == 10) // the application's serial changes when it resets
                options.serialOverride = QString::fromLatin1(s.serial);
            options.reenumerateDelayMs = ReenumerateMs;
            device = SimTestBus::plugFresh(options);
            for (const QString &fault : s.faults)
                QVERIFY(device->addFault(fault));
        }
        const QString fileName = dir.filePath(QStringLiteral("firmware.upg"));
        QVERIFY(IntelHexText::write(fileName, s.file));
        Run r;
        r.upgrader.setWaits({1, 1, 1, 5, 1}); // the bootloader polled every 5 ms, others 1 ms
        r.upgrader.slotSetFileName(fileName);
        r.upgrader.start();
        QVERIFY(r.wait());

        const QByteArray external = UpgradeFile::externalPart(plain);
        QByteArray readBack = device.device ? device->readExternal(0, external.size()) : "";
        const bool erased = readBack == QByteArray(readBack.size(), Erased);
        DecodeBuffer(readBack.data(), int(readBack.size()));
        // Dumps by what they show: the first line shows where the buffer was.
        const auto body = [](const QByteArray &dump) { return dump.mid(dump.indexOf('\n', 1)); };
        const QMap<QByteArray, QString> dumps{
            {body(HexDump(readBack.constData(), int(readBack.size()))), "<dump of what was read>"},
            {body(HexDump(external.constData(), int(external.size()))), "<dump of the image>"}};
        QStringList log = r.texts;
        for (QString &text : log)
            if (text.startsWith(QLatin1String("\n src address: ")))
                text = dumps.value(body(text.toLatin1()), "<other dump>");
        QCOMPARE(log, QStringList{fileName} + s.log);
        QList<int> progress;
        for (int k = 0; k <= s.pagesDone; ++k)
            progress << 5 * k / 6; // floor(5k/6) after page k
        QCOMPARE(r.percents, progress);
        const bool succeeded = s.log.last() == QLatin1String("OK"); // only when all verified
        QCOMPARE(r.upgrader.succeeded(), succeeded);
        if (s.connects != AnyCount)
            QCOMPARE(debug.lines().count(QStringLiteral("USB Connect")), s.connects);
        if (!device.device)
            return;

        const QList<LoggedRequest> requests = device->requestLog();
        QVERIFY(s.pagesDone >= 0 || requests.isEmpty());
        const auto sent = [&](quint8 request) { // vendor requests only: GET_DESCRIPTOR is 6 too
            return int(std::count_if(requests.begin(), requests.end(), [&](const LoggedRequest &r) {
                return r.request == request && (r.requestType & VendorTypeMask) == VendorType;
            }));
        };
        QCOMPARE(sent(RequestWritePage), s.pageWrites);
        if (s.externalWrites != AnyCount)
            QCOMPARE(sent(RequestWriteExternalFlash), s.externalWrites);
        if (s.log.last().startsWith(QLatin1String("The firmware is written")))
            QCOMPARE(sent(RequestRunApplication), 1 + Upgrader::StartResends);
        const int storedBytes = s.pagesStored * int(PageSize);
        QCOMPARE(device->readInternal(ApplicationBase, int(ApplicationSize)),
                 UpgradeFile::applicationPart(plain).left(storedBytes) +
                     QByteArray(int(ApplicationSize) - storedBytes, Erased));
        QCOMPARE(readBack == external, s.external == External::Image);
        QCOMPARE(erased, s.external == External::Erased);
        QCOMPARE(device->mode(), succeeded || s.serial.size() == 9 ? DeviceMode::Application
                                                                   : DeviceMode::Bootloader);
    }

    // With two devices running their application, the process-wide serial filter keeps the run
    // on the chosen one across the reset, which brings it back under a new device number.
    void chosenDeviceAcrossTheReset()
    {
        DebugCapture quiet;
        DeviceOptions options;
        options.mode = DeviceMode::Application;
        options.reenumerateDelayMs = ReenumerateMs;
        const PluggedDevice chosen = SimTestBus::plugFresh(options); // libusb finds it last
        options.serial = "470000002";
        const PluggedDevice other = SimTestBus::plugAnother(options);
        const QByteArray untouched = other->readInternal(ApplicationBase, int(ApplicationSize));
        UsbDevice::set_serial_filter(SerialStringIndex, [](const QByteArray &descriptor) {
            return DeviceIdentity::serialFromDescriptor(descriptor).startsWith("470000001")
                       ? UsbDevice::SerialVerdict::Chosen
                       : UsbDevice::SerialVerdict::Other;
        });
        const QString fileName = dir.filePath(QStringLiteral("chosen.upg"));
        QString error;
        QVERIFY2(UpgradeFile::write(fileName, plain, &error), qPrintable(error));
        Run r;
        r.upgrader.setWaits({1, 1, 1, 5, 1});
        r.upgrader.slotSetFileName(fileName);
        r.upgrader.start();
        QVERIFY(r.wait());
        UsbDevice::set_serial_filter(SerialStringIndex, {});
        QVERIFY2(r.upgrader.succeeded(), qPrintable(r.texts.join('|')));
        QCOMPARE(chosen->readInternal(ApplicationBase, int(ApplicationSize)),
                 UpgradeFile::applicationPart(plain));
        QCOMPARE(other->readInternal(ApplicationBase, int(ApplicationSize)), untouched);
        QCOMPARE(other->mode(), DeviceMode::Application);
    }

    // A deadline ends the wait for a device that never returns before the counts do.
    void resetDeadline()
    {
        DebugCapture debug;
        DeviceOptions options;
        options.mode = DeviceMode::Application;
        const PluggedDevice device = SimTestBus::plugFresh(options);
        QVERIFY(device->addFault("unplug:request=0x04"));
        USBTQ470 usb;
        QCOMPARE(usb.connect(), 0);
        BootloaderReset reset(usb, {1, 1, 5, 30});
        reset.requestReset();
        QVERIFY(!reset.awaitBootloader());
        const int connects = int(debug.lines().count(QStringLiteral("USB Connect")));
        QVERIFY2(connects > 1 && connects < BootloaderReset::ConnectFailures,
                 qPrintable(QString::number(connects)));
    }

    // Each run starts while a name is set, and logs the old or the new one. Without the lock a
    // thread-sanitizer build reports the race, once the name is copied by code it instruments:
    // Qt's own QString copy assignment is not.
    void fileNameSetDuringRun()
    {
        DebugCapture quiet;
        Run r;
        r.upgrader.start(); // no name yet: nothing to do, nothing logged
        QVERIFY(r.wait());
        const QStringList names{dir.filePath("a"), dir.filePath("b")};
        r.upgrader.slotSetFileName(names[0]);
        for (int run = 0; run < LockRuns; ++run) {
            r.upgrader.start();
            r.upgrader.slotSetFileName(names[run % 2]);
            QVERIFY(r.wait());
        }
        QCOMPARE(r.texts.size(), 2 * LockRuns);
        for (int i = 0; i < r.texts.size(); i += 2)
            QVERIFY(names.contains(r.texts[i]) && r.texts[i + 1] == "Wrong file header");
    }
};

TQ470_SIM_TEST_GUILESS_MAIN(TestUpgradeRun)
#include "tst_upgraderun.moc"
