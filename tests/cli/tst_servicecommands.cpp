#include "encoding.h"
#include "filecontents.h"
#include "processrun.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// External-flash commands that meet a stall retry a hundred times; still well within this.
constexpr int ProcessTimeoutMs = 60000;
constexpr char FastReenumerate[] = "50";

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runProcess(const QStringList &simOptions, const QStringList &command)
{
    const ProcessRun run = ::runProcess(
        QStringLiteral(TQ470_SIM),
        simOptions + QStringList{"--", QStringLiteral(TQ470_FLASH)} + command, ProcessTimeoutMs);
    return {run.exitCode, QString::fromLatin1(run.out), QString::fromLatin1(run.err)};
}

// The bytes of a hex dump, in order.
QByteArray dumpedBytes(const QString &text)
{
    static const QRegularExpression row(QStringLiteral("^0x[0-9a-f]{4}:((?: [0-9a-f]{2})+)"));
    QByteArray bytes;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = row.match(line);
        for (const QString &hex : match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            bytes += char(hex.toUInt(nullptr, 16));
    }
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

// The service commands of tq470-flash as a script runs them: processes on a simulated device
// kept in a state directory, whose memories are read afterwards.
class TestServiceCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private Q_SLOTS:
    void writeExtBinThenReadExtShowsTheFile()
    {
        const QString state = dir.filePath("image-device");
        const QString image = dir.filePath("image.bin");
        const QByteArray bytes = QByteArray::fromHex("00112233445566778899aabbccddeeff");
        QVERIFY(writeFile(image, bytes));

        const Run write = runProcess({"--state", state}, {"write-ext-bin", image});
        QCOMPARE(write.exitCode, 0);
        QCOMPARE(write.out, QStringLiteral("Write OK\n"));

        const Run read = runProcess({"--state", state}, {"read-ext", "0", "16"});
        QCOMPARE(read.exitCode, 0);
        QCOMPARE(dumpedBytes(read.out).toHex(' '), bytes.toHex(' '));
        QByteArray sent = bytes;
        EncodeBuffer(sent.data(), int(sent.size()));
        QCOMPARE(fileContents(state + "/external.bin").left(sent.size()), sent);
    }

    void commandLeavesTheDeviceChanged_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<QString>("stateFile");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("write-ext 100 3 0x1234: logged and stored, too short to be encoded")
            << QStringList{"write-ext", "100", "3", "0x1234"} << "lenght:        3"
            << "external.bin" << 0x100 << QByteArray(3, '\x34');
        QTest::newRow("write-page 90 fills the page at 0x08005000")
            << QStringList{"write-page", "90"} << "page write OK" << "internal.bin" << 0x5000
            << QByteArray(2048, '\x5A');
        QTest::newRow("read 0X8003ff0 9: the serial digits")
            << QStringList{"read", "0X8003ff0", "9"} << ""
            << "internal.bin" << 0x3FF0 << QByteArray("470000001");
        QTest::newRow("run: the device is left running its application")
            << QStringList{"run"} << ""
            << "device.json" << 0 << QByteArray();
    }
    void commandLeavesTheDeviceChanged()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, firstLine);
        QFETCH(QString, stateFile);
        QFETCH(int, offset);
        QFETCH(QByteArray, stored);
        const QString state = dir.filePath(QTest::currentDataTag());
        const Run r = runProcess({"--state", state, "--reenumerate-ms", FastReenumerate}, command);

        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        if (!firstLine.isEmpty())
            QCOMPARE(r.out.section('\n', 0, 0), firstLine);
        const QByteArray contents = fileContents(state + '/' + stateFile);
        if (command.first() == "run") {
            QCOMPARE(QJsonDocument::fromJson(contents).object().value("mode").toString(),
                     QStringLiteral("application"));
            return;
        }
        QCOMPARE(contents.mid(offset, stored.size()), stored);
        if (command.first() == "read")
            QCOMPARE(dumpedBytes(r.out), stored);
    }

    void failure_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QStringList unplugged{"--unplugged"};
        const auto stall = [](const char *request) {
            return QStringList{"--fault", QStringLiteral("stall:request=%1").arg(request)};
        };
        QTest::newRow("no device")
            << unplugged << QStringList{"read-ext", "0", "1"} << 1 << "no Tq470 answers on USB";
        QTest::newRow("read stalls") << stall("0x01") << QStringList{"read", "0", "16"} << 1
                                     << "ReadMemoryFromAddress failed";
        QTest::newRow("read-ext stalls") << stall("0x05") << QStringList{"read-ext", "0", "16"} << 1
                                         << "ReadExternalFlashFromAddress failed";
        QTest::newRow("write-ext stalls")
            << stall("0x06") << QStringList{"write-ext", "0", "4", "1"} << 1
            << "WriteExternalFlashToAddress failed";
        QTest::newRow("write-page stalls")
            << stall("0x03") << QStringList{"write-page", "1"} << 1 << "page write ERROR";
        QTest::newRow("run stalls") << stall("0x04") << QStringList{"run"} << 1 << "RunApplication";
        QTest::newRow("6-byte image, before any device")
            << unplugged << QStringList{"write-ext-bin", "six.bin"} << 1
            << "Length should be aligned to 4";
        QTest::newRow("address that does not convert")
            << unplugged << QStringList{"read", "xyz", "1"} << 2 << "Conversion error";
        QTest::newRow("data that does not convert")
            << unplugged << QStringList{"write-ext", "0", "1", "0x1g"} << 2 << "DATA '0x1g'";
        QTest::newRow("length 0") << unplugged << QStringList{"read", "0", "0"} << 2
                                  << "LENGTH '0' is not a decimal number from 1 to 1048576";
        QTest::newRow("length above 1048576")
            << unplugged << QStringList{"read-ext", "0", "1048577"} << 2 << "LENGTH '1048577'";
        QTest::newRow("pattern 256") << unplugged << QStringList{"write-page", "256"} << 2
                                     << "PATTERN '256' is not a decimal number from 0 to 255";
    }
    void failure()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QStringList, command);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QVERIFY(writeFile(dir.filePath("six.bin"), "abcdef"));
        if (command.last() == "six.bin")
            command.last() = dir.filePath("six.bin");
        const Run r = runProcess(simOptions, command);

        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.startsWith("tq470-flash: ") && r.err.contains(message), qPrintable(r.err));
        if (command.first().startsWith("read"))
            QVERIFY2(!r.out.contains("0x0000:"), "a failed read shows no dump");
    }
};

QTEST_GUILESS_MAIN(TestServiceCommands)
#include "tst_servicecommands.moc"
