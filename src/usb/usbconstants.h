#ifndef TQ470_USBCONSTANTS_H
#define TQ470_USBCONSTANTS_H

#include <QtGlobal>

namespace UsbConstants {

// Vendor control transfers: bmRequestType for each direction.
constexpr quint8 VendorRequestIn = 0xC0;
constexpr quint8 VendorRequestOut = 0x40;

// Every transfer, control or bulk, is bounded by this timeout.
constexpr int TransferTimeoutMs = 2000;

constexpr int Configuration = 1;
constexpr int Interface = 0;

constexpr int BulkEndpointOut = 0x02;
constexpr int BulkEndpointIn = 0x81;

// The identity request: a vendor IN request the device answers with its identity word.
constexpr quint8 IdentityRequest = 0xFF;
constexpr int IdentityLength = 2;

} // namespace UsbConstants

#endif
