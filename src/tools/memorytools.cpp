#include "memorytools.h"

#include "usbtq470.h"

using namespace Bootloader;

MemoryTools::MemoryTools(USBTQ470 &device) : device(device) {}

bool MemoryTools::read(quint32 address, int length, QByteArray *data)
{
    *data = QByteArray(length, '\0');
    if (device.ReadMemoryFromAddress(data->data(), address, quint32(length)) == 0)
        return true;
    data->clear();
    return false;
}

QByteArray MemoryTools::testBlock()
{
    QByteArray block(TestBlockSize, '\0');
    for (int i = 0; i < TestBlockSize; ++i)
        block[i] = char(i & 0xFF);
    return block;
}

bool MemoryTools::sendTestBlock(QByteArray *block)
{
    *block = testBlock();
    return device.control_send(RequestWriteTestBlock, 0, 0, block->data(), TestBlockSize) ==
           TestBlockSize;
}

bool MemoryTools::writePage(quint8 pattern)
{
    QByteArray page(static_cast<qsizetype>(PageSize), static_cast<char>(pattern));
    return device.WritePageToAddress(page.data(), TestPageAddress) == 0;
}
