#ifndef TQ470_DEVICEIDENTITY_H
#define TQ470_DEVICEIDENTITY_H

#include <QByteArray>

class USBTQ470;

// What the device tells about itself: its serial string, from which its running firmware
// follows, and the two texts of the bootloader's version block.
class DeviceIdentity
{
public:
    enum class Mode { Unknown, Bootloader, Application };

    // The firmware that answers, told by the serial alone: nine digits while the application
    // runs, nine digits and the marker 'b' while the bootloader runs.
    static Mode modeFromSerial(const QByteArray &serial);
    // The serial carried by a string descriptor (bLength, bDescriptorType, then UTF-16LE code
    // units): the low byte of each unit up to the first zero unit or the end of the bytes.
    static QByteArray serialFromDescriptor(const QByteArray &descriptor);
    // The serial when the descriptor is one whole Tq470 serial as the device sends it (its
    // length and type in the header, then nine digits and at most one mode letter, each in
    // one ASCII code unit); empty for a read that was cut short or garbled.
    static QByteArray wellFormedSerial(const QByteArray &descriptor);
    static const char *modeName(Mode mode);

    // The zero-terminated texts at offsets 0 and 16 of the 32-byte version block.
    static QByteArray firstVersionText(const QByteArray &block);
    static QByteArray secondVersionText(const QByteArray &block);

    // Reads serial and version block from the open device. False when the version block
    // cannot be read.
    bool read(USBTQ470 &device);

    QByteArray serial;
    QByteArray versionBlock;
    Mode mode = Mode::Unknown;
};

#endif
