#ifndef TQ470_BOOTLOADER_H
#define TQ470_BOOTLOADER_H

#include <QMainWindow>

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
    USBTQ470 *usb = nullptr;
    Upgrader *upgrader = nullptr;
    TQ470_BootloaderClass *ui = nullptr;
};

#endif
