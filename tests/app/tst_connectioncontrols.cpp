#include "debugcapture.h"
#include "simtestsupport.h"
#include "tq470_bootloader.h"
#include "upgrader.h"
#include "usbtq470.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <memory>

namespace {

const char *const EarlierLine = "earlier line";
constexpr int Lowest = 351;
constexpr int Count = 191;
constexpr int FastReenumerateMs = 50;
constexpr quint8 RequestRunApplication = 0x04;

} // namespace

// Connect, Disconnect, RunApplication and slotTimeout, with and without a simulated Tq470.
class TestConnectionControls : public QObject
{
    Q_OBJECT

    std::unique_ptr<DebugCapture> debug;
    TQ470_Bootloader *window = nullptr;
    Upgrader *worker = nullptr;

    void click(const char *button)
    {
        QTest::mouseClick(window->findChild<QPushButton *>(button), Qt::LeftButton);
    }

    QString log() const { return window->findChild<QTextBrowser *>("txt")->toPlainText(); }

private Q_SLOTS:
    void init()
    {
        debug = std::make_unique<DebugCapture>();
        window = new TQ470_Bootloader;
        worker = window->worker();
        for (const char *name :
             {"pushButtonConnect", "pushButtonDisconnect", "pushButtonRunApplication"})
            window->findChild<QPushButton *>(name)->show();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->findChild<QTextBrowser *>("txt")->append(EarlierLine);
    }

    void cleanup()
    {
        delete window;
        delete worker;
        debug.reset();
        SimTestBus::unplugAll();
    }

    void connectAppendsItsOutcome_data()
    {
        QTest::addColumn<bool>("plugged");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("bootloader attached") << true << "Connect OK";
        QTest::newRow("no device") << false << "Connect ERROR";
    }
    void connectAppendsItsOutcome()
    {
        QFETCH(bool, plugged);
        QFETCH(QString, outcome);
        if (plugged)
            SimTestBus::plugFresh();
        const qsizetype before = debug->lines().size();
        click("pushButtonConnect");
        click("pushButtonConnect");

        QCOMPARE(log(), QStringList({EarlierLine, outcome, outcome}).join('\n'));
        const QStringList lines = debug->lines().mid(before);
        QCOMPARE(lines.value(0), QStringLiteral("TQ470_Bootloader::slotpushButtonConnect(bool t)"));
        QCOMPARE(lines.count(outcome), 2);
        QCOMPARE(window->device()->connection_status(), plugged ? 0 : -1);
    }

    // Two runs in a row: the file keeps only the second, and rand() goes on between them.
    void disconnectWritesThePermutation_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::newRow("device open") << true;
        QTest::newRow("no device") << false;
    }
    void disconnectWritesThePermutation()
    {
        QFETCH(bool, connected);
        QTemporaryDir dir;
        const QString startDirectory = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        if (connected) {
            SimTestBus::plugFresh();
            QCOMPARE(window->device()->connect(), 0);
        }
        click("pushButtonDisconnect");
        const QString firstLog = log();
        const qsizetype before = debug->lines().size();
        click("pushButtonDisconnect");
        QFile file("dane.csv");
        const bool opened = file.open(QIODevice::ReadOnly);
        const QByteArray written = file.readAll();
        QDir::setCurrent(startDirectory);

        QCOMPARE(window->device()->connection_status(), -1);
        const QStringList debugLines = debug->lines().mid(before);
        QCOMPARE(
            debugLines.mid(0, 2),
            QStringList({"USB Disconnect", "TQ470_Bootloader::slotpushButtonDisconnect(bool t)"}));
        QVERIFY(log() != firstLog);
        const QStringList lines = log().split('\n');
        QCOMPARE(lines.size(), Count);
        static const QRegularExpression linePattern("^(\\d+) -> (\\d+)$");
        QByteArray expected;
        QList<bool> seen(Count, false);
        for (const QString &line : lines) {
            const QRegularExpressionMatch match = linePattern.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            const int value = match.captured(2).toInt();
            QCOMPARE(value, match.captured(1).toInt() % Count + Lowest);
            QVERIFY2(!seen[value - Lowest], qPrintable(line));
            seen[value - Lowest] = true;
            expected += match.captured(2).toLatin1() + ',';
        }
        QVERIFY(opened);
        QCOMPARE(written, expected + ';');
    }

    void runApplicationLogsNothing()
    {
        DeviceOptions options;
        options.reenumerateDelayMs = FastReenumerateMs;
        const PluggedDevice sim = SimTestBus::plugFresh(options);
        const qsizetype before = debug->lines().size();
        click("pushButtonRunApplication");

        QCOMPARE(log(), QString(EarlierLine));
        QVERIFY(debug->lines().mid(before).filter("slotpushButtonRunApplication").isEmpty());
        int runRequests = 0;
        for (const LoggedRequest &request : sim->requestLog())
            runRequests += request.request == RequestRunApplication ? 1 : 0;
        QCOMPARE(runRequests, 1);
        QTRY_COMPARE(sim->mode(), DeviceMode::Application);
    }

    void timeoutSlotWritesOnlyItsDebugLine()
    {
        const PluggedDevice sim = SimTestBus::plugFresh();
        const qsizetype before = debug->lines().size();
        QVERIFY(QMetaObject::invokeMethod(window, "slotTimeout"));

        QCOMPARE(debug->lines().mid(before), QStringList{"TQ470_Bootloader::slotTimeout(void)"});
        QCOMPARE(log(), QString(EarlierLine));
        QVERIFY(sim->requestLog().isEmpty());
    }
};

TQ470_SIM_TEST_MAIN(TestConnectionControls)
#include "tst_connectioncontrols.moc"
