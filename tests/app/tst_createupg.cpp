#include "upgradefile.h"
#include "windowfixture.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <memory>

namespace {

using Hex = IntelHexText;

constexpr qint64 UpgradeFileSize = 393282;
constexpr int ApplicationImageOffset = 0x4000;
const char *const SlotLine = "TQ470_Bootloader::slotpushButtonCreateUpg(bool t)";

} // namespace

class TestCreateUpg : public QObject, private WindowFixture
{
    Q_OBJECT

    QString hexFile(const QByteArray &text)
    {
        return writeHex(QStringLiteral("firmware.hex"), text);
    }

    QList<SeenDialog> clickCreateUpg(QList<DialogScript::Answer> answers)
    {
        return clickButton(QStringLiteral("pushButtonCreateUpg"), std::move(answers));
    }

    QString log() const { return logBrowser()->toPlainText(); }

private Q_SLOTS:
    void init() { openWindow(QStringLiteral("earlier line")); }
    void cleanup() { closeWindow(); }

    void cancelAtOpenDialogClearsLogOnly()
    {
        const qsizetype before = debug->lines().size();
        const QList<SeenDialog> seen = clickCreateUpg({cancelDialog()});

        QCOMPARE(seen.size(), 1);
        verifyFileDialog(seen[0], "Open File", "Hex (*.hex)");
        QCOMPARE(debug->lines().value(before), QString(SlotLine));
        QCOMPARE(log(), QString());
        QVERIFY(filesInDirectory().isEmpty());
    }

    void cancelAtSaveDialogWritesNothing()
    {
        const QString hex = hexFile(Hex::file(0x08004000, Hex::pattern(64)));
        const QList<SeenDialog> seen = clickCreateUpg({chooseFile(hex), cancelDialog()});

        QCOMPARE(seen.size(), 2);
        verifyFileDialog(seen[1], "Save File", "Upg (*.upg)");
        QCOMPARE(log(), QString());
        QCOMPARE(filesInDirectory(), QStringList{"firmware.hex"});
    }

    void savedFileHoldsTheConvertedImage()
    {
        const QByteArray bytes = Hex::pattern(64);
        const QString hex = hexFile(Hex::file(0x08004000, bytes));
        const QString target = dir->filePath(QStringLiteral("firmware.upg"));
        const QList<SeenDialog> seen = clickCreateUpg({chooseFile(hex), chooseFile(target)});

        QCOMPARE(seen.size(), 2);
        QCOMPARE(log(), QString());
        QCOMPARE(QFileInfo(target).size(), UpgradeFileSize);
        UpgradeFile upgrade;
        QCOMPARE(upgrade.read(target), UpgradeFile::Status::Ok);
        QCOMPARE(upgrade.plainImage().mid(ApplicationImageOffset, bytes.size()), bytes);
    }

    void conversionErrorIsReportedOnceAndEnds_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<QString>("text");
        QTest::newRow("extended segment address record")
            << Hex::record(Hex::ExtendedSegmentAddress, 0, QByteArray("\x10\x00", 2)) + "\n"
            << "HexToBin error: -7)";
        QTest::newRow("wrong record checksum") << Hex::data(0x0000, "\x01\x02").chopped(2) + "00\n"
                                               << "HexToBin error: -8)";
    }

    void conversionErrorIsReportedOnceAndEnds()
    {
        QFETCH(QByteArray, hex);
        QFETCH(QString, text);
        const QList<SeenDialog> seen = clickCreateUpg({chooseFile(hexFile(hex)), pressOk()});

        QCOMPARE(seen.size(), 2);
        verifyErrorBox(seen[1]);
        QCOMPARE(seen[1].text, text);
        QCOMPARE(log(), text);
        QCOMPARE(filesInDirectory(), QStringList{"firmware.hex"});
    }

    void unwritableTargetIsReported()
    {
        const QString hex = hexFile(Hex::file(0x08004000, Hex::pattern(64)));
        const QString target = dir->filePath(QStringLiteral("missing/firmware.upg"));
        const QList<SeenDialog> seen =
            clickCreateUpg({chooseFile(hex), chooseFile(target), pressOk()});

        QCOMPARE(seen.size(), 3);
        verifyErrorBox(seen[2]);
        QVERIFY2(seen[2].text.contains(QDir::toNativeSeparators(target)), qPrintable(seen[2].text));
        QCOMPARE(log(), QString());
        QCOMPARE(filesInDirectory(), QStringList{"firmware.hex"});
    }
};

QTEST_MAIN(TestCreateUpg)
#include "tst_createupg.moc"
