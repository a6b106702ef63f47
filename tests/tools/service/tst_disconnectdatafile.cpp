#include "disconnectdatafile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>

namespace {

// The C library starts rand() as if seeded with 1.
constexpr unsigned DefaultSeed = 1;

} // namespace

class TestDisconnectDataFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Run first: nothing in the program may seed rand() before Disconnect draws.
    void firstPermutationIsThatOfTheDefaultSeed()
    {
        const QList<DisconnectDataFile::Draw> draws = DisconnectDataFile::drawPermutation();

        std::srand(DefaultSeed);
        QList<int> expected;
        while (expected.size() < DisconnectDataFile::ValueCount) {
            const int value =
                std::rand() % DisconnectDataFile::ValueCount + DisconnectDataFile::LowestValue;
            if (!expected.contains(value))
                expected << value;
        }
        QList<int> values;
        for (const DisconnectDataFile::Draw &draw : draws)
            values << draw.value;
        QCOMPARE(values, expected);
        QCOMPARE(DisconnectDataFile::logLine(draws.first()),
                 QStringLiteral("%1 -> %2").arg(draws.first().raw).arg(expected.first()));
    }

    void fileHoldsOneLineAndOnlyTheLastPermutation()
    {
        QTemporaryDir dir;
        const QString fileName = dir.filePath(DisconnectDataFile::FileName);
        QVERIFY(DisconnectDataFile::write(fileName, {{0, 351}, {190, 541}, {5, 356}}));
        QVERIFY(DisconnectDataFile::write(fileName, {{7, 358}}));
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("358,;"));
        QCOMPARE(DisconnectDataFile::contents({{0, 351}, {190, 541}}), QByteArray("351,541,;"));
    }
};

QTEST_GUILESS_MAIN(TestDisconnectDataFile)
#include "tst_disconnectdatafile.moc"
