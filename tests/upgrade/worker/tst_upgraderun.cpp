#include "bootloaderprotocol.h"
#include "debugcapture.h"
#include "encoding.h"
#include "simtestsupport.h"
#include "upgradefile.h"
#include "upgrader.h"
#include "usbtq470.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Bootloader;

namespace {

constexpr int RunTimeoutMs = 60000;
// Short enough for the suite, long enough that the device's reenumeration still takes several
// polls.
constexpr int ReenumerateMs = 50;
constexpr char FactoryVersion[] = "Tq470 BL 1.07";
constexpr char FactoryDate[] = "2026-11-20";
constexpr char Serial[] = "470000001";
constexpr quint32 BrokenPage = 5;
constexpr quint32 BrokenPageAddress = ApplicationBase + BrokenPage * PageSize;

enum class FileKind { Valid, Missing, WrongHeader, Version02, ShortImage };

Upgrader::Waits fastWaits()
{
    Upgrader::Waits waits;
    waits.connectRetryMs = 1;
    waits.resetMs = 1;
    waits.resetDisconnectMs = 1;
    waits.bootloaderPollMs = 5;
    waits.applicationStartMs = 1;
    return waits;
}

// A plain image whose every region differs from an erased device and from the other regions.
QByteArray plainImage(int seed)
{
    QByteArray image(UpgradeFile::ImageSize, '\0');
    quint32 x = 0x9E3779B9u * quint32(seed + 1);
    for (int i = UpgradeFile::ApplicationOffset;
         i < UpgradeFile::ExternalOffset + UpgradeFile::ExternalSize; ++i) {
        x = x * 1664525u + 1013904223u;
        image[i] = char(x >> 24);
    }
    return image;
}

QByteArray encodedExternalPart(const QByteArray &plain)
{
    QByteArray external = UpgradeFile::externalPart(plain);
    EncodeBuffer(external.data(), int(external.size()));
    return external;
}

bool writeStream(const QString &path, const QString &header, const QString &version,
                 const QByteArray &image)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream stream(&file);
    stream << header << version << image;
    return stream.status() == QDataStream::Ok;
}

QString writeFile(const QTemporaryDir &dir, FileKind kind, const QByteArray &plain)
{
    const QString path = dir.filePath(QStringLiteral("firmware.upg"));
    const QString header = QString::fromLatin1(UpgradeFile::Header);
    const QString version = QString::fromLatin1(UpgradeFile::Version);
    QString error;
    bool written = false;
    switch (kind) {
    case FileKind::Valid:
        written = UpgradeFile::write(path, plain, &error);
        break;
    case FileKind::Missing:
        return dir.filePath(QStringLiteral("missing.upg"));
    case FileKind::WrongHeader:
        written = writeStream(path, QStringLiteral("Tq470 Upgrade File Headr"), version, plain);
        break;
    case FileKind::Version02:
        written = writeStream(path, header, QStringLiteral("02"), plain);
        break;
    case FileKind::ShortImage:
        written = writeStream(path, header, version, plain.left(UpgradeFile::ImageSize - 4));
        break;
    }
    if (!written)
        qFatal("cannot write %s: %s", qPrintable(path), qPrintable(error));
    return path;
}

// sendPercent after k pages: 0 at the start, then floor(5k/6) for each page done.
QList<int> progressAfterPages(int pages)
{
    QList<int> values{0};
    for (int k = 1; k <= pages; ++k)
        values << 5 * k / 6;
    return values;
}

QStringList successLog(const QString &fileName, bool fromApplication)
{
    QStringList log{fileName, QLatin1String(fromApplication ? Serial : "470000001b"),
                    QLatin1String(FactoryVersion), QLatin1String(FactoryDate)};
    if (fromApplication)
        log << "Apllication mode" << "Reset device" << "Disconnect" << "Connect"
            << "Serial:470000001b";
    else
        log << "Bootloader mode";
    log << "Writting firmware ... " << "OK" << "Writting External Flash ... " << "OK"
        << "Verify External Flash ...  " << "OK";
    return log;
}

int requestsWithCode(const PluggedDevice &device, quint8 code)
{
    const QList<LoggedRequest> log = device->requestLog();
    return int(std::count_if(log.begin(), log.end(),
                             [&](const LoggedRequest &r) { return r.request == code; }));
}

