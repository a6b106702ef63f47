#include "bootloaderprotocol.h"
#include "debugcapture.h"
#include "encoding.h"
#include "hexdump.h"
#include "intelhextext.h"
#include "simtestsupport.h"
#include "upgradefile.h"
#include "upgrader.h"
#include "usbtq470.h"

#include <QDataStream>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace Bootloader;

namespace {

constexpr int RunTimeoutMs = 30000;
constexpr int ReenumerateMs = 50; // several polls of the worker's shortened wait
constexpr int BrokenPage = 5;
constexpr int All = int(ApplicationPages);
// Connects while the device reenumerates depend on timing; those after failed transfers are
// the command set's.
constexpr int AnyCount = -1;
constexpr int LockRuns = 20;
constexpr int NamesPerRun = 200;
constexpr char Erased = char(0xFF);
enum class External { Erased, Image, Differs };

struct Scenario
{
    QByteArray serial; // 9 bytes: application, 10: bootloader; empty: no device
    QStringList faults;
    QStringList log;    // after the file name
    int pagesDone = -1; // -1: no progress at all
    int pageWrites = 0;
    int pagesStored = 0;
    External external = External::Erased;
    int connects = 0;
    QByteArray file = "valid"; // null: no such file
};

QByteArray stream(const char *header, const char *version, const QByteArray &image)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << QString::fromLatin1(header) << QString::fromLatin1(version) << image;
    return bytes;
}

QByteArray dumpBody(const QByteArray &dump)
{
    return dump.mid(dump.indexOf('\n', 1));
}

} // namespace

Q_DECLARE_METATYPE(Scenario)

// The upgrade worker against a simulated Tq470 on the emulated bus, through the real libusb.
class TestUpgradeRun : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QByteArray plain{UpgradeFile::ImageSize, '\0'};
    std::unique_ptr<DebugCapture> debug; // also keeps the transfer layer's lines out

