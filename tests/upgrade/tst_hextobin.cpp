#include "hextobin.h"
#include "intelhextext.h"

#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Hex = IntelHexText;

// What the caller put into the buffer; every byte the file does not define must keep it.
constexpr char Untouched = char(0xEE);
// Bytes past the window end, which must stay untouched as well.
constexpr int Guard = 16;
constexpr quint32 SmallWindowSize = 0x100;
constexpr char FirstRecordByte = 0x5A;

QByteArray lines(std::initializer_list<QByteArray> list, const QByteArray &lineEnd = "\n")
{
    QByteArray text;
    for (const QByteArray &line : list)
        text += line + lineEnd;
    return text;
}

QByteArray windowWith(quint32 windowSize, int offset, const QByteArray &bytes)
{
    QByteArray window(int(windowSize), Untouched);
    window.replace(offset, bytes.size(), bytes);
    return window;
}

quint32 parseAddress(const QByteArray &text)
{
    bool ok = false;
    const quint32 value = text.toUInt(&ok, 16);
    if (!ok)
        qFatal("windows.txt: '%s' is not an address", text.constData());
    return value;
}

} // namespace

class TestHexToBin : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString writeHex(const QByteArray &text)
    {
        const QString fileName = dir.filePath(QStringLiteral("input.hex"));
        if (!Hex::write(fileName, text))
            qFatal("cannot write %s", qPrintable(fileName));
        return fileName;
    }

