#include "debugcapture.h"
#include "intelhextext.h"
#include "tq470_bootloader.h"
#include "upgradefile.h"
#include "upgrader.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

using Hex = IntelHexText;

constexpr int PollIntervalMs = 20;
// Polls before a dialog that its answer did not close is cancelled.
constexpr int PollsBeforeGivingUp = 100;
const char *const FileNameEdit = "fileNameEdit";
constexpr qint64 UpgradeFileSize = 393282;
constexpr int ApplicationImageOffset = 0x4000;
const char *const SlotLine = "TQ470_Bootloader::slotpushButtonCreateUpg(bool t)";

// A modal dialog as the user met it.
struct Seen {
    QString className;
    QString title;
    QString text;
    QStringList nameFilters;
    QString directory;
    bool parentedToWindow = false;
    bool widgetBased = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Plays the user through one click: each modal dialog that comes up is noted and answered by
// the next answer in turn. A dialog beyond the answers, or one an answer does not fit, is
// cancelled, so that a test never hangs on an unexpected dialog.
class DialogScript : public QObject
{
public:
    using Answer = std::function<void(QWidget *dialog)>;

    DialogScript(QWidget *window, QList<Answer> answers)
        : window(window), answers(std::move(answers))
    {
        connect(&timer, &QTimer::timeout, this, &DialogScript::answerNewDialog);
        timer.start(PollIntervalMs);
    }

    QList<Seen> seen;

private:
    void answerNewDialog()
    {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        if (dialog == current) {
            if (++pollsWhileOpen == PollsBeforeGivingUp)
                static_cast<QDialog *>(dialog)->reject();
            return;
        }
        current = dialog;
        pollsWhileOpen = 0;
        Seen entry;
        entry.className = dialog->metaObject()->className();
        entry.title = dialog->windowTitle();
        entry.parentedToWindow = dialog->parentWidget() == window;
        if (auto *fileDialog = qobject_cast<QFileDialog *>(dialog)) {
            entry.nameFilters = fileDialog->nameFilters();
            entry.directory = fileDialog->directory().absolutePath();
            entry.widgetBased = fileDialog->findChild<QLineEdit *>(FileNameEdit) != nullptr;
        }
        if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
            entry.text = box->text();
            entry.icon = box->icon();
            entry.buttons = box->standardButtons();
        }
        seen << entry;
        if (answers.isEmpty())
            static_cast<QDialog *>(dialog)->reject();
        else
            answers.takeFirst()(dialog);
    }

    QWidget *window;
    QList<Answer> answers;
    QPointer<QWidget> current;
    int pollsWhileOpen = 0;
    QTimer timer;
};

DialogScript::Answer choose(const QString &fileName)
{
    return [fileName](QWidget *dialog) {
        auto *nameEdit = dialog->findChild<QLineEdit *>(FileNameEdit);
        if (!qobject_cast<QFileDialog *>(dialog) || !nameEdit)
            return static_cast<QDialog *>(dialog)->reject();
        // Typed, as selectFile() leaves alone a name field that has the focus. QFileDialog
        // hides its accept(); through QDialog it checks the name as a click on Open would.
        nameEdit->setText(fileName);
        static_cast<QDialog *>(dialog)->accept();
    };
}

DialogScript::Answer cancel()
{
    return [](QWidget *dialog) { static_cast<QDialog *>(dialog)->reject(); };
}

DialogScript::Answer pressOk()
{
    return [](QWidget *dialog) {
        auto *box = qobject_cast<QMessageBox *>(dialog);
        if (!box || !box->button(QMessageBox::Ok))
            return static_cast<QDialog *>(dialog)->reject();
        box->button(QMessageBox::Ok)->click();
    };
}

} // namespace

class TestCreateUpg : public QObject
{
    Q_OBJECT

    std::unique_ptr<DebugCapture> debug;
    TQ470_Bootloader *window = nullptr;
    Upgrader *worker = nullptr;
    std::unique_ptr<QTemporaryDir> dir;
    QString startDirectory;

    QString hexFile(const QByteArray &text)
    {
        const QString fileName = dir->filePath(QStringLiteral("firmware.hex"));
        if (!Hex::write(fileName, text))
            qFatal("cannot write %s", qPrintable(fileName));
        return fileName;
    }

    QList<Seen> clickCreateUpg(QList<DialogScript::Answer> answers)
    {
        DialogScript script(window, std::move(answers));
        window->findChild<QPushButton *>(QStringLiteral("pushButtonCreateUpg"))->click();
        return script.seen;
    }

    QString log() const { return window->findChild<QTextBrowser *>("txt")->toPlainText(); }

    QStringList filesInDirectory() const
    {
        return QDir(dir->path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    }

    static void verifyFileDialog(const Seen &seen, const QString &title, const QString &filter)
    {
        QCOMPARE(seen.className, QStringLiteral("QFileDialog"));
        QVERIFY2(seen.widgetBased, "Qt's own dialog, not the platform's");
        QCOMPARE(seen.title, title);
        QCOMPARE(seen.nameFilters, QStringList{filter});
        QCOMPARE(seen.directory, QDir::currentPath());
        QVERIFY(seen.parentedToWindow);
    }

    static void verifyErrorBox(const Seen &seen)
    {
        QCOMPARE(seen.className, QStringLiteral("QMessageBox"));
        QCOMPARE(seen.title, QStringLiteral("Error"));
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(seen.parentedToWindow);
    }

private Q_SLOTS:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        startDirectory = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir->path()));
        debug = std::make_unique<DebugCapture>();
        window = new TQ470_Bootloader;
        worker = window->worker();
        window->findChild<QTextBrowser *>("txt")->append(QStringLiteral("earlier line"));
    }

    void cleanup()
    {
        delete window;
        delete worker;
        debug.reset();
        QDir::setCurrent(startDirectory);
        dir.reset();
    }

    void cancelAtOpenDialogClearsLogOnly()
    {
        const qsizetype before = debug->lines().size();
        const QList<Seen> seen = clickCreateUpg({cancel()});

        QCOMPARE(seen.size(), 1);
        verifyFileDialog(seen[0], "Open File", "Hex (*.hex)");
        QCOMPARE(debug->lines().value(before), QString(SlotLine));
        QCOMPARE(log(), QString());
        QVERIFY(filesInDirectory().isEmpty());
    }

    void cancelAtSaveDialogWritesNothing()
    {
        const QString hex = hexFile(Hex::file(0x08004000, Hex::pattern(64)));
        const QList<Seen> seen = clickCreateUpg({choose(hex), cancel()});

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
        const QList<Seen> seen = clickCreateUpg({choose(hex), choose(target)});

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
        const QList<Seen> seen = clickCreateUpg({choose(hexFile(hex)), pressOk()});

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
        const QList<Seen> seen = clickCreateUpg({choose(hex), choose(target), pressOk()});

        QCOMPARE(seen.size(), 3);
        verifyErrorBox(seen[2]);
        QVERIFY2(seen[2].text.contains(QDir::toNativeSeparators(target)), qPrintable(seen[2].text));
        QCOMPARE(log(), QString());
        QCOMPARE(filesInDirectory(), QStringList{"firmware.hex"});
    }
};

QTEST_MAIN(TestCreateUpg)
#include "tst_createupg.moc"
