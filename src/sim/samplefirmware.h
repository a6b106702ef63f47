#ifndef TQ470_SAMPLEFIRMWARE_H
#define TQ470_SAMPLEFIRMWARE_H

#include <QByteArray>
#include <QtGlobal>

// A stand-in firmware for trying the tool without a real build: deterministic bytes for the
// whole application region of internal flash, written as Intel HEX the way common toolchains
// write it (32-byte data records, an extended linear address record at every 64 KiB, a start
// address and the end record).
class SampleFirmware
{
public:
    static constexpr quint32 DefaultSeed = 470;

    explicit SampleFirmware(quint32 seed = DefaultSeed);

    // The plain bytes for 0x08004000 onwards, one per application address.
    QByteArray application() const { return m_application; }
    QByteArray intelHex() const;

private:
    QByteArray m_application;
};

#endif
