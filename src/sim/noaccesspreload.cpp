// Preloaded ahead of umockdev's library by tq470-sim --no-access: the program sees USB device
// nodes as a user without the udev rule does. Opening one for writing fails with EACCES; a
// read-only open goes on to umockdev as usual. Absolute paths only, which is how libusb names
// the nodes. Deliberately free of Qt and of the sanitizer runtimes: it runs inside the
// program's very first calls to open().

// The fortified headers define open() inline, which would clash with the definitions here.
#undef _FORTIFY_SOURCE

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>

namespace {

constexpr char UsbDeviceNodes[] = "/dev/bus/usb/";

using OpenFunction = int (*)(const char *, int, ...);
using OpenAtFunction = int (*)(int, const char *, int, ...);
using CheckedOpenFunction = int (*)(const char *, int);

bool refused(const char *path, int flags)
{
    if (!path || std::strncmp(path, UsbDeviceNodes, sizeof(UsbDeviceNodes) - 1) != 0 ||
        (flags & O_ACCMODE) == O_RDONLY)
        return false;
    errno = EACCES;
    return true;
}

// Only these flags make open() read its third argument.
bool takesMode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

template <typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int openNext(const char *name, const char *path, int flags, mode_t mode)
{
    if (refused(path, flags))
        return -1;
    const auto function = next<OpenFunction>(name);
    if (!function) {
        errno = ENOSYS;
        return -1;
    }
    return function(path, flags, mode);
}

int openAtNext(const char *name, int directory, const char *path, int flags, mode_t mode)
{
    if (refused(path, flags))
        return -1;
    const auto function = next<OpenAtFunction>(name);
    if (!function) {
        errno = ENOSYS;
        return -1;
    }
    return function(directory, path, flags, mode);
}

int checkedOpenNext(const char *name, const char *path, int flags)
{
    if (refused(path, flags))
        return -1;
    const auto function = next<CheckedOpenFunction>(name);
    if (!function) {
        errno = ENOSYS;
        return -1;
    }
    return function(path, flags);
}

mode_t modeArgument(int flags, va_list arguments)
{
    return takesMode(flags) ? mode_t(va_arg(arguments, int)) : mode_t(0);
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openNext("open", path, flags, mode);
}

__attribute__((visibility("default"))) int open64(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openNext("open64", path, flags, mode);
}

__attribute__((visibility("default"))) int openat(int directory, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openAtNext("openat", directory, path, flags, mode);
}

__attribute__((visibility("default"))) int openat64(int directory, const char *path, int flags,
                                                    ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openAtNext("openat64", directory, path, flags, mode);
}

// What fortified callers reach instead of open() and open64().
__attribute__((visibility("default"))) int __open_2(const char *path, int flags)
{
    return checkedOpenNext("__open_2", path, flags);
}

__attribute__((visibility("default"))) int __open64_2(const char *path, int flags)
{
    return checkedOpenNext("__open64_2", path, flags);
}

} // extern "C"
