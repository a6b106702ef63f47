#include "hextobin.h"
#include "intelhextext.h"
#include "upgradefile.h"
#include "upgradeimagebuilder.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Hex = IntelHexText;

// What the caller put into the buffer; every byte the file does not define keeps it, also in
// the guard bytes past the window end.
constexpr char Untouched = char(0xEE);
constexpr int Guard = 16;
constexpr quint32 Window = 0x100;
constexpr char FirstByte = 0x5A;

QByteArray lines(std::initializer_list<QByteArray> list, const QByteArray &lineEnd = "\n")
{
    QByteArray text;
    for (const QByteArray &line : list)
        text += line + lineEnd;
    return text;
}

QByteArray windowWith(quint32 size, int offset, const QByteArray &bytes)
{
    return QByteArray(int(size), Untouched).replace(offset, bytes.size(), bytes);
}

QByteArray plainPattern()
{
    QByteArray image(UpgradeFile::ImageSize, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i % 251);
    return image;
}

QByteArray stream(const QString &header, const QString &version, const QByteArray &image)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << header << version << image;
    return bytes;
}

} // namespace

// HEX conversion and the upgrade file, from HEX text to the bytes of the file and back.
class TestUpgradeFile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString fileWith(const QByteArray &bytes)
    {
        const QString fileName = dir.filePath(QStringLiteral("file"));
        return Hex::write(fileName, bytes) ? fileName : QString();
    }