private Q_SLOTS:
    void convertsWindow_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<quint32>("start");
        QTest::addColumn<quint32>("end");
        QTest::addColumn<QByteArray>("expected");

        const auto smallWindow = [](const char *name, const QByteArray &hex, int offset,
                                    const QByteArray &bytes) {
            QTest::newRow(name) << hex << quint32(0) << SmallWindowSize - 1
                                << windowWith(SmallWindowSize, offset, bytes);
        };
        for (const int size : {16, 26, 27, 32, 255}) {
            const QByteArray bytes = Hex::pattern(size);
            smallWindow(qPrintable(QStringLiteral("record of %1 data bytes").arg(size)),
                        lines({Hex::data(0x0000, bytes), Hex::end()}), 0, bytes);
        }
        const QByteArray bytes = Hex::pattern(32);
        smallWindow(
            "CRLF line ends",
            lines({Hex::data(0x0000, bytes.left(16)), Hex::data(0x0010, bytes.mid(16)), Hex::end()},
                  "\r\n"),
            0, bytes);
        smallWindow("end record without a line end", Hex::data(0x0000, bytes) + "\r\n" + Hex::end(),
                    0, bytes);
        smallWindow("file ends without end record or line end", Hex::data(0x0000, bytes), 0, bytes);
        smallWindow("blanks after the checksum",
                    lines({Hex::data(0x0000, bytes) + " \t ", Hex::end() + "\t"}), 0, bytes);
        smallWindow("line longer than any record, blanks after the checksum",
                    lines({Hex::data(0x0000, Hex::pattern(255)) + QByteArray(900, ' '),
                           Hex::data(0x00F0, bytes.left(16)), Hex::end()}),
                    0, Hex::pattern(240) + bytes.left(16));
        smallWindow("lower-case hexadecimal digits",
                    lines({Hex::data(0x0000, bytes).toLower(), Hex::end()}), 0, bytes);
        smallWindow("start linear address record first, and ignored",
                    lines({Hex::record(Hex::StartLinearAddress, 0, QByteArray(4, '\x12')),
                           Hex::data(0x0000, bytes), Hex::end()}),
                    0, bytes);
        smallWindow("empty file", QByteArray(), 0, QByteArray());
        smallWindow("lines after the end record are never read",
                    lines({Hex::data(0x0000, bytes), Hex::end(), "", "garbage",
                           Hex::record(Hex::ExtendedSegmentAddress, 0, QByteArray("\x10\x00", 2)),
                           Hex::data(0x0040, bytes)}),
                    0, bytes);

        const QByteArray three("\x01\x02\x03", 3);
        QTest::newRow("byte at the window end stored, the one after dropped")
            << lines({Hex::data(0x001E, three), Hex::end()}) << quint32(0x10) << quint32(0x1F)
            << windowWith(16, 14, three.left(2));
        QTest::newRow("byte at the window start lands first, the one before dropped")
            << lines({Hex::data(0x000F, three), Hex::end()}) << quint32(0x10) << quint32(0x1F)
            << windowWith(16, 0, three.mid(1));
        QTest::newRow("extended linear address 0x0800 and record address 0x4000")
            << lines({Hex::upperAddress(0x0800), Hex::data(0x4000, bytes), Hex::end()})
            << quint32(0x08004000) << quint32(0x080040FF) << windowWith(0x100, 0, bytes);
        QTest::newRow("records below the window dropped")
            << lines({Hex::upperAddress(0x0800), Hex::data(0x0000, bytes), Hex::data(0x3FE0, bytes),
                      Hex::data(0x4000, three), Hex::end()})
            << quint32(0x08004000) << quint32(0x080040FF) << windowWith(0x100, 0, three);
        QTest::newRow("record running past 64 KiB continues above it")
            << lines({Hex::upperAddress(0x0001), Hex::data(0xFFF0, bytes), Hex::end()})
            << quint32(0x0001FFF0) << quint32(0x0002000F) << windowWith(0x20, 0, bytes);
        const QByteArray four("\x0A\x0B\x0C\x0D", 4);
        const QByteArray wrapping =
            lines({Hex::upperAddress(0xFFFF), Hex::data(0xFFFE, four), Hex::end()});
        QTest::newRow("window at the top of the address space")
            << wrapping << quint32(0xFFFFFFF0) << quint32(0xFFFFFFFF)
            << windowWith(16, 14, four.left(2));
        QTest::newRow("addresses wrap from the top to zero")
            << wrapping << quint32(0) << quint32(0xF) << windowWith(16, 0, four.mid(2));
    }

    void convertsWindow()
    {
        QFETCH(QByteArray, hex);
        QFETCH(quint32, start);
        QFETCH(quint32, end);
        QFETCH(QByteArray, expected);

        QByteArray buffer(int(end - start + 1) + Guard, Untouched);
        QCOMPARE(HexToBin(writeHex(hex), buffer.data(), start, end), int(HexToBinOk));
        QCOMPARE(buffer.toHex(' '), (expected + QByteArray(Guard, Untouched)).toHex(' '));
    }

    // Each file starts with a good record, whose byte stays stored after the failure; the
    // failing record's own bytes, at 0x10, are not stored.
    void rejectsMalformedRecord_data()
    {
        QTest::addColumn<QByteArray>("badLines");
        QTest::addColumn<int>("result");

        const QByteArray good = Hex::data(0x0010, Hex::pattern(4));
        const auto row = [](const char *name, const QByteArray &badLines, int result) {
            QTest::newRow(name) << badLines << result;
        };
        row("blank line", lines({"", good}), HexToBinShortLine);
        row("line of blanks", lines({" \t ", good}), HexToBinShortLine);
        row("line too short for a record", lines({":00000001F"}), HexToBinShortLine);
        row("line without the start code", lines({good.mid(1)}), HexToBinNoStartCode);
        row("blank before the start code", lines({" " + good}), HexToBinNoStartCode);
        row("byte count not hexadecimal", lines({":G4" + good.mid(3)}), HexToBinBadByteCount);
        row("sign in the byte count", lines({":+4" + good.mid(3)}), HexToBinBadByteCount);
        row("address not hexadecimal", lines({":040G10" + good.mid(7)}), HexToBinBadAddress);
        row("0x in the address", lines({":040x10" + good.mid(7)}), HexToBinBadAddress);
        row("type not hexadecimal", lines({good.left(7) + "0Z" + good.mid(9)}),
            HexToBinBadRecordType);
        row("data byte not hexadecimal", lines({good.left(11) + "Q1" + good.mid(13)}),
            HexToBinBadData);
        row("byte count beyond the line's characters", lines({":08" + good.mid(3)}),
            HexToBinBadData);
        row("more characters than the byte count says", lines({":02" + good.mid(3)}),
            HexToBinBadData);
        row("two records on one line", lines({good + good}), HexToBinBadData);
        row("characters far beyond the record on an over-long line",
            lines({good + QByteArray(2000, ' ') + "x"}), HexToBinBadData);
        row("lines ended by CR alone", good + "\r" + good + "\r", HexToBinBadData);
        row("well-formed extended segment address (02)",
            lines({Hex::record(Hex::ExtendedSegmentAddress, 0, QByteArray("\x10\x00", 2)), good}),
            HexToBinUnsupportedRecord);
        row("start segment address (03)",
            lines({Hex::record(Hex::StartSegmentAddress, 0, QByteArray(4, '\0')), good}),
            HexToBinUnsupportedRecord);
        row("record type 06", lines({Hex::record(0x06, 0, QByteArray()), good}),
            HexToBinUnsupportedRecord);
        row("extended linear address not hexadecimal", lines({":02000004X8000000"}),
            HexToBinUnsupportedRecord);
        row("extended linear address of one byte",
            lines({Hex::record(Hex::ExtendedLinearAddress, 0, "\x08")}), HexToBinUnsupportedRecord);
        row("wrong checksum on a data record", lines({good.chopped(2) + "00"}),
            HexToBinChecksumMismatch);
        row("wrong checksum on the end record", lines({":00000001FE"}), HexToBinChecksumMismatch);
        row("checksum missing", lines({good.chopped(2)}), HexToBinChecksumMismatch);
        row("checksum not hexadecimal", lines({good.chopped(2) + "G0"}), HexToBinChecksumMismatch);
    }

    void rejectsMalformedRecord()
    {
        QFETCH(QByteArray, badLines);
        QFETCH(int, result);

        const QByteArray hex = lines({Hex::data(0x0000, QByteArray(1, FirstRecordByte))}) +
                               badLines + lines({Hex::end()});
        QByteArray buffer(int(SmallWindowSize), Untouched);
        QCOMPARE(HexToBin(writeHex(hex), buffer.data(), 0, SmallWindowSize - 1), result);
        QCOMPARE(buffer.toHex(' '),
                 windowWith(SmallWindowSize, 0, QByteArray(1, FirstRecordByte)).toHex(' '));
    }

    void unreadableFileLeavesBufferUntouched_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("missing file") << dir.filePath(QStringLiteral("missing.hex"));
        QTest::newRow("directory") << dir.path();
        // Opens, but every read fails: the start of the address space is never mapped.
        if (QFile::exists(QStringLiteral("/proc/self/mem")))
            QTest::newRow("file that fails while being read") << QStringLiteral("/proc/self/mem");
    }

    void unreadableFileLeavesBufferUntouched()
    {
        QFETCH(QString, fileName);
        QByteArray buffer(int(SmallWindowSize), Untouched);
        QCOMPARE(HexToBin(fileName, buffer.data(), 0, SmallWindowSize - 1),
                 int(HexToBinCannotRead));
        QCOMPARE(buffer, QByteArray(int(SmallWindowSize), Untouched));
    }

    void everyResultHasItsOwnText()
    {
        QSet<QString> texts;
        for (int result = HexToBinOk; result >= HexToBinCannotRead; --result) {
            const QString text = HexToBinResultText(result);
            QVERIFY2(!text.contains(QLatin1String("unknown")), qPrintable(text));
            texts.insert(text);
        }
        QCOMPARE(texts.size(), HexToBinOk - HexToBinCannotRead + 1);
        QVERIFY(HexToBinResultText(-10).contains(QLatin1String("-10")));
    }

    // Files written by real toolchains, with the windows and results listed beside them. The
    // bytes are compared with srec_cat's conversion of the same window and fill.
    void corpusWindow_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<quint32>("start");
        QTest::addColumn<quint32>("end");
        QTest::addColumn<int>("fill");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("dataStored");

        QFile windows(QStringLiteral(TQ470_HEX_CORPUS "/windows.txt"));
        if (!windows.open(QIODevice::ReadOnly))
            QSKIP("the shared HEX corpus is not there");
        while (!windows.atEnd()) {
            const QByteArray line = windows.readLine().trimmed();
            if (line.isEmpty() || line.startsWith('#'))
                continue;
            const QList<QByteArray> fields = line.simplified().split(' ');
            QVERIFY2(fields.size() >= 5, line.constData());
            const QByteArray outcome = fields.mid(4).join(' ');
            const bool converts = outcome.startsWith("converts");
            QTest::addRow("%s %s-%s fill %s", fields[0].constData(), fields[1].constData(),
                          fields[2].constData(), fields[3].constData())
                << QStringLiteral(TQ470_HEX_CORPUS "/") + QString::fromLatin1(fields[0])
                << parseAddress(fields[1]) << parseAddress(fields[2])
                << int(parseAddress(fields[3])) << (converts ? 0 : fields[4].toInt())
                << !outcome.contains("at once");
        }
    }

    void corpusWindow()
    {
        QFETCH(QString, fileName);
        QFETCH(quint32, start);
        QFETCH(quint32, end);
        QFETCH(int, fill);
        QFETCH(int, result);
        QFETCH(bool, dataStored);

        const int size = int(end - start + 1);
        QByteArray buffer(size, char(fill));
        QCOMPARE(HexToBin(fileName, buffer.data(), start, end), result);
        if (!dataStored) {
            QCOMPARE(buffer, QByteArray(size, char(fill)));
            return;
        }

        const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
        if (srecCat.isEmpty())
            QSKIP("srec_cat (package srecord) is not installed");
        const QString reference = dir.filePath(QStringLiteral("reference.bin"));
        const QString from = QStringLiteral("0x%1").arg(start, 0, 16);
        const QString to = QStringLiteral("0x%1").arg(quint64(end) + 1, 0, 16);
        QProcess process;
        process.start(srecCat,
                      {fileName, QStringLiteral("-Intel"), QStringLiteral("-crop"), from, to,
                       QStringLiteral("-fill"), QStringLiteral("0x%1").arg(fill, 0, 16), from, to,
                       QStringLiteral("-offset"), QStringLiteral("-") + from, QStringLiteral("-o"),
                       reference, QStringLiteral("-Binary")});
        QVERIFY(process.waitForFinished(60000));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        QFile referenceFile(reference);
        QVERIFY(referenceFile.open(QIODevice::ReadOnly));
        const QByteArray expected = referenceFile.readAll();
        QCOMPARE(expected.size(), size);
        QVERIFY2(buffer == expected, "the bytes differ from srec_cat's");
    }
};

QTEST_GUILESS_MAIN(TestHexToBin)
#include "tst_hextobin.moc"