private Q_SLOTS:
    void initTestCase()
    {
        for (int i = 0; i < plain.size(); ++i)
            plain[i] = char(i % 251); // every page differs from its neighbours and from erased
    }
    void init() { debug = std::make_unique<DebugCapture>(); }
    void cleanup()
    {
        SimTestBus::unplugAll();
        debug.reset();
    }

    void run_data()
    {
        QTest::addColumn<Scenario>("s");
        const QStringList found{"470000001b", "Tq470 BL 1.07", "2026-11-20", "Bootloader mode",
                                "Writting firmware ... "};
        const QStringList reset = QStringList{"470000001"} + found.mid(1, 2) +
                                  QStringList{"Apllication mode", "Reset device"};
        const QStringList written = found + QStringList{"OK", "Writting External Flash ... "};
        const QStringList verify = written + QStringList{"OK", "Verify External Flash ...  "};
        const QString broken =
            QStringLiteral(":address=0x%1").arg(ApplicationBase + BrokenPage * PageSize, 0, 16);
        const auto row = [](const char *name, const QByteArray &serial, const QStringList &faults,
                            const QStringList &log, int pagesDone, int pageWrites, int pagesStored,
                            External external, int connects, const QByteArray &file = "valid") {
            QTest::newRow(name) << Scenario{serial,      faults,   log,      pagesDone, pageWrites,
                                            pagesStored, external, connects, file};
        };
        const auto file = [&](const char *name, const QByteArray &bytes, const char *text) {
            row(name, "470000001b", {}, {text}, -1, 0, 0, External::Erased, 0, bytes);
        };

        row("success from the bootloader, with page retries", "470000001b",
            {"stall:request=0x03:nth=5:times=2", "stall:request=0x01:nth=20",
             "corrupt:request=0x01:nth=40"},
            verify + QStringList{"OK"}, All, All + 4, All, External::Image, AnyCount);
        row("success from the application", "470000001", {},
            reset + QStringList{"Disconnect", "Connect", "Serial:470000001b"} + verify.mid(4) +
                QStringList{"OK"},
            All, All, All, External::Image, AnyCount);
        file("wrong header", stream("Tq470 Upgrade File Headr", "01", plain), "Wrong file header");
        file("missing file", QByteArray(), "Wrong file header");
        file("wrong version", stream(UpgradeFile::Header, "02", plain), "Wrong file version");
        file("short image", stream(UpgradeFile::Header, UpgradeFile::Version, plain.chopped(4)),
             "Wrong file size");
        row("no device", "", {}, {"USB Timeout\nCheck USB Cable"}, 0, 0, 0, External::Erased, 4);
        row("serial of 10 bytes ending in a", "470000001a", {},
            QStringList{"470000001a"} + found.mid(1, 2) + QStringList{"Serial:470000001a"}, 0, 0, 0,
            External::Erased, 1);
        row("version block unreadable", "470000001b", {"stall:request=0x01:nth=1"},
            {"470000001b", "Bootloader Version Read Error"}, 0, 0, 0, External::Erased, 1);
        row("page write fails on every attempt", "470000001b",
            {"stall:request=0x03:times=3" + broken}, found + QStringList{"ERROR"}, BrokenPage,
            BrokenPage + 3, BrokenPage, External::Erased, AnyCount);
        row("page never verifies", "470000001b", {"corrupt:request=0x01:times=3" + broken},
            found + QStringList{"ERROR"}, BrokenPage, BrokenPage + 3, BrokenPage + 1,
            External::Erased, 1);
        row("external flash write fails", "470000001b", {"stall:request=0x06:address=0"},
            written + QStringList{"Error"}, All, All, All, External::Erased, AnyCount);
        row("external flash read fails", "470000001b", {"stall:request=0x05"},
            verify + QStringList{"Error"}, All, All, All, External::Image, AnyCount);
        row("external flash mismatch", "470000001b", {"corrupt:request=0x06:address=0x200"},
            verify + QStringList{"Error", "read_buffer", "<dump of what was read>",
                                 "ext_datas.data()", "<dump of the image>"},
            All, All, All, External::Differs, 1);
        row("device never returns after the reset", "470000001", {"unplug:request=0x04"},
            reset + QStringList{"USB timout\nCheck USB cable"}, 0, 0, 0, External::Erased,
            1 + Upgrader::BootloaderConnectFailures);
        row("device keeps its application after the reset", "470000001", {"stall:request=0x04"},
            reset + QStringList{"USB timout\nCheck USB cable"}, 0, 0, 0, External::Erased, 1 + 10);
    }

    void run()
    {
        QFETCH(Scenario, s);
        PluggedDevice device;
        if (!s.serial.isEmpty()) {
            DeviceOptions options;
            options.mode = s.serial.size() == 9 ? DeviceMode::Application : DeviceMode::Bootloader;
            if (s.serial.size() == 10 && !s.serial.endsWith('b'))
                options.serialOverride = QString::fromLatin1(s.serial);
            options.reenumerateDelayMs = ReenumerateMs;
            device = SimTestBus::plugFresh(options);
            for (const QString &fault : s.faults)
                QVERIFY(device->addFault(fault));
        }
        QByteArray valid = stream(UpgradeFile::Header, UpgradeFile::Version, plain);
        EncodeBuffer(valid.data() + valid.size() - plain.size(), int(plain.size()));
        const QString fileName = dir.filePath(QStringLiteral("firmware.upg"));
        QFile::remove(fileName);
        QVERIFY(s.file.isNull() ||
                IntelHexText::write(fileName, s.file == "valid" ? valid : s.file));

        USBTQ470 usb;
        Upgrader upgrader(&usb);
        Upgrader::Waits waits;
        waits.connectRetryMs = waits.resetMs = waits.resetDisconnectMs = 1;
        waits.bootloaderPollMs = 5;
        waits.applicationStartMs = 1;
        upgrader.setWaits(waits);
        QSignalSpy texts(&upgrader, &Upgrader::sendText);
        QSignalSpy percents(&upgrader, &Upgrader::sendPercent);
        upgrader.slotSetFileName(fileName);
        upgrader.start();
        QVERIFY(upgrader.wait(RunTimeoutMs));

        const QByteArray external = UpgradeFile::externalPart(plain);
        QByteArray stored = device.device ? device->readExternal(0, external.size()) : QByteArray();
        QByteArray readBack = stored;
        DecodeBuffer(readBack.data(), int(readBack.size()));
        QStringList log;
        for (const QList<QVariant> &emission : texts) {
            const QByteArray text = emission.at(0).toString().toLatin1();
            if (!text.startsWith("\n src address: "))
                log << QString::fromLatin1(text);
            else if (dumpBody(text) == dumpBody(HexDump(external.constData(), external.size())))
                log << "<dump of the image>";
            else
                log << (dumpBody(text) == dumpBody(HexDump(readBack.constData(), readBack.size()))
                            ? "<dump of what was read>"
                            : "<other dump>");
        }
        QCOMPARE(log, QStringList{fileName} + s.log);
        QList<int> progress;
        QList<int> expectedProgress;
        for (const QList<QVariant> &emission : percents)
            progress << emission.at(0).toInt();
        for (int k = 0; k <= s.pagesDone; ++k)
            expectedProgress << 5 * k / 6; // floor(5k/6) after page k
        QCOMPARE(progress, expectedProgress);
        const bool succeeded = s.log.last() == QLatin1String("OK"); // only when all verified
        QCOMPARE(upgrader.succeeded(), succeeded);
        if (s.connects != AnyCount)
            QCOMPARE(debug->lines().count(QStringLiteral("USB Connect")), s.connects);
        if (!device.device)
            return;

        const QList<LoggedRequest> requests = device->requestLog();
        QVERIFY(s.pagesDone >= 0 || requests.isEmpty());
        QCOMPARE(int(std::count_if(requests.begin(), requests.end(),
                                   [](const LoggedRequest &r) { return r.request == 0x03; })),
                 s.pageWrites);
        const int storedBytes = s.pagesStored * int(PageSize);
        QCOMPARE(device->readInternal(ApplicationBase, int(ApplicationSize)),
                 UpgradeFile::applicationPart(plain).left(storedBytes) +
                     QByteArray(int(ApplicationSize) - storedBytes, Erased));
        QByteArray encoded = external;
        EncodeBuffer(encoded.data(), int(encoded.size()));
        QCOMPARE(stored == encoded, s.external == External::Image);
        QCOMPARE(stored == QByteArray(stored.size(), Erased), s.external == External::Erased);
        QCOMPARE(device->mode(), succeeded || s.serial.size() == 9 ? DeviceMode::Application
                                                                   : DeviceMode::Bootloader);
    }

    // Names set while runs read them: each run logs one of them, whole. Without the lock a
    // thread-sanitizer build reports the race here.
    void fileNameSetDuringRun()
    {
        USBTQ470 usb;
        Upgrader upgrader(&usb);
        QSignalSpy texts(&upgrader, &Upgrader::sendText);
        upgrader.start(); // no name yet: nothing to do, nothing logged
        QVERIFY(upgrader.wait(RunTimeoutMs));
        const QStringList names{dir.filePath(QStringLiteral("a")),
                                dir.filePath(QStringLiteral("b"))};
        upgrader.slotSetFileName(names[0]);
        for (int run = 0; run < LockRuns; ++run) {
            upgrader.start();
            for (int i = 0; i < NamesPerRun; ++i)
                upgrader.slotSetFileName(names[i % 2]);
            QVERIFY(upgrader.wait(RunTimeoutMs));
        }
        QCOMPARE(texts.size(), 2 * LockRuns);
        for (int i = 0; i < texts.size(); i += 2) {
            QVERIFY(names.contains(texts[i].at(0).toString()));
            QCOMPARE(texts[i + 1].at(0).toString(), QStringLiteral("Wrong file header"));
        }
    }
};

TQ470_SIM_TEST_GUILESS_MAIN(TestUpgradeRun)
#include "tst_upgraderun.moc"
