#ifndef TQ470_MEMORYTOOLS_H
#define TQ470_MEMORYTOOLS_H

#include "bootloaderprotocol.h"

#include <QByteArray>

class USBTQ470;

// The internal-memory service commands: reading a range of device memory, sending the fixed
// test block (request 2) and writing one filled test page.
class MemoryTools
{
public:
    static constexpr quint32 DefaultReadAddress = Bootloader::FlashBase;
    static constexpr int DefaultReadLength = 256;
    static constexpr int DefaultPattern = 0;
    // WritePage always writes this page, the second of the application region.
    static constexpr quint32 TestPageAddress = 0x08005000;

    explicit MemoryTools(USBTQ470 &device);

    // Reads length bytes of device memory at address, decoded, into *data. The buffer is
    // cleared first. False when the read failed; *data is then empty.
    bool read(quint32 address, int length, QByteArray *data);

    // The test block: byte i holds i modulo 256.
    static QByteArray testBlock();
    // Puts the test block into *block and sends it. True only when all of it went through.
    bool sendTestBlock(QByteArray *block);

    // Writes one page filled with pattern at TestPageAddress. True when the page write
    // succeeded.
    bool writePage(quint8 pattern);

private:
    USBTQ470 &device;
};

#endif
