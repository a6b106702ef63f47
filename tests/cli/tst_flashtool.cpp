#include "encoding.h"
#include "intelhextext.h"
#include "processrun.h"
#include "testchecks.h"
#include "upgradefile.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int ProcessTimeoutMs = 60000;
const char *const Direct = "direct"; // in the simulator column: no simulator

// Runs in the current folder; under the simulator the device is kept in its folder "dev".
ProcessRun flash(const QString &sim, const QString &arguments)
{
    QStringList command = arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (sim != QLatin1String(Direct))
        command = QString("--state dev --reenumerate-ms 50 " + sim).split(' ', Qt::SkipEmptyParts) +
                  QStringList{"--", TQ470_FLASH} + command;
    return runProcess(sim == QLatin1String(Direct) ? TQ470_FLASH : TQ470_SIM, command,
                      ProcessTimeoutMs);
}

// The value at a path such as "devices/1/serial" ("#" counts an array) as text.
QString jsonAt(const QByteArray &document, const QString &path)
{
    QJsonValue value = QJsonDocument::fromJson(document).object();
    for (const QString &key : path.split('/'))
        value = key == "#"        ? QJsonValue(value.toArray().size())
                : value.isArray() ? value[key.toInt()]
                                  : value[key];
    return value.toVariant().toString();
}

// Each check is "PATH=VALUE", or "PATH~PATTERN" for a value that matches the pattern.
void verifyJson(const QByteArray &document, const QStringList &checks)
{
    QVERIFY2(QJsonDocument::fromJson(document).isObject(), document.constData());
    for (const QString &check : checks)
        if (check.section('=', 0, 0).contains('~'))
            verifyMatches(jsonAt(document, check.section('~', 0, 0)), check.section('~', 1));
        else
            QCOMPARE(check.section('=', 0, 0) + '=' + jsonAt(document, check.section('=', 0, 0)),
                     check);
}

QString storedMode()
{
    return QJsonDocument::fromJson(fileContents("dev/device.json"))["mode"].toString();
}

// A firmware image over the application and external-flash ranges, written as name.
QByteArray writeUpgradeFile(const QString &name = "fw.upg")
{
    QByteArray image(UpgradeFile::ImageSize, '\0');
    quint32 x = 12345;
    for (int i = UpgradeFile::ApplicationOffset; i < image.size(); ++i)
        image[i] = char((x = x * 1103515245u + 12345u) >> 16);
    QString error;
    if (!UpgradeFile::write(name, image, &error))
        qFatal("%s", qPrintable(error));
    return image;
}

// An upgrade file that a fresh simulated device holds (erased application and external flash),
// but for one byte of the application or of the external flash at the offset given (-1: none).
void writeFreshDeviceFile(const QString &name, int appByte, int externalByte)
{
    QByteArray image(UpgradeFile::ImageSize, '\0');
    image.replace(UpgradeFile::ApplicationOffset, UpgradeFile::ApplicationSize,
                  QByteArray(UpgradeFile::ApplicationSize, char(0xFF)));
    QByteArray external(UpgradeFile::ExternalSize, char(0xFF)); // stored as the host sent it
    DecodeBuffer(external.data(), int(external.size()));
    image.replace(UpgradeFile::ExternalOffset, UpgradeFile::ExternalSize, external);
    for (const int offset : {appByte < 0 ? -1 : UpgradeFile::ApplicationOffset + appByte,
                             externalByte < 0 ? -1 : UpgradeFile::ExternalOffset + externalByte})
        if (offset >= 0)
            image[offset] = char(~image[offset]);
    QString error;
    if (!UpgradeFile::write(name, image, &error))
        qFatal("%s", qPrintable(error));
}

// The processes whose parent is pid whose command line holds text.
QList<qint64> childProcesses(qint64 pid, const QByteArray &text)
{
    QList<qint64> children;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QByteArray stat = fileContents("/proc/" + entry + "/stat");
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid &&
            fileContents("/proc/" + entry + "/cmdline").contains(text))
            children << entry.toLongLong();
    }
    return children;
}

} // namespace

