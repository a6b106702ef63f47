#include "deviceidentity.h"

#include "bootloaderprotocol.h"
#include "usbtq470.h"

using namespace Bootloader;

namespace {

QByteArray textUpToZero(const QByteArray &bytes, int from, int maxLength)
{
    const QByteArray field = bytes.mid(from, maxLength);
    const int end = field.indexOf('\0');
    return end < 0 ? field : field.left(end);
}

} // namespace

DeviceIdentity::Mode DeviceIdentity::modeFromSerial(const QByteArray &serial)
{
    if (serial.size() == SerialDigits)
        return Mode::Application;
    if (serial.size() == SerialDigits + 1 && serial.at(SerialDigits) == BootloaderSerialMarker)
        return Mode::Bootloader;
    return Mode::Unknown;
}

QByteArray DeviceIdentity::serialFromDescriptor(const QByteArray &descriptor)
{
    QByteArray serial;
    for (int at = StringDescriptorHeaderSize; at + 1 < descriptor.size(); at += 2) {
        const quint16 unit = quint16(quint8(descriptor[at]) | (quint8(descriptor[at + 1]) << 8));
        if (unit == 0)
            break;
        serial.append(char(unit & 0xFF));
    }
    return serial;
}

QByteArray DeviceIdentity::wellFormedSerial(const QByteArray &descriptor)
{
    const int units = int(descriptor.size() - StringDescriptorHeaderSize) / 2;
    if (descriptor.size() < StringDescriptorHeaderSize || quint8(descriptor[0]) != descriptor.size() ||
        quint8(descriptor[1]) != StringDescriptorType || (descriptor.size() % 2) != 0 ||
        units < SerialDigits || units > SerialDigits + 1)
        return QByteArray();
    QByteArray serial;
    for (int unit = 0; unit < units; ++unit) {
        const char low = descriptor[StringDescriptorHeaderSize + 2 * unit];
        const bool ascii = descriptor[StringDescriptorHeaderSize + 2 * unit + 1] == '\0';
        const bool fits = unit < SerialDigits ? (low >= '0' && low <= '9')
                                              : (low >= 'a' && low <= 'z');
        if (!ascii || !fits)
            return QByteArray();
        serial.append(low);
    }
    return serial;
}

const char *DeviceIdentity::modeName(Mode mode)
{
    switch (mode) {
    case Mode::Bootloader:
        return "bootloader";
    case Mode::Application:
        return "application";
    case Mode::Unknown:
        break;
    }
    return "unknown";
}

QByteArray DeviceIdentity::firstVersionText(const QByteArray &block)
{
    return textUpToZero(block, 0, VersionBlockSize);
}

QByteArray DeviceIdentity::secondVersionText(const QByteArray &block)
{
    return textUpToZero(block, VersionSecondTextOffset, VersionBlockSize - VersionSecondTextOffset);
}

bool DeviceIdentity::read(USBTQ470 &device)
{
    serial = device.ReadSerialNumber();
    mode = modeFromSerial(serial);
    versionBlock = QByteArray(VersionBlockSize, '\0');
    if (device.ReadMemoryFromAddress(versionBlock.data(), VersionBlockAddress, VersionBlockSize) !=
        0) {
        versionBlock.clear();
        return false;
    }
    return true;
}
