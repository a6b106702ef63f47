#ifndef TQ470_TQ470MODEL_H
#define TQ470_TQ470MODEL_H

#include "deviceoptions.h"
#include "devicestate.h"
#include "setuppacket.h"

#include <QByteArray>

// The behaviour of a Tq470 as its bootloader and application present it on USB: control
// requests in, answers out. It knows nothing of how the requests reach it. Not thread-safe;
// SimulatedDevice guards it.
class Tq470Model
{
public:
    struct Answer
    {
        bool stalled = true;
        // IN requests: the bytes returned, at most wLength.
        QByteArray data;
        // The device acknowledged a request after which it leaves the bus and comes back in
        // its other mode.
        bool leavesBus = false;
    };

    explicit Tq470Model(const DeviceOptions &options = DeviceOptions());
    Tq470Model(const DeviceState &state, const DeviceOptions &options);

    // A device as it leaves production: a bootloader with its version block and serial, an
    // erased application region and erased external flash.
    static DeviceState freshState(DeviceMode mode, const QByteArray &serial);
    static bool isValidSerial(const QByteArray &serial);

    Answer handleControl(const SetupPacket &setup, const QByteArray &outData);
    // Until its next reset, the bootloader's serial ends in this letter instead of its own.
    void setBootloaderLetter(char letter);
    bool setConfiguration(int configuration) const;
    bool claimInterface(int interfaceNumber) const;

    // The device descriptor followed by the whole configuration, as usbfs returns them on read.
    QByteArray usbfsDescriptors() const;
    QString serialText() const;

    const DeviceState &state() const { return m_state; }
    const DeviceOptions &options() const { return m_options; }
    DeviceMode mode() const { return m_state.mode; }
    QByteArray readInternal(quint32 address, int length) const;
    QByteArray readExternal(quint32 address, int length) const;

private:
    Answer standardRequest(const SetupPacket &setup) const;
    Answer vendorInRequest(const SetupPacket &setup) const;
    Answer vendorOutRequest(const SetupPacket &setup, const QByteArray &outData);

    Answer identity(const SetupPacket &setup) const;
    Answer readMemory(const SetupPacket &setup) const;
    Answer readExternalFlash(const SetupPacket &setup) const;
    Answer writeTestBlock(const SetupPacket &setup, const QByteArray &outData);
    Answer writePage(const SetupPacket &setup, const QByteArray &outData);
    Answer writeExternalFlash(const SetupPacket &setup, const QByteArray &outData);
    Answer switchFirmware(const SetupPacket &setup);

    QByteArray deviceDescriptor() const;
    QByteArray configurationDescriptor() const;
    QByteArray stringDescriptor(int index) const;

    DeviceState m_state;
    DeviceOptions m_options;
    char m_bootloaderLetter;
};

#endif
