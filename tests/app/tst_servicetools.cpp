#include "debugcapture.h"
#include "dialogscript.h"
#include "encoding.h"
#include "simtestsupport.h"
#include "tq470model.h"
#include "tq470_bootloader.h"
#include "upgrader.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <memory>

namespace {

const char *const EarlierLine = "earlier line";
// Typed into an input dialog: cancels it. An empty text accepts what the dialog proposes.
const char *const Cancel = "<cancel>";
const char *const ServiceButtons[] = {"pushButtonRead",
                                      "pushButtonWrite",
                                      "pushButtonWritePage",
                                      "pushButtonReadExternalFlash",
                                      "pushButtonWriteExternalFlash",
                                      "pushButtonWriteExtFlashBin"};
constexpr quint32 TestPageAddress = 0x08005000;
constexpr int PageSize = 2048;
constexpr int TestBlockSize = 512;
constexpr quint8 RequestWriteTestBlock = 0x02;
constexpr quint8 RequestReadExternalFlash = 0x05;
constexpr int ApplicationOffset = 0x4000;

// A device whose application region and external flash hold no erased bytes to speak of, so
// that a write of 0xFF shows, and so does a read that skips the decoding: an erased word
// decodes to itself.
PluggedDevice plugWrittenDevice()
{
    DeviceState state =
        Tq470Model::freshState(DeviceMode::Bootloader, DeviceOptions::DefaultSerial);
    for (int i = ApplicationOffset; i < state.internalFlash.size(); ++i)
        state.internalFlash[i] = char(i * 7 + 3);
    for (int i = 0; i < state.externalFlash.size(); ++i)
        state.externalFlash[i] = char(i * 13 + 5);
    return SimTestBus::plugFresh(state, DeviceOptions());
}

// The bytes of the hex dumps in a log, in order.
QByteArray dumpedBytes(const QString &log)
{
    static const QRegularExpression row(QStringLiteral("^0x[0-9a-f]{4}:((?: [0-9a-f]{2})+)"));
    QByteArray bytes;
    for (const QString &line : log.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = row.match(line);
        for (const QString &hex : match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            bytes += char(hex.toUInt(nullptr, 16));
    }
    return bytes;
}

QByteArray encoded(QByteArray bytes)
{
    EncodeBufferQuietly(bytes.data(), int(bytes.size()));
    return bytes;
}

QByteArray decoded(QByteArray bytes)
{
    DecodeBuffer(bytes.data(), int(bytes.size()));
    return bytes;
}

void verifyBox(const SeenDialog &seen, QMessageBox::Icon icon, const QString &title,
               const QString &text)
{
    QCOMPARE(seen.className, QStringLiteral("QMessageBox"));
    QCOMPARE(seen.icon, icon);
    QCOMPARE(seen.title, title);
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(seen.parentedToWindow);
}

} // namespace

// The memory and external-flash commands of the window, clicked on their shown buttons and
// played through their dialogs against a simulated Tq470 in its bootloader.
class TestServiceTools : public QObject
{
    Q_OBJECT

    std::unique_ptr<DebugCapture> debug;
    TQ470_Bootloader *window = nullptr;
    Upgrader *worker = nullptr;
    PluggedDevice sim;
    // What each input dialog proposed: its text, or its number and range.
    QStringList proposals;

    DialogScript::Answer answer(const QString &typed)
    {
        return [this, typed](QWidget *dialog) {
            auto *input = qobject_cast<QInputDialog *>(dialog);
            if (!input)
                return static_cast<QDialog *>(dialog)->reject();
            const bool integer = input->inputMode() == QInputDialog::IntInput;
            proposals << (integer ? QStringLiteral("%1 of %2..%3")
                                        .arg(input->intValue())
                                        .arg(input->intMinimum())
                                        .arg(input->intMaximum())
                                  : input->textValue());
            if (typed == QLatin1String(Cancel))
                return input->reject();
            if (!typed.isEmpty() && integer)
                input->setIntValue(typed.toInt());
            else if (!typed.isEmpty())
                input->setTextValue(typed);
            input->accept();
        };
    }

