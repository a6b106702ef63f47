#include "bootloaderprotocol.h"
#include "deviceidentity.h"
#include "devicestatestore.h"
#include "encoding.h"
#include "pcapngfile.h"
#include "preloadenvironment.h"
#include "processrun.h"
#include "samplefirmware.h"
#include "simtestsupport.h"
#include "simulatorlauncher.h"
#include "usbmontrace.h"

#include <cerrno>
#include <thread>

#include <usb.h>

using namespace Bootloader;

namespace {

constexpr int TimeoutMs = 2000;
int busDevices = 0; // on the bus, root hub included, when openTq470() last looked

// One token per step of a script. A step is REQUEST:ADDRESS:LENGTH (hexadecimal address, data
// 0x11 encoded), r: 1:08000000:16, R: 1:08000010:16 or w: 3:08004000:2048, sent by host process
// 1, or by host process 2 after "2/"; s reads the serial's string descriptor, whose text is its
// token. Tokens: S stalled, T<ms> timed out, U<ms> unplugged (U: for good), L<ms> left the bus
// with the acknowledgement lost, else the bytes moved; then (but after S) *N when N bytes of the
// answer, the stored page or the test block differ from what a sound device gives.
QString runScript(SimulatedDevice &device, const QString &script)
{
    const SetupPacket serialRequest{0x80, 6, quint16(0x0300 | SerialStringIndex), 0, 255};
    const QHash<QString, QString> named = {
        {"r", "1:08000000:16"}, {"R", "1:08000010:16"}, {"w", "3:08004000:2048"}};
    QStringList tokens;
    for (QString step : script.split(' ')) {
        const qint64 host = step.startsWith(QLatin1String("2/")) ? 2 : 1;
        step.remove(QLatin1String("2/"));
        if (step == QLatin1String("s")) {
            const QByteArray units =
                device.controlTransfer(serialRequest, {}, TimeoutMs, host).data.mid(2);
            tokens << QString::fromUtf16(reinterpret_cast<const char16_t *>(units.constData()),
                                         units.size() / 2);
            continue;
        }
        const QStringList part = named.value(step, step).split(':');
        const quint8 request = quint8(part[0].toUInt());
        const quint32 address = part[1].toUInt(nullptr, 16);
        const bool in = request == RequestReadMemory || request == RequestReadExternalFlash;
        const SetupPacket setup{quint8(in ? 0xC0 : 0x40), request, addressLow(address),
                                addressHigh(address), quint16(part[2].toInt())};
        QByteArray sent = in ? QByteArray() : QByteArray(setup.length, '\x11');
        EncodeBufferQuietly(sent.data(), int(sent.size()));
        const TransferOutcome outcome = device.controlTransfer(setup, sent, TimeoutMs, host);
        // IN requests leave the device as it was: a sound copy gives the answer due.
        QByteArray got = outcome.data, want = Tq470Model(device.state(), {})
                                                  .handleControl(setup, sent)
                                                  .data.left(got.size());
        if (request == RequestWritePage)
            std::tie(got, want) = std::make_pair(device.readInternal(address, setup.length),
                                                 QByteArray(setup.length, '\x11'));
        else if (request == RequestWriteTestBlock)
            std::tie(got, want) = std::make_pair(device.testBlock(), sent);
        int differing = qAbs(got.size() - want.size());
        for (int i = 0; i < qMin(got.size(), want.size()); ++i)
            differing += got.at(i) != want.at(i) ? 1 : 0;
        const QString byStatus[] = {QString::number(outcome.transferred), "S",
                                    QStringLiteral("T%1").arg(outcome.delayMs),
                                    QStringLiteral("U%1").arg(outcome.returnAfterMs),
                                    QStringLiteral("L%1").arg(outcome.returnAfterMs)};
        const bool stalled = outcome.status == TransferOutcome::Status::Stalled;
        tokens << byStatus[int(outcome.status)] +
                      (differing && !stalled ? "*" + QString::number(differing) : "");
    }
    return tokens.join(' ').replace(QLatin1String("U-1"), QLatin1String("U"));
}

usb_dev_handle *openTq470()
{
    usb_find_busses();
    usb_find_devices();
    usb_dev_handle *handle = nullptr;
    busDevices = 0;
    for (struct usb_device *device = usb_get_busses()->devices; device; device = device->next) {
        if (!handle && device->descriptor.idProduct == ProductId)
            handle = usb_open(device);
        ++busDevices;
    }
    return handle;
}

QString identify(usb_dev_handle *handle)
{
    char answer[2] = {};
    const int result = usb_control_msg(handle, 0xC0, RequestIdentity, 0, 0, answer, 2, TimeoutMs);
    return QStringLiteral("identity %1 %2").arg(result).arg(QByteArray(answer, 2).toHex());
}

// A trace of steps such as runScript()'s, answered by a device with serial 261205007 that starts
// in its bootloader (its application after a first step A). A step [N/]S[!STATUS|*|^] goes to
// device N of bus 1 (else to the last one, first 2): s reads the serial, i identifies, v reads
// the version block, r 16 bytes at 0x08000000, x resets, e writes 16 zero bytes at external 0;
// K is the kernel's enumeration of the device, O another device's traffic on bus 2. !STATUS
// records that status and no data, * a byte of the answer flipped, ^ wValue one higher. Each
// step takes 1 ms, a new device number comes 50 ms on. A first step ng makes it a pcapng file;
// "hex:BYTES" is the file's content.
void writeTrace(const QString &fileName, const QString &script)
{
    QFile file(fileName);
    if (script.startsWith(QLatin1String("hex:"))) {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromHex(script.mid(4).toLatin1()));
        return;
    }
    UsbmonTrace trace;
    QVERIFY(trace.create(fileName, nullptr));
    Tq470Model model(Tq470Model::freshState(script.startsWith('A') ? DeviceMode::Application
                                                                   : DeviceMode::Bootloader,
                                            "261205007"),
                     {});
    const QHash<QChar, SetupPacket> steps = {{'s', {0x80, 6, 0x0303, 0, 256}},
                                             {'i', {0xC0, 0xFF, 0, 0, 2}},
                                             {'v', {0xC0, 1, 0x3FD0, 0x0800, 32}},
                                             {'r', {0xC0, 1, 0, 0x0800, 16}},
                                             {'x', {0x40, 4, 0, 0, 0}},
                                             {'e', {0x40, 6, 0, 0, 16}}};
    int device = 2;
    qint64 us = 1000000;
    UsbTransfer t;
    const auto record = [&](quint16 bus, int number, const SetupPacket &setup, QByteArray data) {
        t.bus = bus;
        t.device = quint8(number);
        t.endpoint |= setup.isIn() ? 0x80 : 0;
        t.setup = UsbTransfer::setupPacket(setup.requestType, setup.request, setup.value,
                                           setup.index, setup.length);
        t.requestedLength = setup.length;
        t.data = data;
        t.submittedUs = us;
        t.completedUs = us + 100;
        trace.write(t);
        const quint64 id = t.id + 1;
        t = UsbTransfer();
        t.id = id;
        us += 1000;
    };
    for (QString step : script.split(' ', Qt::SkipEmptyParts)) {
        if (step.contains('/')) {
            us += step.section('/', 0, 0).toInt() != device ? 50000 : 0;
            device = step.section('/', 0, 0).toInt();
            step = step.section('/', 1);
        }
        if (step == "K") {
            for (const SetupPacket &setup :
                 {SetupPacket{0x80, 6, 0x0100, 0, 64}, SetupPacket{0x00, 5, quint16(device), 0, 0},
                  SetupPacket{0x80, 6, 0x0100, 0, 18}, SetupPacket{0x80, 6, 0x0200, 0, 255},
                  SetupPacket{0x80, 6, 0x0300, 0, 255}, SetupPacket{0x80, 6, 0x0303, 0x0409, 255},
                  SetupPacket{0x00, 9, 1, 0, 0}})
                record(1, setup.request == 5 || setup.length == 64 ? 0 : device, setup,
                       model.handleControl(setup, {}).data);
        } else if (step == "O") {
            record(
                2, device, {0x80, 6, 0x0100, 0, 18},
                model.handleControl({0x80, 6, 0x0100, 0, 18}, {}).data.replace(8, 2, "\x6D\x04"));
            record(2, device, steps['r'], QByteArray(16, '\x55'));
            t.type = UsbTransfer::Interrupt;
            t.endpoint = 1;
            record(2, device, {0x80, 0, 0, 0, 8}, QByteArray(8, '\x01'));
        } else if (steps.contains(step.at(0))) {
            SetupPacket setup = steps[step.at(0)];
            const QByteArray out(setup.isIn() ? 0 : setup.length, '\0');
            const QByteArray data = model.handleControl(setup, out).data;
            QByteArray answer = setup.isIn() ? data : out;
            if (step.contains('*'))
                answer[answer.size() / 2] = char(answer.at(answer.size() / 2) ^ 0x01);
            setup.value += step.contains('^') ? 1 : 0;
            t.status = step.section('!', 1).toInt();
            record(1, device, setup, t.status && setup.isIn() ? QByteArray() : answer);
        }
    }
    trace.close();
    if (script.startsWith(QLatin1String("ng "))) {
        QVERIFY(file.open(QIODevice::ReadWrite));
        const QByteArray pcapng = pcapngFromPcap(file.readAll());
        QVERIFY(file.resize(0) && file.write(pcapng) == pcapng.size());
    }
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The saved state comes back whole. A string descriptor's one-byte length leaves room for 126
    // code units of a serial.
    void deviceState()
    {
        QTemporaryDir parent;
        const DeviceStateStore store(parent.filePath(QStringLiteral("new/device")));
        DeviceState state = Tq470Model::freshState(DeviceMode::Application, "261205007"), loaded;
        state.testBlock = QByteArray(TestBlockSize, '\x07');
        QVERIFY(store.save(state, nullptr) && store.holdsDevice() && store.load(&loaded, nullptr));
        QVERIFY(loaded.mode == state.mode && loaded.serial == state.serial);
        QVERIFY(loaded.internalFlash == state.internalFlash && loaded.testBlock == state.testBlock);
        QVERIFY(loaded.externalFlash == state.externalFlash);
        DeviceOptions options;
        options.serialOverride = QString(200, QLatin1Char('7'));
        QCOMPARE(Tq470Model(options).handleControl(SetupPacket{0x80, 6, 0x0303, 0, 255}, {}).data,
                 "\xFE\x03" + QByteArray("7\0", 2).repeated(126));
    }

