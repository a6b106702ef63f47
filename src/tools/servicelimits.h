#ifndef TQ470_SERVICELIMITS_H
#define TQ470_SERVICELIMITS_H

// The ranges the service commands accept for their integer inputs, the same in the window's
// dialogs and on the command line.
namespace ServiceLimits {

// Read, ReadExternalFlash and WriteExternalFlash: bytes per command.
constexpr int LengthMinimum = 1;
constexpr int LengthMaximum = 0x100000;

// WritePage: the byte the page is filled with.
constexpr int PatternMinimum = 0;
constexpr int PatternMaximum = 0xFF;

} // namespace ServiceLimits

#endif
