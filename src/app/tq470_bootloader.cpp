#include "tq470_bootloader.h"

#include "bootimagebuilder.h"
#include "debuglog.h"
#include "disconnectdatafile.h"
#include "failurebox.h"
#include "hexdump.h"
#include "hextobin.h"
#include "productionserial.h"
#include "progressrelay.h"
#include "slicedlog.h"
#include "tq470_bootloaderclass.h"
#include "transferrecorder.h"
#include "upgradefile.h"
#include "upgradeimagebuilder.h"
#include "upgrader.h"
#include "usbtq470.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QInputDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>

namespace {

const char *const ProgramVersion = "2.00";
const char *const WindowIcon = ":/icons/tq470-bootloader.svg";

// Where the firmware and the external-flash images are built on the development machine.
const char *const HexBuildDirectory = "E:/Projekty/ARM/TQ470/out";
const char *const ImageBuildDirectory = "E:\\Projekty\\ARM\\Tq470\\out";

// The build directory on the Windows development machine; anywhere else the dialog opens
// where the tool was started.
QString buildStartDirectory(const char *windowsPath)
{
#ifdef Q_OS_WIN
    return QLatin1String(windowsPath);
#else
    Q_UNUSED(windowsPath);
    return QDir::currentPath();
#endif
}

} // namespace

TQ470_Bootloader::TQ470_Bootloader(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags()), ui(new TQ470_BootloaderClass)
{
    ui->setupUi(this);
    setWindowTitle(tr("Tq470 Bootloader ver. ") + QLatin1String(ProgramVersion));
    setWindowIcon(QIcon(QLatin1String(WindowIcon)));
    qCDebug(tq470Debug, "MY_DEBUG");

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

    // The worker's dumps are long: they are appended in slices so that the window keeps
    // answering. Every other line waits for them, to keep the order.
    log = new SlicedLog(ui->txt);
    connect(upgrader, &Upgrader::sendText, log, &SlicedLog::append);
    // The worker reports every chunk; the bars take the latest value per event-loop turn.
    connect(upgrader, &Upgrader::sendPercent, new ProgressRelay(ui->progressBarFlash),
            &ProgressRelay::report, Qt::DirectConnection);
    // The file choice must not change under a running upgrade: the button comes back when the
    // worker has ended.
    connect(upgrader, &QThread::finished, ui->pushButtonFirmware,
            [button = ui->pushButtonFirmware] { button->setEnabled(true); });
    connect(usb, &USBTQ470::sendPercentExtFlashWrite, new ProgressRelay(ui->progressBarExtFlashWr),
            &ProgressRelay::report, Qt::DirectConnection);
    connect(usb, &USBTQ470::sendPercentExtFlashRead, new ProgressRelay(ui->progressBarExtFlashRd),
            &ProgressRelay::report, Qt::DirectConnection);

    // The window takes no options: a trace for a problem report is asked for by TQ470_RECORD.
    // Without one the window still does its work.
    QString unrecorded;
    if (!TransferRecorder::startFromEnvironment(&unrecorded)) {
        const QString line = tr("The USB transfers are not recorded: %1").arg(unrecorded);
        qWarning().noquote() << line;
        log->appendNow(line);
    }
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
    qCDebug(tq470Debug, "TQ470_Bootloader::slotpushButtonConnect(bool t)");
    const char *const outcome = usb->connect() == 0 ? "Connect OK" : "Connect ERROR";
    qCDebug(tq470Debug, "%s", outcome);
    log->appendNow(QLatin1String(outcome));
}

void TQ470_Bootloader::slotpushButtonDisconnect(bool)
{
    usb->disconnect();
    qCDebug(tq470Debug, "TQ470_Bootloader::slotpushButtonDisconnect(bool t)");
    log->clear();
    const QList<DisconnectDataFile::Draw> draws = DisconnectDataFile::drawPermutation();
    // A file that cannot be written goes unreported; the numbers still reach the log.
    DisconnectDataFile::write(QLatin1String(DisconnectDataFile::FileName), draws);
    for (const DisconnectDataFile::Draw &draw : draws)
        log->appendNow(DisconnectDataFile::logLine(draw));
}

void TQ470_Bootloader::slotpushButtonRead(bool)
{
    qCDebug(tq470Debug, "TQ470_Bootloader::slotpushButtonRead(bool t)");
    const QString title = tr("Read From Tq470");
    QString addressText;
    if (!readAddress.askText(this, title, tr("Address (hex)"), &addressText) ||
        !readLength.ask(this, title, tr("Length (dec)")) || !readAddress.take(this, addressText))
        return;
    QByteArray data;
    const bool read = MemoryTools(*usb).read(readAddress.value(), readLength.value(), &data);
    showReadOutcome(read, data, tr("ReadMemoryFromAddress"));
}

