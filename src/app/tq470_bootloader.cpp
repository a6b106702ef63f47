#include "tq470_bootloader.h"

#include "hextobin.h"
#include "tq470_bootloaderclass.h"
#include "upgradefile.h"
#include "upgradeimagebuilder.h"
#include "upgrader.h"
#include "usbtq470.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>

namespace {

const char *const ProgramVersion = "2.00";

} // namespace

TQ470_Bootloader::TQ470_Bootloader(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags()), ui(new TQ470_BootloaderClass)
{
    ui->setupUi(this);
    setWindowTitle(tr("Tq470 Bootloader ver. ") + QLatin1String(ProgramVersion));
    qDebug("MY_DEBUG");

    ui->pushButtonRead->hide();
    ui->pushButtonReadExternalFlash->hide();
    ui->pushButtonWrite->hide();
    ui->pushButtonWriteExternalFlash->hide();
    ui->pushButtonWriteExtFlashBin->hide();
    ui->pushButtonWritePage->hide();
    ui->pushButtonConnect->hide();
    ui->pushButtonDisconnect->hide();
    ui->pushButtonCreateBootBin->hide();
    ui->pushButtonCreateUpg->hide();
    ui->pushButtonRunApplication->hide();

    usb = new USBTQ470;

    connect(ui->pushButtonConnect, &QPushButton::clicked, this,
            &TQ470_Bootloader::slotpushButtonConnect);
    connect(ui->pushButtonDisconnect, &QPushButton::clicked, this,
            &TQ470_Bootloader::slotpushButtonDisconnect);
    connect(ui->pushButtonRead, &QPushButton::clicked, this, &TQ470_Bootloader::slotpushButtonRead);
    connect(ui->pushButtonWrite, &QPushButton::clicked, this,
            &TQ470_Bootloader::slotpushButtonWrite);
    connect(ui->pushButtonWritePage, &QPushButton::clicked, this,
            &TQ470_Bootloader::slotpushButtonWritePage);
    connect(ui->pushButtonFirmware, &QPushButton::clicked, this,
            &TQ470_Bootloader::slotpushButtonFirmware);
    connect(ui->pushButtonRunApplication, &QPushButton::clicked, this,
            &TQ470_Bootloader::slotpushButtonRunApplication);
    connect(ui->pushButtonReadExternalFlash, &QPushButton::clicked, this,
            &TQ470_Bootloader::slotpushButtonReadExternalFlash);
    connect(ui->pushButtonWriteExternalFlash, &QPushButton::clicked, this,
            &TQ470_Bootloader::slotpushButtonWriteExternalFlash);
    connect(ui->pushButtonWriteExtFlashBin, &QPushButton::clicked, this,
            &TQ470_Bootloader::slotpushButtonWriteExtFlashBin);
    connect(ui->pushButtonCreateUpg, &QPushButton::clicked, this,
            &TQ470_Bootloader::slotpushButtonCreateUpg);
    connect(ui->pushButtonCreateBootBin, &QPushButton::clicked, this,
            &TQ470_Bootloader::slotpushButtonCreateBootBin);

    upgrader = new Upgrader(usb);

    connect(upgrader, &Upgrader::sendText, ui->txt, &QTextBrowser::append);
    connect(upgrader, &Upgrader::sendPercent, ui->progressBarFlash, &QProgressBar::setValue);
    connect(usb, &USBTQ470::sendPercentExtFlashWrite, ui->progressBarExtFlashWr,
            &QProgressBar::setValue);
    connect(usb, &USBTQ470::sendPercentExtFlashRead, ui->progressBarExtFlashRd,
            &QProgressBar::setValue);
}

// The worker is never deleted; it goes with the process. A run still going uses usb, so it
// is allowed to finish before the device object is destroyed under it.
TQ470_Bootloader::~TQ470_Bootloader()
{
    upgrader->wait();
    delete usb;
    delete ui;
}

