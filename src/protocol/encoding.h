#ifndef TQ470_ENCODING_H
#define TQ470_ENCODING_H

#include <QtGlobal>

// Word-wise scrambling of firmware data. Each little-endian 32-bit word i of the buffer is
// combined with key word i mod 32; a trailing part of fewer than four bytes is left as is.
// The key restarts at the first byte of every call.
constexpr int EncodingKeyWords = 32;
extern const quint32 EncodingKey[EncodingKeyWords];

int EncodeBuffer(char *buffer, int length);
// EncodeBuffer without its debug lines, for the device's side of the link.
void EncodeBufferQuietly(char *buffer, int length);
int DecodeBuffer(char *buffer, int length);

#endif
