#include "debugcapture.h"
#include "tq470_bootloader.h"
#include "upgrader.h"
#include "usbtq470.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QTranslator>

#include <memory>

namespace {

const char *const Window = "TQ470_BootloaderClass";

struct FormObject {
    const char *name;
    const char *className;
    const char *parent;
};

// In creation order, which the Tab order of the widgets follows.
const FormObject FormObjects[] = {
    {"actionOpen", "QAction", Window},
    {"actionClose", "QAction", Window},
    {"centralWidget", "QWidget", Window},
    {"gridLayout", "QGridLayout", "centralWidget"},
    {"txt", "QTextBrowser", "centralWidget"},
    {"gridLayout_2", "QGridLayout", "gridLayout"},
    {"pushButtonConnect", "QPushButton", "centralWidget"},
    {"pushButtonDisconnect", "QPushButton", "centralWidget"},
    {"pushButtonRead", "QPushButton", "centralWidget"},
    {"pushButtonWrite", "QPushButton", "centralWidget"},
    {"pushButtonWritePage", "QPushButton", "centralWidget"},
    {"pushButtonFirmware", "QPushButton", "centralWidget"},
    {"pushButtonRunApplication", "QPushButton", "centralWidget"},
    {"pushButtonWriteExternalFlash", "QPushButton", "centralWidget"},
    {"pushButtonReadExternalFlash", "QPushButton", "centralWidget"},
    {"pushButtonWriteExtFlashBin", "QPushButton", "centralWidget"},
    {"pushButtonCreateUpg", "QPushButton", "centralWidget"},
    {"pushButtonCreateBootBin", "QPushButton", "centralWidget"},
    {"progressBarFlash", "QProgressBar", "centralWidget"},
    {"progressBarExtFlashWr", "QProgressBar", "centralWidget"},
    {"progressBarExtFlashRd", "QProgressBar", "centralWidget"},
    {"menuBar", "QMenuBar", Window},
    {"menuFile", "QMenu", "menuBar"},
    {"mainToolBar", "QToolBar", Window},
    {"statusBar", "QStatusBar", Window},
};

struct ButtonSlot {
    const char *button;
    const char *text;
    void (TQ470_Bootloader::*slot)(bool);
};

// In the order of the window's slots, which is also the row order of the button column.
const ButtonSlot ButtonSlots[] = {
    {"pushButtonConnect", "Connect", &TQ470_Bootloader::slotpushButtonConnect},
    {"pushButtonDisconnect", "Disconnect", &TQ470_Bootloader::slotpushButtonDisconnect},
    {"pushButtonRead", "Read", &TQ470_Bootloader::slotpushButtonRead},
    {"pushButtonWrite", "Write", &TQ470_Bootloader::slotpushButtonWrite},
    {"pushButtonWritePage", "WritePage", &TQ470_Bootloader::slotpushButtonWritePage},
    {"pushButtonFirmware", "Change Firmware", &TQ470_Bootloader::slotpushButtonFirmware},
    {"pushButtonWriteExtFlashBin", "WriteExtFlashBin",
     &TQ470_Bootloader::slotpushButtonWriteExtFlashBin},
    {"pushButtonRunApplication", "RunApplication", &TQ470_Bootloader::slotpushButtonRunApplication},
    {"pushButtonWriteExternalFlash", "WriteExternalFlash",
     &TQ470_Bootloader::slotpushButtonWriteExternalFlash},
    {"pushButtonReadExternalFlash", "ReadExternalFlash",
     &TQ470_Bootloader::slotpushButtonReadExternalFlash},
    {"pushButtonCreateUpg", "CreateUpg", &TQ470_Bootloader::slotpushButtonCreateUpg},
    {"pushButtonCreateBootBin", "CreateBootBin", &TQ470_Bootloader::slotpushButtonCreateBootBin},
};

QStringList namesAmong(const QObjectList &objects, const QStringList &wanted)
{
    QStringList names;
    for (const QObject *object : objects)
        if (wanted.contains(object->objectName()))
            names << object->objectName();
    return names;
}

// Stands in for a loaded .qm file and translates only these texts.
class FakeTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        const QString key = QString("%1|%2").arg(context, source);
        if (key == "TQ470_Bootloader|Tq470 Bootloader ver. ")
            return "Programm Version ";
        if (key == "TQ470_BootloaderClass|Change Firmware")
            return "Firmware wechseln";
        return QLatin1String(source) == "2.00" ? "9.99" : QString();
    }
    bool isEmpty() const override { return false; }
};

// What the file dialog opened by a click looked like.
struct FileDialogSeen {
    bool shown = false;
    bool hasParent = true;
    QString title;
    QString directory;
    QStringList filters;
};

