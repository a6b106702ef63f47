#include "bootloaderprotocol.h"
#include "processrun.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int FinishMs = 30000;
constexpr int Killed = 128 + 9;
constexpr int Terminated = 128 + 15;

using Run = ProcessRun;

QProcessEnvironment cleanEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("LD_PRELOAD"));
    environment.remove(QStringLiteral("UMOCKDEV_DIR"));
    return environment;
}

Run launch(const QStringList &arguments)
{
    return runProcess(QStringLiteral(TQ470_SIM), arguments, FinishMs, cleanEnvironment());
}

Run probe(const QStringList &options, const QStringList &probeArguments = {})
{
    return launch(options + QStringList{QStringLiteral("--"), QStringLiteral(TQ470_SIM_PROBE)}
                  + probeArguments);
}

QString modeIn(const QString &stateDirectory)
{
    QFile file(stateDirectory + QStringLiteral("/device.json"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QJsonObject device = QJsonDocument::fromJson(file.readAll()).object();
    return device.value(QStringLiteral("mode")).toString();
}

} // namespace

// tq470-sim as a user runs it, with a small libusb program as the command.
class TestLauncher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void passesExitCodeAndCreatesState();
    void commandFindsTheDevice_data();
    void commandFindsTheDevice();
    void deviceKeepsMemoryAndModeAcrossRuns();
    void faultOptionsReachTheDevice();
    void badUsage_data();
    void badUsage();
    void malformedStateIsRejected();
    void signalEndingsAreReported();
    void terminateIsPassedOn();
    void missingCommand();
};

void TestLauncher::passesExitCodeAndCreatesState()
{
    QTemporaryDir parent;
    const QString state = parent.filePath(QStringLiteral("device"));
    const Run run = launch({QStringLiteral("--state"), state, QStringLiteral("--"),
                            QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("exit 3")});
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(QFileInfo(state + QStringLiteral("/internal.bin")).size(), qint64(262144));
    QCOMPARE(QFileInfo(state + QStringLiteral("/external.bin")).size(), qint64(2097152));
    QCOMPARE(modeIn(state), QStringLiteral("bootloader"));
}

void TestLauncher::commandFindsTheDevice_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("serialLine");

    QTest::newRow("bootloader by default") << QStringList() << QByteArray("serial 470000001b\n");
    QTest::newRow("application with a given serial")
        << QStringList{"--mode", "application", "--serial", "261205007"}
        << QByteArray("serial 261205007\n");
}

void TestLauncher::commandFindsTheDevice()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, serialLine);

    const Run run = probe(options);
    QVERIFY2(run.exitCode == 0, run.out + run.err);
    QVERIFY2(run.out.contains("identity eb00\n"), run.out);
    QVERIFY2(run.out.contains(serialLine), run.out);
    QVERIFY2(run.err.isEmpty(), run.err);
}

void TestLauncher::deviceKeepsMemoryAndModeAcrossRuns()
{
    QTemporaryDir dir;
    const QStringList state{QStringLiteral("--state"), dir.path()};
    const quint32 address = Bootloader::ApplicationBase + Bootloader::PageSize;

    Run run = probe(state + QStringList{"--serial", "261205007"},
                    {QStringLiteral("write-page"), QString::number(address)});
    QVERIFY2(run.exitCode == 0, run.out + run.err);
    QFile internal(dir.filePath(QStringLiteral("internal.bin")));
    QVERIFY(internal.open(QIODevice::ReadOnly));
    const QByteArray flash = internal.readAll();
    for (int i = 0; i < int(Bootloader::PageSize); ++i)
        QCOMPARE(flash.at(int(address - Bootloader::FlashBase) + i), char(i * 7));

    run = probe(state + QStringList{"--reenumerate-ms", "0"}, {QStringLiteral("switch")});
    QVERIFY2(run.exitCode == 0, run.out + run.err);
    QCOMPARE(modeIn(dir.path()), QStringLiteral("application"));
    run = probe(state);
    QVERIFY2(run.out.contains("serial 261205007\n"), run.out);
    run = probe(state + QStringList{"--mode", "bootloader"});
    QVERIFY2(run.out.contains("serial 261205007b\n"), run.out);

    run = probe(state + QStringList{"--serial", "111111111"});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("has the serial 261205007"), run.err);
}

void TestLauncher::faultOptionsReachTheDevice()
{
    QTemporaryDir dir;
    const Run run = probe({QStringLiteral("--state"), dir.path(), QStringLiteral("--fault"),
                           QStringLiteral("unplug:request=0x03:nth=1")},
                          {QStringLiteral("write-page"), QStringLiteral("0x08004000")});
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(run.out.contains("result -19\n"), run.out);
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("device.json"))));

    const Run random = probe({QStringLiteral("--fault-rate"), QStringLiteral("1"),
                              QStringLiteral("--seed"), QStringLiteral("5")});
    QVERIFY2(!random.out.contains("identity eb00"), random.out);
}

void TestLauncher::badUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("serial of eight digits") << QStringList{"--serial", "12345678", "--", "true"}
                                            << QByteArray("--serial must be nine digits");
    QTest::newRow("unknown mode") << QStringList{"--mode", "sleep", "--", "true"}
                                  << QByteArray("--mode must be bootloader or application");
    QTest::newRow("bad fault ruleText") << QStringList{"--fault", "stall:nth=0", "--", "true"}
                                    << QByteArray("bad value '0' for nth");
    QTest::newRow("seed without rate") << QStringList{"--seed", "3", "--", "true"}
                                       << QByteArray("--seed has no effect");
    QTest::newRow("unknown option") << QStringList{"--frobnicate", "--", "true"}
                                    << QByteArray("unknown option '--frobnicate'");
    QTest::newRow("no command") << QStringList{"--mode", "application"}
                                << QByteArray("no COMMAND given");
}

void TestLauncher::badUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);

    const Run run = launch(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), run.err);
    QVERIFY(run.out.isEmpty());
}

void TestLauncher::malformedStateIsRejected()
{
    QTemporaryDir dir;
    QVERIFY(launch({QStringLiteral("--state"), dir.path(), QStringLiteral("true")}).exitCode == 0);
    QFile internal(dir.filePath(QStringLiteral("internal.bin")));
    QVERIFY(internal.resize(1000));
    const Run run = launch({QStringLiteral("--state"), dir.path(), QStringLiteral("true")});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("internal.bin holds 1000 bytes"), run.err);
}

void TestLauncher::signalEndingsAreReported()
{
    const Run run =
        launch({QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("kill -KILL $$")});
    QCOMPARE(run.exitCode, Killed);
}

void TestLauncher::terminateIsPassedOn()
{
    QProcess process;
    process.setProcessEnvironment(cleanEnvironment());
    process.start(QStringLiteral(TQ470_SIM),
                  {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                   QStringLiteral("echo started; exec sleep 20")});
    QVERIFY(process.waitForReadyRead(FinishMs));
    QElapsedTimer clock;
    clock.start();
    process.terminate();
    QVERIFY(process.waitForFinished(FinishMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), Terminated);
    QVERIFY(clock.elapsed() < 10000);
}

void TestLauncher::missingCommand()
{
    const Run run = launch({QStringLiteral("--"), QStringLiteral("/nonexistent/command")});
    QCOMPARE(run.exitCode, 127);
    QVERIFY2(run.err.contains("cannot run /nonexistent/command"), run.err);
}

QTEST_GUILESS_MAIN(TestLauncher)
#include "tst_launcher.moc"
