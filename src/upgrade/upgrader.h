#ifndef TQ470_UPGRADER_H
#define TQ470_UPGRADER_H

#include <QString>
#include <QThread>

class USBTQ470;

// The firmware upgrade worker. Each start applies the upgrade file named through
// slotSetFileName to the device, on its own thread, and reports only through its signals.
// It shares the window's device object and owns neither it nor anything of the window.
class Upgrader : public QThread
{
    Q_OBJECT

public:
    explicit Upgrader(USBTQ470 *usb);
    ~Upgrader() override;

Q_SIGNALS:
    void sendText(QString text);
    void sendPercent(int percent);

public Q_SLOTS:
    void slotSetFileName(QString name);

protected:
    void run() override;

private:
    USBTQ470 *usb;
    QString fileName;
};

#endif
