#include "disconnectdatafile.h"
#include "encoding.h"
#include "externalflashtools.h"
#include "hexdump.h"
#include "hextext.h"
#include "memorytools.h"
#include "simtestsupport.h"
#include "usbtq470.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>

using namespace Bootloader;
using Image = ExternalFlashTools::ImageResult;

class TestServiceTools : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void disconnectDrawsLikeTheDefaultSeed(); // first: nothing may draw from rand() before it
    void hexText();
    void cleanup() { SimTestBus::unplugAll(); }
    void tools_data();
    void tools();
};

void TestServiceTools::disconnectDrawsLikeTheDefaultSeed()
{
    const QList<DisconnectDataFile::Draw> draws = DisconnectDataFile::drawPermutation();
    std::srand(1); // rand() starts as if seeded with 1
    QList<int> values;
    QByteArray text;
    while (values.size() < 191) {
        const int value = std::rand() % 191 + 351;
        if (!values.contains(value))
            text += QByteArray::number(values.emplaceBack(value)) + ',';
    }
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

void TestServiceTools::hexText()
{
    bool ok = false;
    QCOMPARE(HexText::toValue(QStringLiteral(" 0XABCDEF "), &ok), 0xABCDEFu);
    QVERIFY(ok);
    QCOMPARE(HexText::proposal(0xABCDEF), QStringLiteral("0xabcdef"));
}

void TestServiceTools::tools_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("result"); // 1 or 0 for true or false, or the ImageResult
    const auto row = [](const char *name, const char *op, const char *fault, int result,
                        const QByteArray &image = {}) {
        QTest::newRow(name) << QString(op) << QString(fault) << image << result;
    };
    row("memory read: the decoded range", "read", "", 1);
    row("failed memory read leaves no data", "read", "stall:request=1", 0);
    row("test block: bytes 0 to 255 twice, stored whole", "block", "", 1);
    row("short test block send is a failure", "block", "short:request=2", 0);
    row("test page: the pattern at 0x08005000", "page", "", 1);
    row("short test page write is a failure", "page", "short:request=3", 0);
    row("fill: the low byte of the data, encoded", "fill", "", 1);
    row("image of 4 bytes: written, read back, equal", "image", "", int(Image::Written), "abcd");
    row("image of 6 bytes: nothing sent", "image", "", int(Image::LengthError), "abcdef");
    row("image of 0 bytes: nothing sent", "image", "", int(Image::LengthError), "");
    row("image write fails", "image", "short:request=6:times=all", int(Image::WriteFailed), "abcd");
    row("image read-back fails", "image", "short:request=5:times=all", int(Image::ReadBackFailed),
        "abcd");
    row("image read back different", "image", "corrupt:request=5", int(Image::Mismatch), "abcd");
}

void TestServiceTools::tools()
{
    QFETCH(QString, op);
    QFETCH(QString, fault);
    QFETCH(QByteArray, image);
    QFETCH(int, result);
    const PluggedDevice sim = SimTestBus::plugFresh();
    if (!fault.isEmpty())
        QVERIFY(sim->addFault(fault));
    USBTQ470 device;
    MemoryTools memory(device);
    ExternalFlashTools flash(device);
    QByteArray data;
    if (op == "read") {
        QCOMPARE(int(memory.read(VersionBlockAddress, 48, &data)), result);
        QCOMPARE(data, result ? sim->readInternal(VersionBlockAddress, 48) : QByteArray());
    } else if (op == "block") {
        QCOMPARE(int(memory.sendTestBlock(&data)), result);
        QByteArray block;
        for (int i = 0; i < 2 * 256; ++i)
            block += char(i);
        QCOMPARE(data, block);
        QCOMPARE(sim->testBlock(), result ? block : QByteArray());
    } else if (op == "page") {
        QCOMPARE(int(memory.writePage(0xA5)), result);
        QCOMPARE(sim->readInternal(MemoryTools::TestPageAddress, PageSize),
                 QByteArray(PageSize, result ? '\xA5' : '\xFF'));
    } else if (op == "fill") {
        QCOMPARE(int(flash.fill(0x100, 6, 0x1234, &data)), result);
        QByteArray encoded(6, '\x34');
        EncodeBufferQuietly(encoded.data(), 6);
        QCOMPARE(data, encoded);
        QCOMPARE(sim->readExternal(0x100, 6), encoded);
        QCOMPARE(ExternalFlashTools::fillReport(0x100, 6, data),
                 QStringList({"lenght:        6", "address: 0x     100",
                              QString::fromLatin1(HexDump(data.constData(), 6))}));
    } else {
        QCOMPARE(int(flash.writeImage(image)), result);
        if (result == int(Image::LengthError))
            QVERIFY(sim->requestLog().isEmpty());
        QByteArray stored = image;
        EncodeBufferQuietly(stored.data(), int(stored.size()));
        if (result == int(Image::Written))
            QCOMPARE(sim->readExternal(0, 4), stored);
    }
}

TQ470_SIM_TEST_GUILESS_MAIN(TestServiceTools)
#include "tst_servicetools.moc"
