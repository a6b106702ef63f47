#ifndef TQ470_SETUPPACKET_H
#define TQ470_SETUPPACKET_H

#include <QtGlobal>

// The eight bytes of a USB control request as the device receives them.
struct SetupPacket
{
    static constexpr quint8 DirectionIn = 0x80;
    static constexpr quint8 TypeMask = 0x60;
    static constexpr quint8 TypeVendor = 0x40;

    quint8 requestType = 0;
    quint8 request = 0;
    quint16 value = 0;
    quint16 index = 0;
    quint16 length = 0;

    bool isIn() const { return (requestType & DirectionIn) != 0; }
    // The bootloader's own requests, as opposed to the standard ones (descriptors, configuration).
    bool isVendor() const { return (requestType & TypeMask) == TypeVendor; }
    // The bootloader's requests carry an address split over wValue (low) and wIndex (high).
    quint32 address() const { return (quint32(index) << 16) | value; }
};

#endif
