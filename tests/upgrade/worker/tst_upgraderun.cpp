#include "bootloaderprotocol.h"
#include "bootloaderreset.h"
#include "debugcapture.h"
#include "deviceidentity.h"
#include "encoding.h"
#include "hexdump.h"
#include "intelhextext.h"
#include "simtestsupport.h"
#include "testchecks.h"
#include "upgradefile.h"
#include "upgrader.h"
#include "usbdevice.h"
#include "usbtq470.h"

#include <QDataStream>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <functional>

using namespace Bootloader;

namespace {

constexpr int RunTimeoutMs = 30000;
constexpr int ReenumerateMs = 50; // several polls of the worker's shortened wait
constexpr int BrokenPage = 5, All = int(ApplicationPages);
constexpr int StopPercent = 50, StopPage = 60; // floor(5k/6) first reaches 50 after page 60
// The waits of a run that is stopped: an hour each, told apart by their last digit, so that a
// wait the stop does not cut short outlasts the test.
constexpr int Hour = 3600000;
const Upgrader::Waits HourWaits{Hour + 1, Hour + 2, Hour + 3, Hour + 4, Hour + 5, 0, Hour + 6};
// Connects while the device reenumerates depend on timing; those after failed transfers are
// the command set's.
constexpr int AnyCount = -1;
constexpr int LockRuns = 20;
constexpr char Erased = char(0xFF);
constexpr quint8 VendorTypeMask = 0x60, VendorType = 0x40; // bmRequestType's type bits
enum class External { Erased, Image, Differs };
using Outcome = Upgrader::Outcome;

// The worker's lines that say what it waits for, and its outcome lines.
const QString AnswerWait = "Waiting for the Tq470 to answer ...";
const QString ResetWait = "Waiting for the Tq470 to restart in its bootloader ...";
const QString DropOutWait = "The Tq470 left the bus: waiting for it to come back ...";
const QString StartWait =
    "The start was not acknowledged: waiting for the Tq470 to come back in its application ...";
const QString Done = "Done: the Tq470 holds the new firmware and runs it.";
const QString InBootloader =
    "the Tq470 stays in its bootloader until a rerun of the upgrade repairs it.";
const QString NotTouched = "Nothing was sent to the Tq470: %1 is no upgrade file; choose the .upg "
                           "file of its firmware and start again.";
const QString NoDevice = "Nothing was written: no Tq470 answered; plug it in, check the USB cable "
                         "and start the upgrade again.";
const QString NotBack = "Nothing was written: the Tq470 did not come back as its bootloader after "
                        "the reset and may run either; replug it and start the upgrade again.";
const QString StoppedBefore = "Stopped before anything was written: the Tq470 holds its previous "
                              "firmware; run the upgrade again when ready.";
const QString NotStarted = "The firmware is written and verified, but its start could not be "
                           "confirmed: replug the Tq470, or start it with \"tq470-flash run\"";

struct Scenario
{
    QByteArray serial; // 9 bytes: application, 10: bootloader; empty: no device
    QStringList faults;
    QStringList log; // after the file name, the outcome line last
    Outcome outcome = Outcome::Failed;
    int connects = AnyCount;
    int pagesDone = 0; // -1: no progress at all
    int pageWrites = 0;
    int pagesStored = 0;
    External external = External::Erased;
    QByteArray file;
    int externalWrites = AnyCount;
    int externalReads = AnyCount;
    int starts = AnyCount; // requests 0x04
    // A line, or "percent:N", at which the run is asked to stop; such runs wait an hour where
    // they wait, unless the stop cuts it short. debugAfterStop: a pattern for the debug lines
    // after the stop.
    QString stopAt = {};
    QString debugAfterStop = "^(?!.*USB Connect)";
    // "refused" (this user may not open it), "held" (another handle holds it), "other chosen"
    // (the serial filter chooses another device)
    QString setup = {};
    bool resetTaken = false; // a device found in its application ends in its bootloader
};

// The worker and what it sent. Qt's wait is invisible to a thread sanitizer: the flag stored as
// the thread finishes orders the run's writes before the reads after it. The reports arrive on
// the worker's thread, so a stop asked for on one of them comes at that very point of the run.
struct Run
{
    USBTQ470 usb;
    Upgrader upgrader{&usb};
    QStringList texts;
    QList<int> percents;
    QList<int> writePercents;
    QList<int> readPercents;
    QString stopAt;
    std::function<void()> onStop;
    std::atomic<bool> finished{false};

