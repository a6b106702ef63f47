#ifndef TQ470_DEVICESTATESTORE_H
#define TQ470_DEVICESTATESTORE_H

#include "devicestate.h"

#include <QString>

// A device state kept in a directory between runs:
//   internal.bin  the 262,144 plain bytes of internal flash, byte i at address 0x08000000 + i
//   external.bin  the 2 MiB of external flash exactly as the host wrote them
//   device.json   the mode, the serial and the last test block
// Each file is replaced atomically; device.json is written last.
class DeviceStateStore
{
public:
    static constexpr char InternalFileName[] = "internal.bin";
    static constexpr char ExternalFileName[] = "external.bin";
    static constexpr char DeviceFileName[] = "device.json";
    static constexpr int FormatVersion = 1;

    explicit DeviceStateStore(const QString &directory);

    QString directory() const { return m_directory; }
    // True when the directory holds any of the three files; a directory without them is free
    // for a fresh device.
    bool holdsDevice() const;
    bool load(DeviceState *state, QString *error) const;
    bool save(const DeviceState &state, QString *error) const;

    static QString modeName(DeviceMode mode);
    static bool parseMode(const QString &name, DeviceMode *mode);

private:
    QString filePath(const char *name) const;
    bool readExactly(const char *name, int size, QByteArray *data, QString *error) const;
    bool writeAtomically(const char *name, const QByteArray &data, QString *error) const;

    QString m_directory;
};

#endif
