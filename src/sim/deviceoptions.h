#ifndef TQ470_DEVICEOPTIONS_H
#define TQ470_DEVICEOPTIONS_H

#include "devicestate.h"

#include <QString>

#include <optional>

// How a simulated Tq470 is built and how it misbehaves on purpose. mode and serial apply to a
// fresh device only; a device restored from a saved state keeps the stored ones.
struct DeviceOptions
{
    static constexpr char DefaultSerial[] = "470000001";
    // A real Tq470 is back on the bus about a second after request 0x04.
    static constexpr int DefaultReenumerateDelayMs = 1000;

    DeviceMode mode = DeviceMode::Bootloader;
    QByteArray serial = DefaultSerial;
    // Replaces the whole text of string descriptor 3, mode marker included.
    std::optional<QString> serialOverride;
    // The answer to the identity request; EB 00 on a genuine device.
    QByteArray identityAnswer = QByteArray("\xEB\x00", 2);
    bool failSetConfiguration = false;
    // As for a user without write access to the node: every usbfs request fails with EPERM.
    bool refuseAccess = false;
    int reenumerateDelayMs = DefaultReenumerateDelayMs;
};

#endif
