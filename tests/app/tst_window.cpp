#include "debugcapture.h"
#include "dialogscript.h"
#include "intelhextext.h"
#include "progressrelay.h"
#include "simtestsupport.h"
#include "slicedlog.h"
#include "testchecks.h"
#include "tq470_bootloader.h"
#include "transferrecorder.h"
#include "translationloader.h"
#include "upgradefile.h"
#include "upgrader.h"
#include "usbtq470.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTranslator>

#include <memory>
#include <thread>

// What the window itself does around the tools: its dialogs, the values it proposes and
// remembers, its log, its bars, what it shows; in a scratch folder, with a simulated Tq470.
class TestWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<DebugCapture> debug;
    TQ470_Bootloader *window = nullptr;
    Upgrader *worker = nullptr;
    PluggedDevice sim;

    QStringList click(const QString &button, const QStringList &answers)
    {
        DialogScript script(window, answers);
        window->findChild<QPushButton *>("pushButton" + button)->click();
        return script.seen;
    }

    QString log() const { return window->findChild<QTextBrowser *>("txt")->toPlainText(); }

    QString bars() const
    {
        QStringList values;
        for (const QProgressBar *bar : window->findChildren<QProgressBar *>()) // Flash, Wr, Rd
            values << QString::number(bar->value());
        return values.join(' ');
    }

    // Turns the event loop until the view's text changes, as the first slice of a sliced text
    // does; bounded: the caller checks the stage reached.
    static void turnUntilChanged(const QTextBrowser &view)
    {
        constexpr int MaxTurns = 100;
        const QString before = view.toPlainText();
        for (int turn = 0; turn < MaxTurns && view.toPlainText() == before; ++turn)
            QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        const auto write = &IntelHexText::write;
        QVERIFY(write("app.hex", IntelHexText::file(0x08003FFC, IntelHexText::pattern(16))));
        QVERIFY(write("bad.hex", ":0400000001020304F0\n") && write("bad.upg", "wrong"));
        QVERIFY(write("eight.bin", "01234567"));
        QString error;
        QVERIFY(UpgradeFile::write("ok.upg", QByteArray(UpgradeFile::ImageSize, '\x5a'), &error));
        sim = SimTestBus::plugFresh();
        debug = std::make_unique<DebugCapture>();
        window = new TQ470_Bootloader;
        worker = window->worker();
        window->setToday(QDate(2026, 12, 5));
        window->findChild<QTextBrowser *>("txt")->append("earlier line");
        for (QProgressBar *bar : window->findChildren<QProgressBar *>())
            bar->setValue(40);
    }

    // The window never deletes its worker; the test does. The scratch folder goes last.
    void cleanup()
    {
        delete window;
        delete worker;
        debug.reset();
        SimTestBus::unplugAll();
        dir.reset();
    }

    void showsOnlyChangeFirmwareAndWiresTheWorkersTextsToTheLog()
    {
        window->show();
        QStringList shown;
        for (const QPushButton *button : window->findChildren<QPushButton *>())
            shown << (button->isVisible() ? button->objectName() : "");
        QCOMPARE(shown.join(""), QStringLiteral("pushButtonFirmware"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Tq470 Bootloader ver. 2.00"));
        QVERIFY(!window->windowIcon().pixmap(32).isNull());
        QCOMPARE(window->device()->connection_status(), -1);
        Q_EMIT window->worker()->sendText("first line");
        QCOMPARE(log(), QStringLiteral("earlier line\nfirst line"));
    }

    // The window in the locale's language from the translations built beside the program, none in
    // the working directory: title, button, file dialog, the log after file, serial and versions.
    void translated_data() // row names begin with the locale
    {
        QTest::addColumn<QString>("texts");
        QTest::newRow("pl_PL") << "Tq470 Bootloader wer. 2.00|Zmień firmware|Otwórz plik|"
                                  "Plik aktualizacji (*.upg)| unparented|Tryb bootloadera|"
                                  "Zapis firmware ... |OK|Zapis zewnętrznej pamięci flash ... |OK|"
                                  "Weryfikacja zewnętrznej pamięci flash ...  |OK|"
                                  "Gotowe: Tq470 ma nowy firmware i go uruchomił.";
        QTest::newRow("de_DE") << "Tq470 Bootloader Version 2.00|Firmware ändern|Datei öffnen|"
                                  "Upgrade-Datei (*.upg)| unparented|Bootloader-Modus|"
                                  "Firmware wird geschrieben ... |OK|"
                                  "Externer Flash wird geschrieben ... |OK|"
                                  "Externer Flash wird geprüft ...  |OK|"
                                  "Fertig: Der Tq470 hat die neue Firmware und führt sie aus.";
        QTest::newRow("en_US: the misspelt source texts corrected")
            << "Tq470 Bootloader ver. 2.00|Change Firmware|Open File|Upg (*.upg)| unparented|"
               "Bootloader mode|Writing firmware ... |OK|Writing External Flash ... |OK|"
               "Verify External Flash ...  |OK|Done: the Tq470 holds the new firmware and runs it.";
    }
    void translated()
    {
        const QLocale locale(QString::fromLatin1(QTest::currentDataTag()).left(5));
        QFETCH(QString, texts);
        QTranslator translator;
        QVERIFY(TranslationLoader({".", TQ470_BUILT_TRANSLATIONS}).load(&translator, locale));
        QCoreApplication::installTranslator(&translator);
        delete window;
        delete worker;
        window = new TQ470_Bootloader;
        worker = window->worker();
        const QStringList shown{window->windowTitle(),
                                window->findChild<QPushButton *>("pushButtonFirmware")->text(),
                                click("Firmware", {"ok.upg"}).join('|')};
        QVERIFY(worker->wait(60000));
        QCoreApplication::processEvents();
        QCOMPARE((shown + log().split('\n').mid(4)).join('|'), texts);
    }

    // Each directory in turn for the locale's file, and only then for English.
    void translationLookup_data()
    {
        QTest::addColumn<QStringList>("files"); // copied in as DIRECTORY/NAME<-BUILT LANGUAGE
        QTest::addColumn<QString>("shown");     // "Change Firmware" through the translation
        QTest::newRow("the locale's file in the first directory that has one")
            << QStringList{"b/tq470_pl<-pl", "c/tq470_pl<-de"} << "Zmień firmware";
        QTest::newRow("the locale's file in the last directory before English in the first")
            << QStringList{"a/tq470_en<-de", "c/tq470_pl<-pl"} << "Zmień firmware";
        QTest::newRow("no file for the locale: English in the first directory that has it")
            << QStringList{"b/tq470_en<-de", "c/tq470_en<-pl"} << "Firmware ändern";
        QTest::newRow("none: not loaded") << QStringList{} << "";
    }
    void translationLookup()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, shown);
        for (const QString &file : files)
            QVERIFY(QDir().mkpath(file.left(1)) &&
                    QFile::copy(TQ470_BUILT_TRANSLATIONS "/tq470_" + file.section("<-", 1) + ".qm",
                                file.section("<-", 0, 0) + ".qm"));
        QTranslator translator;
        QCOMPARE(TranslationLoader({"a", "b", "c"}).load(&translator, QLocale("pl_PL")),
                 !shown.isEmpty());
        QCOMPARE(translator.translate("TQ470_BootloaderClass", "Change Firmware"), shown);
        const QString program = QCoreApplication::applicationDirPath();
        QCOMPARE(TranslationLoader::standardDirectories(),
                 QStringList({".", program, program + "/../share/tq470/translations"}));
    }

    // No second file can be chosen under a running upgrade. The worker uses the window's device
    // object: the window may only go once the run is over.
    void changeFirmwareIsOffDuringARunAndClosingWaitsForIt()
    {
        const QPushButton *button = window->findChild<QPushButton *>("pushButtonFirmware");
        click("Firmware", {"bad.upg"});
        QVERIFY(!button->isEnabled());
        QVERIFY(worker->wait(5000));
        QTRY_VERIFY(button->isEnabled());
        click("Firmware", {"ok.upg"});
        QVERIFY(worker->isRunning() && !button->isEnabled());
        delete std::exchange(window, nullptr);
        QVERIFY(worker->isFinished() && worker->succeeded());
    }

    // TQ470_RECORD: a file that cannot be written is said in the log, and the window works on;
    // a trace holds the worker's transfers.
    void recordsIntoTheFileTq470RecordNames()
    {
        const auto reopen = [this](const char *file) {
            delete window;
            delete worker;
            qputenv(TransferRecorder::EnvironmentVariable, file);
            window = new TQ470_Bootloader;
            worker = window->worker();
            qunsetenv(TransferRecorder::EnvironmentVariable);
        };
        reopen("no/w.pcap");
        QCOMPARE(log(), QStringLiteral("The USB transfers are not recorded: TQ470_RECORD: cannot "
                                       "write no/w.pcap: No such file or directory"));
        QVERIFY(!TransferRecorder::isRecording());
        reopen("w.pcap");
        click("Firmware", {"ok.upg"});
        QVERIFY(worker->wait(60000) && worker->succeeded());
        TransferRecorder::stop();
        QList<UsbTransfer> transfers;
        QString error;
        QVERIFY2(UsbmonTrace::read("w.pcap", &transfers, &error), qPrintable(error));
        QCOMPARE(std::count_if(transfers.cbegin(), transfers.cend(),
                               [](const UsbTransfer &t) { return t.request() == 3; }),
                 120);
    }

    // A burst of reports from the worker's thread queues one update, which shows the last value.
    void progressRelayShowsTheLatestValue()
    {
        QProgressBar bar;
        bar.setRange(0, 1000);
        auto *const relay = new ProgressRelay(&bar);
        QList<int> shown;
        connect(&bar, &QProgressBar::valueChanged, [&shown](int value) { shown << value; });
        std::thread([relay] {
            for (int percent = 1; percent <= 1000; ++percent)
                relay->report(percent);
        }).join();
        struct QueuedCalls : QObject
        {
            int count = 0;
            bool eventFilter(QObject *, QEvent *event) override
            {
                count += event->type() == QEvent::MetaCall;
                return false;
            }
        } queued;
        relay->installEventFilter(&queued);
        QVERIFY(shown.isEmpty());
        QCoreApplication::sendPostedEvents(relay);
        QCOMPARE(queued.count, 1);
        QCOMPARE(shown, QList<int>{1000});
    }

    // Each turn of reports ramps all three bars, interleaved, to values of their own; the bars
    // must show them after the turn (on the window's thread at once), turn after turn, to 100.
    void progressBars_data()
    {
        QTest::addColumn<bool>("fromWorkerThread");
        QTest::newRow("from the worker's thread: each bar its own last value, every turn") << true;
        QTest::newRow("on the window's thread (service commands): each bar its own value at once")
            << false;
    }
    void progressBars()
    {
        QFETCH(bool, fromWorkerThread);
        const auto ramp = [this](const QList<int> &to) {
            constexpr int Steps = 50;
            for (int step = 1; step <= Steps; ++step) {
                Q_EMIT worker->sendPercent(to[0] * step / Steps);
                Q_EMIT window->device()->sendPercentExtFlashWrite(to[1] * step / Steps);
                Q_EMIT window->device()->sendPercentExtFlashRead(to[2] * step / Steps);
            }
        };
        for (const QList<int> &to : {QList<int>{7, 3, 5}, {60, 80, 70}, {100, 100, 100}}) {
            const QString shown = QStringLiteral("%1 %2 %3").arg(to[0]).arg(to[1]).arg(to[2]);
            if (fromWorkerThread) {
                std::thread(ramp, to).join();
            } else {
                ramp(to);
                QCOMPARE(bars(), shown);
            }
            QCoreApplication::processEvents();
            QCOMPARE(bars(), shown);
        }
    }

    // Texts appended in slices end up as the same text as each appended at once.
    void slicedLog_data()
    {
        QTest::addColumn<QStringList>("dropped"); // appended, then cleared after their first slice
        QTest::addColumn<QStringList>("texts");
        QString dump = " src address: 0x0\n";
        for (int line = 0; line < 900; ++line)
            dump += QStringLiteral("0x%1: 3c 62 3e < <b> >\n").arg(line * 16, 4, 16, QChar('0'));
        const QStringList none;
        QTest::newRow("dump of 900 lines, a line behind it") << none << QStringList{dump, "OK"};
        QTest::newRow("short lines, a dump without its last line break, another behind it")
            << none << QStringList{"Error", dump.chopped(1), "x", dump};
        QTest::newRow("a long text whose first line opens a tag goes whole, one long line")
            << none << QStringList{"<b>bold</b>\n" + dump, QString(3 * SlicedLog::SliceChars, 'a')};
        QTest::newRow("cleared while a dump arrives: its rest and the line behind it never show")
            << QStringList{dump, "stale"} << QStringList{dump, "OK"};
    }
    void slicedLog()
    {
        QFETCH(QStringList, dropped);
        QFETCH(QStringList, texts);
        QTextBrowser once, inSlices;
        SlicedLog log(&inSlices);
        if (!dropped.isEmpty()) {
            for (const QString &text : std::as_const(dropped))
                log.append(text);
            turnUntilChanged(inSlices);
            QVERIFY(!log.idle());
            log.clear();
        }
        for (const QString &text : std::as_const(texts)) {
            once.append(text);
            log.append(text);
        }
        QVERIFY(!log.idle());
        QTRY_VERIFY(log.idle());
        QCOMPARE(inSlices.toPlainText(), once.toPlainText());
        for (const QString &text : {texts.constLast(), QStringLiteral("at once")})
            once.append(text);
        log.append(texts.constLast());
        log.appendNow("at once");
        QCOMPARE(inSlices.toPlainText(), once.toPlainText());
    }

    // dialogs: each dialog met (see DialogScript); log, debug: patterns for the log and the
    // click's debug lines; next: what the dialogs propose at the next click.
    void click_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("dialogs");
        QTest::addColumn<QString>("logPattern");
        QTest::addColumn<QString>("debugPattern");
        QTest::addColumn<QStringList>("state");
        QTest::addColumn<QStringList>("next");
        const auto row = [](const char *name, const char *action, const QStringList &answers,
                            const QStringList &dialogs, const QString &log,
                            const QString &debug = QString(), const QStringList &state = {},
                            const QStringList &next = {}) {
            QTest::newRow(name) << action << answers << dialogs << log << debug << state << next;
        };
        const QString r = "Read From Tq470|", w = "Write To External Flash Tq470|";
        const QString length = "Length (dec)|%1 of 1..1048576";
        const QStringList read{r + "Address (hex)|0x8000000", r + length.arg(256)};
        const QStringList writeExt{w + "Address (hex)|0x0", w + length.arg(1), w + "Data(hex)|0x1"};
        const QString hex = "Open File|Hex (*.hex)|", saveUpg = "Save File|Upg (*.upg)|";
        const QString saveBin = "Save bootloader bin|Bin (*.bin)|Tq470Bootloader_";
        const QStringList serial{
            hex, "Production year|Year(YY)|26 of 100", "Production mont|Month(MM)|12 of 12",
            "Production day|Day(DD)|05 of 31", "Production number|Number(NNN)|001 of 999"};
        const QString earlier = "^earlier line$", box = "Critical Error|";
        const QString dump = "^\\s*src address: 0x[0-9a-f]+\n0x0000: %1\\s+<";
        const QString slot = "^TQ470_Bootloader::slotpushButton%1\\(bool t\\)\n";
        const QString boot = "^earlier line\n" + slot.arg("CreateBootBin").mid(1);
        row("Connect: the outcome appended", "Connect", {}, {}, "^earlier line\nConnect OK$",
            slot.arg("Connect"));
        row("Connect while connected: the first handle's claim is given back at once",
            "Connect connected", {}, {}, "^earlier line\nConnect OK$", slot.arg("Connect"));
        row("Connect without a device", "Connect unplugged", {}, {},
            "^earlier line\nConnect ERROR$", "\nConnect ERROR$");
        const QString draws = "^(\\d+ -> \\d{3}\n){190}\\d+ -> \\d{3}$";
        row("Disconnect: the device closed, the log replaced by the draws", "Disconnect connected",
            {}, {}, draws, "^USB Disconnect\nTQ470_Bootloader::slotpushButtonDisconnect",
            {"dane.csv size 765"});
        row("Disconnect while a worker's text still arrives: the draws alone",
            "Disconnect arriving", {}, {}, draws);
        row("Read: the dump replaces the log, the values are remembered", "Read",
            {"0X8003ff0", "10"}, read, dump.arg("34 37 30 30 30 30 30 30 31 ff"), slot.arg("Read"),
            {}, {"0x8003ff0", "10 of 1..1048576"});
        row("Read stalls: the failure box, the log cleared", "Read stall:request=0x01", {"", ""},
            read + QStringList{box + "ReadMemoryFromAddress"}, "^$");
        row("Read of address xyz: the warning, nothing sent, zero proposed next", "Read",
            {"xyz", ""}, read + QStringList{"Warning error|Conversion error"}, earlier, "", {},
            {"0x0", "256 of 1..1048576"});
        row("WriteExternalFlash: what was sent replaces the log, the values are remembered",
            "WriteExternalFlash", {"100", "3", "5a"}, writeExt,
            "^lenght:        3\naddress: 0x     100\n", "", {},
            {"0x100", "3 of 1..1048576", "0x5a"});
        row("WriteExternalFlash stalls: the log, then the failure box",
            "WriteExternalFlash stall:request=0x06", {"", "", ""},
            writeExt + QStringList{box + "WriteExternalFlashToAddress"}, "^lenght:        1\n");
        row("WritePage stalls: ERROR on the debug output", "WritePage stall:request=0x03", {"7"},
            {"Fill pattern|Number (dec)|0 of 0..255"}, earlier, "\npage write ERROR$");
        row("WriteExtFlashBin read back differs", "WriteExtFlashBin corrupt:request=0x05:nth=1",
            {"eight.bin"}, {"Open File|Bin (*.bin)|", box + "memcmp"}, earlier);
        row("Change Firmware: the bars reset, the worker runs on the chosen file", "Firmware",
            {"bad.upg"}, {"Open File|Upg (*.upg)| unparented"},
            "^earlier line\n/.*/bad.upg\nWrong file header\nNothing was sent to the Tq470: .*$",
            "^Tq320_bootloader::slotpushButtonCHF\\(bool t\\)\n", {"bars 0 0 0"});
        row("Change Firmware to the end, the start's acknowledgement lost: every bar at 100, "
            "the log ends with the outcome",
            "Firmware lostack:request=4", {"ok.upg"}, {"Open File|Upg (*.upg)| unparented"},
            "^earlier line\n/.*/ok.upg\n(.*\n)*OK\nThe start was not acknowledged: waiting for the "
            "Tq470 to come back in its application ...\nDone: the Tq470 holds the new firmware "
            "and runs it.$",
            "", {"bars 100 100 100"});
        row("Change Firmware on a device this user may not open: the cause after the timeout",
            "Firmware refusing", {"ok.upg"}, {"Open File|Upg (*.upg)| unparented"},
            "\nUSB Timeout\nCheck USB Cable\nNothing was written: access to the Tq470 on bus 001 "
            "device 0\\d\\d was refused; install the udev rule 60-tq470.rules, reload udev, "
            "replug the Tq470 and start the upgrade again \\(the rule lets in the user at the "
            "desk and the members of the group plugdev\\).$");
        row("CreateUpg: the log cleared, the upgrade file saved", "CreateUpg",
            {"app.hex", "fw.upg"}, {hex, saveUpg}, "^$", slot.arg("CreateUpg"),
            {"fw.upg size 393282"});
        row("CreateUpg of a HEX file with a wrong checksum: logged and boxed", "CreateUpg",
            {"bad.hex"}, {hex, box + "HexToBin error: -8)"}, "^HexToBin error: -8\\)$");
        row("CreateBootBin: today preselected, the image saved under the proposed name",
            "CreateBootBin", {"app.hex", "", "", "", "", ""},
            serial + QStringList{saveBin + "261205001"},
            boot + "261205001\nNew bootloader \\+ serial:\n/.*/Tq470Bootloader_261205001$",
            "^(?!.*CreateBootBin)",
            {"Tq470Bootloader_261205001 3ff0 323631323035303031ffffff01080f16"});
        row("CreateBootBin, the save dialog cancelled: an empty name logged, no file written",
            "CreateBootBin", {"app.hex", "", "", "", "", "<cancel>"},
            serial + QStringList{saveBin + "261205001"},
            boot + "261205001\nNew bootloader \\+ serial:\n$", "",
            {"files app.hex bad.hex bad.upg eight.bin ok.upg"});
        row("CreateBootBin cancelled at the month", "CreateBootBin", {"app.hex", "", "<cancel>"},
            serial.mid(0, 3), boot.chopped(1) + "$");
    }
    void click()
    {
        QFETCH(QString, action);
        const QString button = action.section(' ', 0, 0), setup = action.section(' ', 1);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, dialogs);
        QFETCH(QString, logPattern);
        QFETCH(QString, debugPattern);
        QFETCH(QStringList, state);
        QFETCH(QStringList, next);
        DeviceOptions refusing;
        refusing.refuseAccess = true;
        if (setup == "unplugged")
            SimTestBus::unplugAll();
        else if (setup == "refusing")
            sim = SimTestBus::plugFresh(refusing);
        else if (setup == "connected")
            QCOMPARE(window->device()->connect(), 0);
        else if (setup == "arriving") {
            const QString text = QStringLiteral("stale line\n").repeated(3000);
            Q_EMIT worker->sendText(text);
            turnUntilChanged(*window->findChild<QTextBrowser *>("txt"));
            QVERIFY(log().contains("stale line") && log().size() < text.size());
        } else if (!setup.isEmpty())
            QVERIFY(sim->addFault(setup));
        const qsizetype before = debug->lines().size();
        const QStringList seen = click(button, answers);
        QVERIFY(window->worker()->wait(5000));
        QCoreApplication::processEvents();

        QCOMPARE(seen, dialogs);
        verifyMatches(log(), logPattern);
        verifyMatches(debug->lines().mid(before).join('\n'), debugPattern);
        for (const QString &entry : state)
            if (entry.startsWith("bars "))
                QCOMPARE("bars " + bars(), entry);
            else if (entry.startsWith("files "))
                QCOMPARE("files " + QDir().entryList(QDir::Files).join(' '), entry);
            else
                verifyStored(entry);
        if (next.isEmpty())
            return;
        QStringList again(next.size() - 1, QString()), proposed;
        for (const QString &dialog : click(button, again << "<cancel>"))
            proposed << dialog.section('|', 2);
        QCOMPARE(proposed, next);
    }
};

TQ470_SIM_TEST_MAIN(TestWindow)
#include "tst_window.moc"
