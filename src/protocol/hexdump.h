#ifndef TQ470_HEXDUMP_H
#define TQ470_HEXDUMP_H

#include <QByteArray>

// A hex and character dump, 16 bytes a line, introduced by the buffer's address.
QByteArray HexDump(const char *data, int length);

#endif
