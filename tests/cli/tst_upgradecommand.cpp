#include "encoding.h"
#include "filecontents.h"
#include "processrun.h"
#include "upgradefile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Even a run that meets many injected timeouts ends well within this.
constexpr int ProcessTimeoutMs = 120000;
constexpr char FastReenumerate[] = "50";

struct Run
{
    bool finished = false;
    int exitCode = -1;
    QStringList outLines;
    QStringList errLines;
};

Run runProcess(const QStringList &arguments)
{
    const ProcessRun run = ::runProcess(QStringLiteral(TQ470_SIM), arguments, ProcessTimeoutMs);
    Run result;
    if (!run.finished)
        return result;
    result.finished = true;
    result.exitCode = run.exitCode;
    result.outLines = QString::fromLatin1(run.out).split('\n');
    result.errLines = QString::fromLatin1(run.err).split('\n');
    return result;
}

QStringList upgradeCommand(const QString &fileName)
{
    return {QStringLiteral("--"), QStringLiteral(TQ470_FLASH), QStringLiteral("upgrade"),
            fileName};
}

QByteArray plainImage()
{
    QByteArray image(UpgradeFile::ImageSize, '\0');
    quint32 x = 12345;
    for (int i = UpgradeFile::ApplicationOffset;
         i < UpgradeFile::ExternalOffset + UpgradeFile::ExternalSize; ++i) {
        x = x * 1103515245u + 12345u;
        image[i] = char(x >> 16);
    }
    return image;
}

QString storedMode(const QString &stateDir)
{
    return QJsonDocument::fromJson(fileContents(stateDir + QStringLiteral("/device.json")))
        .object()
        .value(QStringLiteral("mode"))
        .toString();
}

// The three bars as plain lines: every tenth percent of each, 0 included.
QStringList progressLines()
{
    QStringList lines;
    for (const char *bar : {"Flash", "External Flash Write", "External Flash Verify"})
        for (int percent = 0; percent <= 100; percent += 10)
            lines << QStringLiteral("%1: %2%").arg(QLatin1String(bar)).arg(percent);
    return lines;
}

} // namespace

// "tq470-flash upgrade" as a script runs it: a process on a simulated device kept in a state
// directory, so that the device's memory can be read afterwards.
class TestUpgradeCommand : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    const QByteArray plain = plainImage();
    QString fileName;

    void verifyStateHoldsImage(const QString &stateDir)
    {
        const QByteArray internal = fileContents(stateDir + QStringLiteral("/internal.bin"));
        QVERIFY(internal.mid(UpgradeFile::ApplicationOffset, UpgradeFile::ApplicationSize)
                == UpgradeFile::applicationPart(plain));
        QByteArray sent = UpgradeFile::externalPart(plain);
        EncodeBuffer(sent.data(), int(sent.size()));
        QVERIFY(fileContents(stateDir + QStringLiteral("/external.bin")).left(sent.size())
                == sent);
    }

private Q_SLOTS:
    void initTestCase()
    {
        fileName = dir.filePath(QStringLiteral("firmware.upg"));
        QString error;
        QVERIFY2(UpgradeFile::write(fileName, plain, &error), qPrintable(error));
    }

    void upgradesThenUpgradesAgainFromApplication()
    {
        const QString state = dir.filePath(QStringLiteral("device"));
        const QStringList sim{QStringLiteral("--state"), state, QStringLiteral("--reenumerate-ms"),
                              QLatin1String(FastReenumerate)};
        const QStringList tail{"Writting firmware ... ", "OK", "Writting External Flash ... ",
                               "OK", "Verify External Flash ...  ", "OK", ""};

        const Run first = runProcess(sim + upgradeCommand(fileName));
        QVERIFY(first.finished);
        QCOMPARE(first.outLines, QStringList({fileName, "470000001b", "Tq470 BL 1.07",
                                              "2026-11-20", "Bootloader mode"}) + tail);
        QCOMPARE(first.errLines, progressLines() << QString());
        QCOMPARE(first.exitCode, 0);
        verifyStateHoldsImage(state);
        QCOMPARE(storedMode(state), QStringLiteral("application"));

        const Run second = runProcess(sim + upgradeCommand(fileName));
        QVERIFY(second.finished);
        QCOMPARE(second.outLines,
                 QStringList({fileName, "470000001", "Tq470 BL 1.07", "2026-11-20",
                              "Apllication mode", "Reset device", "Disconnect", "Connect",
                              "Serial:470000001b"})
                     + tail);
        QCOMPARE(second.exitCode, 0);
        verifyStateHoldsImage(state);
        QCOMPARE(storedMode(state), QStringLiteral("application"));
    }

    void failureExitsOne_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<bool>("missingFile");
        QTest::addColumn<QStringList>("logAfterName");

        QTest::newRow("missing file") << QStringList() << true
                                      << QStringList{"Wrong file header"};
        QTest::newRow("no device") << QStringList{"--unplugged"} << false
                                   << QStringList{"USB Timeout", "Check USB Cable"};
        QTest::newRow("every page write stalls")
            << QStringList{"--fault", "stall:request=0x03"} << false
            << QStringList{"470000001b", "Tq470 BL 1.07", "2026-11-20", "Bootloader mode",
                           "Writting firmware ... ", "ERROR"};
    }
    void failureExitsOne()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(bool, missingFile);
        QFETCH(QStringList, logAfterName);

        const QString file = missingFile ? dir.filePath(QStringLiteral("missing.upg")) : fileName;
        const Run r = runProcess(simOptions + upgradeCommand(file));
        QVERIFY(r.finished);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.outLines, QStringList{file} + logAfterName << QString());
        QVERIFY2(r.errLines.contains("tq470-flash: the upgrade of the device did not complete"),
                 qPrintable(r.errLines.join('\n')));
        QVERIFY2(!r.errLines.join('\n').contains("USB Connect"),
                 "debug lines stay off without --debug");
    }

    // Whatever the faults do, the run ends, and it reports success only for a device that
    // holds the image. A failed run leaves the device in its bootloader, and a run without
    // faults repairs it.
    void randomFaults_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("seed");
        QTest::newRow("2% of requests, seed 1") << "0.02" << "1";
        QTest::newRow("2% of requests, seed 5") << "0.02" << "5";
        QTest::newRow("0.5% of requests, seed 3") << "0.005" << "3";
    }
    void randomFaults()
    {
        QFETCH(QString, rate);
        QFETCH(QString, seed);
        const QString state = dir.filePath(QStringLiteral("faulty-%1-%2").arg(rate, seed));
        const QStringList sim{"--state", state, "--reenumerate-ms", FastReenumerate};

        const Run r = runProcess(sim + QStringList{"--fault-rate", rate, "--seed", seed}
                                 + upgradeCommand(fileName));
        QVERIFY2(r.finished, "the upgrade did not end");
        QVERIFY2(r.exitCode == 0 || r.exitCode == 1, qPrintable(QString::number(r.exitCode)));
        if (r.exitCode == 0) {
            verifyStateHoldsImage(state);
            return;
        }
        QCOMPARE(storedMode(state), QStringLiteral("bootloader"));
        const Run repair = runProcess(sim + upgradeCommand(fileName));
        QVERIFY(repair.finished);
        QCOMPARE(repair.exitCode, 0);
        verifyStateHoldsImage(state);
    }
};

QTEST_GUILESS_MAIN(TestUpgradeCommand)
#include "tst_upgradecommand.moc"
