#include "hextobin.h"
#include "intelhextext.h"
#include "testchecks.h"
#include "upgradefile.h"
#include "upgradeimagebuilder.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

using Hex = IntelHexText;

// What the caller put into the buffer; every byte the file does not define keeps it, also in
// the guard bytes past the window end.
constexpr char Untouched = char(0xEE);
constexpr int Guard = 16;
constexpr quint32 Window = 0x100;

QByteArray lines(const QByteArrayList &list)
{
    return list.join('\n') + '\n';
}

QByteArray stream(const QByteArray &image, const QString &version = UpgradeFile::Version,
                  const QString &header = UpgradeFile::Header)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << header << version << image;
    return bytes;
}

// Reads bytes through a pipe that another thread fills, by the pipe's name in /proc; *unread
// receives what the pipe still held after the read.
UpgradeFile::Status readThroughPipe(UpgradeFile &upgrade, const QByteArray &bytes,
                                    QByteArray *unread)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        qFatal("no pipe");
    std::thread writer(writeAllAndClose, ends[1], bytes);
    const UpgradeFile::Status status =
        upgrade.read(QStringLiteral("/proc/self/fd/%1").arg(ends[0]));
    char buffer[4096];
    for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        unread->append(buffer, got);
    writer.join();
    ::close(ends[0]);
    return status;
}

} // namespace

// HEX conversion and the upgrade file, from HEX text to the bytes of the file and back.
class TestUpgradeFile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    const QString scratch = dir.filePath(QStringLiteral("file"));
    QString fileWith(const QByteArray &text) { return Hex::write(scratch, text) ? scratch : ""; }