void TQ470_Bootloader::slotpushButtonWrite(bool)
{
    qCDebug(tq470Debug, "TQ470_Bootloader::slotpushButtonWrite(bool t)");
    QByteArray block;
    if (MemoryTools(*usb).sendTestBlock(&block))
        // Quoted, with its line breaks as they are.
        qCDebug(tq470Debug).noquote().nospace()
            << '"' << QString::fromLatin1(HexDump(block.constData(), int(block.size()))) << '"';
}

void TQ470_Bootloader::slotpushButtonWritePage(bool)
{
    qCDebug(tq470Debug, "TQ470_Bootloader::slotpushButtonWritePage(bool t)");
    if (!fillPattern.ask(this, tr("Fill pattern"), tr("Number (dec)")))
        return;
    if (MemoryTools(*usb).writePage(quint8(fillPattern.value())))
        qCDebug(tq470Debug, "page write OK");
    else
        qCDebug(tq470Debug, "page write ERROR");
}

void TQ470_Bootloader::slotpushButtonFirmware(bool)
{
    qCDebug(tq470Debug, "Tq320_bootloader::slotpushButtonCHF(bool t)");
    if (!upgrader)
        return;
    ui->progressBarFlash->setValue(0);
    ui->progressBarExtFlashWr->setValue(0);
    ui->progressBarExtFlashRd->setValue(0);
    const QString name = QFileDialog::getOpenFileName(nullptr, tr("Open File"),
                                                      QStringLiteral("."), tr("Upg (*.upg)"));
    // A cancelled dialog gives a null name, on which the worker ends at once without a word.
    upgrader->slotSetFileName(name);
    ui->pushButtonFirmware->setEnabled(false);
    upgrader->start(QThread::InheritPriority);
}

void TQ470_Bootloader::slotpushButtonWriteExtFlashBin(bool)
{
    qCDebug(tq470Debug, "TQ470_Bootloader::slotpushButtonWriteExtFlashBin(bool t)");
    const QString fileName = QFileDialog::getOpenFileName(this, tr("Open File"),
                                                          buildStartDirectory(ImageBuildDirectory),
                                                          tr("Bin (*.bin)"));
    if (fileName.isNull())
        return;
    QFile file(fileName);
    // A file that cannot be read gives no bytes, which the length check turns away.
    const QByteArray image = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();

    switch (ExternalFlashTools(*usb).writeImage(image)) {
    case ExternalFlashTools::ImageResult::Written:
        QMessageBox::information(this, tr("Info"), tr("Write OK"));
        break;
    case ExternalFlashTools::ImageResult::LengthError:
        qCDebug(tq470Debug) << "length error" << image.size();
        FailureBox::show(this, tr("Length error"), tr("Length should be aligned to 4"));
        break;
    case ExternalFlashTools::ImageResult::WriteFailed:
        FailureBox::show(this, tr("WriteExternalFlashToAddress"));
        break;
    case ExternalFlashTools::ImageResult::ReadBackFailed:
        FailureBox::show(this, tr("ReadExternalFlashFromAddress"));
        break;
    case ExternalFlashTools::ImageResult::Mismatch:
        FailureBox::show(this, tr("memcmp"));
        break;
    }
}

// Reports nothing, not even a failed re-connect: the device is away while it restarts.
void TQ470_Bootloader::slotpushButtonRunApplication(bool)
{
    usb->RunApplication();
    usb->disconnect();
    usb->connect();
}

void TQ470_Bootloader::slotpushButtonWriteExternalFlash(bool)
{
    qCDebug(tq470Debug, "TQ470_Bootloader::slotpushButtonWriteExternalFlash(bool t)");
    const QString title = tr("Write To External Flash Tq470");
    if (!externalWriteAddress.ask(this, title, tr("Address (hex)")) ||
        !externalWriteLength.ask(this, title, tr("Length (dec)")) ||
        !externalWriteData.ask(this, title, tr("Data(hex)")))
        return;
    const quint32 address = externalWriteAddress.value();
    const int length = externalWriteLength.value();
    QByteArray sent;
    const bool written =
        ExternalFlashTools(*usb).fill(address, length, externalWriteData.value(), &sent);
    log->clear();
    for (const QString &entry : ExternalFlashTools::fillReport(address, length, sent))
        log->appendNow(entry);
    if (!written)
        FailureBox::show(this, tr("WriteExternalFlashToAddress"));
}

