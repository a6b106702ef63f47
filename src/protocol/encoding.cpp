#include "encoding.h"

#include "debuglog.h"

#include <QDebug>
#include <QtEndian>

const quint32 EncodingKey[EncodingKeyWords] = {
    0x5A3C96E1, 0x0F1E2D3C, 0xC3A59687, 0x7B6D5F41, 0x1289ABCD, 0xE4D3C2B1, 0x3F2E1D0C, 0x9A8B7C6D,
    0x6C5D4E3F, 0xA1B2C3D4, 0x2468ACE0, 0xF0E1D2C3, 0x13579BDF, 0x8E7D6C5B, 0x55AA33CC, 0xB4A59687,
    0x0A1B2C3D, 0xD2C3B4A5, 0x47586970, 0xC9D8E7F6, 0x31425364, 0x8F9EADBC, 0x6A7B8C9D, 0xE1F20314,
    0x25364758, 0x9CADBECF, 0x71829384, 0xFEDCBA98, 0x3C4B5A69, 0xA7B6C5D4, 0x0B1A2938, 0xD6E5F407,
};

namespace {

quint32 keyFor(int word) { return EncodingKey[word % EncodingKeyWords]; }

} // namespace

int EncodeBuffer(char *buffer, int length)
{
    qCDebug(tq470Debug, "Encoding started @ 0x%08llx", static_cast<unsigned long long>(quintptr(buffer)));
    EncodeBufferQuietly(buffer, length);
    const int words = length / 4;
    qCDebug(tq470Debug, "Encoding end @ 0x%08llx",
           static_cast<unsigned long long>(quintptr(buffer) + 4 * quintptr(words)));
    return 0;
}

void EncodeBufferQuietly(char *buffer, int length)
{
    const int words = length / 4;
    for (int i = 0; i < words; ++i) {
        uchar *at = reinterpret_cast<uchar *>(buffer) + 4 * i;
        const quint32 k = keyFor(i);
        qToLittleEndian<quint32>((qFromLittleEndian<quint32>(at) ^ k) + k, at);
    }
}

int DecodeBuffer(char *buffer, int length)
{
    const int words = length / 4;
    for (int i = 0; i < words; ++i) {
        uchar *at = reinterpret_cast<uchar *>(buffer) + 4 * i;
        const quint32 k = keyFor(i);
        qToLittleEndian<quint32>((qFromLittleEndian<quint32>(at) - k) ^ k, at);
    }
    return 0;
}
