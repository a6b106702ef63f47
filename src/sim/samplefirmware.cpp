#include "samplefirmware.h"

#include "bootloaderprotocol.h"

namespace {

constexpr int RecordDataBytes = 32;
constexpr quint32 SegmentSize = 0x10000;
constexpr quint8 DataRecord = 0x00;
constexpr quint8 EndRecord = 0x01;
constexpr quint8 ExtendedLinearAddressRecord = 0x04;
constexpr quint8 StartLinearAddressRecord = 0x05;
// The application's reset handler follows its vector table.
constexpr quint32 EntryPoint = Bootloader::ApplicationBase + 0x1C1;

// A small linear congruential generator: the same seed gives the same firmware everywhere.
constexpr quint32 LcgMultiplier = 1664525;
constexpr quint32 LcgIncrement = 1013904223;

QByteArray record(quint8 type, quint16 address, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(data.size()));
    bytes.append(char(address >> 8));
    bytes.append(char(address & 0xFF));
    bytes.append(char(type));
    bytes.append(data);
    quint8 sum = 0;
    for (char byte : bytes)
        sum = quint8(sum + quint8(byte));
    bytes.append(char(quint8(0x100 - sum)));
    return ':' + bytes.toHex().toUpper() + '\n';
}

QByteArray bigEndian(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
    return out;
}

} // namespace

SampleFirmware::SampleFirmware(quint32 seed) : m_application(Bootloader::ApplicationSize, '\0')
{
    quint32 state = seed;
    for (char &byte : m_application) {
        state = state * LcgMultiplier + LcgIncrement;
        byte = char(state >> 24);
    }
}

QByteArray SampleFirmware::intelHex() const
{
    QByteArray hex;
    quint32 segment = ~quint32(0);
    for (int offset = 0; offset < m_application.size(); offset += RecordDataBytes) {
        const quint32 address = Bootloader::ApplicationBase + quint32(offset);
        if (address / SegmentSize != segment) {
            segment = address / SegmentSize;
            hex += record(ExtendedLinearAddressRecord, 0, bigEndian(segment, 2));
        }
        hex += record(DataRecord, quint16(address % SegmentSize),
                      m_application.mid(offset, RecordDataBytes));
    }
    hex += record(StartLinearAddressRecord, 0, bigEndian(EntryPoint, 4));
    hex += record(EndRecord, 0, QByteArray());
    return hex;
}
