#include "filecontents.h"
#include "intelhextext.h"
#include "flashprocessfixture.h"

#include <QDate>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Hex = IntelHexText;

constexpr int ImageSize = 16384;
constexpr int SerialOffset = 0x3FF0;
constexpr int SerialDigits = 9;
constexpr quint32 WindowStart = 0x08000000;
const QByteArray BadChecksum(":0400000001020304F0\n");

} // namespace

// tq470-flash boot-image run as a process, the way a production script calls it.
class TestBootImageCommand : public QObject, private FlashProcessFixture
{
    Q_OBJECT

    using Run = ProcessRun;

public:
    TestBootImageCommand() : FlashProcessFixture("boot.hex") {}

private Q_SLOTS:
    void init() { removeFiles(); }

    void writesImageWithGivenSerial()
    {
        const QByteArray low = Hex::pattern(0x20);
        const QByteArray high = Hex::pattern(0x18, 3);
        const QString hex =
            hexFile(Hex::records(0x07FFFFF0, Hex::pattern(0x10)) + Hex::records(0x08000100, low) +
                    Hex::records(0x08003FE8, high) + Hex::file(0x08004000, Hex::pattern(0x10)));
        const QString output = path("OUT.bin");

        const Run r = flash({"boot-image", hex, output, "--serial", "261205001"});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY2(r.err.isEmpty(), r.err.constData());
        QVERIFY(r.out.contains("261205001"));
        QVERIFY(r.out.contains(output.toUtf8()));

        QByteArray expected(ImageSize, '\xFF');
        expected.replace(0x08000100 - WindowStart, low.size(), low);
        expected.replace(0x08003FE8 - WindowStart, high.size(), high);
        expected.replace(SerialOffset, SerialDigits, "261205001");
        QCOMPARE(fileContents(output).toHex(), expected.toHex());
    }

    void serialDefaultsToTodayAndNumber001()
    {
        const QString output = path("OUT.bin");
        const QDate before = QDate::currentDate();
        const Run r = flash({"boot-image", hexFile(Hex::end() + '\n'), output});
        const QDate after = QDate::currentDate();
        QVERIFY2(r.exitCode == 0, r.err.constData());

        const QByteArray serial = fileContents(output).mid(SerialOffset, SerialDigits);
        const QStringList today{before.toString("yyMMdd001"), after.toString("yyMMdd001")};
        QVERIFY2(today.contains(QString::fromLatin1(serial)), serial.constData());
        QVERIFY(r.out.contains(serial));
    }

    void failureWritesNothing_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");

        const QByteArray good = Hex::end() + '\n';
        const auto row = [](const char *name, const QByteArray &hex, const char *target,
                            const char *serial, int exitCode, const char *message) {
            QTest::newRow(name) << hex << QString(target) << QString(serial) << exitCode
                                << QByteArray(message);
        };
        row("month 13", good, "OUT.bin", "261305001", 2, "261305001");
        row("number 000", good, "OUT.bin", "261205000", 2, "261205000");
        row("wrong record checksum", BadChecksum, "OUT.bin", "261205001", 1,
            "HexToBin error: -8) ");
        row("missing HEX file", QByteArray(), "OUT.bin", "261205001", 1, "HexToBin error: -9) ");
        row("target in a missing directory", good, "missing/OUT.bin", "261205001", 1,
            "cannot write ");
    }

    void failureWritesNothing()
    {
        QFETCH(QByteArray, hex);
        QFETCH(QString, target);
        QFETCH(QString, serial);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);

        const QString input = hex.isNull() ? path("missing.hex") : hexFile(hex);
        const QString output = dir.filePath(target);
        const Run r = flash({"boot-image", input, output, "--serial", serial});
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(message), r.err.constData());
        QVERIFY(r.out.isEmpty());
        QVERIFY(!QFile::exists(output));
    }
};

QTEST_GUILESS_MAIN(TestBootImageCommand)
#include "tst_bootimagecommand.moc"
