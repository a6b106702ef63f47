#include "upgrader.h"

#include "usbtq470.h"

#include <QDebug>

Upgrader::Upgrader(USBTQ470 *usb) : QThread(nullptr), usb(usb)
{
    qDebug("Upgrader constructor");
}

// Neither stops nor waits for the thread: whoever owns the device object makes sure no run
// is still going when it is destroyed.
Upgrader::~Upgrader()
{
    qDebug("Upgrader destructor");
}

void Upgrader::slotSetFileName(QString name)
{
    fileName = name;
}

// The upgrade belongs here: one run per start, on the worker thread, reaching the window only
// through sendText and sendPercent.
void Upgrader::run() {}
