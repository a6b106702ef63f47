#include "deviceidentity.h"
#include "encoding.h"
#include "hexdump.h"

#include <QtEndian>
#include <QtTest>

using Mode = DeviceIdentity::Mode;
Q_DECLARE_METATYPE(Mode)

class TestProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodingKnownAnswers()
    {
        // Words 0 to 32 of a buffer whose plain word i is 0x9E3779B9 * (i + 1), encoded: worked
        // out apart from this code from the rule (w XOR k) + k and the 32 key words.
        const quint32 encoded[] = {
            0x1E488639, 0x428F0B8A, 0xDCA99233, 0x7F1E18E6, 0x1826771D, 0x3672DB98, 0xABD8660F,
            0x05BC2E12, 0x500B57FD, 0x314AC6C2, 0x0C7342F3, 0x8B5A3932, 0x2EDE5199, 0xB7F330A0,
            0x669445E7, 0x0C77A39E, 0x95CF65B1, 0x9FE8F04C, 0x409ECB3B, 0x5F664D78, 0xFD1102AD,
            0xA6F98616, 0xC6FBEF9F, 0x16B36D60, 0x7B92EBA1, 0x29BDA0D4, 0x4FDDD88B, 0xAFAAA53C,
            0x0C4EEE05, 0xD4ED4C4E, 0x2EC7BD97, 0xE6F0B72E, 0x9956BD19};
        QByteArray plain(sizeof(encoded), '\0');
        for (int i = 0; i < 33; ++i)
            qToLittleEndian<quint32>(0x9E3779B9u * quint32(i + 1), plain.data() + 4 * i);
        plain += "xyz"; // less than a word: left as it is
        QByteArray buffer = plain;
        QCOMPARE(EncodeBuffer(buffer.data(), int(buffer.size())), 0);
        for (int i = 0; i < 33; ++i)
            QVERIFY2(qFromLittleEndian<quint32>(buffer.constData() + 4 * i) == encoded[i],
                     qPrintable(QStringLiteral("word %1").arg(i)));
        QCOMPARE(buffer.right(3), QByteArray("xyz"));
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
        QTest::newRow("sixteen bytes: one full line, no last line")
            << QByteArray("ABCDEFGHIJKLMNOP")
            << QByteArray("\n0x0000: 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50"
                          " < ABCDEFGHIJKLMNOP >");
        QTest::newRow("no bytes: the header alone") << QByteArray() << QByteArray();
        QTest::newRow("control and high bytes as dots, 0x20 and 0x7f as themselves")
            << QByteArray::fromHex("001f207f80ff")
            << "\n0x0000: 00 1f 20 7f 80 ff" + QByteArray(30, ' ') + " < .. \x7f.." +
                   QByteArray(10, ' ') + " >";
        QTest::newRow("offsets grow past four digits")
            << QByteArray(0x10001, 'z')
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

    void identity_data()
    {
        QTest::addColumn<QByteArray>("descriptor"); // string descriptor 3, in hex
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<Mode>("mode");
        QTest::newRow("nine digits: application")
            << QByteArray("1403310032003300340035003600370038003900") << QByteArray("123456789")
            << Mode::Application;
        QTest::newRow("nine digits and b: bootloader")
            << QByteArray("16033100320033003400350036003700380039006200")
            << QByteArray("123456789b") << Mode::Bootloader;
        QTest::newRow("capital B is no marker")
            << QByteArray("16033100320033003400350036003700380039004200")
            << QByteArray("123456789B") << Mode::Unknown;
        QTest::newRow("a zero code unit in the middle ends the serial")
            << QByteArray("0a03310032000000330034") << QByteArray("12") << Mode::Unknown;
        QTest::newRow("unit 0x0100 is no end: its low byte stays")
            << QByteArray("08034100000142") << QByteArray("A\0", 2) << Mode::Unknown;
        QTest::newRow("odd byte count: the half unit is dropped")
            << QByteArray("07034100420043") << QByteArray("AB") << Mode::Unknown;
        QTest::newRow("above U+00FF: the low byte") << QByteArray("060341004101")
                                                   << QByteArray("AA") << Mode::Unknown;
        QTest::newRow("header only") << QByteArray("0203") << QByteArray() << Mode::Unknown;
        QTest::newRow("one byte") << QByteArray("02") << QByteArray() << Mode::Unknown;
        QTest::newRow("failed read: no bytes") << QByteArray() << QByteArray() << Mode::Unknown;
    }

    void identity()
    {
        QFETCH(QByteArray, descriptor);
        QFETCH(QByteArray, serial);
        QFETCH(Mode, mode);
        QCOMPARE(DeviceIdentity::serialFromDescriptor(QByteArray::fromHex(descriptor)), serial);
        QCOMPARE(DeviceIdentity::modeFromSerial(serial), mode);
    }

    void versionTexts()
    {
        QByteArray block(32, '\0');
        QCOMPARE(DeviceIdentity::firstVersionText(block) + DeviceIdentity::secondVersionText(block),
                 QByteArray());
        block.replace(0, 4, "v1.7").replace(16, 10, "2026-11-20");
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