    Run()
    {
        QObject::connect(&upgrader, &Upgrader::sendText, [this](const QString &t) {
            texts << t;
            stopIf(t);
        });
        QObject::connect(&upgrader, &Upgrader::sendPercent, [this](int p) {
            percents << p;
            stopIf(QStringLiteral("percent:%1").arg(p));
        });
        QObject::connect(&usb, &USBTQ470::sendPercentExtFlashWrite,
                         [this](int p) { writePercents << p; });
        QObject::connect(&usb, &USBTQ470::sendPercentExtFlashRead,
                         [this](int p) { readPercents << p; });
        QObject::connect(&upgrader, &QThread::finished,
                         [this] { finished.store(true, std::memory_order_release); });
    }
    void stopIf(const QString &report)
    {
        if (report != stopAt)
            return;
        upgrader.requestStop();
        if (onStop)
            onStop();
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

    QString writeFile(const QByteArray &bytes = {})
    {
        const QString fileName = dir.filePath(QStringLiteral("firmware.upg"));
        QString error;
        if (bytes.isEmpty() ? !UpgradeFile::write(fileName, plain, &error)
                            : !IntelHexText::write(fileName, bytes))
            qFatal("cannot write %s: %s", qPrintable(fileName), qPrintable(error));
        return fileName;
    }

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
        const QStringList reset = QStringList{app} + found.mid(1, 2) +
                                  QStringList{"Apllication mode", "Reset device", ResetWait};
        const QStringList written = found + QStringList{"OK", "Writting External Flash ... "};
        const QStringList verify = written + QStringList{"OK", "Verify External Flash ...  "};
        const QStringList verified = verify + QStringList{"OK"};
        const QStringList noReturn = reset + QStringList{"USB timout\nCheck USB cable", NotBack};
        const QString broken =
            QStringLiteral(":address=0x%1").arg(ApplicationBase + BrokenPage * PageSize, 0, 16);
        const int wholeWrite = int(UpgradeExternalSize / ExternalFlashWriteChunk);
        const int wholeRead = int(UpgradeExternalSize / ExternalFlashReadChunk);
        const int chunkWrites = int(ExternalFlashReadChunk / ExternalFlashWriteChunk);
        const auto add = [](const char *name, const Scenario &s) { QTest::newRow(name) << s; };
        const auto scenario = [](const QByteArray &serial, const QStringList &faults,
                                 const QStringList &log, Outcome outcome) {
            Scenario s;
            s.serial = serial;
            s.faults = faults;
            s.log = log;
            s.outcome = outcome;
            return s;
        };
        // A run that wrote and verified everything, whatever came after.
        const auto whole = [&](Scenario s) {
            s.pagesDone = s.pageWrites = s.pagesStored = All;
            s.external = External::Image;
            return s;
        };
        const auto file = [&](const char *name, const QByteArray &bytes, const char *text) {
            Scenario s = scenario(boot, {}, {text, NotTouched.arg(dir.filePath("firmware.upg"))},
                                  Outcome::FileRejected);
            s.connects = 0;
            s.pagesDone = -1;
            s.file = bytes;
            add(name, s);
        };

        Scenario s = whole(scenario(
            boot,
            {"stall:request=0x01:nth=1", "stall:request=0x03:nth=5:times=2",
             "stall:request=0x01:nth=20", "corrupt:request=0x01:nth=40",
             "corrupt:request=0x05:address=0xc600:times=3", "corrupt:request=0x06:nth=300"},
            verified + QStringList{Done}, Outcome::Succeeded));
        s.pageWrites = All + 4;
        // The chunk written wrong: read three times, written again once and read; the chunk
        // read wrong three times: read again until it matches. Then the whole region once more.
        s.externalWrites = wholeWrite + chunkWrites;
        s.externalReads = wholeRead + 3 + 1 + 3 + wholeRead;
        add("success from the bootloader, with retried version read, pages and verify read", s);
        s = whole(scenario(boot,
                           {"corrupt:request=0x06:nth=300",
                            "corrupt:request=0x05:address=0x200:nth=2:times=4"},
                           verify + QStringList{"Error", "read_buffer", "<other dump>",
                                                "ext_datas.data()", "<dump of the image>",
                                                "Not finished: the firmware is written, but the "
                                                "external flash reads back different from the "
                                                "file; " + InBootloader},
                           Outcome::Failed));
        s.externalWrites = wholeWrite + chunkWrites;
        s.externalReads = wholeRead + 3 + 1 + wholeRead + 3;
        add("a chunk that reads different in the second read after a repair: not written again",
            s);
        s = whole(scenario(app, {},
                           reset + QStringList{"Disconnect", "Connect", "Serial:" + boot} +
                               verified.mid(4) + QStringList{Done},
                           Outcome::Succeeded));
        s.externalReads = wholeRead;
        s.starts = 2;
        add("success from the application", s);
        file("wrong header", "no upgrade file", "Wrong file header");
        file("wrong version", // "01" in UTF-16 made "02"
             QByteArray(valid).replace(QByteArray::fromHex("0031"), QByteArray::fromHex("0032")),
             "Wrong file version");
        file("file ends inside the image", valid.chopped(1), "Wrong file size");
        s = scenario("", {}, {AnswerWait, "USB Timeout\nCheck USB Cable", NoDevice},
                     Outcome::NotConnected);
        s.connects = Upgrader::ConnectTries;
        add("no device", s);
        s.serial = boot;
        s.setup = "other chosen";
        add("a serial filter that matches no attached device: no device, nothing written", s);
        s.setup = "refused";
        s.log.last() = "Nothing was written: access to the Tq470 on bus BUS device DEV was "
                       "refused; install the udev rule 60-tq470.rules, reload udev, replug the "
                       "Tq470 and start the upgrade again (the rule lets in the user at the desk "
                       "and the members of the group plugdev).";
        add("a device this user may not open: the rule to install", s);
        s.setup = "held";
        s.connects = 1 + Upgrader::ConnectTries; // the holder's own first
        s.log.last() = "Nothing was written: the Tq470 on bus BUS device DEV is in use by another "
                       "program; close that program and start the upgrade again.";
        add("a device another handle holds: in use", s);
        s = scenario(app + 'a', {},
                     QStringList{app + 'a'} + found.mid(1, 2) +
                         QStringList{"Serial:" + app + 'a',
                                     "Nothing was written: the Tq470's serial tells neither its "
                                     "bootloader nor its application; replug it and start the "
                                     "upgrade again."},
                     Outcome::Failed);
        s.connects = 1;
        add("serial of 10 bytes ending in a", s);
        s = scenario(boot, {"stall:request=0x01:address=0x8003fd0"},
                     {boot, "Bootloader Version Read Error",
                      "Nothing was written: the Tq470 did not answer the read of its version; "
                      "check the USB cable and start the upgrade again."},
                     Outcome::Failed);
        s.connects = Upgrader::IdentifyAttempts;
        add("version block unreadable three times", s);
        s = scenario(boot, {"unplug:nth=2"},
                     {DropOutWait, "USB Timeout\nCheck USB Cable", NoDevice},
                     Outcome::NotConnected);
        add("a device that leaves at the serial read and stays away: no device", s);
        s = scenario(boot, {"stall:request=0x03:times=2" + broken, "corrupt:request=0x01" + broken},
                     found + QStringList{"ERROR", QStringLiteral("Not finished: the application "
                                                                 "is partly written (%1 of %2 "
                                                                 "pages); ")
                                                                  .arg(BrokenPage)
                                                                  .arg(All) +
                                                              InBootloader},
                     Outcome::Failed);
        s.pagesDone = BrokenPage;
        s.pageWrites = BrokenPage + 3;
        s.pagesStored = BrokenPage + 1;
        add("page fails on every attempt, written twice, verified once", s);
        s = whole(scenario(boot, {"stall:request=0x06:address=0"},
                           written + QStringList{"Error", "Not finished: the application is "
                                                          "written, the external flash only "
                                                          "partly; " + InBootloader},
                           Outcome::Failed));
        s.external = External::Erased;
        add("external flash write fails", s);
        s = whole(scenario(boot, {"stall:request=0x05"},
                           verify + QStringList{"Error", "Not finished: the firmware is written, "
                                                         "but the external flash could not be "
                                                         "read back; " + InBootloader},
                           Outcome::Failed));
        s.externalReads = 1 + ExternalFlashRetries;
        add("external flash read fails", s);
        s = whole(scenario(boot, {"corrupt:request=0x06:address=0x200"},
                           verify + QStringList{"Error", "read_buffer", "<dump of what was read>",
                                                "ext_datas.data()", "<dump of the image>",
                                                "Not finished: the firmware is written, but the "
                                                "external flash reads back different from the "
                                                "file; " + InBootloader},
                           Outcome::Failed));
        s.connects = 1;
        s.external = External::Differs;
        s.externalWrites = wholeWrite + Upgrader::ChunkWriteAttempts * chunkWrites;
        s.externalReads =
            wholeRead + Upgrader::ChunkReadAttempts * (1 + Upgrader::ChunkWriteAttempts);
        add("external flash differs after every write: each try read three times", s);
        s = whole(scenario(boot,
                           {"unplug:request=0x03:nth=50:replug=300",
                            "unplug:request=0x06:nth=200:replug=300", "stall:request=0x04:nth=1"},
                           found + QStringList{DropOutWait, "OK", "Writting External Flash ... ",
                                               DropOutWait, "OK", "Verify External Flash ...  ",
                                               "OK", StartWait, Done},
                           Outcome::Succeeded));
        s.pageWrites = All + 1;
        add("device leaves the bus for 300 ms in a page and the external flash write, first "
            "start stalls",
            s);
        s = whole(scenario(boot, {"lostack:request=4"}, verified + QStringList{StartWait, Done},
                           Outcome::Succeeded));
        s.starts = 1;
        add("start's acknowledgement lost: the application seen on the bus", s);
        s = whole(scenario(boot, {"stall:request=0x04"},
                           verified + QStringList{StartWait, NotStarted}, Outcome::Failed));
        s.starts = 1 + Upgrader::StartResends;
        add("start never acknowledged", s);
        s = scenario(app, {"unplug:request=0x04"}, noReturn, Outcome::Failed);
        s.connects = 1 + Upgrader::BootloaderConnectFailures;
        add("device never returns after the reset", s);
        s = scenario(app, {"stall:request=0x04"}, noReturn, Outcome::Failed);
        s.connects = 1 + Upgrader::BootloaderAnswerAttempts;
        s.starts = 1 + BootloaderReset::ResetResends;
        add("device keeps its application after the reset: the reset sent again, twice", s);
        s = scenario(app, {"othermode:letter=x"}, noReturn, Outcome::Failed);
        s.starts = 1;
        s.resetTaken = true;
        add("device back from the reset with another mode letter: counted, not reset again", s);
        s = whole(scenario(app, {"stall:request=0x04:nth=1"},
                           reset + QStringList{"Disconnect", "Connect", "Serial:" + boot} +
                               verified.mid(4) + QStringList{Done},
                           Outcome::Succeeded));
        s.starts = 3;
        add("a reset that stalls once is sent again", s);

        // Stopped at a point the run reaches for certain.
        s = scenario("", {}, {AnswerWait, StoppedBefore}, Outcome::Stopped);
        s.stopAt = AnswerWait;
        add("stop in the connect retries", s);
        s = scenario(boot, {}, {boot, StoppedBefore}, Outcome::Stopped);
        s.stopAt = boot;
        add("stop in the identification", s);
        s = scenario(app, {},
                     reset + QStringList{"Stopped while waiting for the bootloader after the "
                                         "reset: nothing was written; the Tq470 may be in its "
                                         "bootloader or its application; a rerun continues."},
                     Outcome::Stopped);
        s.stopAt = ResetWait;
        s.starts = 1;
        s.resetTaken = true;
        // The reset's own pause comes first and is cut short.
        s.debugAfterStop = QStringLiteral("^pause of %1 ms$").arg(HourWaits.resetMs);
        add("stop in the wait for the bootloader after the reset", s);
        s = scenario(boot, {},
                     found + QStringList{QStringLiteral("Stopped while writing the application "
                                                        "(%1 of %2 pages written): ")
                                             .arg(StopPage)
                                             .arg(All) +
                                         InBootloader},
                     Outcome::Stopped);
        s.stopAt = QStringLiteral("percent:%1").arg(StopPercent);
        s.pagesDone = s.pageWrites = s.pagesStored = StopPage;
        add("stop half-way through the application", s);
        s = scenario(boot, {"unplug:request=0x03:nth=3"},
                     found + QStringList{DropOutWait,
                                         QStringLiteral("Stopped while writing the application "
                                                        "(2 of %1 pages written): ")
                                                 .arg(All) +
                                             InBootloader},
                     Outcome::Stopped);
        s.stopAt = DropOutWait;
        s.pagesDone = s.pagesStored = 2;
        s.pageWrites = 3;
        add("stop in the wait for a device that dropped out", s);
        s = whole(scenario(boot, {},
                           written + QStringList{"Stopped while writing the external flash: the "
                                                 "application is written, the external flash "
                                                 "partly; " + InBootloader},
                           Outcome::Stopped));
        s.stopAt = written.last();
        s.external = External::Erased;
        s.externalWrites = 0;
        add("stop before the external flash", s);
        s = whole(scenario(boot, {},
                           verify + QStringList{"Stopped while verifying the external flash: the "
                                                "firmware is written but not verified; " +
                                                InBootloader},
                           Outcome::Stopped));
        s.stopAt = verify.last();
        s.externalReads = 0;
        add("stop before the verify", s);
        s = whole(scenario(boot, {"stall:request=0x04"},
                           verified + QStringList{StartWait,
                                                  "Stopped while waiting for the new application "
                                                  "to start: the firmware is written and "
                                                  "verified; replug the Tq470, or start it with "
                                                  "\"tq470-flash run\"."},
                           Outcome::Stopped));
        s.stopAt = StartWait;
        s.starts = 2; // the one resend before the first pause
        s.debugAfterStop = "";
        add("stop in the wait for an unacknowledged start", s);
    }

