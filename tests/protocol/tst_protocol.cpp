#include "deviceidentity.h"
#include "encoding.h"
#include "hexdump.h"

#include <QtEndian>
#include <QtTest>

using Mode = DeviceIdentity::Mode;

class TestProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodingKnownAnswers()
    {
        // Worked out apart from this code by (w XOR k) + k: a zero word encodes to twice its key
        // word, which pins every key bit that matters; word 32 is 0x9E3779B9 under key word 0.
        const quint32 encoded[] = {
            0xB4792DC2, 0x1E3C5A78, 0x874B2D0E, 0xF6DABE82, 0x2513579A, 0xC9A78562, 0x7E5C3A18,
            0x3516F8DA, 0xD8BA9C7E, 0x436587A8, 0x48D159C0, 0xE1C3A586, 0x26AF37BE, 0x1CFAD8B6,
            0xAB546798, 0x694B2D0E, 0x1436587A, 0xA587694A, 0x8EB0D2E0, 0x93B1CFEC, 0x6284A6C8,
            0x1F3D5B78, 0xD4F7193A, 0xC3E40628, 0x4A6C8EB0, 0x395B7D9E, 0xE3052708, 0xFDB97530,
            0x7896B4D2, 0x4F6D8BA8, 0x16345270, 0xADCBE80E, 0x1E488639};
        QByteArray plain(sizeof(encoded), '\0');
        qToLittleEndian<quint32>(0x9E3779B9u, plain.data() + 4 * 32);
        plain += "xyz"; // less than a word: left as it is
        QByteArray buffer = plain, expected = plain;
        qToLittleEndian<quint32>(encoded, 33, expected.data());
        QCOMPARE(EncodeBuffer(buffer.data(), int(buffer.size())), 0);
        QCOMPARE(buffer.toHex(' '), expected.toHex(' '));
        QCOMPARE(DecodeBuffer(buffer.data(), int(buffer.size())), 0);
        QCOMPARE(buffer, plain);
    }

    void hexDump_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("lines"); // the dump after its header line
        QTest::newRow("twenty characters: a full line and a padded last line")
            << QByteArray("0123456789ABCDEFGHIJ")
            << QByteArray("\n0x0000: 30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46"
                          " < 0123456789ABCDEF >\n0x0010: 47 48 49 4a                        "
                          "             < GHIJ             >");
        QTest::newRow("no bytes: the header alone") << QByteArray() << QByteArray();
        QTest::newRow("control and high bytes as dots, 0x20 and 0x7f as themselves")
            << QByteArray::fromHex("001f207f80ff") << "\n0x0000: 00 1f 20 7f 80 ff" +
                   QByteArray(30, ' ') + " < .. \x7f.." + QByteArray(10, ' ') + " >";
        QTest::newRow("offsets grow past four digits") << QByteArray(0x10001, 'z')
            << "\n0x10000: 7a" + QByteArray(45, ' ') + " < z" + QByteArray(15, ' ') + " >";
    }

    void hexDump()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, lines);
        const QByteArray dump = HexDump(data.constData(), int(data.size()));
        const QByteArray address = QByteArray::number(quintptr(data.constData()), 16);
        QVERIFY(dump.startsWith("\n src address: 0x" + address.rightJustified(8, '0')));
        QVERIFY(dump.endsWith(lines));
        QCOMPARE(dump.count('\n'), 1 + (data.size() + 15) / 16);
    }

    // whole: what the device choice takes as one whole Tq470 serial, refusing a garbled read.
    void identity_data()
    {
        QTest::addColumn<QByteArray>("descriptor"); // string descriptor 3, in hex
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<bool>("whole");
        QTest::newRow("nine digits: application")
            << QByteArray("1403310032003300340035003600370038003900") << QByteArray("123456789")
            << Mode::Application << true;
        QTest::newRow("nine digits and b: bootloader")
            << QByteArray("16033100320033003400350036003700380039006200")
            << QByteArray("123456789b") << Mode::Bootloader << true;
        QTest::newRow("capital B is no marker")
            << QByteArray("16033100320033003400350036003700380039004200")
            << QByteArray("123456789B") << Mode::Unknown << false;
        QTest::newRow("a garbled high byte: the low bytes read on, the whole serial is refused")
            << QByteArray("1603310032003300340035ff36003700380039006200")
            << QByteArray("123456789b") << Mode::Bootloader << false;
        QTest::newRow("cut short: fewer bytes than the header's length")
            << QByteArray("16033100320033003400350036003700") << QByteArray("1234567")
            << Mode::Unknown << false;
        QTest::newRow("a letter among the digits")
            << QByteArray("1403310032003300340035003600370061003900") << QByteArray("1234567a9")
            << Mode::Application << false;
        QTest::newRow("a zero code unit in the middle ends the serial")
            << QByteArray("0a03310032000000330034") << QByteArray("12") << Mode::Unknown << false;
        QTest::newRow("unit 0x0100 is no end: its low byte stays")
            << QByteArray("08034100000142") << QByteArray("A\0", 2) << Mode::Unknown << false;
        QTest::newRow("odd byte count: the half unit is dropped")
            << QByteArray("07034100420043") << QByteArray("AB") << Mode::Unknown << false;
        QTest::newRow("above U+00FF: the low byte")
            << QByteArray("060341004101") << QByteArray("AA") << Mode::Unknown << false;
        QTest::newRow("header only") << QByteArray("0203") << QByteArray() << Mode::Unknown
                                     << false;
    }

    void identity()
    {
        QFETCH(QByteArray, descriptor);
        QFETCH(QByteArray, serial);
        QFETCH(Mode, mode);
        QFETCH(bool, whole);
        const QByteArray bytes = QByteArray::fromHex(descriptor);
        QCOMPARE(DeviceIdentity::serialFromDescriptor(bytes), serial);
        QCOMPARE(DeviceIdentity::modeFromSerial(serial), mode);
        QCOMPARE(DeviceIdentity::wellFormedSerial(bytes), whole ? serial : QByteArray());
    }

    void versionTexts()
    {
        QByteArray block(32, 'x');
        block.replace(0, 5, QByteArray("v1.7", 5)).replace(16, 11, QByteArray("2026-11-20", 11));
        QCOMPARE(DeviceIdentity::firstVersionText(block), QByteArray("v1.7"));
        QCOMPARE(DeviceIdentity::secondVersionText(block), QByteArray("2026-11-20"));
        // Without a terminator the first text runs through the block, the second to its end.
        block = QByteArray(32, 'x') + "beyond";
        QCOMPARE(DeviceIdentity::firstVersionText(block), QByteArray(32, 'x'));
        QCOMPARE(DeviceIdentity::secondVersionText(block), QByteArray(16, 'x'));
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
