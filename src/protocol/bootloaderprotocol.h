#ifndef TQ470_BOOTLOADERPROTOCOL_H
#define TQ470_BOOTLOADERPROTOCOL_H

#include <QtGlobal>

// The Tq470 bootloader on the wire: its USB ids, its vendor requests, the size limit of each
// request, and the device's memory map.
namespace Bootloader {

constexpr quint16 VendorId = 0x16C0;
constexpr quint16 ProductId = 0x0788;
constexpr quint16 IdentityWord = 0x00EB;

// Vendor requests (bRequest).
constexpr quint8 RequestReadMemory = 0x01;
constexpr quint8 RequestWriteTestBlock = 0x02;
constexpr quint8 RequestWritePage = 0x03;
constexpr quint8 RequestRunApplication = 0x04;
constexpr quint8 RequestReadExternalFlash = 0x05;
constexpr quint8 RequestWriteExternalFlash = 0x06;
constexpr quint8 RequestIdentity = 0xFF;

// Largest data stage the bootloader takes per request.
constexpr quint32 MemoryReadChunk = 2048;
constexpr quint32 PageSize = 2048;
constexpr quint32 ExternalFlashReadChunk = 512;
constexpr quint32 ExternalFlashWriteChunk = 256;
constexpr int TestBlockSize = 512;

// External-flash transfers absorb this many failed attempts per call, shared by all chunks.
constexpr int ExternalFlashRetries = 100;

// The serial number lives in USB string descriptor 3.
constexpr int SerialStringIndex = 3;
constexpr int StringDescriptorType = 3;
constexpr int StringDescriptorBufferSize = 256;
// bLength and bDescriptorType come before the code units of a string descriptor.
constexpr int StringDescriptorHeaderSize = 2;
constexpr int SerialDigits = 9;
// While the bootloader runs, the serial carries this marker after its nine digits.
constexpr char BootloaderSerialMarker = 'b';

// Internal flash.
constexpr quint32 FlashBase = 0x08000000;
constexpr quint32 FlashSize = 0x40000;
constexpr quint32 BootloaderBase = 0x08000000;
constexpr quint32 BootloaderSize = 0x4000;
constexpr quint32 VersionBlockAddress = 0x08003FD0;
constexpr int VersionBlockSize = 32;
constexpr int VersionSecondTextOffset = 16;
constexpr quint32 SerialAddress = 0x08003FF0;
constexpr quint32 ApplicationBase = 0x08004000;
constexpr quint32 ApplicationSize = 0x3C000;
constexpr int ApplicationPages = ApplicationSize / PageSize;

// External flash.
constexpr quint32 ExternalFlashSize = 0x200000;
constexpr quint32 UpgradeExternalBase = 0x000000;
constexpr quint32 UpgradeExternalSize = 0x1C000;

// The address of a request travels split over wValue (low half) and wIndex (high half).
constexpr quint16 addressLow(quint32 address) { return quint16(address & 0xFFFF); }
constexpr quint16 addressHigh(quint32 address) { return quint16(address >> 16); }

} // namespace Bootloader

#endif