    // Limits and faults as request sequences against the device alone. Rules: fault rules,
    // application (the device runs it), random=SEED (each request meets a fault drawn from SEED).
    void requests_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("trace");
        const auto row = [](const char *name, QString rules, QString script, QString trace) {
            QTest::newRow(name) << rules << script << trace;
        };
        row("page writes: the last page; past the end, half a page off, 2047 bytes stall", "",
            "3:0803F800:2048 3:08040000:2048 3:08004400:2048 3:08004000:2047", "2048 S S S");
        row("reads: 2048 bytes up to the end, 512 up to 2 MiB; more, across the end stall", "",
            "1:0803F800:2048 1:08000000:2049 1:0803FFFF:2 5:1FFE00:512 5:0:513", "2048 S S 512 S");
        row("external writes: 256 bytes up to 2 MiB; 257 bytes, across 2 MiB stall", "",
            "6:1FFF00:256 6:0:257 6:1FFF80:256", "256 S S");
        row("test block: 512 bytes kept; 511 bytes, run application with data stall", "",
            "2:0:512 2:0:511 4:0:4", "512 S S");
        row("application: no page write, no external read", "application",
            "3:08004000:2048 5:0:512", "S S");
        row("nth= fails that request only", "stall:nth=3", "r r r r", "16 16 S 16");
        row("times= fails a run; short is half", "short:nth=2:times=2", "r r r r", "16 8 8 16");
        row("times=all fails all from nth= on", "stall:nth=2:times=all", "r r r", "16 S S");
        row("without nth= all counted fail", "timeout:request=1:delay=5", "r r", "T5 T5");
        row("request= counts one request", "stall:request=3:nth=2", "w r r w", "2048 16 16 S");
        row("address= counts one address", "stall:address=0x08000010", "r R r R", "16 S 16 S");
        row("the first rule that fires wins, all count",
            "stall:nth=2 corrupt:nth=2 unplug:nth=3:replug=40", "r r r", "16 S U40");
        row("short page write not stored; corrupt read, page write altered by a byte",
            "short:request=3:nth=1:bytes=100 corrupt:nth=2:times=all", "w r w",
            "100*2048 16*1 2048*1");
        row("random faults as the seed draws them", "random=4", "r r r r", "8 T2000 S S");
        row("random corruption spares what the host sends", "random=2", "w r r", "2048 S 16*1");
        row("each host process counts on its own", "stall:nth=2", "r 2/r r 2/r", "16 16 S S");
        row("each host process draws from the seed afresh", "random=4", "r 2/r r 2/r",
            "8 8 T2000 T2000");
        row("lostack: the page is stored (not so on a timeout), the host times out",
            "lostack:nth=2:times=2:delay=7 timeout:request=3:delay=9", "r w r 3:08004800:2048",
            "16 T7 T7 T9*2048");
        row("lostack of the start: it runs, the device leaves and returns in its application",
            "lostack:request=4", "s 4:0:0 s", "470000001b L1000 470000001");
        row("lostack of the reset: the device leaves and returns in its bootloader",
            "application lostack:request=4", "s 4:0:0 s", "470000001 L1000 470000001b");
        row("othermode: back from the reset with letter a, kept until the next reset",
            "application othermode:request=4:nth=1", "s 4:0:0 s w s 4:0:0 s 4:0:0 s",
            "470000001 0 470000001a 2048 470000001a 0 470000001 0 470000001b");
        row("othermode letter=: the start, reads and descriptors meet it unchanged",
            "othermode:letter=x", "s r s 4:0:0 s w 4:0:0 s",
            "470000001b 16 470000001b 0 470000001 S 0 470000001x");
    }

    void requests()
    {
        QFETCH(QString, rules);
        QFETCH(QString, script);
        QFETCH(QString, trace);
        DeviceOptions options;
        options.mode =
            rules.contains("application") ? DeviceMode::Application : DeviceMode::Bootloader;
        SimulatedDevice device(options);
        for (const QString &rule : rules.split(' ', Qt::SkipEmptyParts))
            if (rule.startsWith(QLatin1String("random=")))
                device.setRandomFaults(RandomFaults{1.0, rule.mid(7).toUInt()});
            else if (rule != QLatin1String("application"))
                QVERIFY(device.addFault(rule));
        QCOMPARE(runScript(device, script), trace);
    }

    // The rule parser: what each kind takes (KIND request= nth= times= delay= letter=, -1 for
    // none, all or the default), or the start of its refusal.
    void faultRules_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("parsed");
        const auto row = [](const char *name, const char *rule, const char *parsed) {
            QTest::newRow(name) << QString::fromLatin1(rule) << QString::fromLatin1(parsed);
        };
        row("lostack takes the selectors and delay=", "lostack:request=0x04:nth=2:times=3:delay=50",
            "lostack 4 2 3 50 a");
        row("othermode: letter a by default, every counted request without nth=",
            "othermode:request=4", "othermode 4 1 -1 -1 a");
        row("othermode: another letter", "othermode:letter=z", "othermode -1 1 -1 -1 z");
        row("letter=b is the bootloader's own", "othermode:letter=b", "bad value 'b' for letter");
        row("letter= lower case only", "othermode:letter=A", "bad value 'A' for letter");
        row("letter= one letter only", "othermode:letter=ab", "bad value 'ab' for letter");
        row("letter= for othermode only", "lostack:letter=a",
            "letter= applies to othermode faults only");
        row("delay= not for othermode", "othermode:delay=5",
            "delay= applies to timeout and lostack faults only");
        row("an unknown kind: every kind is named", "lost",
            "unknown fault kind 'lost' in 'lost' (one of timeout, stall, short, corrupt, unplug, "
            "lostack, othermode)");
    }
    void faultRules()
    {
        QFETCH(QString, rule);
        QFETCH(QString, parsed);
        FaultRule got;
        QString error;
        if (FaultPlan::parseRule(rule, &got, &error))
            error = QStringLiteral("%1 %2 %3 %4 %5 %6")
                        .arg(FaultPlan::kindName(got.kind))
                        .arg(got.request ? int(*got.request) : -1)
                        .arg(got.nth)
                        .arg(got.times)
                        .arg(got.delayMs)
                        .arg(QLatin1Char(got.letter));
        QVERIFY2(error.startsWith(parsed), qPrintable(error));
    }

    // The sample firmware is the same everywhere and fills the application region exactly: four
    // 64 KiB segments, 7680 data records of 32 bytes, the start address, the end.
    void sampleFirmware()
    {
        const QByteArray hex = SampleFirmware().intelHex();
        QVERIFY(hex.startsWith(":020000040800F2\n:204000006BE8A110"));
        QVERIFY(hex.contains(":2000E000") && hex.endsWith(":04000005080041C1ED\n:00000001FF\n"));
        QCOMPARE(hex.count('\n'), 4 + 7680 + 2);
    }

    // The device through the real libusb 0.1 on the emulated bus, beside a root hub that stays:
    // pulling the cable ends a transfer that waits for its timeout; back, it has a new number.
    void busRun()
    {
        EmulatedBus &bus = SimTestBus::bus();
        const PluggedDevice plugged = SimTestBus::plugFresh();
        const int devnum = bus.deviceNumber(plugged.id);
        usb_init();
        usb_dev_handle *handle = openTq470();
        QCOMPARE(busDevices, 2);
        QVERIFY(plugged->addFault(QStringLiteral("timeout:nth=1")));
        std::thread puller([&bus, &plugged] {
            while (plugged->requestLog().isEmpty())
                QThread::msleep(1);
            bus.unplug(plugged.id);
        });
        QCOMPARE(identify(handle), QStringLiteral("identity %1 0000").arg(-ENODEV));
        puller.join();
        usb_close(handle);
        QVERIFY(openTq470() == nullptr && busDevices == 1);
        bus.replug(plugged.id);
        QVERIFY(bus.deviceNumber(plugged.id) != devnum);
        QCOMPARE(identify(handle = openTq470()), QStringLiteral("identity 2 eb00"));
        usb_close(handle);
    }

    // A start whose acknowledgement is lost, through the real libusb 0.1: the host sees the host
    // controller's protocol error at once; the device comes back running its application.
    void lostAcknowledgement()
    {
        DeviceOptions options;
        options.reenumerateDelayMs = 0;
        const PluggedDevice plugged = SimTestBus::plugFresh(options);
        QVERIFY(plugged->addFault(QStringLiteral("lostack:request=4")));
        usb_init();
        usb_dev_handle *handle = openTq470();
        QCOMPARE(usb_control_msg(handle, 0x40, RequestRunApplication, 0, 0, nullptr, 0, TimeoutMs),
                 -EPROTO);
        usb_close(handle);
        QVERIFY(SimTestBus::bus().waitUntilPresent(plugged.id, TimeoutMs));
        char serial[16] = {};
        handle = openTq470();
        QCOMPARE(usb_get_string_simple(handle, SerialStringIndex, serial, sizeof serial), 9);
        usb_close(handle);
        QCOMPARE(serial, "470000001");
    }

    // usbfs's claim rules through the real libusb 0.1. A and B are two open files of the device,
    // as two processes hold them; "close" closes the handle without releasing and opens it again.
    void claims_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("results");
        QTest::newRow("an interface another handle holds is refused; its holder claims it again")
            << "A:claim B:claim A:claim"
            << "0 -16 0";
        QTest::newRow("configuration refused while claimed, by its own handle or another")
            << "A:claim A:config B:config A:release A:config A:config"
            << "0 -16 -16 0 0 0";
        QTest::newRow("close without release frees the interface at once")
            << "A:claim A:close B:claim A:claim"
            << "0 0 0 -16";
        QTest::newRow("a reconnect: closed without release, opened, configured, claimed")
            << "A:config A:claim A:close A:config A:claim"
            << "0 0 0 0 0";
        QTest::newRow("releasing an interface this handle does not hold")
            << "A:claim B:release A:release A:release"
            << "0 -22 0 -22";
        QTest::newRow("a vendor request and GET_DESCRIPTOR need no claim")
            << "A:claim B:vendor B:descriptor"
            << "0 2 18";
    }
    void claims()
    {
        QFETCH(QString, script);
        QFETCH(QString, results);
        SimTestBus::plugFresh();
        usb_init();
        usb_dev_handle *handles[2] = {openTq470(), openTq470()};
        QStringList got;
        for (const QString &step : script.split(' ')) {
            usb_dev_handle *&handle = handles[step.startsWith('B') ? 1 : 0];
            const QString op = step.mid(2);
            char buffer[USB_DT_DEVICE_SIZE] = {};
            const auto reopen = [&handle] {
                usb_close(handle);
                return (handle = openTq470()) ? 0 : -1;
            };
            got << QString::number(
                op == "config"    ? usb_set_configuration(handle, 1)
                : op == "claim"   ? usb_claim_interface(handle, 0)
                : op == "release" ? usb_release_interface(handle, 0)
                : op == "vendor"
                    ? usb_control_msg(handle, 0xC0, RequestIdentity, 0, 0, buffer, 2, TimeoutMs)
                : op == "descriptor"
                    ? usb_get_descriptor(handle, USB_DT_DEVICE, 0, buffer, sizeof buffer)
                    : reopen());
        }
        usb_close(handles[0]);
        usb_close(handles[1]);
        QCOMPARE(got.join(' '), results);
    }

    // The control library goes ahead of umockdev's, whose ioctl() it must see first; what the
    // user preloads keeps its place.
    void preloadOrder_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("nothing preloaded") << QByteArray() << QByteArray("C:U");
        QTest::newRow("the user's own library stays first") << QByteArray("a.so")
                                                            << QByteArray("a.so:C:U");
        QTest::newRow("under umockdev already: ahead of it")
            << QByteArray("a.so:U:b.so") << QByteArray("a.so:C:U:b.so");
        QTest::newRow("both there: left alone") << QByteArray("U:C") << QByteArray("U:C");
    }
    void preloadOrder()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const QByteArray control =
            QByteArray("/lib/") + PreloadEnvironment::ControlLibrary;
        const auto expand = [&control](QByteArray list) {
            return list.replace("U", PreloadEnvironment::PreloadLibrary).replace("C", control);
        };
        QCOMPARE(PreloadEnvironment::withPreload(expand(before), control), expand(after));
    }

    // Shell lines (see runLine()), run in order; STATE is one state directory for all rows.
    void launcher_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("errorText");
        const auto row = [](const char *name, const char *command, int exitCode,
                            const char *error) {
            QTest::newRow(name) << QString::fromLatin1(command) << exitCode
                                << QString::fromLatin1(error);
        };
        const char *const saved = R"("mode":"application","serial":"261205007")";
        row("a new device from --mode and --serial, the exit code passed on",
            "SIM --state STATE --mode application --serial 261205007 -- sh -c 'exit 3'", 3, saved);
        row("--mode overrides the kept mode; leaving the bus saves at once",
            "SIM --state STATE --mode bootloader "
            "sh -c 'SELF probe switch && grep -q application STATE/device.json'",
            0, saved);
        row("a kept device refuses another --serial", "SIM --state STATE --serial 111111111 true",
            2, "has the serial 261205007");
        row("internal.bin short", "truncate -s 9 STATE/internal.bin; SIM --state STATE true", 2,
            "internal.bin holds 9 bytes; it must hold exactly 262144");
        row("another format", "sed -i s/1,/2,/ STATE/device.json; SIM --state STATE true", 2,
            R"("format" must be 1)");
        row("--unplugged leaves the bus empty", "SIM --unplugged SELF probe", 1, "no device");
        row("--no-access: the node opens read-only, for writing it is refused",
            "SIM --no-access sh -c 'exec 3</dev/bus/usb/001/002 4<>/dev/bus/usb/001/002'", 2,
            "cannot create /dev/bus/usb/001/002: Permission denied");
        row("a node that is not there fails every open(), and the program goes on",
            "SIM sh -c 'for i in $(seq 60); do true </dev/bus/usb/001/099; done 2>&-; echo on >&2'",
            0, "on");
        row("--fault reaches the device", "SIM --fault stall:request=0xFF SELF probe", 3,
            "-32 0000");
        row("--fault timeout reaches the host", "SIM --fault timeout:delay=9 SELF probe", 3,
            "-110 ");
        row("options with =, a --fault-rate seed that stalls",
            "SIM --fault-rate=0.5 --seed=7 --reenumerate-ms=0 SELF probe", 3, "-32");
        row("SIGTERM is passed on, a signal ending is 128 + N",
            "SIM sh -c 'sleep 0.2; kill -TERM $PPID; exec sleep 5'", 128 + 15, "");
        row("serial of eight digits", "SIM --serial 12345678 true", 2,
            "nine digits, not '12345678'\nTry 'tq470-sim --help'");
        row("rate above 1", "SIM --fault-rate 1.5 true", 2, "a number from 0 to 1, not '1.5'");
        row("delay= for timeouts only", "SIM --fault stall:delay=5 true", 2, "delay= applies to");
        row("--devices 3: serials counting up, each device in STATE/SERIAL, saved when it leaves",
            "SIM --devices 3 --serial 470000009 --state STATE/3 -- sh -c 'SELF probe switch && "
            "cd STATE/3 && grep -l application */device.json >&2'", 0,
            "470000009b identity 2 eb00\n470000010b identity 2 eb00\n470000011b identity 2 eb00\n"
            "470000009/device.json\n470000010/device.json\n470000011/device.json\n");
        row("--report-claims: per device, the processes that configured or claimed it, refusals",
            "SIM --report-claims SELF probe claim", 0,
            "tq470-sim: 470000001: configured or claimed by 1 host process, 1 refused\n"
            "tq470-sim: 470000001: CLAIMINTERFACE on /dev/bus/usb/001/002 refused to process ");
        row("--fault-device: the other device is spared",
            "SIM --devices 2 --fault stall:request=0xFF --fault-device 470000002 SELF probe", 3,
            "470000001b identity 2 eb00\n470000002b identity -32 0000");
        row("request=0x06 counts external writes, not the serial's descriptor request",
            "SIM --fault stall:request=0x06:times=100 SELF probe", 0, "470000001b identity 2 eb00");
        row("sample firmware: an option is no file name", "cd \"$(mktemp -d)\" && SAMPLE --out; c=$?; "
            "test ! -e --out && exit $c", 2, "Unknown option 'out'");
        row("a program under umockdev's library alone gets no control transfer",
            "SIM sh -c 'LD_PRELOAD=libumockdev-preload.so.0 SELF probe'", 3,
            "bypassed libtq470-control.so");
        row("versions", "SIM -V >&2 && SAMPLE -V >&2", 0,
            "tq470-sim 2.00\ntq470-sample-firmware 2.00");
    }

    void launcher()
    {
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        QFETCH(QString, errorText);
        // After a run on the state directory, the device it holds follows on standard error.
        if (command.contains(QLatin1String("STATE")))
            command += QLatin1String("; c=$?; tr -d ' \\n' <STATE/device.json >&2; exit $c");
        const ProcessRun run = runLine(command);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(errorText.toUtf8()), run.err);
    }

    // Traces written by writeTrace() as TRACE, replayed to FLASH (tq470-flash) or SELF, or
    // checked against the model. The text is looked for in standard output and error.
    void traces_data()
    {
        QTest::addColumn<QString>("trace");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("text");
        const auto row = [](const char *name, const char *trace, const char *command, int exitCode,
                            const char *text) {
            QTest::newRow(name) << QString::fromLatin1(trace) << QString::fromLatin1(command)
                                << exitCode << QString::fromLatin1(text);
        };
        const char *const info = "SIM --replay TRACE -- FLASH info";
        row("a replay runs to the trace's end", "s i s v", info, 0,
            "Serial: 261205007b\nBootloader version: Tq470 BL 1.07");
        row("pcapng, the kernel's enumeration and another device's traffic left out",
            "ng O K s i O s v", info, 0, "Serial: 261205007b\nBootloader version: Tq470 BL 1.07");
        row("the device followed across its reset: it leaves, back under a new number",
            "A s i s x 3/K 3/i 3/s 3/s",
            "SIM --replay TRACE -- sh -c 'FLASH bootloader && FLASH list'", 0,
            "The device runs its bootloader\nBus Device Serial    Mode        Access\n001 003 ");
        row("stall, timeout, EPROTO as recorded; ENODEV last: gone for good",
            "s i!-32 s i!-2 s i!-71 s i!-19",
            "SIM --replay TRACE -- sh -c 'for i in 1 2 3 4 5; do SELF probe; done'", 1,
            "261205007b identity -32 0000\n261205007b identity -110 0000\n"
            "261205007b identity -71 0000\n261205007b identity -19 0000\nno device\n");
        row("another request ends the replay: its index, time and both setups; no answer",
            "s i s v^", info, SimulatorLauncher::ExitReplayDiverged,
            "tq470-sim: the replay of TRACE ends at its request 4 of 4 (0.003000 s into the "
            "trace): the command asked for another\ntq470-sim:   recorded: c0 01 d1 3f 00 08 20 "
            "00\ntq470-sim:   received: c0 01 d0 3f 00 08 20 00\n");
        row("other OUT data end the replay", "s i e",
            "SIM --replay TRACE -- FLASH write-ext 0 16 7", SimulatorLauncher::ExitReplayDiverged,
            "received: 40 06 00 00 00 00 10 00\ntq470-sim:   the OUT data differ from byte 0");
        row("a request past the trace's end ends the replay", "s i s", info,
            SimulatorLauncher::ExitReplayDiverged,
            "ends after its last request (3): the command asked for one more");
        row("a command that stops early is told", "s i s v r", info, 0,
            "tq470-sim: the command made 4 of the 5 requests of TRACE");
        row("no pcap file", "hex:0102", "SIM --replay TRACE echo RAN", 2,
            "tq470-sim: TRACE: no pcap or pcapng file: ");
        row("no USB trace", "hex:d4c3b2a1020004000000000000000000ffff000001000000",
            "SIM --replay TRACE echo RAN", 2, "link type 1 is no USB trace");
        row("a trace cut short", "s i", "truncate -s -9 TRACE; SIM --replay TRACE echo RAN", 2,
            "TRACE: record 4 cannot be read: truncated dump file");
        row("no Tq470 in the trace", "O K", "SIM --replay TRACE echo RAN", 2,
            "TRACE holds no request to a Tq470 (USB id 16c0:0788)");
        row("--replay plays the trace as it is: no faults", "s",
            "SIM --replay TRACE --fault stall true", 2,
            "--replay plays one device as recorded: no --devices, --fault or --fault-rate");
        row("--check-trace runs no command", "s", "SIM --check-trace TRACE echo RAN", 2,
            "--check-trace takes no COMMAND and no --replay");
        row("the model agrees with a trace from the model; after a reset too",
            "A O K s i s x 3/K 3/i 3/s 3/v 3/e", "SIM --check-trace TRACE", 0,
            "all 8 requests agree\n");
        row("differences: the first ten, then the count",
            "s r* r* r* r* r* r* r* r* r* i!-32 r* r*", "SIM --check-trace TRACE",
            SimulatorLauncher::ExitTraceDiffers,
            "request 11 of 13 (0.010000 s into the trace), c0 ff 00 00 00 00 02 00: recorded a "
            "stall, the model 2 bytes\n12 of 13 requests differ\n");
    }
    void traces()
    {
        QFETCH(QString, trace);
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        QFETCH(QString, text);
        static QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("trace.pcap"));
        writeTrace(file, trace);
        const ProcessRun run = runLine(command.replace(QLatin1String("TRACE"), file));
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2((run.out + run.err).contains(text.replace(QLatin1String("TRACE"), file).toUtf8()),
                 run.out + run.err);
        // A trace refused is refused before COMMAND starts.
        QVERIFY(!run.out.contains("RAN"));
    }