    void run()
    {
        QFETCH(Scenario, s);
        DebugCapture debug; // also keeps the transfer layer's lines out
        PluggedDevice device;
        if (!s.serial.isEmpty()) {
            DeviceOptions options;
            options.mode = s.serial.size() == 9 ? DeviceMode::Application : DeviceMode::Bootloader;
            if (s.serial.size() == 10 && !s.serial.endsWith(BootloaderSerialMarker))
                options.serialOverride = QString::fromLatin1(s.serial); // for good
            options.reenumerateDelayMs = ReenumerateMs;
            options.refuseAccess = s.setup == "refused";
            device = SimTestBus::plugFresh(options);
            for (const QString &fault : s.faults)
                QVERIFY(device->addFault(fault));
        }
        USBTQ470 holder;
        if (s.setup == "held")
            QCOMPARE(holder.connect(), 0);
        if (s.setup == "other chosen")
            UsbDevice::set_serial_filter(SerialStringIndex, [](const QByteArray &) {
                return UsbDevice::SerialVerdict::Other;
            });
        const auto chooseAny =
            qScopeGuard([] { UsbDevice::set_serial_filter(SerialStringIndex, {}); });
        const QString fileName = writeFile(s.file);
        Run r;
        int stoppedAt = -1;
        r.stopAt = s.stopAt;
        r.onStop = [&] { stoppedAt = int(debug.lines().size()); };
        // The bootloader polled every 5 ms, others 1 ms.
        r.upgrader.setWaits(s.stopAt.isEmpty() ? Upgrader::Waits{1, 1, 1, 5, 1} : HourWaits);
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
        QStringList expected = QStringList{fileName} + s.log;
        if (device.device) // the node the device has now
            expected.last().replace(QLatin1String("bus BUS device DEV"),
                                    SimTestBus::bus().nodePath(device.id).section('/', -2).replace(
                                        '/', QLatin1String(" device ")).prepend("bus "));
        QCOMPARE(log, expected);
        QCOMPARE(r.upgrader.outcomeText(), expected.last());
        QCOMPARE(r.upgrader.outcome(), s.outcome);
        QCOMPARE(r.upgrader.succeeded(), s.outcome == Outcome::Succeeded);
        QCOMPARE(r.upgrader.deviceSerial(),
                 s.log.first() == s.serial ? s.serial.left(SerialDigits) : QByteArray());
        QList<int> progress;
        for (int k = 0; k <= s.pagesDone; ++k)
            progress << 5 * k / 6; // floor(5k/6) after page k
        QCOMPARE(r.percents, progress);
        // The external flash's bars never move back, repairs or not.
        for (const QList<int> &bar : {r.writePercents, r.readPercents})
            QVERIFY(std::is_sorted(bar.begin(), bar.end()) && (bar.isEmpty() || bar.last() == 100));
        if (s.connects != AnyCount)
            QCOMPARE(debug.lines().count(QStringLiteral("USB Connect")), s.connects);
        QCOMPARE(stoppedAt >= 0, !s.stopAt.isEmpty());
        if (stoppedAt >= 0)
            verifyMatches(debug.lines().mid(stoppedAt).join('\n'), s.debugAfterStop);
        if (!device.device)
            return;

        const QList<LoggedRequest> requests = device->requestLog();
        QVERIFY(s.outcome != Outcome::FileRejected || requests.isEmpty());
        const auto sent = [&](quint8 request) { // vendor requests only: GET_DESCRIPTOR is 6 too
            return int(std::count_if(requests.begin(), requests.end(), [&](const LoggedRequest &r) {
                return r.request == request && (r.requestType & VendorTypeMask) == VendorType;
            }));
        };
        QCOMPARE(sent(RequestWritePage), s.pageWrites);
        for (const auto &[request, count] :
             {std::pair(RequestWriteExternalFlash, s.externalWrites),
              std::pair(RequestReadExternalFlash, s.externalReads),
              std::pair(RequestRunApplication, s.starts)})
            if (count != AnyCount)
                QCOMPARE(sent(request), count);
        const int storedBytes = s.pagesStored * int(PageSize);
        QCOMPARE(device->readInternal(ApplicationBase, int(ApplicationSize)),
                 UpgradeFile::applicationPart(plain).left(storedBytes) +
                     QByteArray(int(ApplicationSize) - storedBytes, Erased));
        QCOMPARE(readBack == external, s.external == External::Image);
        QCOMPARE(erased, s.external == External::Erased);
        QCOMPARE(device->mode(),
                 s.outcome == Outcome::Succeeded || (s.serial.size() == 9 && !s.resetTaken)
                     ? DeviceMode::Application
                     : DeviceMode::Bootloader);
    }

