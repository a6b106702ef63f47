#include "bootloaderprotocol.h"
#include "deviceidentity.h"
#include "productionserial.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// What a device or a user says about a device: its serial string descriptor, its version block
// and a production serial typed into a dialog.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));

    const QByteArray serial = DeviceIdentity::serialFromDescriptor(bytes);
    if (serial.size() > qMax(0, (bytes.size() - Bootloader::StringDescriptorHeaderSize) / 2))
        abort();
    const DeviceIdentity::Mode mode = DeviceIdentity::modeFromSerial(serial);
    if (mode != DeviceIdentity::Mode::Unknown
        && serial.left(Bootloader::SerialDigits).size() != Bootloader::SerialDigits)
        abort();
    if (!DeviceIdentity::modeName(mode))
        abort();
    // A serial taken whole is the one the lenient reading gives as well.
    const QByteArray whole = DeviceIdentity::wellFormedSerial(bytes);
    if (!whole.isEmpty() && whole != serial)
        abort();

    const QByteArray first = DeviceIdentity::firstVersionText(bytes);
    const QByteArray second = DeviceIdentity::secondVersionText(bytes);
    if (first.contains('\0') || second.contains('\0') || first.size() > Bootloader::VersionBlockSize
        || second.size() > Bootloader::VersionBlockSize)
        abort();

    const QString text = QString::fromUtf8(bytes);
    if (ProductionSerial::isValid(text) && text.size() != Bootloader::SerialDigits)
        abort();
    return 0;
}