DeviceOptions deviceOptions(bool application, const QString &serialOverride = QString())
{
    DeviceOptions options;
    options.mode = application ? DeviceMode::Application : DeviceMode::Bootloader;
    options.reenumerateDelayMs = ReenumerateMs;
    if (!serialOverride.isEmpty())
        options.serialOverride = serialOverride;
    return options;
}

struct RunResult
{
    bool finished = false;
    bool succeeded = false;
    QStringList texts;
    QList<int> percents;
    qint64 elapsedMs = 0;
};

RunResult runUpgrade(const QString &fileName, const Upgrader::Waits &waits = fastWaits())
{
    USBTQ470 usb;
    Upgrader upgrader(&usb);
    upgrader.setWaits(waits);
    QSignalSpy texts(&upgrader, &Upgrader::sendText);
    QSignalSpy percents(&upgrader, &Upgrader::sendPercent);
    upgrader.slotSetFileName(fileName);

    RunResult result;
    QElapsedTimer clock;
    clock.start();
    upgrader.start();
    result.finished = upgrader.wait(RunTimeoutMs);
    result.elapsedMs = clock.elapsed();
    result.succeeded = upgrader.succeeded();
    for (const QList<QVariant> &emission : texts)
        result.texts << emission.at(0).toString();
    for (const QList<QVariant> &emission : percents)
        result.percents << emission.at(0).toInt();
    return result;
}

void verifyUpgraded(const PluggedDevice &device, const QByteArray &plain)
{
    QVERIFY(device->readInternal(ApplicationBase, int(ApplicationSize))
            == UpgradeFile::applicationPart(plain));
    QVERIFY(device->readExternal(UpgradeExternalBase, int(UpgradeExternalSize))
            == encodedExternalPart(plain));
    QCOMPARE(device->mode(), DeviceMode::Application);
}

} // namespace

Q_DECLARE_METATYPE(FileKind)

// The upgrade worker against a simulated Tq470 on the emulated bus, through the real libusb.
class TestUpgradeRun : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    const QByteArray plain = plainImage(1);
    // Also keeps the transfer layer's many lines out of the test's output.
    std::unique_ptr<DebugCapture> debug;