// Answers the modal file dialog that the next click opens: chooses fileName, or cancels when
// fileName is empty. The dialog blocks in its own event loop, so it is answered from a timer.
std::shared_ptr<FileDialogSeen> answerFileDialog(const QString &fileName)
{
    auto seen = std::make_shared<FileDialogSeen>();
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, seen, fileName] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll->stop();
        poll->deleteLater();
        *seen = {true, dialog->parent() != nullptr, dialog->windowTitle(),
                 dialog->directory().absolutePath(), dialog->nameFilters()};
        if (fileName.isEmpty()) {
            dialog->reject();
        } else {
            // Typed as a user would: selectFile() does not take in a dialog opened after
            // another one.
            auto *nameEdit = dialog->findChild<QLineEdit *>("fileNameEdit");
            if (!nameEdit)
                qFatal("the file dialog has no file name field");
            nameEdit->setText(fileName);
            static_cast<QDialog *>(dialog)->accept();
        }
    });
    poll->start(10);
    return seen;
}

QList<int> barValues(const QList<QProgressBar *> &bars)
{
    QList<int> values;
    for (const QProgressBar *bar : bars)
        values << bar->value();
    return values;
}

} // namespace

class TestTq470Bootloader : public QObject
{
    Q_OBJECT

    std::unique_ptr<DebugCapture> debug;
    TQ470_Bootloader *window = nullptr;
    Upgrader *worker = nullptr;

    template <typename T> T *child(const QString &name) const
    {
        auto *found = name == Window ? qobject_cast<T *>(window) : window->findChild<T *>(name);
        if (!found)
            qFatal("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
        return found;
    }

    void showWindow()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

private Q_SLOTS:
    void init()
    {
        debug = std::make_unique<DebugCapture>();
        window = new TQ470_Bootloader;
        worker = window->worker();
    }
    void cleanup()
    {
        delete window;
        delete worker;
        debug.reset();
    }

    void formObjectHasItsClassAndParent_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("parent");
        for (const FormObject &object : FormObjects)
            QTest::newRow(object.name) << object.className << object.parent;
    }
    void formObjectHasItsClassAndParent()
    {
        QFETCH(QString, className);
        QFETCH(QString, parent);
        const QObject *object = child<QObject>(QTest::currentDataTag());
        QCOMPARE(QString(object->metaObject()->className()), className);
        QCOMPARE(object->parent()->objectName(), parent);
    }

    void formObjectsAreCreatedInOrder()
    {
        QStringList windowChildren, tabOrder;
        for (const FormObject &object : FormObjects) {
            if (qstrcmp(object.parent, Window) == 0)
                windowChildren << object.name;
            const QObject *found = child<QObject>(object.name);
            if (found->isWidgetType() && !static_cast<const QWidget *>(found)->isWindow())
                tabOrder << object.name;
        }
        QCOMPARE(namesAmong(window->children(), windowChildren), windowChildren);

        QObjectList focusChain;
        for (QWidget *w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain())
            focusChain << w;
        QCOMPARE(namesAmong(focusChain, tabOrder), tabOrder);
    }

