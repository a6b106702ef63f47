#include "windowfixture.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <memory>

namespace {

using Hex = IntelHexText;

constexpr int ImageSize = 16384;
constexpr int SerialOffset = 0x3FF0;
constexpr quint32 WindowStart = 0x08000000;
constexpr quint32 BeyondWindow = 0x08004000;
constexpr quint32 HexDataAddress = 0x08003FE8;
constexpr int HexDataSize = 0x18;
const QByteArray HexData = IntelHexText::pattern(HexDataSize);
const QByteArray SerialText("261205001");
const char *const SlotLine = "TQ470_Bootloader::slotpushButtonCreateBootBin(bool t)";
const char *const EarlierLine = "earlier line";
const char *const HexFileName = "boot.hex";
const char *const SavedLine = "New bootloader + serial:";

DialogScript::Answer acceptAsProposed()
{
    return [](QWidget *dialog) { static_cast<QDialog *>(dialog)->accept(); };
}

} // namespace

class TestCreateBootBin : public QObject, private WindowFixture
{
    Q_OBJECT

    // Data up to the window's last byte, and beyond it.
    QString hexFile(const QByteArray &text = Hex::records(HexDataAddress, HexData) +
                                             Hex::file(BeyondWindow, Hex::pattern(HexDataSize)))
    {
        return writeHex(QLatin1String(HexFileName), text);
    }

    QList<SeenDialog> clickCreateBootBin(QList<DialogScript::Answer> answers)
    {
        return clickButton(QStringLiteral("pushButtonCreateBootBin"), std::move(answers));
    }

    QStringList log() const { return logBrowser()->toPlainText().split(QLatin1Char('\n')); }

    static void verifyItemDialog(const SeenDialog &seen, const QString &title, const QString &label,
                                 int count, const QString &preselected)
    {
        QCOMPARE(seen.className, QStringLiteral("QInputDialog"));
        QCOMPARE(seen.title, title);
        QCOMPARE(seen.text, label);
        QCOMPARE(seen.items.size(), count);
        QCOMPARE(seen.currentItem, preselected);
        QVERIFY(!seen.editable);
        QVERIFY(seen.parentedToWindow);
    }

private Q_SLOTS:
    void init()
    {
        openWindow(QLatin1String(EarlierLine));
        window->setToday(QDate(2026, 12, 5));
    }

    void cleanup() { closeWindow(); }

    void savesImageUnderProposedName()
    {
        const QString hex = hexFile();
        const QList<SeenDialog> seen =
            clickCreateBootBin({chooseFile(hex), chooseItem(), chooseItem(), chooseItem(),
                                chooseItem(), acceptAsProposed()});

        QCOMPARE(seen.size(), 6);
        verifyFileDialog(seen[0], "Open File", "Hex (*.hex)");
        verifyItemDialog(seen[1], "Production year", "Year(YY)", 100, "26");
        verifyItemDialog(seen[2], "Production mont", "Month(MM)", 12, "12");
        verifyItemDialog(seen[3], "Production day", "Day(DD)", 31, "05");
        verifyItemDialog(seen[4], "Production number", "Number(NNN)", 999, "001");
        verifyFileDialog(seen[5], "Save bootloader bin", "Bin (*.bin)");
        QCOMPARE(seen[5].proposedName, QStringLiteral("Tq470Bootloader_261205001"));

        const QString saved = dir->filePath(QStringLiteral("Tq470Bootloader_261205001"));
        QCOMPARE(log(), (QStringList{EarlierLine, SlotLine, "261205001", SavedLine, saved}));
        QVERIFY2(!debug->lines().contains(SlotLine), "the command names itself in the log only");

        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray image = file.readAll();
        QByteArray expected(ImageSize, '\xFF');
        expected.replace(HexDataAddress - WindowStart, HexDataSize, HexData);
        expected.replace(SerialOffset, SerialText.size(), SerialText);
        QCOMPARE(image.toHex(), expected.toHex());
    }

    void cancelledSaveDialogLogsEmptyName()
    {
        const QList<SeenDialog> seen =
            clickCreateBootBin({chooseFile(hexFile()), chooseItem("99"), chooseItem("02"),
                                chooseItem("31"), chooseItem("042"), cancelDialog()});

        QCOMPARE(seen.size(), 6);
        QCOMPARE(seen[5].proposedName, QStringLiteral("Tq470Bootloader_990231042"));
        QCOMPARE(log(), (QStringList{EarlierLine, SlotLine, "990231042", SavedLine, QString()}));
        QCOMPARE(filesInDirectory(), QStringList{HexFileName});
    }

    void cancelEndsSilently_data()
    {
        QTest::addColumn<int>("answered");
        QTest::addColumn<QString>("title");
        QTest::newRow("open dialog") << 0 << "Open File";
        QTest::newRow("year") << 1 << "Production year";
        QTest::newRow("month") << 2 << "Production mont";
        QTest::newRow("day") << 3 << "Production day";
        QTest::newRow("number") << 4 << "Production number";
    }

    void cancelEndsSilently()
    {
        QFETCH(int, answered);
        QFETCH(QString, title);

        const QString hex = hexFile();
        QList<DialogScript::Answer> answers;
        if (answered > 0)
            answers << chooseFile(hex);
        while (answers.size() < answered)
            answers << chooseItem();
        answers << cancelDialog();
        const QList<SeenDialog> seen = clickCreateBootBin(answers);

        QCOMPARE(seen.size(), answered + 1);
        QCOMPARE(seen.last().title, title);
        QCOMPARE(log(), (QStringList{EarlierLine, SlotLine}));
        QCOMPARE(filesInDirectory(), QStringList{HexFileName});
    }

    void conversionErrorIsReportedAndNothingSaved()
    {
        const QByteArray badChecksum(":0400000001020304F0\n");
        const QList<SeenDialog> seen =
            clickCreateBootBin({chooseFile(hexFile(badChecksum)), chooseItem(), chooseItem(),
                                chooseItem(), chooseItem(), pressOk()});

        QCOMPARE(seen.size(), 6);
        verifyErrorBox(seen[5]);
        QCOMPARE(seen[5].text, QStringLiteral("HexToBin error: -8)"));
        QCOMPARE(log(), (QStringList{EarlierLine, SlotLine, "261205001", "HexToBin error: -8)"}));
        QCOMPARE(filesInDirectory(), QStringList{HexFileName});
    }

    void unwritableTargetIsReported()
    {
        const QString target = dir->filePath(QStringLiteral("missing/boot.bin"));
        const QList<SeenDialog> seen =
            clickCreateBootBin({chooseFile(hexFile()), chooseItem(), chooseItem(), chooseItem(),
                                chooseItem(), chooseFile(target), pressOk()});

        QCOMPARE(seen.size(), 7);
        verifyErrorBox(seen[6]);
        QVERIFY2(seen[6].text.contains(QDir::toNativeSeparators(target)), qPrintable(seen[6].text));
        QCOMPARE(log(), (QStringList{EarlierLine, SlotLine, "261205001"}));
        QCOMPARE(filesInDirectory(), QStringList{HexFileName});
    }
};

QTEST_MAIN(TestCreateBootBin)
#include "tst_createbootbin.moc"