    QList<SeenDialog> click(const QString &button, const QStringList &typed,
                            QList<DialogScript::Answer> more = {})
    {
        QList<DialogScript::Answer> answers;
        for (const QString &text : typed)
            answers << answer(text);
        DialogScript script(window, answers + more);
        QTest::mouseClick(window->findChild<QPushButton *>(button), Qt::LeftButton);
        return script.seen;
    }

    QString log() const { return window->findChild<QTextBrowser *>("txt")->toPlainText(); }

    int requestCount(quint8 request) const
    {
        int count = 0;
        for (const LoggedRequest &logged : sim->requestLog())
            count += logged.request == request ? 1 : 0;
        return count;
    }

private Q_SLOTS:
    void init()
    {
        sim = plugWrittenDevice();
        debug = std::make_unique<DebugCapture>();
        window = new TQ470_Bootloader;
        worker = window->worker();
        for (const char *name : ServiceButtons)
            window->findChild<QPushButton *>(name)->show();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->findChild<QTextBrowser *>("txt")->append(EarlierLine);
        proposals.clear();
    }

    void cleanup()
    {
        delete window;
        delete worker;
        debug.reset();
        SimTestBus::unplugAll();
    }

    void firstUseDialogs_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("dialogs");
        QTest::newRow("Read") << "Read"
                              << QStringList{"Read From Tq470|Address (hex)|0x8000000",
                                             "Read From Tq470|Length (dec)|256 of 1..1048576"};
        const QString readExternal = "Read External Flash From Tq470|";
        QTest::newRow("ReadExternalFlash")
            << "ReadExternalFlash"
            << QStringList{readExternal + "Address (hex)|0x0",
                           readExternal + "Length (dec)|512 of 1..1048576"};
        const QString write = "Write To External Flash Tq470|";
        QTest::newRow("WriteExternalFlash")
            << "WriteExternalFlash"
            << QStringList{write + "Address (hex)|0x0", write + "Length (dec)|1 of 1..1048576",
                           write + "Data(hex)|0x1"};
        QTest::newRow("WritePage")
            << "WritePage" << QStringList{"Fill pattern|Number (dec)|0 of 0..255"};
    }
    void firstUseDialogs()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, dialogs);
        const qsizetype before = debug->lines().size();
        const QList<SeenDialog> seen =
            click("pushButton" + button, QStringList(dialogs.size(), QString()));

        QCOMPARE(debug->lines().value(before),
                 QStringLiteral("TQ470_Bootloader::slotpushButton%1(bool t)").arg(button));
        QStringList met;
        for (int i = 0; i < seen.size(); ++i) {
            QCOMPARE(seen[i].className, QStringLiteral("QInputDialog"));
            QVERIFY(seen[i].parentedToWindow);
            met << seen[i].title + '|' + seen[i].text + '|' + proposals.value(i);
        }
        QCOMPARE(met, dialogs);
    }

    void readShowsDumpOrFailure_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("failedOperation");
        QTest::newRow("Read takes 8000000")
            << "Read" << QStringList{"8000000", "16"} << "" << 0x08000000u << 16 << "";
        QTest::newRow("Read takes 0x8000000, one byte")
            << "Read" << QStringList{"0x8000000", "1"} << "" << 0x08000000u << 1 << "";
        QTest::newRow("Read takes 0X8000000, across a chunk")
            << "Read" << QStringList{"0X80007f8", "20"} << "" << 0x080007F8u << 20 << "";
        QTest::newRow("ReadExternalFlash decodes, a part word left as is")
            << "ReadExternalFlash" << QStringList{"0x100", "6"} << "" << 0x100u << 6 << "";
        QTest::newRow("Read that stalls: failure box, no dump")
            << "Read" << QStringList{"", ""} << "stall:request=0x01" << 0u << 0
            << "ReadMemoryFromAddress";
        QTest::newRow("ReadExternalFlash that stalls: failure box, no dump")
            << "ReadExternalFlash" << QStringList{"", ""} << "stall:request=0x05" << 0u << 0
            << "ReadExternalFlashFromAddress";
    }
    void readShowsDumpOrFailure()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, typed);
        QFETCH(QString, fault);
        QFETCH(quint32, address);
        QFETCH(int, length);
        QFETCH(QString, failedOperation);
        if (!fault.isEmpty())
            QVERIFY(sim->addFault(fault));
        const QList<SeenDialog> seen = click("pushButton" + button, typed);

        if (!failedOperation.isEmpty()) {
            QCOMPARE(seen.size(), 3);
            verifyBox(seen[2], QMessageBox::Critical, "Error", failedOperation);
            QCOMPARE(log(), QString());
            return;
        }
        QCOMPARE(seen.size(), 2);
        const QByteArray expected = button == "Read" ? sim->readInternal(address, length)
                                                     : decoded(sim->readExternal(address, length));
        QVERIFY(!log().contains(EarlierLine));
        QCOMPARE(dumpedBytes(log()).toHex(' '), expected.toHex(' '));
    }

    void conversionErrorRemembersZero_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<int>("failed");
        QTest::newRow("Read address xyz") << "Read" << QStringList{"xyz", ""} << 0;
        QTest::newRow("Read address above 0xffffffff")
            << "Read" << QStringList{"100000000", ""} << 0;
        QTest::newRow("ReadExternalFlash address xyz")
            << "ReadExternalFlash" << QStringList{"xyz", ""} << 0;
        QTest::newRow("WriteExternalFlash address xyz, before the length")
            << "WriteExternalFlash" << QStringList{"xyz"} << 0;
        QTest::newRow("WriteExternalFlash data 0x1g")
            << "WriteExternalFlash" << QStringList{"0x40", "", "0x1g"} << 2;
    }
    void conversionErrorRemembersZero()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, typed);
        QFETCH(int, failed);
        const QList<SeenDialog> seen = click("pushButton" + button, typed);

        QCOMPARE(seen.size(), typed.size() + 1);
        verifyBox(seen.last(), QMessageBox::Warning, "error", "Conversion error");
        QVERIFY(sim->requestLog().isEmpty());
        QCOMPARE(log(), QString(EarlierLine));

        proposals.clear();
        click("pushButton" + button, QStringList(failed, QString()) << Cancel);
        QCOMPARE(proposals.value(failed), QStringLiteral("0x0"));
    }

    // The next click's proposals up to the same dialog show what the cancelled one kept.
    void cancelEndsTheCommand_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QStringList>("nextProposals");
        const QString length = "%1 of 1..1048576";
        QTest::newRow("Read at the address")
            << "Read" << QStringList{Cancel} << QStringList{"0x8000000"};
        QTest::newRow("Read at the length keeps address and length")
            << "Read" << QStringList{"0x100", Cancel} << QStringList{"0x8000000", length.arg(256)};
        QTest::newRow("ReadExternalFlash at the address")
            << "ReadExternalFlash" << QStringList{Cancel} << QStringList{"0x0"};
        QTest::newRow("ReadExternalFlash at the length")
            << "ReadExternalFlash" << QStringList{"0x40", Cancel}
            << QStringList{"0x0", length.arg(512)};
        QTest::newRow("WriteExternalFlash at the address")
            << "WriteExternalFlash" << QStringList{Cancel} << QStringList{"0x0"};
        QTest::newRow("WriteExternalFlash at the length keeps the converted address")
            << "WriteExternalFlash" << QStringList{"0x40", Cancel}
            << QStringList{"0x40", length.arg(1)};
        QTest::newRow("WriteExternalFlash at the data")
            << "WriteExternalFlash" << QStringList{"0x40", "9", Cancel}
            << QStringList{"0x40", length.arg(9), "0x1"};
        QTest::newRow("WritePage writes nothing")
            << "WritePage" << QStringList{Cancel} << QStringList{"0 of 0..255"};
        QTest::newRow("WriteExtFlashBin at the file dialog")
            << "WriteExtFlashBin" << QStringList() << QStringList();
    }
    void cancelEndsTheCommand()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, typed);
        QFETCH(QStringList, nextProposals);
        const QList<SeenDialog> seen = click("pushButton" + button, typed, {cancelDialog()});

        QCOMPARE(seen.size(), qMax(typed.size(), qsizetype(1)));
        QVERIFY(sim->requestLog().isEmpty());
        QCOMPARE(log(), QString(EarlierLine));

        proposals.clear();
        QStringList again(typed.size(), QString());
        if (!again.isEmpty())
            again.last() = Cancel;
        click("pushButton" + button, again, {cancelDialog()});
        QCOMPARE(proposals, nextProposals);
    }

    void writeExternalFlashLogsWhatWasSent_data()
    {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("address 100, length 3, data ff: too short to be encoded")
            << QStringList{"100", "3", "ff"} << "" << 0x100u << QByteArray(3, '\xFF')
            << QStringList{"lenght:        3", "address: 0x     100"};
        QTest::newRow("data 0x1234 fills with 0x34")
            << QStringList{"0x0", "8", "0x1234"} << "" << 0u << QByteArray(8, '\x34')
            << QStringList{"lenght:        8", "address: 0x       0"};
        QTest::newRow("a failed write is reported, the log still shows it")
            << QStringList{"0X1fff0", "12345", "5a"} << "stall:request=0x06" << 0x1FFF0u
            << QByteArray(12345, '\x5A') << QStringList{"lenght:    12345", "address: 0x   1fff0"};
    }
    void writeExternalFlashLogsWhatWasSent()
    {
        QFETCH(QStringList, typed);
        QFETCH(QString, fault);
        QFETCH(quint32, address);
        QFETCH(QByteArray, plain);
        QFETCH(QStringList, entries);
        if (!fault.isEmpty())
            QVERIFY(sim->addFault(fault));
        const QList<SeenDialog> seen = click("pushButtonWriteExternalFlash", typed);

        const QStringList lines = log().split(QLatin1Char('\n'));
        QCOMPARE(lines.mid(0, 2), entries);
        QCOMPARE(dumpedBytes(log()), encoded(plain));
        if (fault.isEmpty()) {
            QCOMPARE(seen.size(), 3);
            QCOMPARE(sim->readExternal(address, int(plain.size())), encoded(plain));
        } else {
            QCOMPARE(seen.size(), 4);
            verifyBox(seen[3], QMessageBox::Critical, "Error", "WriteExternalFlashToAddress");
        }
    }

    void writeExtFlashBin_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        const int critical = QMessageBox::Critical;
        const QByteArray eight("\x01\x02\x03\x04\xA5\x5A\x00\xFF", 8);
        QTest::newRow("empty file") << QByteArray() << "" << critical << "Length error"
                                    << "Length should be aligned to 4";
        QTest::newRow("6-byte file") << QByteArray("abcdef") << "" << critical << "Length error"
                                     << "Length should be aligned to 4";
        QTest::newRow("4-byte file is written and verified")
            << QByteArray("\x10\x20\x30\x40") << "" << int(QMessageBox::Information) << "Info"
            << "Write OK";
        QTest::newRow("write stalls: no read-back")
            << eight << "stall:request=0x06" << critical << "Error"
            << "WriteExternalFlashToAddress";
        QTest::newRow("read-back stalls") << eight << "stall:request=0x05" << critical << "Error"
                                          << "ReadExternalFlashFromAddress";
        QTest::newRow("read-back differs")
            << eight << "corrupt:request=0x05:nth=1" << critical << "Error"
            << "memcmp";
    }
    void writeExtFlashBin()
    {
        QFETCH(QByteArray, image);
        QFETCH(QString, fault);
        QFETCH(int, icon);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QTemporaryDir dir;
        const QString fileName = dir.filePath("image.bin");
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
        file.close();
        if (!fault.isEmpty())
            QVERIFY(sim->addFault(fault));
        const QList<SeenDialog> seen =
            click("pushButtonWriteExtFlashBin", {}, {chooseFile(fileName), pressOk()});

        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[0].title, QStringLiteral("Open File"));
        QCOMPARE(seen[0].nameFilters, QStringList{"Bin (*.bin)"});
        QCOMPARE(seen[0].directory, QDir::currentPath());
        QVERIFY(seen[0].parentedToWindow);
        verifyBox(seen[1], QMessageBox::Icon(icon), title, text);
        QCOMPARE(log(), QString(EarlierLine));
        if (title == "Length error") {
            QVERIFY(debug->lines().contains(QStringLiteral("length error %1").arg(image.size())));
            QVERIFY(sim->requestLog().isEmpty());
        }
        if (text == "WriteExternalFlashToAddress")
            QCOMPARE(requestCount(RequestReadExternalFlash), 0);
        if (text == "Write OK")
            QCOMPARE(sim->readExternal(0, int(image.size())), encoded(image));
    }

    void writePage_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("pattern 255 fills the test page") << "255" << "" << "page write OK";
        QTest::newRow("pattern 90 fills the test page") << "90" << "" << "page write OK";
        QTest::newRow("a stalled page write") << "7"
                                              << "stall:request=0x03"
                                              << "page write ERROR";
    }
    void writePage()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, fault);
        QFETCH(QString, outcome);
        if (!fault.isEmpty())
            QVERIFY(sim->addFault(fault));
        const QByteArray before = sim->readInternal(TestPageAddress, PageSize);
        click("pushButtonWritePage", {pattern});

        QVERIFY(debug->lines().contains(outcome));
        QCOMPARE(log(), QString(EarlierLine));
        QCOMPARE(sim->readInternal(TestPageAddress, PageSize),
                 fault.isEmpty() ? QByteArray(PageSize, char(pattern.toInt())) : before);
        proposals.clear();
        click("pushButtonWritePage", {Cancel});
        QCOMPARE(proposals, QStringList{pattern + " of 0..255"});
    }

    void writeSendsTheTestBlock_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("sent whole: dumped on the debug output") << "";
        QTest::newRow("stalled: no dump") << "stall:request=0x02";
    }
    void writeSendsTheTestBlock()
    {
        QFETCH(QString, fault);
        if (!fault.isEmpty())
            QVERIFY(sim->addFault(fault));
        const qsizetype before = debug->lines().size();
        QCOMPARE(click("pushButtonWrite", {}).size(), 0);

        const QStringList lines = debug->lines().mid(before);
        QCOMPARE(lines.value(0), QStringLiteral("TQ470_Bootloader::slotpushButtonWrite(bool t)"));
        const QStringList dumps = lines.filter("src address");
        QCOMPARE(requestCount(RequestWriteTestBlock), 1);
        if (!fault.isEmpty()) {
            QVERIFY(dumps.isEmpty());
            return;
        }
        QByteArray block(TestBlockSize, '\0');
        for (int i = 0; i < TestBlockSize; ++i)
            block[i] = char(i);
        QCOMPARE(sim->testBlock(), block);
        QCOMPARE(dumps.size(), 1);
        QVERIFY(dumps[0].startsWith('"') && dumps[0].endsWith('"'));
        QVERIFY(dumps[0].contains("0x01f0: f0 f1 f2"));
        QCOMPARE(log(), QString(EarlierLine));
    }
};

TQ470_SIM_TEST_MAIN(TestServiceTools)
#include "tst_servicetools.moc"