    void layoutCell_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QList<int>>("cell");
        QTest::newRow("progressBarFlash") << "gridLayout" << QList<int>{0, 0, 1, 1};
        QTest::newRow("progressBarExtFlashWr") << "gridLayout" << QList<int>{1, 0, 1, 1};
        QTest::newRow("progressBarExtFlashRd") << "gridLayout" << QList<int>{2, 0, 1, 1};
        QTest::newRow("txt") << "gridLayout" << QList<int>{3, 0, 1, 2};
        QTest::newRow("gridLayout_2") << "gridLayout" << QList<int>{0, 2, 4, 1};
        for (int row = 0; row < int(std::size(ButtonSlots)); ++row)
            QTest::newRow(ButtonSlots[row].button) << "gridLayout_2" << QList<int>{row, 0, 1, 1};
    }
    void layoutCell()
    {
        QFETCH(QString, layout);
        QFETCH(QList<int>, cell);
        auto *grid = child<QGridLayout>(layout);
        const QString name = QTest::currentDataTag();
        const int index = name == "gridLayout_2" ? grid->indexOf(child<QLayout>(name))
                                                 : grid->indexOf(child<QWidget>(name));
        QVERIFY(index >= 0);
        QList<int> position(4);
        grid->getItemPosition(index, &position[0], &position[1], &position[2], &position[3]);
        QCOMPARE(position, cell);
    }

    void layoutSpacingMarginsAndSpacer()
    {
        auto *outer = child<QGridLayout>("gridLayout");
        QCOMPARE(outer->spacing(), 6);
        QCOMPARE(outer->contentsMargins(), QMargins(11, 11, 11, 11));
        auto *buttons = child<QGridLayout>("gridLayout_2");
        QCOMPARE(buttons->spacing(), 9);
        QCOMPARE(buttons->contentsMargins(), QMargins(9, 9, 9, 9));

        QList<int> spacerRows;
        for (int i = 0; i < buttons->count(); ++i) {
            const QSpacerItem *spacer = buttons->itemAt(i)->spacerItem();
            if (!spacer)
                continue;
            int row, column, rowSpan, columnSpan;
            buttons->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
            spacerRows << row;
            QCOMPARE(spacer->sizeHint(), QSize(20, 40));
            QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
            QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
        }
        QCOMPARE(spacerRows, QList<int>{12});
    }

    void untranslatedText_data()
    {
        QTest::addColumn<QString>("property");
        QTest::addColumn<QString>("text");
        const auto row = [](const char *object, const char *property, const char *text) {
            QTest::newRow(object) << property << text;
        };
        row(Window, "windowTitle", "Tq470 Bootloader ver. 2.00");
        row("actionOpen", "text", "Open");
        row("actionClose", "text", "Close");
        row("menuFile", "title", "File");
        for (const ButtonSlot &entry : ButtonSlots)
            row(entry.button, "text", entry.text);
        row("progressBarFlash", "text", "Flash 0%");
        row("progressBarExtFlashWr", "text", "External Flash Write 0%");
        row("progressBarExtFlashRd", "text", "External Flash Verify 0%");
    }
    void untranslatedText()
    {
        QFETCH(QString, property);
        QFETCH(QString, text);
        const QObject *object = child<QObject>(QTest::currentDataTag());
        QCOMPARE(object->property(qPrintable(property)).toString(), text);
    }

    void translationReachesFormAndTitleButNotVersion()
    {
        FakeTranslator translator;
        QCoreApplication::installTranslator(&translator);
        std::unique_ptr<Upgrader> translatedWorker;
        auto translated = std::make_unique<TQ470_Bootloader>();
        translatedWorker.reset(translated->worker());
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(translated->windowTitle(), QString("Programm Version 2.00"));
        QCOMPARE(translated->findChild<QPushButton *>("pushButtonFirmware")->text(),
                 QString("Firmware wechseln"));
    }

    void geometryFontAndBars()
    {
        QCOMPARE(window->size(), QSize(591, 472));
        QCOMPARE(child<QMenuBar>("menuBar")->geometry(), QRect(0, 0, 591, 21));
        QCOMPARE(child<QStatusBar>("statusBar")->minimumSize(), QSize(0, 0));
        const QFont logFont = child<QTextBrowser>("txt")->font();
        QCOMPARE(logFont.family(), QString("Courier New"));
        QCOMPARE(logFont.pointSizeF(), QFont().pointSizeF());
        for (const auto *bar : window->findChildren<QProgressBar *>()) {
            QCOMPARE(bar->maximumSize(), QSize(QWIDGETSIZE_MAX, 15));
            QCOMPARE(bar->alignment(), Qt::AlignJustify | Qt::AlignVCenter);
            QCOMPARE(QList<int>({bar->minimum(), bar->maximum()}), QList<int>({0, 100}));
        }
    }

    void menuHoldsOnlyCloseAndBarsAreEmpty()
    {
        auto *menuFile = child<QMenu>("menuFile");
        QCOMPARE(child<QMenuBar>("menuBar")->actions(), QList<QAction *>{menuFile->menuAction()});
        QCOMPARE(menuFile->actions(), QList<QAction *>{child<QAction>("actionClose")});
        QVERIFY(child<QAction>("actionOpen")->associatedObjects().isEmpty());
        auto *toolBar = child<QToolBar>("mainToolBar");
        QVERIFY(toolBar->actions().isEmpty());
        QCOMPARE(window->toolBarArea(toolBar), Qt::TopToolBarArea);
        QVERIFY(child<QStatusBar>("statusBar")->currentMessage().isEmpty());
    }

    void startUpLeavesDeviceClosed()
    {
        QCOMPARE(window->device()->connection_status(), -1);
        const QStringList lines = debug->lines();
        QVERIFY(lines.contains("MY_DEBUG"));
        QVERIFY(lines.indexOf("MY_DEBUG") < lines.indexOf("Upgrader constructor"));
    }

    void onlyChangeFirmwareIsVisible()
    {
        QStringList hidden, shown;
        for (const ButtonSlot &entry : ButtonSlots)
            (child<QPushButton>(entry.button)->isVisibleTo(window) ? shown : hidden)
                << entry.button;
        QCOMPARE(shown, QStringList{"pushButtonFirmware"});
        showWindow();
        for (const ButtonSlot &entry : ButtonSlots)
            QCOMPARE(child<QPushButton>(entry.button)->isVisible(), shown.contains(entry.button));
    }

    void slotsInMetaObjectOrder()
    {
        const QMetaObject *meta = window->metaObject();
        QCOMPARE(QString(meta->className()), QString("TQ470_Bootloader"));
        QCOMPARE(meta->superClass(), &QMainWindow::staticMetaObject);
        QCOMPARE(meta->propertyCount(), meta->propertyOffset());
        QStringList expected, actual;
        for (const ButtonSlot &entry : ButtonSlots)
            expected << QString("slot%1(bool)").arg(entry.button);
        expected << "slotTimeout()";
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            QCOMPARE(method.methodType(), QMetaMethod::Slot);
            QCOMPARE(method.access(), QMetaMethod::Public);
            actual << method.methodSignature();
        }
        QCOMPARE(actual, expected);
    }

    // Proven by disconnecting rather than clicking: the service slots reach the device.
    void buttonsAreConnectedToTheirSlots()
    {
        for (const ButtonSlot &entry : ButtonSlots)
            QVERIFY2(QObject::disconnect(child<QPushButton>(entry.button), &QPushButton::clicked,
                                         window, entry.slot),
                     entry.button);
    }

    void changeFirmwareDialog_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::newRow("cancelled: bars reset, nothing logged") << false;
        QTest::newRow("answered: the worker runs on the chosen file") << true;
    }
    void changeFirmwareDialog()
    {
        QFETCH(bool, answered);
        // A file the worker rejects by its header, so that the run never reaches for USB.
        QTemporaryDir dir;
        const QString fileName = dir.filePath("not-an-upgrade.upg");
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not an upgrade file");
        file.close();

        const QList<QProgressBar *> bars{child<QProgressBar>("progressBarFlash"),
                                         child<QProgressBar>("progressBarExtFlashWr"),
                                         child<QProgressBar>("progressBarExtFlashRd")};
        for (QProgressBar *bar : bars)
            bar->setValue(40);
        showWindow();
        const qsizetype before = debug->lines().size();
        const auto seen = answerFileDialog(answered ? fileName : QString());
        QTest::mouseClick(child<QPushButton>("pushButtonFirmware"), Qt::LeftButton);
        QCOMPARE(debug->lines().value(before),
                 QString("Tq320_bootloader::slotpushButtonCHF(bool t)"));

        QVERIFY(seen->shown);
        QVERIFY(!seen->hasParent);
        QCOMPARE(seen->title, QString("Open File"));
        QCOMPARE(seen->directory, QDir::currentPath());
        QCOMPARE(seen->filters, QStringList{"Upg (*.upg)"});
        QCOMPARE(barValues(bars), QList<int>({0, 0, 0}));

        QVERIFY(worker->wait(5000));
        QCoreApplication::processEvents();
        QCOMPARE(child<QTextBrowser>("txt")->toPlainText(),
                 answered ? fileName + "\nWrong file header" : QString());
        QCOMPARE(window->device()->connection_status(), -1);
    }

    void reportSignalsReachLogAndTheirOwnBar()
    {
        const auto bars = [this] {
            QList<int> values;
            for (const char *name :
                 {"progressBarFlash", "progressBarExtFlashWr", "progressBarExtFlashRd"})
                values << child<QProgressBar>(name)->value();
            return values;
        };
        Q_EMIT worker->sendText("first line");
        QCOMPARE(child<QTextBrowser>("txt")->toPlainText(), QString("first line"));
        Q_EMIT worker->sendPercent(42);
        QCOMPARE(bars(), QList<int>({42, 0, 0}));
        Q_EMIT window->device()->sendPercentExtFlashWrite(37);
        QCOMPARE(bars(), QList<int>({42, 37, 0}));
        Q_EMIT window->device()->sendPercentExtFlashRead(64);
        QCOMPARE(bars(), QList<int>({42, 37, 64}));
    }

    void fileCloseClosesWindow()
    {
        showWindow();
        child<QAction>("actionClose")->trigger();
        QVERIFY(!window->isVisible());
    }

    void destroyingWindowWaitsForRunningWorkerAndKeepsIt()
    {
        // Stretches the run from outside: started() is emitted on the new thread before run().
        connect(
            worker, &QThread::started, worker, [] { QThread::msleep(300); }, Qt::DirectConnection);
        bool workerFinishedFirst = false;
        connect(window->device(), &QObject::destroyed, this,
                [&] { workerFinishedFirst = worker->isFinished(); });
        worker->start();
        QVERIFY(worker->isRunning());
        delete window;
        window = nullptr;
        QVERIFY(workerFinishedFirst);
        QVERIFY(!debug->lines().contains("Upgrader destructor"));
    }
};

QTEST_MAIN(TestTq470Bootloader)
#include "tst_tq470_bootloader.moc"
