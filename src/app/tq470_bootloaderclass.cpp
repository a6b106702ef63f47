#include "tq470_bootloaderclass.h"

#include <QAction>
#include <QCoreApplication>
#include <QFont>
#include <QGridLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>

namespace {

constexpr int WindowWidth = 591;
constexpr int WindowHeight = 472;
constexpr int MenuBarHeight = 21;
constexpr int CentralSpacing = 6;
constexpr int CentralMargin = 11;
constexpr int ButtonColumnSpacing = 9;
constexpr int ButtonColumnMargin = 9;
constexpr int SpacerWidth = 20;
constexpr int SpacerHeight = 40;
constexpr int ProgressBarMaxHeight = 15;
const char *const LogFontFamily = "Courier New";

QPushButton *createButton(QWidget *parent, const char *name)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(name);
    return button;
}

QProgressBar *createProgressBar(QWidget *parent, const char *name)
{
    auto *bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setMaximumSize(QSize(QWIDGETSIZE_MAX, ProgressBarMaxHeight));
    bar->setValue(0);
    bar->setAlignment(Qt::AlignJustify | Qt::AlignVCenter);
    return bar;
}

} // namespace

void TQ470_BootloaderClass::setupUi(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName("TQ470_BootloaderClass");
    window->resize(WindowWidth, WindowHeight);

    actionOpen = new QAction(window);
    actionOpen->setObjectName("actionOpen");
    actionClose = new QAction(window);
    actionClose->setObjectName("actionClose");

    centralWidget = new QWidget(window);
    centralWidget->setObjectName("centralWidget");
    gridLayout = new QGridLayout(centralWidget);
    gridLayout->setSpacing(CentralSpacing);
    gridLayout->setContentsMargins(CentralMargin, CentralMargin, CentralMargin, CentralMargin);
    gridLayout->setObjectName("gridLayout");

    txt = new QTextBrowser(centralWidget);
    txt->setObjectName("txt");
    QFont logFont;
    logFont.setFamily(LogFontFamily);
    txt->setFont(logFont);
    gridLayout->addWidget(txt, 3, 0, 1, 2);

    gridLayout_2 = new QGridLayout();
    gridLayout_2->setSpacing(ButtonColumnSpacing);
    gridLayout_2->setContentsMargins(ButtonColumnMargin, ButtonColumnMargin, ButtonColumnMargin,
                                     ButtonColumnMargin);
    gridLayout_2->setObjectName("gridLayout_2");

    pushButtonConnect = createButton(centralWidget, "pushButtonConnect");
    gridLayout_2->addWidget(pushButtonConnect, 0, 0, 1, 1);
    pushButtonDisconnect = createButton(centralWidget, "pushButtonDisconnect");
    gridLayout_2->addWidget(pushButtonDisconnect, 1, 0, 1, 1);
    verticalSpacer =
        new QSpacerItem(SpacerWidth, SpacerHeight, QSizePolicy::Minimum, QSizePolicy::Expanding);
    gridLayout_2->addItem(verticalSpacer, 12, 0, 1, 1);
    pushButtonRead = createButton(centralWidget, "pushButtonRead");
    gridLayout_2->addWidget(pushButtonRead, 2, 0, 1, 1);
    pushButtonWrite = createButton(centralWidget, "pushButtonWrite");
    gridLayout_2->addWidget(pushButtonWrite, 3, 0, 1, 1);
    pushButtonWritePage = createButton(centralWidget, "pushButtonWritePage");
    gridLayout_2->addWidget(pushButtonWritePage, 4, 0, 1, 1);
    pushButtonFirmware = createButton(centralWidget, "pushButtonFirmware");
    gridLayout_2->addWidget(pushButtonFirmware, 5, 0, 1, 1);
    pushButtonRunApplication = createButton(centralWidget, "pushButtonRunApplication");
    gridLayout_2->addWidget(pushButtonRunApplication, 7, 0, 1, 1);
    pushButtonWriteExternalFlash = createButton(centralWidget, "pushButtonWriteExternalFlash");
    gridLayout_2->addWidget(pushButtonWriteExternalFlash, 8, 0, 1, 1);
    pushButtonReadExternalFlash = createButton(centralWidget, "pushButtonReadExternalFlash");
    gridLayout_2->addWidget(pushButtonReadExternalFlash, 9, 0, 1, 1);
    pushButtonWriteExtFlashBin = createButton(centralWidget, "pushButtonWriteExtFlashBin");
    gridLayout_2->addWidget(pushButtonWriteExtFlashBin, 6, 0, 1, 1);
    pushButtonCreateUpg = createButton(centralWidget, "pushButtonCreateUpg");
    gridLayout_2->addWidget(pushButtonCreateUpg, 10, 0, 1, 1);
    pushButtonCreateBootBin = createButton(centralWidget, "pushButtonCreateBootBin");
    gridLayout_2->addWidget(pushButtonCreateBootBin, 11, 0, 1, 1);
    gridLayout->addLayout(gridLayout_2, 0, 2, 4, 1);

    progressBarFlash = createProgressBar(centralWidget, "progressBarFlash");
    gridLayout->addWidget(progressBarFlash, 0, 0, 1, 1);
    progressBarExtFlashWr = createProgressBar(centralWidget, "progressBarExtFlashWr");
    gridLayout->addWidget(progressBarExtFlashWr, 1, 0, 1, 1);
    progressBarExtFlashRd = createProgressBar(centralWidget, "progressBarExtFlashRd");
    gridLayout->addWidget(progressBarExtFlashRd, 2, 0, 1, 1);

    window->setCentralWidget(centralWidget);

    menuBar = new QMenuBar(window);
    menuBar->setObjectName("menuBar");
    menuBar->setGeometry(QRect(0, 0, WindowWidth, MenuBarHeight));
    menuFile = new QMenu(menuBar);
    menuFile->setObjectName("menuFile");
    window->setMenuBar(menuBar);

    mainToolBar = new QToolBar(window);
    mainToolBar->setObjectName("mainToolBar");
    window->addToolBar(Qt::TopToolBarArea, mainToolBar);

    statusBar = new QStatusBar(window);
    statusBar->setObjectName("statusBar");
    statusBar->setMinimumSize(QSize(0, 0));
    window->setStatusBar(statusBar);

    menuBar->addAction(menuFile->menuAction());
    menuFile->addAction(actionClose);

    retranslateUi(window);
    QObject::connect(actionClose, &QAction::triggered, window, &QMainWindow::close);
    QMetaObject::connectSlotsByName(window);
}

