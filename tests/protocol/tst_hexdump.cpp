#include "hexdump.h"

#include <QtTest>

class TestHexDump : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lines_data();
    void lines();
    void headerNamesTheBufferAddress();
};

static QByteArray dumpWithoutHeader(const QByteArray &data)
{
    const QByteArray dump = HexDump(data.constData(), int(data.size()));
    const int firstLine = dump.indexOf('\n', 1);
    return firstLine < 0 ? QByteArray() : dump.mid(firstLine);
}

void TestHexDump::lines_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("twenty characters: a full line and a padded last line")
        << QByteArray("0123456789ABCDEFGHIJ")
        << QByteArray("\n0x0000: 30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46"
                      " < 0123456789ABCDEF >"
                      "\n0x0010: 47 48 49 4a                                    "
                      " < GHIJ             >");
    QTest::newRow("sixteen bytes give one full line and no last line")
        << QByteArray("ABCDEFGHIJKLMNOP")
        << QByteArray("\n0x0000: 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50"
                      " < ABCDEFGHIJKLMNOP >");
    QTest::newRow("no bytes give only the header") << QByteArray() << QByteArray();
    QTest::newRow("control and high bytes show as dots, 0x20 and 0x7f as themselves")
        << QByteArray("\x00\x1f\x20\x7f\x80\xff", 6)
        << QByteArray("\n0x0000: 00 1f 20 7f 80 ff") + QByteArray(3 * 10, ' ') +
               QByteArray(" < .. \x7f..") + QByteArray(10, ' ') + QByteArray(" >");

    QByteArray many(0x10010, 'z');
    QTest::newRow("offsets grow past four digits") << many << QByteArray();
}

void TestHexDump::lines()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, expected);
    const QByteArray dump = dumpWithoutHeader(data);
    if (data.size() > 0x10000) {
        QVERIFY(dump.contains("\n0x10000: 7a"));
        QCOMPARE(dump.count('\n'), int(data.size() / 16));
        return;
    }
    QCOMPARE(dump, expected);
}

void TestHexDump::headerNamesTheBufferAddress()
{
    const QByteArray data("x");
    const QByteArray dump = HexDump(data.constData(), 1);
    const QByteArray address =
        QByteArray::number(qulonglong(quintptr(data.constData())), 16).rightJustified(8, '0');
    QVERIFY(dump.startsWith("\n src address: 0x" + address + "\n0x0000: 78"));
    QVERIFY(!dump.endsWith('\n'));
}

QTEST_APPLESS_MAIN(TestHexDump)
#include "tst_hexdump.moc"