private Q_SLOTS:
    void hexToBin_data()
    {
        QTest::addColumn<QByteArray>("hex"); // or, starting with '/', the file to read
        QTest::addColumn<quint32>("start");
        QTest::addColumn<quint32>("end");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("offset"); // where the window holds bytes, Untouched elsewhere
        QTest::addColumn<QByteArray>("bytes");

        const auto window = [](const char *name, const QByteArray &hex, quint32 start, quint32 end,
                               int offset, const QByteArray &bytes) {
            QTest::newRow(name) << hex << start << end << 0 << offset << bytes;
        };
        const auto ok = [&](const char *name, const QByteArray &hex, const QByteArray &bytes) {
            window(name, hex, 0, Window - 1, 0, bytes);
        };
        // After a good record, whose byte stays; the failing record's own bytes never land.
        const auto bad = [](const char *name, const QByteArray &line, int result) {
            QTest::newRow(name) << lines({Hex::data(0, "Z"), line, Hex::end()}) << 0u << Window - 1
                                << result << 0 << QByteArray("Z");
        };
        const QByteArray good = Hex::data(0x0010, Hex::pattern(4));
        const QByteArray bytes = Hex::pattern(32);
        const QByteArray three = bytes.left(3);
        const QByteArray longest = Hex::pattern(255);

        ok("record of 255 bytes, blanks after it on an over-long line, lower-case digits",
           lines({Hex::data(0, longest) + QByteArray(900, ' '),
                  Hex::data(0xF0, bytes.left(16)).toLower()}),
           longest.left(240) + bytes.left(16));
        ok("CRLF line ends, no end record, no line end after the last",
           Hex::data(0, bytes.left(16)) + "\r\n" + Hex::data(16, bytes.mid(16)), bytes);
        // The file is read in 64 KiB blocks.
        ok("record split across a read block after CRLF, no line end after it",
           Hex::data(0, bytes.left(1)) + QByteArray(65500, ' ') + "\r\n" +
               Hex::data(1, bytes.mid(1)),
           bytes);
        ok("line longer than a read block, blanks after its record",
           lines({Hex::data(0, bytes.left(16)) + QByteArray(140000, ' '),
                  Hex::data(16, bytes.mid(16))}),
           bytes);
        ok("start linear address ignored, lines after the end record never read",
           lines({Hex::data(0, bytes), ":0400000512345678E3", Hex::end(), "garbage",
                  Hex::data(0x40, bytes)}),
           bytes);
        window("bytes at both window ends stored, those beyond dropped",
               lines({Hex::data(0x0F, three), Hex::data(0x1E, three)}), 0x10, 0x1F, 0,
               three.mid(1) + QByteArray(12, Untouched) + three.left(2));
        window("extended linear address, records below and above the window dropped",
               lines({Hex::upperAddress(0x0800), Hex::data(0x3FE0, bytes), Hex::data(0x4000, three),
                      Hex::upperAddress(0x0801), Hex::data(0x4000, bytes)}),
               0x08004000, 0x080040FF, 0, three);
        window("record running past 64 KiB continues above it",
               lines({Hex::upperAddress(0x0001), Hex::data(0xFFF0, bytes)}), 0x0001FFF0, 0x0002000F,
               0, bytes);
        window("window at the top of the address space",
               lines({Hex::upperAddress(0xFFFF), Hex::data(0xFFFE, bytes.left(4))}), 0xFFFFFFF0,
               0xFFFFFFFF, 14, bytes.left(2));

        bad("line too short for a record", ":00000001F", HexToBinShortLine);
        bad("blank before the start code", " " + good, HexToBinNoStartCode);
        bad("sign in the byte count", ":+4" + good.mid(3), HexToBinBadByteCount);
        bad("0x in the address", ":040x10" + good.mid(7), HexToBinBadAddress);
        bad("type not hexadecimal", good.left(7) + "0Z" + good.mid(9), HexToBinBadRecordType);
        bad("byte count beyond the line", ":08" + good.mid(3), HexToBinBadData);
        bad("characters far beyond the record on an over-long line",
            good + QByteArray(2000, ' ') + "x", HexToBinBadData);
        bad("data digit not hexadecimal", good.left(11) + "G" + good.mid(12), HexToBinBadData);
        bad("characters beyond the record on a line longer than a read block",
            good + QByteArray(140000, ' ') + "x", HexToBinBadData);
        bad("extended segment address (02), well formed", ":020000021000EC",
            HexToBinUnsupportedRecord);
        bad("extended linear address not hexadecimal", ":02000004X8000000",
            HexToBinUnsupportedRecord);
        bad("extended linear address, 1 byte", ":0100000408F3", HexToBinUnsupportedRecord);
        bad("extended linear address, 3 bytes", ":03000004080000F1", HexToBinUnsupportedRecord);
        bad("wrong checksum", good.chopped(2) + "00", HexToBinChecksumMismatch);
        bad("checksum missing", good.chopped(2), HexToBinChecksumMismatch);
        // The second opens, but every read fails: the start of the address space is unmapped.
        for (const QString &name :
             {dir.filePath(QStringLiteral("missing")), QStringLiteral("/proc/self/mem")})
            QTest::addRow("unreadable %s", qPrintable(name))
                << name.toLocal8Bit() << 0u << Window - 1 << int(HexToBinCannotRead) << 0
                << QByteArray();
    }

    void hexToBin()
    {
        QFETCH(QByteArray, hex);
        QFETCH(quint32, start);
        QFETCH(quint32, end);
        QFETCH(int, result);
        QFETCH(int, offset);
        QFETCH(QByteArray, bytes);

        QByteArray buffer(int(end - start + 1) + Guard, Untouched);
        const QByteArray expected = QByteArray(buffer).replace(offset, bytes.size(), bytes);
        const QString file = hex.startsWith('/') ? QString::fromLocal8Bit(hex) : fileWith(hex);
        QCOMPARE(HexToBin(file, buffer.data(), start, end), result);
        QCOMPARE(buffer.toHex(' '), expected.toHex(' '));
        QVERIFY(!HexToBinResultText(result).contains(QLatin1String("unknown")));
    }

    // Digests of files that a separate script built from the format's description (texts as
    // length and UTF-16, the image length-prefixed and encoded word by word with the key).
    void writtenFile_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<QByteArray>("sha256");
        QTest::addColumn<bool>("externalData"); // whether the external range got HEX data

        // 32 bytes across each edge: below the application, the start and end of the range
        // copied to external flash, the application's end with its checksum word.
        QByteArray hex;
        int seed = 1;
        for (const quint32 address : {0x08003FF0u, 0x0801FFF0u, 0x0803BFF0u, 0x0803FFF0u})
            hex += Hex::records(address, Hex::pattern(32, seed++));
        QTest::newRow("image built from HEX data across every window edge")
            << hex + Hex::end() + '\n'
            << QByteArray("3bcc987b58462e2ee07e8c9a00a7780bf5d124ea2fb8a7433486a36d6f0474da")
            << true;
        // Nothing at the external range's start, where a byte past the application could land.
        QTest::newRow("image built from HEX data past the application end")
            << Hex::file(0x0803FFF0, Hex::pattern(32, 5))
            << QByteArray("629438e616419a3917d72b6d57034e463357c1adb11a6d51e5fb6e5334104817")
            << false;
    }

    void writtenFile()
    {
        QFETCH(QByteArray, hex);
        QFETCH(QByteArray, sha256);
        QFETCH(bool, externalData);

        QByteArray plain;
        HexToBinReport application, external;
        QCOMPARE(UpgradeImageBuilder::build(fileWith(hex), &plain, &application, &external),
                 int(HexToBinOk));
        QVERIFY(application.windowHasData);
        QCOMPARE(external.windowHasData, externalData);
        const QString fileName = dir.filePath(QStringLiteral("firmware.upg"));
        QString error;
        QVERIFY2(UpgradeFile::write(fileName, plain, &error), qPrintable(error));
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex(),
                 sha256);
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file
        QTest::addColumn<UpgradeFile::Status>("status");
        QTest::addColumn<qint64>("sparseSize"); // the file extended to this size, or 0
        // Null: read from a file; otherwise read through a pipe, which still holds these bytes
        // after the read.
        QTest::addColumn<QByteArray>("unread");

        const QByteArray image = Hex::pattern(UpgradeFile::ImageSize);
        using S = UpgradeFile::Status;
        QTest::newRow("bytes after the image, in its item and after it")
            << stream(image + "xy") + "trailing" << S::Ok << qint64(0) << QByteArray();
        // The length field sits just before the image; both files end long before 4 GiB.
        const auto declaring = [&](quint32 length) {
            QByteArray bytes = stream(image);
            qToBigEndian(length, bytes.data() + bytes.size() - image.size() - 4);
            return bytes;
        };
        QTest::newRow("image declared 2 GiB long, the file ends after the format's image")
            << declaring(0x80000000u) << S::WrongSize << qint64(0) << QByteArray();
        QTest::newRow("image declared 4 GiB long, a sparse file that long: only the image read")
            << declaring(0xFFFFFFF0u) << S::Ok << qint64(0x100000100) << QByteArray();
        QTest::newRow("header with a trailing blank")
            << stream(image, UpgradeFile::Version, UpgradeFile::Header + QString(' '))
            << S::WrongHeader << qint64(0) << QByteArray();
        QTest::newRow("version 02")
            << stream(image, "02") << S::WrongVersion << qint64(0) << QByteArray();
        QTest::newRow("file ends inside the version")
            << stream(image).left(60) << S::WrongVersion << qint64(0) << QByteArray();
        QTest::newRow("image one byte short")
            << stream(image.chopped(1)) << S::WrongSize << qint64(0) << QByteArray();
        QTest::newRow("file ends inside the image")
            << stream(image).chopped(1) << S::WrongSize << qint64(0) << QByteArray();
        QTest::newRow("missing file")
            << QByteArray() << S::WrongHeader << qint64(0) << QByteArray();
        QTest::newRow("through a pipe: the image as from a file, nothing after its item read")
            << stream(image + "xy") + "trailing" << S::Ok << qint64(0) << QByteArray("trailing");
        QTest::newRow("through a pipe, image declared one byte short: refused before it is read")
            << stream(image.chopped(1)) << S::WrongSize << qint64(0) << image.chopped(1);
        QTest::newRow("through a pipe, image declared as the null array: refused before it is read")
            << declaring(0xFFFFFFFFu) << S::WrongSize << qint64(0) << image;
        QTest::newRow("through a pipe, image declared 2 GiB long: refused where the pipe ends")
            << declaring(0x80000000u) << S::WrongSize << qint64(0) << QByteArray("");
        QTest::newRow("through a pipe ending inside the image")
            << stream(image).chopped(1) << S::WrongSize << qint64(0) << QByteArray("");
    }

    void read()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(UpgradeFile::Status, status);
        QFETCH(qint64, sparseSize);
        QFETCH(QByteArray, unread);

        UpgradeFile upgrade;
        if (unread.isNull()) {
            const QString name = bytes.isNull() ? dir.filePath("missing.upg") : fileWith(bytes);
            if (sparseSize > 0)
                QVERIFY(QFile::resize(name, sparseSize));
            QCOMPARE(upgrade.read(name), status);
        } else {
            QByteArray left("");
            QCOMPARE(readThroughPipe(upgrade, bytes, &left), status);
            QCOMPARE(left.size(), unread.size());
            QCOMPARE(left, unread);
        }
        QCOMPARE(upgrade.encodedImage(), status == UpgradeFile::Status::Ok
                                             ? Hex::pattern(UpgradeFile::ImageSize)
                                             : QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestUpgradeFile)
#include "tst_upgradefile.moc"