    // A device that leaves the bus for 300 ms at any of the first requests, in either mode, is
    // waited for, said at most once and as the only wait, and the upgrade succeeds.
    void dropOutAtTheStart_data()
    {
        QTest::addColumn<bool>("application");
        QTest::addColumn<int>("nth");
        for (const bool application : {false, true})
            for (int nth = 1; nth <= (application ? 8 : 4); ++nth)
                QTest::addRow("%s, request %d", application ? "application" : "bootloader", nth)
                    << application << nth;
    }
    void dropOutAtTheStart()
    {
        QFETCH(bool, application);
        QFETCH(int, nth);
        DebugCapture quiet;
        DeviceOptions options;
        options.mode = application ? DeviceMode::Application : DeviceMode::Bootloader;
        options.reenumerateDelayMs = ReenumerateMs;
        const PluggedDevice device = SimTestBus::plugFresh(options);
        QVERIFY(device->addFault(QStringLiteral("unplug:nth=%1:replug=300").arg(nth)));
        Run r;
        // The shortened polls would count their connects off before the device is back.
        r.upgrader.setWaits({1, 1, 1, 5, 1, RunTimeoutMs});
        r.upgrader.slotSetFileName(writeFile());
        r.upgrader.start();
        QVERIFY(r.wait());
        QVERIFY2(r.upgrader.succeeded(), qPrintable(r.texts.join('|')));
        QVERIFY(r.texts.count(DropOutWait) <= 1 && !r.texts.contains(AnswerWait));
        QCOMPARE(r.texts.last(), Done);
    }