private Q_SLOTS:
    void hexToBin_data()
    {
        QTest::addColumn<QByteArray>("hex"); // or, starting with '/', the file to read
        QTest::addColumn<quint32>("start");
        QTest::addColumn<quint32>("end");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("expected");

        const auto window = [](const char *name, const QByteArray &hex, quint32 start, quint32 end,
                               int offset, const QByteArray &bytes) {
            QTest::newRow(name) << hex << start << end << 0
                                << windowWith(end - start + 1, offset, bytes);
        };
        const auto ok = [&](const char *name, const QByteArray &hex, const QByteArray &bytes) {
            window(name, hex, 0, Window - 1, 0, bytes);
        };
        // After a good record, whose byte stays; the failing record's own bytes never land.
        const auto bad = [](const char *name, const QByteArray &badLines, int result) {
            QTest::newRow(name) << lines({Hex::data(0, QByteArray(1, FirstByte))}) + badLines +
                                       lines({Hex::end()})
                                << 0u << Window - 1 << result
                                << windowWith(Window, 0, QByteArray(1, FirstByte));
        };
        const QByteArray good = Hex::data(0x0010, Hex::pattern(4));
        const QByteArray bytes = Hex::pattern(32);
        const QByteArray longest = Hex::pattern(255);
        const QByteArray three("\x01\x02\x03", 3);
        const QByteArray four("\x0A\x0B\x0C\x0D", 4);
        const QByteArray top = lines({Hex::upperAddress(0xFFFF), Hex::data(0xFFFE, four)});

        ok("record of 255 bytes, blanks after it on an over-long line, lower-case digits",
           lines({Hex::data(0, longest) + QByteArray(900, ' '),
                  Hex::data(0xF0, bytes.left(16)).toLower()}),
           longest.left(240) + bytes.left(16));
        ok("CRLF line ends", lines({Hex::data(0, bytes), Hex::end()}, "\r\n"), bytes);
        ok("no end record, no last line end", Hex::data(0, bytes), bytes);
        ok("start linear address ignored",
           lines(
               {Hex::record(Hex::StartLinearAddress, 0, "\x12\x34\x56\x78"), Hex::data(0, bytes)}),
           bytes);
        ok("lines after the end record never read",
           lines({Hex::data(0, bytes), Hex::end(), "garbage", Hex::data(0x40, bytes)}), bytes);
        ok("fill kept in the gap between records",
           lines({Hex::data(0, three), Hex::data(0x10, three)}),
           three + QByteArray(13, Untouched) + three);
        window("byte at the window end stored, the next dropped", lines({Hex::data(0x1E, three)}),
               0x10, 0x1F, 14, three.left(2));
        window("byte at the window start lands first, the one before dropped",
               lines({Hex::data(0x0F, three)}), 0x10, 0x1F, 0, three.mid(1));
        window("extended linear address, records below and above the window dropped",
               lines({Hex::upperAddress(0x0800), Hex::data(0x3FE0, bytes), Hex::data(0x4000, three),
                      Hex::upperAddress(0x0801), Hex::data(0x4000, bytes)}),
               0x08004000, 0x080040FF, 0, three);
        window("record running past 64 KiB continues above it",
               lines({Hex::upperAddress(0x0001), Hex::data(0xFFF0, bytes)}), 0x0001FFF0, 0x0002000F,
               0, bytes);
        window("window at the top of the address space", top, 0xFFFFFFF0, 0xFFFFFFFF, 14,
               four.left(2));

        bad("line too short for a record", lines({":00000001F", good}), HexToBinShortLine);
        bad("blank before the start code", lines({" " + good}), HexToBinNoStartCode);
        bad("sign in the byte count", lines({":+4" + good.mid(3)}), HexToBinBadByteCount);
        bad("0x in the address", lines({":040x10" + good.mid(7)}), HexToBinBadAddress);
        bad("type not hexadecimal", lines({good.left(7) + "0Z" + good.mid(9)}),
            HexToBinBadRecordType);
        bad("byte count beyond the line", lines({":08" + good.mid(3)}), HexToBinBadData);
        bad("two records on one line", lines({good + good}), HexToBinBadData);
        bad("characters far beyond the record on an over-long line",
            lines({good + QByteArray(2000, ' ') + "x"}), HexToBinBadData);
        bad("extended segment address (02), well formed",
            lines({Hex::record(Hex::ExtendedSegmentAddress, 0, QByteArray("\x10\x00", 2)), good}),
            HexToBinUnsupportedRecord);
        bad("extended linear address not hexadecimal", lines({":02000004X8000000"}),
            HexToBinUnsupportedRecord);
        bad("extended linear address of one byte",
            lines({Hex::record(Hex::ExtendedLinearAddress, 0, "\x08"), good}),
            HexToBinUnsupportedRecord);
        bad("wrong checksum", lines({good.chopped(2) + "00"}), HexToBinChecksumMismatch);
        bad("checksum missing", lines({good.chopped(2)}), HexToBinChecksumMismatch);
        // The second opens, but every read fails: the start of the address space is unmapped.
        for (const QString &name :
             {dir.filePath(QStringLiteral("missing")), QStringLiteral("/proc/self/mem")})
            QTest::addRow("unreadable %s", qPrintable(name))
                << name.toLocal8Bit() << 0u << Window - 1 << int(HexToBinCannotRead)
                << QByteArray(int(Window), Untouched);
    }

    void hexToBin()
    {
        QFETCH(QByteArray, hex);
        QFETCH(quint32, start);
        QFETCH(quint32, end);
        QFETCH(int, result);
        QFETCH(QByteArray, expected);

        QByteArray buffer(int(end - start + 1) + Guard, Untouched);
        const QString file = hex.startsWith('/') ? QString::fromLocal8Bit(hex) : fileWith(hex);
        QCOMPARE(HexToBin(file, buffer.data(), start, end), result);
        QCOMPARE(buffer.toHex(' '), (expected + QByteArray(Guard, Untouched)).toHex(' '));
        QVERIFY(!HexToBinResultText(result).contains(QLatin1String("unknown")));
    }

    // The digests are of files built from the format's description by a separate script
    // (header and version as big-endian length and UTF-16 text, the image length-prefixed and
    // encoded word by word with the key), not by this code.
    void writtenFile_data()
    {
        QTest::addColumn<QByteArray>("hex"); // empty: the plain pattern image, not built
        QTest::addColumn<QByteArray>("sha256");

        QTest::newRow("plain image of bytes i mod 251")
            << QByteArray()
            << QByteArray("8afad276accdd0edb9b7a7a5f8d45d2e16daeedb1316bf27709157ea816015d3");
        // 32 bytes across each edge: below the application, the start and end of the range
        // copied to external flash, the application's end with its checksum word.
        QByteArray hex;
        int seed = 1;
        for (const quint32 address : {0x08003FF0u, 0x0801FFF0u, 0x0803BFF0u, 0x0803FFF0u})
            hex += Hex::records(address, Hex::pattern(32, seed++));
        QTest::newRow("image built from HEX data across every window edge")
            << hex + Hex::end() + '\n'
            << QByteArray("3bcc987b58462e2ee07e8c9a00a7780bf5d124ea2fb8a7433486a36d6f0474da");
        // Nothing at the start of the external range, so that a byte beyond the application
        // could not be overwritten there.
        QTest::newRow("image built from HEX data past the application end")
            << Hex::file(0x0803FFF0, Hex::pattern(32, 5))
            << QByteArray("629438e616419a3917d72b6d57034e463357c1adb11a6d51e5fb6e5334104817");
    }

    // The digests are of files built from the format's description by a separate script
    // (header and version as big-endian length and UTF-16 text, the image length-prefixed and
    // encoded word by word with the key), not by this code.
    void writtenFile()
    {
        QFETCH(QByteArray, hex);
        QFETCH(QByteArray, sha256);

        QByteArray plain = plainPattern();
        if (!hex.isEmpty())
            QCOMPARE(UpgradeImageBuilder::build(fileWith(hex), &plain), int(HexToBinOk));
        const QString fileName = dir.filePath(QStringLiteral("firmware.upg"));
        QString error;
        QVERIFY2(UpgradeFile::write(fileName, plain, &error), qPrintable(error));
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex(),
                 sha256);
        UpgradeFile upgrade;
        QCOMPARE(upgrade.read(fileName), UpgradeFile::Status::Ok);
        QCOMPARE(upgrade.plainImage(), plain);
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file
        QTest::addColumn<UpgradeFile::Status>("status");

        const QString header = QString::fromLatin1(UpgradeFile::Header);
        const QString version = QString::fromLatin1(UpgradeFile::Version);
        const QByteArray image = plainPattern();
        const QByteArray good = stream(header, version, image);
        using S = UpgradeFile::Status;
        QTest::newRow("bytes after the image") << good + "trailing" << S::Ok;
        QTest::newRow("image item longer than the image")
            << stream(header, version, image + "xy") << S::Ok;
        QTest::newRow("header with a trailing blank")
            << stream(header + ' ', version, image) << S::WrongHeader;
        QTest::newRow("version 02") << stream(header, "02", image) << S::WrongVersion;
        QTest::newRow("file ends inside the version") << good.left(60) << S::WrongVersion;
        QTest::newRow("image one byte short")
            << stream(header, version, image.chopped(1)) << S::WrongSize;
        QTest::newRow("file ends inside the image") << good.chopped(1) << S::WrongSize;
        QTest::newRow("missing file") << QByteArray() << S::WrongHeader;
    }

    void read()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(UpgradeFile::Status, status);

        UpgradeFile upgrade;
        QCOMPARE(upgrade.read(bytes.isNull() ? dir.filePath(QStringLiteral("missing.upg"))
                                             : fileWith(bytes)),
                 status);
        QCOMPARE(upgrade.encodedImage(),
                 status == UpgradeFile::Status::Ok ? plainPattern() : QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestUpgradeFile)
#include "tst_upgradefile.moc"
