#ifndef TQ470_DEVICESTATE_H
#define TQ470_DEVICESTATE_H

#include <QByteArray>

enum class DeviceMode { Bootloader, Application };

// What a Tq470 keeps across a power cycle: the firmware it runs, its serial and its memories.
// internalFlash holds the plain bytes of 0x08000000 onwards; externalFlash the bytes exactly as
// the host wrote them; testBlock the last 512-byte block the host sent, empty if none.
struct DeviceState
{
    DeviceMode mode = DeviceMode::Bootloader;
    QByteArray serial;
    QByteArray internalFlash;
    QByteArray externalFlash;
    QByteArray testBlock;
};

#endif