private Q_SLOTS:
    void init() { debug = std::make_unique<DebugCapture>(); }
    void cleanup()
    {
        SimTestBus::unplugAll();
        debug.reset();
    }

    void successfulRun_data()
    {
        QTest::addColumn<bool>("fromApplication");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("pageWrites");
        QTest::addColumn<bool>("realWaits");

        QTest::newRow("device in bootloader") << false << QStringList() << 120 << false;
        QTest::newRow("device in its application") << true << QStringList() << 120 << false;
        QTest::newRow("device in its application, with the product's waits")
            << true << QStringList() << 120 << true;
        QTest::newRow("page write stalls once, page written again")
            << false << QStringList{"stall:request=0x03:nth=5"} << 121 << false;
        QTest::newRow("page write stalls twice, third attempt holds")
            << false << QStringList{"stall:request=0x03:nth=5:times=2"} << 122 << false;
        QTest::newRow("page write times out once")
            << false << QStringList{"timeout:request=0x03:nth=9:delay=20"} << 121 << false;
        QTest::newRow("page stored corrupted once")
            << false << QStringList{"corrupt:request=0x03:nth=7"} << 121 << false;
        // The first read is the version block.
        QTest::newRow("page read-back stalls once")
            << false << QStringList{"stall:request=0x01:nth=10"} << 121 << false;
        QTest::newRow("page read back corrupted once")
            << true << QStringList{"corrupt:request=0x01:nth=30"} << 121 << false;
    }

    void successfulRun()
    {
        QFETCH(bool, fromApplication);
        QFETCH(QStringList, faults);
        QFETCH(int, pageWrites);
        QFETCH(bool, realWaits);

        const PluggedDevice device = SimTestBus::plugFresh(deviceOptions(fromApplication));
        for (const QString &fault : faults)
            QVERIFY(device->addFault(fault));
        const QString fileName = writeFile(dir, FileKind::Valid, plain);

        const RunResult run = runUpgrade(fileName, realWaits ? Upgrader::Waits() : fastWaits());
        QVERIFY(run.finished);
        QCOMPARE(run.texts, successLog(fileName, fromApplication));
        QCOMPARE(run.percents, progressAfterPages(int(ApplicationPages)));
        QVERIFY(run.succeeded);
        verifyUpgraded(device, plain);
        QCOMPARE(requestsWithCode(device, RequestWritePage), pageWrites);
        // 2000 ms after the reset request, 500 ms after closing the device, 1000 ms after
        // starting the application.
        if (realWaits)
            QVERIFY2(run.elapsedMs >= 3500, qPrintable(QString::number(run.elapsedMs)));
    }

    void noDeviceTriesFourTimes()
    {
        const QString fileName = writeFile(dir, FileKind::Valid, plain);

        const RunResult run = runUpgrade(fileName, Upgrader::Waits());
        QVERIFY(run.finished);
        QCOMPARE(run.texts, QStringList({fileName, "USB Timeout\nCheck USB Cable"}));
        QCOMPARE(run.percents, QList<int>{0});
        QVERIFY(!run.succeeded);
        QCOMPARE(debug->lines().count("usb->connect()\nmssleep(200)"), 3);
        QCOMPARE(debug->lines().count("USB Connect"), 4);
        QVERIFY2(run.elapsedMs >= 600, qPrintable(QString::number(run.elapsedMs)));
    }

    void failedRun_data()
    {
        QTest::addColumn<FileKind>("file");
        QTest::addColumn<QString>("serialOverride");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QStringList>("logAfterName");
        QTest::addColumn<int>("pagesDone");
        QTest::addColumn<bool>("secondRunRepairs");

        const QStringList identified{"470000001b", FactoryVersion, FactoryDate, "Bootloader mode"};
        const QStringList pagesWritten = identified + QStringList{"Writting firmware ... ", "OK"};
        const QString brokenPage = QString::number(BrokenPageAddress, 16).prepend("0x");
        const int noProgress = -1;

        QTest::newRow("missing file") << FileKind::Missing << QString() << QStringList()
                                      << QStringList{"Wrong file header"} << noProgress << false;
        QTest::newRow("wrong header") << FileKind::WrongHeader << QString() << QStringList()
                                      << QStringList{"Wrong file header"} << noProgress << false;
        QTest::newRow("version 02") << FileKind::Version02 << QString() << QStringList()
                                    << QStringList{"Wrong file version"} << noProgress << false;
        QTest::newRow("image shorter than 393216 bytes")
            << FileKind::ShortImage << QString() << QStringList() << QStringList{"Wrong file size"}
            << noProgress << false;
        QTest::newRow("serial of 10 bytes ending in a")
            << FileKind::Valid << "470000001a" << QStringList()
            << QStringList{"470000001a", FactoryVersion, FactoryDate, "Serial:470000001a"} << 0
            << false;
        QTest::newRow("version block unreadable")
            << FileKind::Valid << QString() << QStringList{"stall:request=0x01:nth=1"}
            << QStringList{"470000001b", "Bootloader Version Read Error"} << 0 << true;
        QTest::newRow("page write always stalls")
            << FileKind::Valid << QString()
            << QStringList{"stall:request=0x03:address=" + brokenPage}
            << identified + QStringList{"Writting firmware ... ", "ERROR"}
            << int(BrokenPage) << true;
        QTest::newRow("page read-back always stalls")
            << FileKind::Valid << QString()
            << QStringList{"stall:request=0x01:address=" + brokenPage}
            << identified + QStringList{"Writting firmware ... ", "ERROR"}
            << int(BrokenPage) << true;
        QTest::newRow("page always reads back different")
            << FileKind::Valid << QString()
            << QStringList{"corrupt:request=0x01:address=" + brokenPage}
            << identified + QStringList{"Writting firmware ... ", "ERROR"}
            << int(BrokenPage) << true;
        QTest::newRow("external flash write fails")
            << FileKind::Valid << QString() << QStringList{"stall:request=0x06:address=0"}
            << pagesWritten + QStringList{"Writting External Flash ... ", "Error"}
            << int(ApplicationPages) << true;
        QTest::newRow("external flash read fails")
            << FileKind::Valid << QString() << QStringList{"stall:request=0x05"}
            << pagesWritten
                   + QStringList{"Writting External Flash ... ", "OK",
                                 "Verify External Flash ...  ", "Error"}
            << int(ApplicationPages) << true;
    }

    // Whatever fails, the application is not started: the device stays in its bootloader, where
    // the next run can repair it.
    void failedRun()
    {
        QFETCH(FileKind, file);
        QFETCH(QString, serialOverride);
        QFETCH(QStringList, faults);
        QFETCH(QStringList, logAfterName);
        QFETCH(int, pagesDone);
        QFETCH(bool, secondRunRepairs);

        const PluggedDevice device = SimTestBus::plugFresh(deviceOptions(false, serialOverride));
        for (const QString &fault : faults)
            QVERIFY(device->addFault(fault));
        const QString fileName = writeFile(dir, file, plain);

        const RunResult run = runUpgrade(fileName);
        QVERIFY(run.finished);
        QCOMPARE(run.texts, QStringList{fileName} + logAfterName);
        QCOMPARE(run.percents, pagesDone < 0 ? QList<int>() : progressAfterPages(pagesDone));
        QVERIFY(!run.succeeded);
        QCOMPARE(device->mode(), DeviceMode::Bootloader);
        QCOMPARE(requestsWithCode(device, RequestRunApplication), 0);
        if (pagesDone < 0)
            QVERIFY(device->requestLog().isEmpty());

        if (secondRunRepairs) {
            device->clearFaults();
            const RunResult repair = runUpgrade(fileName);
            QVERIFY(repair.finished);
            QCOMPARE(repair.texts, successLog(fileName, false));
            QVERIFY(repair.succeeded);
            verifyUpgraded(device, plain);
        }
    }

    void externalMismatchShowsBothDumps()
    {
        const PluggedDevice device = SimTestBus::plugFresh(deviceOptions(false));
        QVERIFY(device->addFault(QStringLiteral("corrupt:request=0x06:address=0x200")));
        const QString fileName = writeFile(dir, FileKind::Valid, plain);

        const RunResult run = runUpgrade(fileName);
        QVERIFY(run.finished);
        QVERIFY(!run.succeeded);
        const QStringList head = successLog(fileName, false).mid(0, 10);
        QCOMPARE(run.texts.mid(0, 10), head);
        QCOMPARE(run.texts.size(), 15);
        QCOMPARE(run.texts.at(10), QString("Error"));
        QCOMPARE(run.texts.at(11), QString("read_buffer"));
        QCOMPARE(run.texts.at(13), QString("ext_datas.data()"));

        // Each dump: an empty first line, the address line, then 7,168 lines of 16 bytes.
        const QStringList readDump = run.texts.at(12).split('\n');
        const QStringList sentDump = run.texts.at(14).split('\n');
        QCOMPARE(readDump.size(), 2 + 7168);
        QCOMPARE(sentDump.size(), 2 + 7168);
        QVERIFY(readDump.at(1).startsWith(" src address: 0x"));
        int differingLines = 0;
        for (int i = 2; i < readDump.size(); ++i)
            differingLines += readDump.at(i) != sentDump.at(i);
        QCOMPARE(differingLines, 1);

        QCOMPARE(requestsWithCode(device, RequestRunApplication), 0);
        QCOMPARE(device->mode(), DeviceMode::Bootloader);
    }

    void bootloaderWaitIsBounded_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("connectsWhileWaiting");

        QTest::newRow("device never returns to the bus")
            << "unplug:request=0x04" << Upgrader::BootloaderConnectFailures;
        QTest::newRow("device ignores the reset and keeps its application")
            << "stall:request=0x04" << Upgrader::BootloaderAnswerAttempts;
    }

    void bootloaderWaitIsBounded()
    {
        QFETCH(QString, fault);
        QFETCH(int, connectsWhileWaiting);

        const PluggedDevice device = SimTestBus::plugFresh(deviceOptions(true));
        QVERIFY(device->addFault(fault));
        const QString fileName = writeFile(dir, FileKind::Valid, plain);

        const RunResult run = runUpgrade(fileName);
        QVERIFY(run.finished);
        QCOMPARE(run.texts, QStringList({fileName, Serial, FactoryVersion, FactoryDate,
                                         "Apllication mode", "Reset device",
                                         "USB timout\nCheck USB cable"}));
        QCOMPARE(run.percents, QList<int>{0});
        QVERIFY(!run.succeeded);
        const QStringList lines = debug->lines();
        const QStringList waiting = lines.mid(lines.indexOf("usb->disconnect()"));
        QCOMPARE(waiting.count("USB Connect"), connectsWhileWaiting);
        QCOMPARE(requestsWithCode(device, RequestWritePage), 0);
    }
};

TQ470_SIM_TEST_GUILESS_MAIN(TestUpgradeRun)
#include "tst_upgraderun.moc"