// tq470-flash as a script sees it: a process in a scratch folder, on the simulated device
// through tq470-sim or with no device at all.
class TestFlashTool : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private Q_SLOTS:
    void init()
    {
        QVERIFY(QDir(dir.path()).removeRecursively() && QDir().mkpath(dir.path()));
        QVERIFY(QDir::setCurrent(dir.path()));
        const auto write = &IntelHexText::write;
        QVERIFY(write("app.hex", IntelHexText::file(0x08003FFC, IntelHexText::pattern(16))));
        QVERIFY(write("bad.hex", ":0400000001020304F0\n") && write("bad.upg", "wrong"));
        QVERIFY(write("end.hex", ":00000001FF\n"));
        QVERIFY(write("sixteen.bin", "0123456789ABCDEF") && write("empty.bin", ""));
        writeUpgradeFile("good.upg");
        QVERIFY(QFile::copy("good.upg", "123456789-fw.upg"));
    }

    // Standard error and standard output are matched as patterns; stored: see verifyStored.
    void command_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QStringList>("stored");
        const auto row = [](const char *name, const QString &sim, const char *arguments,
                            int exitCode, const QString &err, const QString &out = "^$",
                            const QStringList &stored = {}) {
            QTest::newRow(name) << sim << arguments << exitCode << err << out << stored;
        };
        const auto fails = [](const QString &text) { return "^tq470-flash: " + text + "\n$"; };
        const auto usage = [](const QString &text, const QString &command = "") {
            return "^tq470-flash: " + text + "\nTry 'tq470-flash help" + command + "'.\n$";
        };
        const QString none = "^$", dump = "^ src address: 0x[0-9a-f]+\n0x0000: %1\n$";
        const QString fault = "--fault stall:request=0x0%1";
        row("unknown command", Direct, "frobnicate x", 2, usage("unknown command: frobnicate"));
        row("help of an unknown command", Direct, "help frobnicate", 2,
            usage("unknown command: frobnicate"));
        row("unknown option", Direct, "--bogus info", 2, usage("Unknown option 'bogus'."));
        row("-v is not the version", Direct, "-v", 2, usage("Unknown option 'v'."));
        row("an option of another command", Direct, "info --fill 1", 2,
            usage("info takes no option 'fill'", " info"));
        row("read without its arguments", Direct, "read", 2,
            usage("read takes ADDRESS LENGTH", " read"));
        row("run with an argument", Direct, "run now", 2, usage("run takes no arguments", " run"));
        row("-V: the version", Direct, "-V", 0, none, "^tq470-flash 2.00\n$");
        const QString upgradeHelp = "^Usage: tq470-flash upgrade \\[options\\] FILE.upg\n"
                                    "Upgrade the device's firmware.\n\nOptions:\n.*--debug";
        row("help upgrade: its arguments and options", Direct, "help upgrade", 0, none,
            upgradeHelp);
        row("upgrade --help: the same", Direct, "upgrade --help", 0, none, upgradeHelp);
        row("hex2bin --help: --fill and --allow-empty, not boot-image's --serial", Direct,
            "hex2bin --help", 0, none,
            "^(?!.*--serial)Usage: tq470-flash hex2bin \\[options\\] IN.hex .*--fill <BYTE>.*"
            "--allow-empty +Write the output even when the HEX file holds no data");
        row("info --help: its options, --serial and --json among them", Direct, "info --help", 0,
            none, "^Usage: tq470-flash info \\[options\\]\n.*--serial <SERIAL>.*--json");
        row("help: every command", Direct, "help", 0, none,
            "^Usage: .*\nCommands:\n  info  .*  hexdump FILE  .*\nExit codes, the same for every "
            "command:\n  0 done\n  1 .*\n  6 an input file unreadable or not valid\n130 "
            "interrupted\n.*--version");
        row("hexdump: the header without the log's line break, then the rows", Direct,
            "hexdump sixteen.bin", 0, none, dump.arg("30 31 32 .* 45 46 < 0123456789ABCDEF >"));
        row("info --debug: serial, versions, mode; the USB layers' lines on standard error",
            "--serial 261205007", "info --debug", 0, "USB Connect",
            "^Serial: 261205007b\nBootloader version: Tq470 BL 1.07\nVersion date: 2026-11-20\nMode: bootloader");
        const QString refused = "access to the Tq470 on bus 001 device 0\\d\\d was refused.*"
                                "sudo cp packaging/60-tq470.rules /etc/udev/rules.d/\n.*"
                                "sudo udevadm control --reload-rules && sudo udevadm trigger\n.*"
                                "group plugdev;.*\n  sudo usermod -aG plugdev \\$USER\n.*again.*\n$";
        row("info on a device this user may not open: which one, both ways in, the commands",
            "--no-access", "info", 4, "^tq470-flash: " + refused);
        row("info on an empty bus", "--unplugged", "info", 3,
            fails("no Tq470 answers on USB \\(vendor 16c0, product 0788\\)"));
        const QString tq = "\n001 0\\d\\d    4700000%1 +bootloader  %2";
        row("list: bus, device, serial, mode, access of each Tq470", "--devices 3", "list", 0, none,
            "^Bus Device Serial +Mode +Access" + tq.arg("01", "yes") + tq.arg("02", "yes") +
                tq.arg("03", "yes\n$"));
        row("list on an empty bus", "--unplugged", "list", 0, none, "^No Tq470 is attached.\n$");
        row("list of a device this user may not open", "--no-access", "list", 0, none,
            "^Bus .*\n001 0\\d\\d    - +unknown +refused\n$");
        row("info with two Tq470s and no --serial: both named", "--devices 2", "info", 5,
            fails("2 Tq470s are attached \\(470000001, 470000002\\); choose one with --serial "
                  "SERIAL."));
        row("info --serial 470000002: the second of two", "--devices 2", "info --serial 470000002",
            0, none, "^Serial: 470000002b\n");
        row("write-page --serial 470000001: the first device's memory only", "--devices 2",
            "write-page 90 --serial 470000001", 0, none, "^page write OK\n$",
            {"dev/470000001/internal.bin 5000 5a5a", "dev/470000002/internal.bin 5000 ffff"});
        row("--serial 4700 naming three Tq470s: refused, the three named, nothing written",
            "--devices 3", "upgrade good.upg --serial 4700", 5,
            fails("--serial 4700 matches 3 attached Tq470s \\(470000001, 470000002, 470000003\\); "
                  "give the whole serial."),
            none, {"dev/470000001/internal.bin 4000 ffff", "dev/470000002/internal.bin 4000 ffff"});
        row("--serial 470000002b: the whole serial with its mode letter", "--devices 3",
            "info --serial 470000002b", 0, none, "^Serial: 470000002b\n");
        row("--serial 47000001: a prefix that names one Tq470 takes it",
            "--devices 2 --serial 470000009", "write-page 90 --serial 47000001", 0, none,
            "^page write OK\n$",
            {"dev/470000010/internal.bin 5000 5a5a", "dev/470000009/internal.bin 5000 ffff"});
        row("--serial of a letter", Direct, "run --serial 47x", 2,
            usage("--serial takes a serial of nine digits \\(its mode letter optional\\) or its "
                  "first digits, not '47x'"));
        row("hexdump takes no --serial", Direct, "hexdump sixteen.bin --serial 1", 2,
            usage("hexdump takes no option 'serial'", " hexdump"));
        row("read on a device this user may not open", "--no-access", "read 0 1", 4, refused);
        row("upgrade on a device this user may not open: the ways in, then the outcome",
            "--no-access", "upgrade good.upg", 4,
            "%\nInstall the udev rule .*sudo usermod -aG plugdev \\$USER\n.*again.*\ntq470-flash: "
            "Nothing was written: access to the Tq470 on bus 001 device 0\\d\\d was refused; "
            "install the udev rule 60-tq470.rules, reload udev, replug the Tq470 and start the "
            "upgrade again \\(the rule lets in the user at the desk and the members of the group "
            "plugdev\\).\n$",
            "\nCheck USB Cable\n$");
        row("upgrade on an empty bus: the no-device outcome", "--unplugged", "upgrade good.upg", 3,
            "^Flash: 0%\n" + fails("Nothing was written: no Tq470 answered; plug it in, check the "
                                   "USB cable and start the upgrade again.").mid(1),
            "^good.upg\nWaiting for the Tq470 to answer ...\nUSB Timeout\nCheck USB Cable\n$");
        row("upgrade whose page writes all stall: partly written, a rerun repairs it",
            fault.arg(3), "upgrade good.upg", 1,
            "\ntq470-flash: Not finished: the application is partly written \\(0 of 120 "
            "pages\\); the Tq470 stays in its bootloader until a rerun of the upgrade repairs "
            "it.\n$",
            "\nWritting firmware ... \nERROR\n$");
        row("upgrade whose start is never acknowledged: written and verified, not started",
            fault.arg(4), "upgrade good.upg", 1,
            "\ntq470-flash: The firmware is written and verified, but its start could not be "
            "confirmed: replug the Tq470, or start it with \"tq470-flash run\"\n$",
            "\nThe start was not acknowledged: waiting for the Tq470 to come back in its "
            "application ...\n$");
        row("upgrade whose start's acknowledgement is lost: the application seen, done",
            "--fault lostack:request=4", "upgrade good.upg", 0,
            "\ntq470-flash: Done: the Tq470 holds the new firmware and runs it.\n$",
            "\nOK\nThe start was not acknowledged: waiting for the Tq470 to come back in its "
            "application ...\n$");
        row("info when the version block cannot be read", fault.arg(1), "info", 1,
            fails("the bootloader version block could not be read"), "^Serial: .*\nMode: ");
        row("read: hexadecimal address with 0X, decimal length", "", "read 0X8003ff0 10", 0, none,
            dump.arg("34 37 30 30 30 30 30 30 31 ff +< 470000001. +>"));
        row("read stalls: a failure, no dump", fault.arg(1), "read 8000000 16", 1,
            fails("reading 16 bytes of device memory at 0x08000000 failed; check that the range "
                  "lies in the device's memory and that the USB cable holds, and try again"));
        row("read-ext of a device that runs its application: put it into its bootloader",
            "--mode application", "read-ext 0 16", 1, fails("reading 16 bytes of external flash at "
            "0x00000000 failed: the device runs its application, .*'tq470-flash bootloader'.*"));
        row("read of address xyz", Direct, "read xyz 1", 2,
            "^tq470-flash: ADDRESS 'xyz' is not a hexadecimal number");
        row("read-ext: the external flash", "", "read-ext 3ff0 4", 0, none,
            dump.arg("ff ff ff ff .*"));
        row("write-ext 100 3 0x1234: three bytes of 0x34, logged, stored unencoded", "",
            "write-ext 100 3 0x1234", 0, none, "^lenght:        3\naddress: 0x     100\n",
            {"dev/external.bin ff ff343434ff"});
        row("write-ext-bin: written at 0 and verified", "", "write-ext-bin sixteen.bin", 0, none,
            "^Write OK\n$", {"dev/external.bin 0c 437a95b8", "dev/external.bin 10 ffffffff"});
        row("write-ext-bin of an empty file: refused before the device", "",
            "write-ext-bin empty.bin", 6,
            fails("empty.bin is empty, but an external flash image holds at least one word of 4 "
                  "bytes; check that it is the right file"),
            none, {"dev/external.bin 0 ffffffff"});
        row("write-ext-bin read back differs", "--fault corrupt:request=0x05:nth=1",
            "write-ext-bin sixteen.bin", 1,
            fails("the external flash read back differs from sixteen.bin; write it again.*"));
        row("write-page 90: the test page filled with 0x5a", "", "write-page 90", 0, none,
            "^page write OK\n$", {"dev/internal.bin 5000 5a5a5a5a", "dev/internal.bin 57ff 5a"});
        row("write-page 256", Direct, "write-page 256", 2,
            usage("PATTERN '256' is not a decimal number from 0 to 255"));
        row("save stalls: no file", fault.arg(1), "save 0 16 s.bin", 1, "reading 16 bytes of device "
            "memory at 0x00000000 failed; s.bin was not written", none, {"s.bin absent"});
        row("verify of a missing file", Direct, "verify no.upg", 6,
            fails("cannot open no.upg: No such file or directory"));
        row("run stalls", fault.arg(4), "run", 1,
            fails("the device did not take the request to start its application; check the "
                  "USB cable and try again"));
        row("upgrade of a file with a wrong header: refused before the device", "", "upgrade bad.upg",
            6, fails("Nothing was sent to the Tq470: bad.upg is no upgrade file; choose the .upg "
                     "file of its firmware and start again."),
            "^bad.upg\nWrong file header\n$");
        row("upgrade of a missing file: the reason, no device needed", Direct, "upgrade no.upg", 6,
            fails("cannot open no.upg: No such file or directory"));
        row("create-upg: the upgrade file and its two checksums", Direct,
            "create-upg app.hex fw.upg", 0, fails("warning: app.hex holds no data for 0x08020000"
            "..0x0803bfff, so the external flash part of fw.upg is all zeros; check .*"),
            "^Application checksum: 0xead5c0ab\nExternal flash checksum: 0x00000000\n$",
            {"fw.upg size 393282"});
        row("create-upg of a HEX file with a wrong checksum: no file", Direct,
            "create-upg bad.hex fw.upg", 6, fails("bad.hex, line 1, is no Intel HEX record: a "
            "record's checksum is missing or does not match its bytes. Export .+"), none,
            {"fw.upg absent"});
        row("hex2bin: hexadecimal window, default fill 0", Direct,
            "hex2bin app.hex w.bin 0x08003FFA 0x08003ffd", 0, none, none,
            {"w.bin size 4", "w.bin 0 00000108"});
        row("hex2bin --allow-empty: decimal window the file gives no data, fill 010 is ten", Direct,
            "hex2bin app.hex w.bin 134234106 134234107 --fill 010 --allow-empty", 0, none, none,
            {"w.bin size 2", "w.bin 0 0a0a"});
        row("hex2bin of a missing file", Direct, "hex2bin no.hex w.bin 0 1", 6,
            fails("cannot open no.hex: No such file or directory"), none, {"w.bin absent"});
        row("hex2bin: START above END", Direct, "hex2bin app.hex w.bin 0x20 0x1F", 2,
            usage("START 0x20 lies above END 0x1F", " hex2bin"), none, {"w.bin absent"});
        row("boot-image --serial 261205001", Direct, "boot-image app.hex b.bin --serial 261205001",
            0, none, "^Serial: 261205001\nBootloader image: b.bin\n$",
            {"b.bin size 16384", "b.bin 3ff0 323631323035303031ffffff01080f16"});
        row("boot-image --serial with month 13", Direct,
            "boot-image app.hex b.bin --serial 261305001", 2,
            "^tq470-flash: the serial '261305001' is not YYMMDDNNN", none, {"b.bin absent"});
        const QString empty = "%1 holds no data for %2, so %3; nothing was written. Check %4, or "
                              "give --allow-empty to write it anyway";
        row("boot-image of an end record only: refused, nothing written", Direct,
            "boot-image end.hex b.bin --serial 261205001", 6,
            fails(empty.arg("end.hex", "0x08000000..0x08003fff",
                            "b.bin would hold nothing but "
                            "the serial",
                            "that it is the bootloader's HEX file")),
            none, {"b.bin absent"});
        row("boot-image --allow-empty of an end record only: the serial in erased flash", Direct,
            "boot-image end.hex b.bin --serial 261205001 --allow-empty", 0, none,
            "^Serial: 261205001\nBootloader image: b.bin\n$",
            {"b.bin size 16384", "b.bin 0 ffffffff", "b.bin 3fee ffff323631323035303031ff"});
        row("hex2bin of a window the HEX file gives no data: refused, the output kept", Direct,
            "hex2bin app.hex sixteen.bin 0x20000000 0x200000FF --fill 0xA5", 6,
            fails(empty.arg("app.hex", "0x20000000..0x200000ff",
                            "sixteen.bin would hold nothing "
                            "but the fill byte 0xa5",
                            "the HEX file and the window")),
            none, {"sixteen.bin size 16"});
        row("create-upg of a HEX file without an application: refused, nothing written", Direct,
            "create-upg end.hex fw.upg", 6,
            fails("end.hex holds no data for 0x08004000..0x0803ffff, so fw.upg would erase the "
                  "device's application; nothing was written. Check that it is the firmware's "
                  "HEX file"),
            none, {"fw.upg absent"});
        row("create-upg takes no --allow-empty", Direct, "create-upg end.hex fw.upg --allow-empty",
            2, usage("create-upg takes no option 'allow-empty'", " create-upg"), none,
            {"fw.upg absent"});
        row("--record into a missing folder: said before the search, which finds two Tq470s",
            "--devices 2", "--record no/rec.pcap upgrade good.upg", 1,
            fails("cannot write no/rec.pcap: No such file or directory"));
        row("upgrade --all with --serial", Direct, "upgrade --all good.upg --serial 1", 2,
            usage("--all upgrades every device; it takes no --serial", " upgrade"));
        row("upgrade --all --debug: passed on to every device's process", "--devices 2",
            "upgrade --all good.upg --debug", 0, "\n470000002: USB Control Send ",
            "470000002: Writting firmware");
        row("upgrade --all on an empty bus", "--unplugged", "upgrade --all good.upg", 3,
            fails("no Tq470 is attached"));
        row("upgrade --all of a missing file: told once", "--devices 2", "upgrade --all no.upg", 6,
            fails("cannot open no.upg: No such file or directory"));
        row("upgrade --all of no upgrade file: told once, before any device", "--devices 2",
            "upgrade --all bad.upg", 6, fails("bad.upg is no upgrade file: Wrong file header"));
        row("upgrade --all on devices this user may not open: each named by its node", "--no-access "
            "--devices 2", "upgrade --all good.upg", 4, "^tq470-flash: access to the Tq470 on bus 001 device 0\\d\\d "
            "was refused: this user may not open it.\ntq470-flash: access to the Tq470 on bus 001 "
            "device 0\\d\\d was refused: this user may not open it.\nInstall the udev rule "
            ".*again.*\n$",
            "^Device   Serial     Result          Seconds\n001/0\\d\\d  -          access-refused  0.0"
            "\n001/0\\d\\d  -          access-refused  0.0\n$");
        const QString waiting = "tq470-flash: waiting up to %1 seconds for %2 to be attached\n";
        row("--wait 5: a Tq470 plugged in while waiting", "--plug-after-ms 200", "--wait 5 info", 0,
            "^(" + waiting.arg(5).arg("a Tq470") + ")?$", "^Serial: 470000001b\n");
        row("--wait 0.2 on an empty bus: said, then not found", "--unplugged",
            "--wait 0.2 --serial 4 info", 3,
            "^" + waiting.arg(0.2).arg("the Tq470 4") +
                "tq470-flash: no Tq470 with a serial starting with 4 was attached within 0.2 "
                "seconds.\n$");
        row("--wait 0", Direct, "--wait 0 info", 2,
            usage("--wait takes a number of seconds above 0 and up to 3600, not '0'", " info"));
        row("--reset-timeout x", Direct, "bootloader --reset-timeout x", 2,
            usage("--reset-timeout takes a number of seconds above 0 and up to 3600, not 'x'",
                  " bootloader"));
        row("--serial 9 matching none of two Tq470s: the attached named", "--devices 2",
            "--serial 9 info", 3,
            fails("no attached Tq470 has a serial starting with 9; "
                  "attached: 470000001, 470000002."));
    }

    // Each command the general help lists, by its synopsis there (the words before the summary).
    void commandHelp_data()
    {
        QTest::addColumn<QString>("synopsis");
        const QString commands = QString::fromLatin1(flash(Direct, "help").out)
                                     .section("\nCommands:\n", 1)
                                     .section("\n\n", 0, 0);
        QVERIFY(!commands.isEmpty());
        for (const QString &line : commands.split('\n'))
            if (!line.startsWith("   ")) {
                const QString synopsis = line.trimmed().section("  ", 0, 0);
                QTest::newRow(qPrintable("help " + synopsis.section(' ', 0, 0))) << synopsis;
            }
    }
    // help COMMAND: the usage line names the same arguments; COMMAND --help says the same
    // (but help --help is the general help).
    void commandHelp()
    {
        QFETCH(QString, synopsis);
        const QString name = synopsis.section(' ', 0, 0);
        const ProcessRun help = flash(Direct, "help " + name);
        QCOMPARE(help.exitCode, 0);
        QCOMPARE(QString::fromLatin1(help.out).section('\n', 0, 0),
                 QString("Usage: tq470-flash " + name + " [options] " + synopsis.section(' ', 1))
                     .trimmed());
        if (name != "help")
            QCOMPARE(flash(Direct, name + " --help").out, help.out);
    }

    // The document on standard output alone, parsed back; the text on standard error.
    void json_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("checks");
        const auto row = [](const char *name, const char *sim, const char *arguments, int exitCode,
                            const QStringList &checks) {
            QTest::newRow(name) << sim << arguments << exitCode << checks;
        };
        row("list: each device's bus, device, serial, mode, access", "--devices 3", "list --json",
            0,
            {"devices/#=3", "devices/0/bus=001", "devices/2/serial=470000003",
             "devices/1/mode=bootloader", "devices/1/access=true", "result=ok", "reason=done"});
        row("list of a device this user may not open", "--no-access", "list --json", 0,
            {"devices/0/serial=-", "devices/0/access=false"});
        row("info: serial, mode, bootloader version and date", "", "info --json", 0,
            {"serial=470000001", "mode=bootloader", "bootloaderVersion=Tq470 BL 1.07",
             "versionDate=2026-11-20", "result=ok"});
        row("info when the version block cannot be read: failed, no version",
            "--fault stall:request=0x01", "info --json", 1,
            {"result=failed", "serial=470000001", "bootloaderVersion="});
        const QString notTouched = "Nothing was sent to the Tq470: bad.upg is no upgrade file; "
                                   "choose the .upg file of its firmware and start again.";
        row("upgrade of a file with a wrong header: bad-input, the log and the outcome", "",
            "upgrade bad.upg --json", 6,
            {"result=failed", "reason=bad-input", "log/1=Wrong file header", "log/#=2",
             "outcome=" + notTouched, "message=" + notTouched});
        row("upgrade: file, the serial the device gave (not the file's digits), the outcome", "",
            "upgrade 123456789-fw.upg --json", 0,
            {"file=123456789-fw.upg", "serial=470000001", "result=ok", "reason=done",
             "outcome=Done: the Tq470 holds the new firmware and runs it.", "seconds~^\\d+\\.\\d+$",
             "log/#=11", "log/0=123456789-fw.upg", "log/10=OK", "message="});
        const QString unread = "Nothing was written: the Tq470 did not answer the read of its "
                               "version; check the USB cable and start the upgrade again.";
        row("upgrade failing at the version read: the serial read before, failed, the outcome",
            "--fault stall:request=0x01", "upgrade good.upg --json", 1,
            {"serial=470000001", "result=failed", "reason=failed", "log/1=470000001b",
             "outcome=" + unread, "message=" + unread});
        row("info on an empty bus: not-found", "--unplugged", "info --json", 3,
            {"result=failed", "reason=not-found",
             "message=no Tq470 answers on USB (vendor 16c0, product 0788)"});
        row("upgrade on a device this user may not open: access-refused", "--no-access",
            "upgrade good.upg --json", 4, {"result=failed", "reason=access-refused"});
        row("two devices and no --serial: ambiguous", "--devices 2", "info --json", 5,
            {"reason=ambiguous", "message=2 Tq470s are attached (470000001, 470000002); choose "
             "one with --serial SERIAL."});
        row("verify of a missing file: bad-input", Direct, "verify no.upg --json", 6,
            {"reason=bad-input", "message=cannot open no.upg: No such file or directory"});
        row("an unknown option: usage, still a document", Direct, "info --json --bogus", 2,
            {"command=", "result=failed", "reason=usage", "message=Unknown option 'bogus'."});
    }
    void json()
    {
        QFETCH(QString, sim);
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, checks);
        const ProcessRun r = flash(sim, arguments);
        verifyJson(r.out, checks);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY(!r.err.isEmpty());
    }

    // Three devices at once, the second failing at once; the others hold the image, and no
    // device's process configured or claimed another's device.
    void upgradeAll()
    {
        const QString unread = "Nothing was written: the Tq470 did not answer the read of its "
                               "version; check the USB cable and start the upgrade again.";
        const QByteArray image = writeUpgradeFile();
        const ProcessRun r = flash("--devices 3 --report-claims --fault-device 470000002 --fault "
                                   "stall:request=0x01",
                                   "upgrade --all fw.upg --json");
        QCOMPARE(r.exitCode, 1);
        verifyJson(r.out, {"reason=failed", "devices/#=3", "devices/0/log/0=fw.upg",
                           "devices/0/result=ok",
                           "devices/0/reason=done", "devices/1/result=failed",
                           "devices/1/reason=failed", "devices/1/bus=001",
                           "devices/1/message=" + unread,
                           "devices/2/log/5=Writting firmware ... ", "devices/2/serial=470000003"});
        for (const char *line :
             {"\n470000003: Writting firmware ... \n", "\n470000001: Flash: 50%\n",
              "\nDevice +Serial +Result +Seconds\n001/0\\d\\d  470000001  ok +\\d+\\.\\d\n"
              "001/0\\d\\d  470000002  failed +\\d+\\.\\d\n001/0\\d\\d  470000003  ok +\\d+\\.\\d\n",
              "\ntq470-flash: 470000002: Nothing was written: the Tq470 did not answer the read of "
              "its version; check the USB cable and start the upgrade again.\ntq470-sim: ",
              "\ntq470-sim: 470000001: configured or claimed by 1 host process, 0 refused\n"
              "tq470-sim: 470000002: configured or claimed by 1 host process, 0 refused\n"
              "tq470-sim: 470000003: configured or claimed by 1 host process, 0 refused\n"})
            verifyMatches(QString::fromLatin1(r.err), line);
        for (const char *serial : {"470000001", "470000003"})
            QCOMPARE(fileContents(QStringLiteral("dev/%1/internal.bin").arg(serial))
                         .mid(UpgradeFile::ApplicationOffset, UpgradeFile::ApplicationSize),
                     UpgradeFile::applicationPart(image));
    }
    // --record: a trace that tshark reads without a complaint, holding each vendor request the
    // upgrade made; with --all one trace per device, none for the search before them. The
    // single upgrade's trace replayed and checked against the simulated device.
    void recorded_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("arguments");
        // "FILE PAGE_WRITES EXTERNAL_READS EXTERNAL_WRITES STALLS", every trace the folder holds
        QTest::addColumn<QStringList>("traces");
        QTest::addColumn<bool>("sameOutput"); // as the run without --record
        const auto row = [](const char *name, const char *sim, const char *arguments,
                            const QStringList &traces, bool sameOutput) {
            QTest::newRow(name) << sim << arguments << traces << sameOutput;
        };
        row("upgrade, one page write stalled: its retry recorded, the output unchanged",
            "--fault stall:request=3:nth=5", "--record rec.pcap upgrade good.upg",
            {"rec.pcap 121 224 448 1"}, true);
        row("upgrade --all: FILE-SERIAL.pcap for each device, nothing of the search", "--devices 2",
            "upgrade --all good.upg --record rec.pcap",
            {"rec-470000001.pcap 120 224 448 0", "rec-470000002.pcap 120 224 448 0"}, false);
    }
    void recorded()
    {
        QFETCH(QString, sim);
        QFETCH(QString, arguments);
        QFETCH(QStringList, traces);
        QFETCH(bool, sameOutput);
        const ProcessRun r = flash(sim, arguments);
        QCOMPARE(r.exitCode, 0);
        QStringList found;
        for (const QString &file : QDir().entryList({"rec*"}, QDir::Files)) {
            const ProcessRun shark =
                runProcess("tshark",
                           {"-r", file, "-T", "fields", "-e", "usb.bmRequestType", "-e",
                            "usb.setup.bRequest", "-e", "usb.urb_status"},
                           ProcessTimeoutMs);
            QCOMPARE(shark.exitCode, 0);
            // tshark warns root of itself whatever it reads.
            QCOMPARE(QString(shark.err).remove(QRegularExpression("^Running as user \"root\".*\n")),
                     QString());
            const auto count = [&shark](const char *pattern) {
                return QString::number(QString(shark.out).count(
                    QRegularExpression(pattern, QRegularExpression::MultilineOption)));
            };
            found << QStringList{file, count("^0x40\t3\t"), count("^0xc0\t5\t"),
                                 count("^0x40\t6\t"), count("\t-32$")}
                         .join(' ');
        }
        QCOMPARE(found, traces);
        if (!sameOutput)
            return;
        QVERIFY(QDir("dev").removeRecursively());
        const ProcessRun unrecorded =
            flash(sim, QString(arguments).remove(QRegularExpression("--record \\S+")));
        QCOMPARE(unrecorded.out, r.out);
        QCOMPARE(unrecorded.err, r.err);

        // Replayed, the recording gives the same run; another file leaves it at the first page
        // write; the simulated device under the same faults answers as recorded.
        QVERIFY(QDir("dev").removeRecursively());
        const ProcessRun replayed = flash("--replay rec.pcap", "upgrade good.upg");
        QCOMPARE(replayed.out, r.out);
        QCOMPARE(replayed.err, r.err);
        QCOMPARE(replayed.exitCode, 0);
        QString error;
        QVERIFY(UpgradeFile::write("other.upg", QByteArray(UpgradeFile::ImageSize, 'x'), &error));
        const ProcessRun other = flash("--replay rec.pcap", "upgrade other.upg");
        QCOMPARE(other.exitCode, 124);
        verifyMatches(other.err, "\ntq470-sim: the replay of rec.pcap ends at its request 5 of "
                                 "\\d+ \\(.*\n.*recorded: 40 03 00 40 00 08 00 08\n.*received: "
                                 "40 03 00 40 00 08 00 08\n.*the OUT data differ from byte 0\n");
        const ProcessRun checked = runProcess(
            TQ470_SIM, sim.split(' ') + QStringList{"--check-trace", "rec.pcap"}, ProcessTimeoutMs);
        QCOMPARE(checked.out, QByteArray("all 919 requests agree\n"));
        QCOMPARE(checked.exitCode, 0);
    }
    // SIGTERM to tq470-sim reaches the command while it waits for a device that has gone to
    // reset itself and is not back for ten minutes; it stops within that wait and says so.
    void stopped_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("end");
        QTest::newRow("upgrade: nothing written, a rerun continues")
            << "upgrade fw.upg" << "\nWaiting for the Tq470 to restart in its bootloader ...\n"
            << "Stopped while waiting for the bootloader after the reset: nothing was written; the "
               "Tq470 may be in its bootloader or its application; a rerun continues.";
        QTest::newRow("verify: nothing compared")
            << "verify fw.upg" << "resetting it into its bootloader to compare\n"
            << "verify stopped while waiting for the bootloader after the reset: nothing was "
               "compared; the device may be in its bootloader or its application; run verify "
               "again";
        QTest::newRow("bootloader") << "bootloader" << "resetting the device into its bootloader\n"
                                    << "stopped while waiting for the bootloader after the reset: "
                                       "the device may be in its bootloader or its application; "
                                       "run the command again";
    }
    void stopped()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, line);
        QFETCH(QString, end);
        writeUpgradeFile();
        QProcess sim;
        sim.setProcessChannelMode(QProcess::MergedChannels);
        sim.start(TQ470_SIM, QStringList{"--state", "dev", "--mode", "application",
                                         "--reenumerate-ms", "600000", "--", TQ470_FLASH,
                                         "--reset-timeout", "3600"} +
                                 arguments.split(' '));
        QByteArray out;
        while (!out.contains(line.toLatin1()) && sim.waitForReadyRead(ProcessTimeoutMs))
            out += sim.readAll();
        sim.terminate();
        QVERIFY(sim.waitForFinished(ProcessTimeoutMs));
        QCOMPARE(sim.exitCode(), 130);
        QVERIFY((out + sim.readAll()).endsWith("tq470-flash: " + end.toLatin1() + '\n'));
        verifyStored("dev/internal.bin 4000 ffffffff");
    }

    // An upgrade file from a pipe or a FIFO is read once; the devices' processes of --all read
    // a private copy of it, or of a file named as this process's own standard input, which is
    // gone when the run ends.
    void fromPipe_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("arguments"); // "fifo": a FIFO this test writes the file into
        QTest::addColumn<bool>("stdinFile");    // standard input the file itself, not a pipe
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        const QString copied = "(\n|^)470000002: [^\n]*/tmp/tq470-flash-[^/]+/stdin\n";
        QTest::newRow("cat fw.upg | upgrade /dev/stdin")
            << ""
            << "upgrade /dev/stdin" << false << 0 << "^/dev/stdin\n470000001b\n";
        QTest::newRow("cat fw.upg | upgrade --all /dev/stdin: each process reads the copy")
            << "--devices 2"
            << "upgrade --all /dev/stdin" << false << 0 << copied;
        QTest::newRow("upgrade --all /dev/stdin < fw.upg: each process reads the copy")
            << "--devices 2"
            << "upgrade --all /dev/stdin" << true << 0 << copied;
        QTest::newRow("verify of a FIFO: compared, the FIFO opened by its read only")
            << ""
            << "verify fifo" << false << 1 << "^Application region: \\d+ bytes differ";
    }
    void fromPipe()
    {
        QFETCH(QString, sim);
        QFETCH(QString, arguments);
        QFETCH(bool, stdinFile);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        const QByteArray image = writeUpgradeFile();
        const QByteArray file = fileContents("fw.upg");
        const bool fifo = arguments.endsWith("fifo");
        QVERIFY(QDir().mkdir("tmp") && ::mkfifo("fifo", 0600) == 0);
        // A reader's close is told apart from the writer's, and two in a row would be told as
        // one only without an open between them.
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(inotify_add_watch(watch, "fifo", IN_OPEN | IN_CLOSE_NOWRITE) >= 0);
        // The whole file waits in the FIFO, held open for reading as well, so that neither end
        // waits for the other.
        const int held = ::open("fifo", O_RDWR | O_CLOEXEC);
        QVERIFY(::fcntl(held, F_SETPIPE_SZ, 2 * file.size()) > 0);
        QCOMPARE(::write(held, file.constData(), size_t(file.size())), ssize_t(file.size()));
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TMPDIR", QDir::current().filePath("tmp"));
        process.setProcessEnvironment(environment);
        if (stdinFile)
            process.setStandardInputFile("fw.upg");
        process.start(TQ470_SIM,
                      ("--state dev --reenumerate-ms 50 " + sim).split(' ', Qt::SkipEmptyParts) +
                          QStringList{"--", TQ470_FLASH} + arguments.split(' '));
        if (!fifo && !stdinFile) {
            process.write(file);
            process.closeWriteChannel();
        }
        const bool finished = process.waitForFinished(ProcessTimeoutMs);
        char buffer[4096];
        int readerCloses = 0;
        for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;)
            for (ssize_t at = 0; at < got;
                 at += ssize_t(sizeof(inotify_event)) +
                       ssize_t(reinterpret_cast<inotify_event *>(buffer + at)->len))
                readerCloses +=
                    reinterpret_cast<inotify_event *>(buffer + at)->mask & IN_CLOSE_NOWRITE ? 1 : 0;
        ::close(watch);
        ::close(held);
        QVERIFY(finished);
        verifyMatches(process.readAllStandardOutput(), out);
        QCOMPARE(process.exitCode(), exitCode);
        QCOMPARE(readerCloses, fifo ? 1 : 0);
        QCOMPARE(QDir("tmp").entryList({"tq470-flash-*"}, QDir::AllEntries | QDir::Hidden),
                 QStringList());
        const QStringList devices = QDir("dev").entryList({"4*"}, QDir::Dirs) << ".";
        for (const QString &device : devices)
            if (exitCode == 0 && QFile::exists("dev/" + device + "/internal.bin"))
                QCOMPARE(fileContents("dev/" + device + "/internal.bin")
                             .mid(UpgradeFile::ApplicationOffset, UpgradeFile::ApplicationSize),
                         UpgradeFile::applicationPart(image));
    }

    // With --all the stop reaches every device's process, each waiting for its device to come
    // back from the reset; each says what its device holds.
    void interruptedAll()
    {
        writeUpgradeFile();
        QProcess sim;
        sim.start(TQ470_SIM, {"--devices", "2", "--state", "dev", "--mode", "application",
                              "--reenumerate-ms", "600000", "--", TQ470_FLASH, "upgrade", "--all",
                              "fw.upg", "--reset-timeout", "3600"});
        QByteArray out;
        const QByteArray waiting = ": Waiting for the Tq470 to restart in its bootloader ...\n";
        while (!(out.contains("470000001" + waiting) && out.contains("470000002" + waiting)) &&
               sim.waitForReadyRead(ProcessTimeoutMs))
            out += sim.readAllStandardOutput();
        sim.terminate();
        QVERIFY(sim.waitForFinished(ProcessTimeoutMs));
        QCOMPARE(sim.exitCode(), 130);
        verifyMatches(out + sim.readAllStandardOutput(),
                      "\n001/0\\d\\d  470000001  interrupted  .*\n001/0\\d\\d  470000002  interrupted  ");
        const QString stopped = "Stopped while waiting for the bootloader after the reset: nothing "
                                "was written; the Tq470 may be in its bootloader or its "
                                "application; a rerun continues.\n";
        verifyMatches(sim.readAllStandardError(), "\ntq470-flash: 470000001: " + stopped +
                                                      "tq470-flash: 470000002: " + stopped + "$");
    }

    // A device's process that cannot stop (held with SIGSTOP, its device hanging in a page
    // write) is killed by the second stop, which the run invites once the first has had its
    // time; a rerun repairs the device.
    void killedAll()
    {
        const QByteArray image = writeUpgradeFile();
        QProcess sim;
        sim.start(TQ470_SIM, {"--devices", "2", "--state", "dev", "--fault-device", "470000002",
                              "--fault", "timeout:request=3:delay=600000", "--", TQ470_FLASH,
                              "upgrade", "--all", "fw.upg"});
        QByteArray out, err;
        const auto readUntil = [&sim](QByteArray &text, QProcess::ProcessChannel channel,
                                      const QByteArray &wanted) {
            sim.setReadChannel(channel);
            for (text += sim.readAll(); !text.contains(wanted) &&
                                        sim.waitForReadyRead(ProcessTimeoutMs);)
                text += sim.readAll();
            return text.contains(wanted);
        };
        QVERIFY(readUntil(out, QProcess::StandardOutput, "470000002: Writting firmware ... \n"));
        const QList<qint64> tool = childProcesses(sim.processId(), "upgrade");
        QCOMPARE(tool.size(), 1);
        const QList<qint64> held = childProcesses(tool.first(), "470000002");
        QCOMPARE(held.size(), 1);
        QCOMPARE(::kill(pid_t(held.first()), SIGSTOP), 0);
        sim.terminate();
        QVERIFY2(readUntil(err, QProcess::StandardError,
                          "still waiting for 470000002; stop again to kill it\n"), err.constData());
        sim.terminate();
        QVERIFY(sim.waitForFinished(ProcessTimeoutMs));
        QCOMPARE(sim.exitCode(), 130);
        verifyMatches(out + sim.readAllStandardOutput(), "\n001/0\\d\\d  470000002  killed  ");
        verifyMatches(err + sim.readAllStandardError(),
                      "killing the upgrades still running: 470000002\n");
        const QByteArray bootloader = fileContents("dev/470000002/internal.bin").left(0x4000);
        QCOMPARE(flash("--devices 2", "upgrade --all fw.upg").exitCode, 0);
        QCOMPARE(fileContents("dev/470000002/internal.bin").left(0x4000), bootloader);
        QCOMPARE(fileContents("dev/470000002/internal.bin")
                     .mid(UpgradeFile::ApplicationOffset, UpgradeFile::ApplicationSize),
                 UpgradeFile::applicationPart(image));
    }

    void command()
    {
        QFETCH(QString, sim);
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, err);
        QFETCH(QString, out);
        QFETCH(QStringList, stored);
        const ProcessRun r = flash(sim, arguments);
        verifyMatches(QString::fromLatin1(r.err), err);
        verifyMatches(QString::fromLatin1(r.out), out);
        QCOMPARE(r.exitCode, exitCode);
        for (const QString &entry : stored)
            verifyStored(entry);
    }

    // With the worker's real waits. Whatever random faults do, the run ends, and it succeeds
    // only for a device that holds the image and runs it.
    void upgrade_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::newRow("from bootloader mode: the log, a line every ten percent of each bar") << "";
        QTest::newRow("random faults, seed 4: success only with the image stored")
            << "--fault-rate 0.005 --seed 4";
    }
    void upgrade()
    {
        QFETCH(QString, sim);
        const QByteArray image = writeUpgradeFile();
        const ProcessRun r = flash(sim, "upgrade fw.upg");
        QString progress;
        for (const char *bar : {"Flash", "External Flash Write", "External Flash Verify"})
            for (int percent = 0; percent <= 100; percent += 10)
                progress += QStringLiteral("%1: %2%\n").arg(QLatin1String(bar)).arg(percent);
        if (sim.isEmpty()) {
            QCOMPARE(QString::fromLatin1(r.err),
                     progress +
                         "tq470-flash: Done: the Tq470 holds the new firmware and runs it.\n");
            QCOMPARE(QString::fromLatin1(r.out),
                     QStringLiteral("fw.upg\n470000001b\nTq470 BL 1.07\n2026-11-20\nBootloader "
                                    "mode\nWritting firmware ... \nOK\nWritting External Flash "
                                    "... \nOK\nVerify External Flash ...  \nOK\n"));
            QCOMPARE(r.exitCode, 0);
        }
        QVERIFY2(r.exitCode == 0 || r.exitCode == 1, qPrintable(QString::number(r.exitCode)));
        QCOMPARE(storedMode(), r.exitCode == 0 ? "application" : "bootloader");
        QByteArray sent = UpgradeFile::externalPart(image);
        EncodeBuffer(sent.data(), int(sent.size()));
        QVERIFY(r.exitCode == 1 || fileContents("dev/external.bin").left(sent.size()) == sent);
        QVERIFY(r.exitCode == 1 ||
                fileContents("dev/internal.bin")
                        .mid(UpgradeFile::ApplicationOffset, UpgradeFile::ApplicationSize) ==
                    UpgradeFile::applicationPart(image));
        if (!sim.isEmpty())
            return;
        // Verify resets the running application into the bootloader and starts it again.
        const ProcessRun running = flash("", "verify --reset-timeout 5 fw.upg --json");
        QCOMPARE(running.exitCode, 0);
        verifyJson(running.out, {"equal=true", "result=ok"});
        QVERIFY(running.err.contains("resetting it into its bootloader") &&
                running.err.contains("started the device's application again"));
        QCOMPARE(storedMode(), "application");
        QCOMPARE(flash("--mode bootloader", "save 0x08004000 4096 s.bin").exitCode, 0);
        QCOMPARE(fileContents("s.bin"), fileContents("dev/internal.bin").mid(0x4000, 4096));
        QCOMPARE(flash("", "save-ext 0 64 e.bin").exitCode, 0);
        QCOMPARE(fileContents("e.bin"), UpgradeFile::externalPart(image).left(64));
    }

    // verify against a file that a fresh device holds but for the byte changed: each region's
    // verdict on its own, and the application said to run again only once its start is proven.
    void verify_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<int>("appByte");
        QTest::addColumn<int>("externalByte");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("checks");
        QTest::addColumn<QString>("err");
        const QString ack = "--mode application --fault %1:request=4:nth=2";
        const QString lost = "tq470-flash: the start was not acknowledged: waiting for the device "
                             "to come back in its application\n";
        QTest::newRow("only the application region differs")
            << "" << 0x3bfff << -1 << 1
            << QStringList{"equal=false", "application/differingBytes=1",
                           "application/firstDifference=0x0803ffff",
                           "externalFlash/differingBytes=0", "externalFlash/firstDifference="}
            << "^Application region: 1 bytes differ, the first at 0x0803ffff\ntq470-flash: the "
               "device does not hold fw.upg\n$";
        QTest::newRow("only the external flash differs")
            << "" << -1 << 0x10 << 1
            << QStringList{"equal=false", "application/differingBytes=0",
                           "externalFlash/differingBytes=1",
                           "externalFlash/firstDifference=0x00000010"}
            << "^External flash: 1 bytes differ, the first at 0x00000010\ntq470-flash: the device "
               "does not hold fw.upg\n$";
        QTest::newRow("from the application, the start's acknowledgement lost: seen, said")
            << ack.arg("lostack") << -1 << -1 << 0 << QStringList{"equal=true", "reason=done"}
            << "^tq470-flash: the device runs its application: .*\n" + lost +
                   "tq470-flash: started the device's application again\nThe device holds "
                   "fw.upg\n$";
        QTest::newRow("from the application, the start never comes: not claimed")
            << ack.arg("stall") + ":times=all" << -1 << -1 << 1
            << QStringList{"equal=true", "reason=failed"}
            << "^tq470-flash: the device runs its application: .*\n" + lost +
                   "The device holds fw.upg\ntq470-flash: the start of the device's application "
                   "could not be confirmed: replug the Tq470, or start it with \"tq470-flash "
                   "run\"\n$";
    }
    void verify()
    {
        QFETCH(QString, sim);
        QFETCH(int, appByte);
        QFETCH(int, externalByte);
        QFETCH(int, exitCode);
        QFETCH(QStringList, checks);
        QFETCH(QString, err);
        writeFreshDeviceFile("fw.upg", appByte, externalByte);
        const ProcessRun r = flash(sim, "verify fw.upg --json");
        verifyMatches(QString::fromLatin1(r.err), err);
        verifyJson(r.out, checks);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(storedMode(), r.exitCode == 0 && !sim.isEmpty() ? "application" : "bootloader");
    }
};

QTEST_GUILESS_MAIN(TestFlashTool)
#include "tst_flashtool.moc"