    // The reset's pause comes before the handle is closed, the second pause after it, and only
    // then is the bootloader looked for.
    void resetPausesAroundTheClose()
    {
        DebugCapture debug;
        DeviceOptions options;
        options.mode = DeviceMode::Application;
        options.reenumerateDelayMs = ReenumerateMs;
        const PluggedDevice device = SimTestBus::plugFresh(options);
        USBTQ470 usb;
        QCOMPARE(usb.connect(), 0);
        BootloaderReset reset(usb, {30, 20, 5, 0});
        QVERIFY(reset.requestReset());
        QVERIFY(reset.awaitBootloader());
        const QStringList lines = debug.lines();
        const QString request = "USB Control Send bRequest=4, wValue=0, wIndex=0 - OK.";
        QStringList order;
        for (const QString &line : lines.mid(lines.indexOf(request)))
            if (line.startsWith("pause of") || line == "USB Disconnect" || line == "USB Connect")
                order << line;
        QCOMPARE(order.mid(0, 4), QStringList({"pause of 30 ms", "USB Disconnect",
                                               "pause of 20 ms", "USB Connect"}));
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
        const QString fileName = writeFile();
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
        QCOMPARE(r.texts.size(), 3 * LockRuns); // the name, the reason, the outcome
        for (int i = 0; i < r.texts.size(); i += 3)
            QVERIFY(names.contains(r.texts[i]) && r.texts[i + 1] == "Wrong file header" &&
                    r.texts[i + 2] == NotTouched.arg(r.texts[i]));
    }
};

TQ470_SIM_TEST_GUILESS_MAIN(TestUpgradeRun)
#include "tst_upgraderun.moc"