void TQ470_Bootloader::slotpushButtonConnect(bool)
{
    qDebug("TQ470_Bootloader::slotpushButtonConnect(bool t)");
}

void TQ470_Bootloader::slotpushButtonDisconnect(bool)
{
    qDebug("TQ470_Bootloader::slotpushButtonDisconnect(bool t)");
}

void TQ470_Bootloader::slotpushButtonRead(bool)
{
    qDebug("TQ470_Bootloader::slotpushButtonRead(bool t)");
}

void TQ470_Bootloader::slotpushButtonWrite(bool)
{
    qDebug("TQ470_Bootloader::slotpushButtonWrite(bool t)");
}

void TQ470_Bootloader::slotpushButtonWritePage(bool)
{
    qDebug("TQ470_Bootloader::slotpushButtonWritePage(bool t)");
}

void TQ470_Bootloader::slotpushButtonFirmware(bool)
{
    qDebug("Tq320_bootloader::slotpushButtonCHF(bool t)");
    if (!upgrader)
        return;
    ui->progressBarFlash->setValue(0);
    ui->progressBarExtFlashWr->setValue(0);
    ui->progressBarExtFlashRd->setValue(0);
    const QString name = QFileDialog::getOpenFileName(nullptr, tr("Open File"),
                                                      QStringLiteral("."), tr("Upg (*.upg)"));
    // A cancelled dialog gives a null name, on which the worker ends at once without a word.
    upgrader->slotSetFileName(name);
    upgrader->start(QThread::InheritPriority);
}

void TQ470_Bootloader::slotpushButtonWriteExtFlashBin(bool)
{
    qDebug("TQ470_Bootloader::slotpushButtonWriteExtFlashBin(bool t)");
}

void TQ470_Bootloader::slotpushButtonRunApplication(bool)
{
    qDebug("TQ470_Bootloader::slotpushButtonRunApplication(bool t)");
}

void TQ470_Bootloader::slotpushButtonWriteExternalFlash(bool)
{
    qDebug("TQ470_Bootloader::slotpushButtonWriteExternalFlash(bool t)");
}

void TQ470_Bootloader::slotpushButtonReadExternalFlash(bool)
{
    qDebug("TQ470_Bootloader::slotpushButtonReadExternalFlash(bool t)");
}

void TQ470_Bootloader::slotpushButtonCreateUpg(bool)
{
    qDebug("TQ470_Bootloader::slotpushButtonCreateUpg(bool t)");
    ui->txt->clear();

    // The firmware's build output on the development machine; anywhere else the dialog opens
    // where the tool was started.
#ifdef Q_OS_WIN
    const QString hexDirectory = QStringLiteral("E:/Projekty/ARM/TQ470/out");
#else
    const QString hexDirectory = QDir::currentPath();
#endif
    const QString hexFileName =
        QFileDialog::getOpenFileName(this, tr("Open File"), hexDirectory, tr("Hex (*.hex)"));
    if (hexFileName.isNull())
        return;

    QByteArray image;
    const int result = UpgradeImageBuilder::build(hexFileName, &image);
    if (result != HexToBinOk) {
        const QString text = tr("HexToBin error: %1)").arg(result);
        ui->txt->append(text);
        QMessageBox::critical(this, tr("Error"), text);
        return;
    }

    const QString upgFileName = QFileDialog::getSaveFileName(
        this, tr("Save File"), QStringLiteral("."), tr("Upg (*.upg)"));
    if (upgFileName.isNull())
        return;
    QString error;
    if (!UpgradeFile::write(upgFileName, image, &error))
        QMessageBox::critical(this, tr("Error"),
                              tr("Cannot write %1: %2")
                                  .arg(QDir::toNativeSeparators(upgFileName), error));
}

void TQ470_Bootloader::slotpushButtonCreateBootBin(bool)
{
    qDebug("TQ470_Bootloader::slotpushButtonCreateBootBin(bool t)");
}

void TQ470_Bootloader::slotTimeout()
{
    qDebug("TQ470_Bootloader::slotTimeout(void)");
}