void TQ470_Bootloader::slotpushButtonReadExternalFlash(bool)
{
    qCDebug(tq470Debug, "TQ470_Bootloader::slotpushButtonReadExternalFlash(bool t)");
    const QString title = tr("Read External Flash From Tq470");
    QString addressText;
    if (!externalReadAddress.askText(this, title, tr("Address (hex)"), &addressText) ||
        !externalReadLength.ask(this, title, tr("Length (dec)")) ||
        !externalReadAddress.take(this, addressText))
        return;
    QByteArray data;
    const bool read = ExternalFlashTools(*usb).read(externalReadAddress.value(),
                                                    externalReadLength.value(), &data);
    showReadOutcome(read, data, tr("ReadExternalFlashFromAddress"));
}

void TQ470_Bootloader::slotpushButtonCreateUpg(bool)
{
    qCDebug(tq470Debug, "TQ470_Bootloader::slotpushButtonCreateUpg(bool t)");
    log->clear();

    const QString hexFileName = QFileDialog::getOpenFileName(
        this, tr("Open File"), buildStartDirectory(HexBuildDirectory), tr("Hex (*.hex)"));
    if (hexFileName.isNull())
        return;

    QByteArray image;
    const int result = UpgradeImageBuilder::build(hexFileName, &image);
    if (result != HexToBinOk) {
        reportHexToBinError(result);
        return;
    }

    const QString upgFileName = QFileDialog::getSaveFileName(
        this, tr("Save File"), QStringLiteral("."), tr("Upg (*.upg)"));
    if (upgFileName.isNull())
        return;
    QString error;
    if (!UpgradeFile::write(upgFileName, image, &error))
        reportCannotWrite(upgFileName, error);
}

void TQ470_Bootloader::slotpushButtonCreateBootBin(bool)
{
    // This command names itself in the log, not on the debug output.
    log->appendNow(QStringLiteral("TQ470_Bootloader::slotpushButtonCreateBootBin(bool t)"));

    const QString hexFileName =
        QFileDialog::getOpenFileName(this, tr("Open File"), QStringLiteral("."), tr("Hex (*.hex)"));
    if (hexFileName.isNull())
        return;

    struct Question {
        ProductionSerial::Field field;
        QString title;
        QString label;
    };
    const Question questions[ProductionSerial::FieldCount] = {
        {ProductionSerial::Year, tr("Production year"), tr("Year(YY)")},
        {ProductionSerial::Month, tr("Production mont"), tr("Month(MM)")},
        {ProductionSerial::Day, tr("Production day"), tr("Day(DD)")},
        {ProductionSerial::Number, tr("Production number"), tr("Number(NNN)")},
    };
    const QDate today = fixedToday.isNull() ? QDate::currentDate() : fixedToday;
    QString serial;
    for (const Question &question : questions) {
        bool ok = false;
        const QString item = QInputDialog::getItem(
            this, question.title, question.label, ProductionSerial::items(question.field),
            ProductionSerial::preselectedIndex(question.field, today), false, &ok);
        if (!ok)
            return;
        serial += item;
    }
    log->appendNow(serial);

    QByteArray image;
    const int result = BootImageBuilder::build(hexFileName, serial, &image);
    if (result != HexToBinOk) {
        reportHexToBinError(result);
        return;
    }

    const QString binFileName =
        QFileDialog::getSaveFileName(this, tr("Save bootloader bin"),
                                     BootImageBuilder::proposedFileName(serial), tr("Bin (*.bin)"));
    QString error;
    if (!binFileName.isNull() && !BootImageBuilder::write(binFileName, image, &error)) {
        reportCannotWrite(binFileName, error);
        return;
    }
    log->appendNow(QStringLiteral("New bootloader + serial:"));
    log->appendNow(binFileName);
}

void TQ470_Bootloader::reportHexToBinError(int result)
{
    const QString text = tr("HexToBin error: %1)").arg(result);
    log->appendNow(text);
    FailureBox::show(this, text);
}

void TQ470_Bootloader::reportCannotWrite(const QString &fileName, const QString &error)
{
    FailureBox::show(this,
                     tr("Cannot write %1: %2").arg(QDir::toNativeSeparators(fileName), error));
}

// The log loses the previous dump either way, so that a failed read is never taken for data.
void TQ470_Bootloader::showReadOutcome(bool succeeded, const QByteArray &data,
                                       const QString &failedOperation)
{
    log->clear();
    if (succeeded)
        log->appendNow(QString::fromLatin1(HexDump(data.constData(), int(data.size()))));
    else
        FailureBox::show(this, failedOperation);
}

void TQ470_Bootloader::slotTimeout()
{
    qCDebug(tq470Debug, "TQ470_Bootloader::slotTimeout(void)");
}
