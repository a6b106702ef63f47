#ifndef TQ470_BOOTLOADERCLASS_H
#define TQ470_BOOTLOADERCLASS_H

class QAction;
class QGridLayout;
class QMainWindow;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QSpacerItem;
class QStatusBar;
class QTextBrowser;
class QToolBar;
class QWidget;

// The main window's form. setupUi creates the objects in the order of the members below,
// which is also the Tab order of the focusable widgets. Every object ends up owned by the
// window, so the form only points at them.
class TQ470_BootloaderClass
{
public:
    QAction *actionOpen = nullptr;
    QAction *actionClose = nullptr;
    QWidget *centralWidget = nullptr;
    QGridLayout *gridLayout = nullptr;
    QTextBrowser *txt = nullptr;
    QGridLayout *gridLayout_2 = nullptr;
    QPushButton *pushButtonConnect = nullptr;
    QPushButton *pushButtonDisconnect = nullptr;
    QSpacerItem *verticalSpacer = nullptr;
    QPushButton *pushButtonRead = nullptr;
    QPushButton *pushButtonWrite = nullptr;
    QPushButton *pushButtonWritePage = nullptr;
    QPushButton *pushButtonFirmware = nullptr;
    QPushButton *pushButtonRunApplication = nullptr;
    QPushButton *pushButtonWriteExternalFlash = nullptr;
    QPushButton *pushButtonReadExternalFlash = nullptr;
    QPushButton *pushButtonWriteExtFlashBin = nullptr;
    QPushButton *pushButtonCreateUpg = nullptr;
    QPushButton *pushButtonCreateBootBin = nullptr;
    QProgressBar *progressBarFlash = nullptr;
    QProgressBar *progressBarExtFlashWr = nullptr;
    QProgressBar *progressBarExtFlashRd = nullptr;
    QMenuBar *menuBar = nullptr;
    QMenu *menuFile = nullptr;
    QToolBar *mainToolBar = nullptr;
    QStatusBar *statusBar = nullptr;

    void setupUi(QMainWindow *window);
    void retranslateUi(QMainWindow *window);
};

#endif
