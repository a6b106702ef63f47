#ifndef TQ470_BOOTLOADER_H
#define TQ470_BOOTLOADER_H

#include "externalflashtools.h"
#include "hexvalueinput.h"
#include "integervalueinput.h"
#include "memorytools.h"
#include "servicelimits.h"

#include <QDate>
#include <QMainWindow>

class SlicedLog;
class TQ470_BootloaderClass;
class USBTQ470;
class Upgrader;

// The one main window: the form with its log and three progress bars, the device object and
// the upgrade worker. Only "Change Firmware" is shown; the service buttons stay in the form,
// hidden but connected. The device is not opened here.
class TQ470_Bootloader : public QMainWindow
{
    Q_OBJECT

public:
    explicit TQ470_Bootloader(QWidget *parent = nullptr);
    ~TQ470_Bootloader() override;

    USBTQ470 *device() const { return usb; }
    Upgrader *worker() const { return upgrader; }

    // CreateBootBin preselects the serial of this date instead of today's; a null date, the
    // default, means today. Only tests set it.
    void setToday(const QDate &date) { fixedToday = date; }

public Q_SLOTS:
    void slotpushButtonConnect(bool t);
    void slotpushButtonDisconnect(bool t);
    void slotpushButtonRead(bool t);
    void slotpushButtonWrite(bool t);
    void slotpushButtonWritePage(bool t);
    void slotpushButtonFirmware(bool t);
    void slotpushButtonWriteExtFlashBin(bool t);
    void slotpushButtonRunApplication(bool t);
    void slotpushButtonWriteExternalFlash(bool t);
    void slotpushButtonReadExternalFlash(bool t);
    void slotpushButtonCreateUpg(bool t);
    void slotpushButtonCreateBootBin(bool t);
    void slotTimeout();

private:
    void reportHexToBinError(int result);
    void reportCannotWrite(const QString &fileName, const QString &error);

    USBTQ470 *usb = nullptr;
    Upgrader *upgrader = nullptr;
    TQ470_BootloaderClass *ui = nullptr;
    SlicedLog *log = nullptr;
    QDate fixedToday;

    // The service commands' inputs, each remembered for the life of the process.
    HexValueInput readAddress{MemoryTools::DefaultReadAddress};
    IntegerValueInput readLength{MemoryTools::DefaultReadLength, ServiceLimits::LengthMinimum,
                                 ServiceLimits::LengthMaximum};
    IntegerValueInput fillPattern{MemoryTools::DefaultPattern, ServiceLimits::PatternMinimum,
                                  ServiceLimits::PatternMaximum};
    HexValueInput externalReadAddress{ExternalFlashTools::DefaultReadAddress};
    IntegerValueInput externalReadLength{ExternalFlashTools::DefaultReadLength,
                                         ServiceLimits::LengthMinimum,
                                         ServiceLimits::LengthMaximum};
    HexValueInput externalWriteAddress{ExternalFlashTools::DefaultWriteAddress};
    IntegerValueInput externalWriteLength{ExternalFlashTools::DefaultWriteLength,
                                          ServiceLimits::LengthMinimum,
                                          ServiceLimits::LengthMaximum};
    HexValueInput externalWriteData{ExternalFlashTools::DefaultWriteData};

    // Read and ReadExternalFlash: the dump of what was read, or the failure box.
    void showReadOutcome(bool succeeded, const QByteArray &data, const QString &failedOperation);
};

#endif
