#include "processrun.h"

#include <QTemporaryDir>
#include <QtTest>

// tq470-flash as a script sees it: run as a process, on the simulated device through
// tq470-sim or with no device at all.
class TestFlashTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void infoOnSimulatedDevice_data();
    void infoOnSimulatedDevice();
    void infoWithoutDeviceFails();
    void stateDirectoryIsCreated();
    void hexdumpPrintsHeaderAndLines();
    void badUsage_data();
    void badUsage();

private:
    using Run = ProcessRun;
    static Run run(const QString &program, const QStringList &arguments)
    {
        return runProcess(program, arguments, 60000);
    }
};

void TestFlashTool::infoOnSimulatedDevice_data()
{
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<QByteArray>("serialLine");
    QTest::addColumn<QByteArray>("modeLine");

    QTest::newRow("bootloader by default")
        << QStringList{QStringLiteral("--serial"), QStringLiteral("261205007")}
        << QByteArray("Serial: 261205007b\n") << QByteArray("Mode: bootloader\n");
    QTest::newRow("application on request")
        << QStringList{QStringLiteral("--serial"), QStringLiteral("261205007"),
                       QStringLiteral("--mode"), QStringLiteral("application")}
        << QByteArray("Serial: 261205007\n") << QByteArray("Mode: application\n");
}

void TestFlashTool::infoOnSimulatedDevice()
{
    QFETCH(QStringList, simOptions);
    QFETCH(QByteArray, serialLine);
    QFETCH(QByteArray, modeLine);

    const Run r = run(QStringLiteral(TQ470_SIM),
                      simOptions + QStringList{QStringLiteral("--"), QStringLiteral(TQ470_FLASH),
                                               QStringLiteral("info")});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QVERIFY2(r.out.contains(serialLine), r.out.constData());
    QVERIFY2(r.out.contains(modeLine), r.out.constData());
    QCOMPARE(r.out.count("Version: "), 2);
    QVERIFY2(!r.err.contains("USB Connect"), "debug lines stay off without --debug");
}

void TestFlashTool::infoWithoutDeviceFails()
{
    const Run r = run(QStringLiteral(TQ470_SIM),
                      {QStringLiteral("--unplugged"), QStringLiteral("--"),
                       QStringLiteral(TQ470_FLASH), QStringLiteral("info")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.out.isEmpty());
    QVERIFY2(r.err.contains("no Tq470 answers on USB"), r.err.constData());
}

void TestFlashTool::stateDirectoryIsCreated()
{
    QTemporaryDir parent;
    QVERIFY(parent.isValid());
    const QString state = parent.filePath(QStringLiteral("device"));

    const Run r = run(QStringLiteral(TQ470_SIM),
                      {QStringLiteral("--state"), state, QStringLiteral("--"),
                       QStringLiteral(TQ470_FLASH), QStringLiteral("info")});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(QFileInfo(state + QStringLiteral("/internal.bin")).size(), qint64(262144));
    QCOMPARE(QFileInfo(state + QStringLiteral("/external.bin")).size(), qint64(2097152));
    QVERIFY(QFileInfo::exists(state + QStringLiteral("/device.json")));
}

void TestFlashTool::hexdumpPrintsHeaderAndLines()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("twenty.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("0123456789ABCDEFGHIJ");
    file.close();

    const Run r = run(QStringLiteral(TQ470_FLASH), {QStringLiteral("hexdump"), file.fileName()});
    QCOMPARE(r.exitCode, 0);
    const QList<QByteArray> lines = r.out.split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines.at(0).startsWith(" src address: 0x"));
    QCOMPARE(lines.at(1),
             QByteArray("0x0000: 30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46"
                        " < 0123456789ABCDEF >"));
    QCOMPARE(lines.at(2),
             QByteArray("0x0010: 47 48 49 4a                                    "
                        " < GHIJ             >"));
    QCOMPARE(lines.at(3), QByteArray());
}

void TestFlashTool::badUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("no command") << QStringList{} << 2;
    QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")} << 2;
    QTest::newRow("hexdump without a file") << QStringList{QStringLiteral("hexdump")} << 2;
    QTest::newRow("hexdump of a missing file")
        << QStringList{QStringLiteral("hexdump"), QStringLiteral("/nonexistent/file")} << 1;
}

void TestFlashTool::badUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    const Run r = run(QStringLiteral(TQ470_FLASH), arguments);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY(!r.err.isEmpty());
}

QTEST_GUILESS_MAIN(TestFlashTool)
#include "tst_flashtool.moc"
