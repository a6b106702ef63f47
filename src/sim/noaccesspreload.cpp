// Preloaded ahead of the other preload libraries by tq470-sim --no-access: the program sees USB
// device nodes as a user without the udev rule does. Opening one for writing fails with EACCES;
// a read-only open goes on as usual. Absolute paths only, which is how libusb names the nodes.
// Deliberately free of Qt and of the sanitizer runtimes: it runs inside the program's very first
// calls to open().

// The fortified headers define open() inline, which would clash with the definitions here.
#undef _FORTIFY_SOURCE

#include "preloadopen.h"

#include <cstring>

namespace {

constexpr char UsbDeviceNodes[] = "/dev/bus/usb/";

bool refusesOpen(const char *path, int flags)
{
    if (!path || std::strncmp(path, UsbDeviceNodes, sizeof(UsbDeviceNodes) - 1) != 0 ||
        (flags & O_ACCMODE) == O_RDONLY)
        return false;
    errno = EACCES;
    return true;
}

int opened(int descriptor, const char *)
{
    return descriptor;
}

} // namespace
