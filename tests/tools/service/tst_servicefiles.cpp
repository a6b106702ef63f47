#include "disconnectdatafile.h"
#include "hextext.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>

class TestServiceFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Runs first: nothing in the program may draw from rand() before Disconnect does.
    void disconnectDrawsLikeTheDefaultSeed()
    {
        const QList<DisconnectDataFile::Draw> draws = DisconnectDataFile::drawPermutation();
        std::srand(1); // rand() starts as if seeded with 1
        QList<int> values;
        while (values.size() < 191) {
            const int value = std::rand() % 191 + 351;
            if (!values.contains(value))
                values << value;
        }
        QByteArray text;
        for (const int value : values)
            text += QByteArray::number(value) + ',';
        QCOMPARE(DisconnectDataFile::contents(draws), text + ';');
        QCOMPARE(DisconnectDataFile::logLine({1804289383, 351}), QStringLiteral("1804289383 -> 351"));
        QTemporaryDir dir;
        const QString name = dir.filePath(DisconnectDataFile::FileName);
        QVERIFY(DisconnectDataFile::write(name, {{0, 351}, {190, 541}, {5, 356}}));
        QVERIFY(DisconnectDataFile::write(name, {{7, 358}, {190, 541}}));
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("358,541,;"));
    }

    void hexText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<uint>("value");
        QTest::newRow("0x prefix") << "0x8000000" << true << 0x08000000u;
        QTest::newRow("0X prefix, upper-case digits, blanks") << " 0XABCDEF " << true << 0xABCDEFu;
        QTest::newRow("highest value") << "0xffffffff" << true << 0xFFFFFFFFu;
        QTest::newRow("above 0xffffffff") << "100000000" << false << 0u;
        QTest::newRow("not hexadecimal") << "xyz" << false << 0u;
        QTest::newRow("blank inside") << "12 34" << false << 0u;
    }

    void hexText()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(uint, value);
        bool converted = !ok;
        QCOMPARE(HexText::toValue(text, &converted), value);
        QCOMPARE(converted, ok);
        if (text.startsWith(QLatin1String("0x")) && ok) // proposals read back as typed
            QCOMPARE(HexText::proposal(value), text);
    }
};

QTEST_GUILESS_MAIN(TestServiceFiles)
#include "tst_servicefiles.moc"