private:
    // A shell line run from outside the emulation, as a user runs it: SIM is tq470-sim, FLASH
    // tq470-flash, SELF this program as a libusb host (see main()), STATE one state directory.
    static ProcessRun runLine(QString command)
    {
        static QTemporaryDir state;
        const QString line =
            command.replace(QLatin1String("SIM"), QLatin1String(TQ470_SIM))
                .replace(QLatin1String("SAMPLE"), QLatin1String(TQ470_SAMPLE))
                .replace(QLatin1String("FLASH"), QLatin1String(TQ470_FLASH))
                .replace(QLatin1String("SELF"), QCoreApplication::applicationFilePath())
                .replace(QLatin1String("STATE"), state.path());
        return runProcess(QStringLiteral("env"),
                          {"-u", "LD_PRELOAD", "-u", "UMOCKDEV_DIR", "sh", "-c", line},
                          5 * TimeoutMs);
    }
};

// Run as "probe [switch|claim]" under the launcher, this program reads the serial of each Tq470 on
// the bus, identifies it and may then switch its firmware, or configure and claim it and try to
// claim it through a second handle. Exit 1: no device, 3: a request failed.
int main(int argc, char *argv[])
{
    if (argc < 2 || qstrcmp(argv[1], "probe") != 0)
        return runSimTest<QCoreApplication, TestSimulator>(argc, argv);
    usb_init();
    usb_find_busses();
    usb_find_devices();
    QStringList lines; // in the order of the serials
    bool failed = false;
    for (struct usb_device *device = usb_get_busses()->devices; device; device = device->next) {
        if (device->descriptor.idProduct != ProductId)
            continue;
        usb_dev_handle *handle = usb_open(device);
        // As the tool reads it: in no language, into as large a buffer.
        char serial[StringDescriptorBufferSize] = {};
        const int read =
            usb_get_descriptor(handle, USB_DT_STRING, SerialStringIndex, serial, sizeof serial);
        const QString identity = identify(handle);
        lines << (read < 0 ? QString::number(read)
                           : DeviceIdentity::serialFromDescriptor(QByteArray(serial, read))) +
                     ' ' + identity;
        const QByteArray mode = argc > 2 ? argv[2] : "";
        failed = failed || read < 0 || !identity.startsWith(QLatin1String("identity 2 ")) ||
                 (mode == "switch" && usb_control_msg(handle, 0x40, RequestRunApplication, 0, 0,
                                                      nullptr, 0, TimeoutMs));
        if (mode == "claim") {
            usb_dev_handle *second = usb_open(device);
            failed = failed || usb_set_configuration(handle, 1) || usb_claim_interface(handle, 0) ||
                     usb_claim_interface(second, 0) != -EBUSY;
            usb_close(second);
        }
        usb_close(handle); // LeakSanitizer counts an open handle as a leak
    }
    lines.sort();
    std::fprintf(stderr, "%s\n", lines.isEmpty() ? "no device" : qPrintable(lines.join('\n')));
    return lines.isEmpty() ? 1 : failed ? 3 : 0;
}

#include "tst_simulator.moc"
