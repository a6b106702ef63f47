#include "filecontents.h"
#include "intelhextext.h"
#include "flashprocessfixture.h"
#include "upgradefile.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

using Hex = IntelHexText;

constexpr qint64 UpgradeFileSize = 393282;
const QByteArray PreviousContents("an earlier file, to be kept");

} // namespace

// tq470-flash create-upg and hex2bin run as processes, the way a build script calls them.
class TestConversionCommands : public QObject, private FlashProcessFixture
{
    Q_OBJECT

    using Run = ProcessRun;

public:
    TestConversionCommands() : FlashProcessFixture("input.hex") {}

private Q_SLOTS:
    void init() { removeFiles(); }

    void createUpgWritesUpgradeFile()
    {
        const QByteArray application = Hex::pattern(0x40);
        const QByteArray copied = Hex::pattern(0x40, 5);
        const QString target = path("firmware.upg");
        const Run r =
            flash({QStringLiteral("create-upg"),
                   hexFile(Hex::records(0x08004000, application) + Hex::file(0x08020000, copied)),
                   target});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY2(r.err.isEmpty(), r.err.constData());
        QCOMPARE(QFileInfo(target).size(), UpgradeFileSize);

        UpgradeFile upgrade;
        QCOMPARE(upgrade.read(target), UpgradeFile::Status::Ok);
        const QByteArray image = upgrade.plainImage();
        QCOMPARE(image.mid(0x4000, application.size()), application);
        QCOMPARE(image.mid(0x20000, copied.size()), copied);
        QCOMPARE(image.mid(0x40000, copied.size()), copied);
        const QString checksums =
            QStringLiteral("Application checksum: 0x%1\nExternal flash checksum: 0x%2\n")
                .arg(qFromLittleEndian<quint32>(image.constData() + 0x3FFFC), 8, 16, QChar('0'))
                .arg(qFromLittleEndian<quint32>(image.constData() + 0x5BFFC), 8, 16, QChar('0'));
        QCOMPARE(QString::fromLatin1(r.out), checksums);
    }

    // A target from an earlier run is left as it was, and no temporary file stays behind.
    void failureKeepsEarlierTarget_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("message");

        const QByteArray badChecksum(":0400000001020304F0\n");
        const QByteArray segmentAddress =
            Hex::record(Hex::ExtendedSegmentAddress, 0, QByteArray("\x10\x00", 2)) + '\n';
        const auto row = [](const char *name, const char *command, const QByteArray &hex,
                            const char *target, const char *message) {
            QTest::newRow(name) << command << hex << target << QByteArray(message);
        };
        row("create-upg, wrong record checksum", "create-upg", badChecksum, "firmware.upg",
            "HexToBin error: -8) ");
        row("create-upg, extended segment address", "create-upg", segmentAddress, "firmware.upg",
            "HexToBin error: -7) ");
        row("create-upg, missing HEX file", "create-upg", QByteArray(), "firmware.upg",
            "HexToBin error: -9) ");
        row("create-upg, target in a missing directory", "create-upg",
            Hex::file(0x08004000, Hex::pattern(16)), "missing/firmware.upg", "cannot write ");
        row("hex2bin, wrong record checksum", "hex2bin", badChecksum, "window.bin",
            "HexToBin error: -8) ");
        row("hex2bin, blank line", "hex2bin", "\n", "window.bin", "HexToBin error: -1) ");
        row("hex2bin, missing HEX file", "hex2bin", QByteArray(), "window.bin",
            "HexToBin error: -9) ");
    }

    void failureKeepsEarlierTarget()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, hex);
        QFETCH(QString, target);
        QFETCH(QByteArray, message);

        const QString input = hex.isNull() ? path("missing.hex") : hexFile(hex);
        const QString output = dir.filePath(target);
        const bool targetExists = Hex::write(output, PreviousContents);
        QStringList arguments{command, input, output};
        if (command == QLatin1String("hex2bin"))
            arguments << "0"
                      << "0xFF";

        const Run r = flash(arguments);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(message), r.err.constData());
        QVERIFY(r.out.isEmpty());
        QCOMPARE(fileContents(output), targetExists ? PreviousContents : QByteArray());
        QStringList expectedFiles;
        if (!hex.isNull())
            expectedFiles << "input.hex";
        if (targetExists)
            expectedFiles << QFileInfo(output).fileName();
        expectedFiles.sort();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), expectedFiles);
    }

    void hex2binWritesWindow_data()
    {
        QTest::addColumn<QStringList>("window");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray zeros(0x10, '\0');
        const QByteArray ones(0x10, '\xFF');
        const QByteArray data = Hex::pattern(0x10);
        QTest::newRow("hexadecimal window, default fill")
            << QStringList{"0x08003FF0", "0x0800401F"} << zeros + data + zeros;
        QTest::newRow("decimal window")
            << QStringList{"134234096", "134234143"} << zeros + data + zeros;
        QTest::newRow("fill in hexadecimal")
            << QStringList{"0x08003FF0", "0x0800401F", "--fill", "0xff"} << ones + data + ones;
        QTest::newRow("fill in decimal")
            << QStringList{"0x08003FF0", "0x0800401F", "--fill", "255"} << ones + data + ones;
        QTest::newRow("window of one byte at its end")
            << QStringList{"0x0800400F", "0x0800400F"} << data.right(1);
    }

    void hex2binWritesWindow()
    {
        QFETCH(QStringList, window);
        QFETCH(QByteArray, expected);

        const QString output = path("window.bin");
        const Run r =
            flash(QStringList{QStringLiteral("hex2bin"),
                              hexFile(Hex::file(0x08004000, Hex::pattern(0x10))), output} +
                  window);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(fileContents(output).toHex(' '), expected.toHex(' '));
    }

    void hex2binRefuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");

        QTest::newRow("START above END") << QStringList{"0x20", "0x1F"} << 2 << QByteArray("END");
        QTest::newRow("window one byte above 64 MiB")
            << QStringList{"0", "0x4000000"} << 2 << QByteArray("64 MiB");
        QTest::newRow("address above 32 bits")
            << QStringList{"0", "0x100000000"} << 2 << QByteArray("0x100000000");
        QTest::newRow("address with a sign") << QStringList{"+1", "2"} << 2 << QByteArray("+1");
        QTest::newRow("0x without digits") << QStringList{"0x", "2"} << 2 << QByteArray("START");
        QTest::newRow("fill above 255")
            << QStringList{"0", "1", "--fill", "256"} << 2 << QByteArray("256");
        QTest::newRow("fill not a number")
            << QStringList{"0", "1", "--fill", "0xG"} << 2 << QByteArray("0xG");
        QTest::newRow("END missing") << QStringList{"0"} << 2 << QByteArray("hex2bin");
    }

    void hex2binRefuses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);

        const QString output = path("window.bin");
        const Run r = flash(
            QStringList{QStringLiteral("hex2bin"), hexFile(Hex::file(0, Hex::pattern(4))), output} +
            arguments);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(message), r.err.constData());
        QVERIFY(!QFile::exists(output));
    }
};

QTEST_GUILESS_MAIN(TestConversionCommands)
#include "tst_conversioncommands.moc"