void TQ470_BootloaderClass::retranslateUi(QMainWindow *window)
{
    window->setWindowTitle(
        QCoreApplication::translate("TQ470_BootloaderClass", "TQ470_Bootloader"));
    actionOpen->setText(QCoreApplication::translate("TQ470_BootloaderClass", "Open"));
    actionClose->setText(QCoreApplication::translate("TQ470_BootloaderClass", "Close"));
    pushButtonConnect->setText(QCoreApplication::translate("TQ470_BootloaderClass", "Connect"));
    pushButtonDisconnect->setText(
        QCoreApplication::translate("TQ470_BootloaderClass", "Disconnect"));
    pushButtonRead->setText(QCoreApplication::translate("TQ470_BootloaderClass", "Read"));
    pushButtonWrite->setText(QCoreApplication::translate("TQ470_BootloaderClass", "Write"));
    pushButtonWritePage->setText(QCoreApplication::translate("TQ470_BootloaderClass", "WritePage"));
    pushButtonFirmware->setText(
        QCoreApplication::translate("TQ470_BootloaderClass", "Change Firmware"));
    pushButtonRunApplication->setText(
        QCoreApplication::translate("TQ470_BootloaderClass", "RunApplication"));
    pushButtonWriteExternalFlash->setText(
        QCoreApplication::translate("TQ470_BootloaderClass", "WriteExternalFlash"));
    pushButtonReadExternalFlash->setText(
        QCoreApplication::translate("TQ470_BootloaderClass", "ReadExternalFlash"));
    pushButtonWriteExtFlashBin->setText(
        QCoreApplication::translate("TQ470_BootloaderClass", "WriteExtFlashBin"));
    pushButtonCreateUpg->setText(QCoreApplication::translate("TQ470_BootloaderClass", "CreateUpg"));
    pushButtonCreateBootBin->setText(
        QCoreApplication::translate("TQ470_BootloaderClass", "CreateBootBin"));
    progressBarFlash->setFormat(QCoreApplication::translate("TQ470_BootloaderClass", "Flash %p%"));
    progressBarExtFlashWr->setFormat(
        QCoreApplication::translate("TQ470_BootloaderClass", "External Flash Write %p%"));
    progressBarExtFlashRd->setFormat(
        QCoreApplication::translate("TQ470_BootloaderClass", "External Flash Verify %p%"));
    menuFile->setTitle(QCoreApplication::translate("TQ470_BootloaderClass", "File"));
}
