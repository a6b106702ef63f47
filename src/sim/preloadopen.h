#ifndef TQ470_PRELOADOPEN_H
#define TQ470_PRELOADOPEN_H

// The open() family of a preloaded library of the simulator: every variant a program or a
// library may call goes through the including file's two hooks and on to the next library
// (umockdev's, and in the end the C library's). Included by one file per library, which defines
// in its anonymous namespace:
//   bool refusesOpen(const char *path, int flags);   // true: open fails, errno already set
//   int opened(int descriptor, const char *path);     // what the caller gets
// Free of Qt and of the heap: it runs inside the program's very first calls to open().

#include <cerrno>
#include <cstdarg>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>

namespace {

bool refusesOpen(const char *path, int flags);
int opened(int descriptor, const char *path);

using OpenFunction = int (*)(const char *, int, ...);
using OpenAtFunction = int (*)(int, const char *, int, ...);
using CheckedOpenFunction = int (*)(const char *, int);

template <typename Function> Function nextFunction(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Only these flags make open() read its third argument.
bool takesMode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

mode_t modeArgument(int flags, va_list arguments)
{
    return takesMode(flags) ? mode_t(va_arg(arguments, int)) : mode_t(0);
}

int openNext(const char *name, const char *path, int flags, mode_t mode)
{
    if (refusesOpen(path, flags))
        return -1;
    const auto function = nextFunction<OpenFunction>(name);
    if (!function) {
        errno = ENOSYS;
        return -1;
    }
    return opened(function(path, flags, mode), path);
}

int openAtNext(const char *name, int directory, const char *path, int flags, mode_t mode)
{
    if (refusesOpen(path, flags))
        return -1;
    const auto function = nextFunction<OpenAtFunction>(name);
    if (!function) {
        errno = ENOSYS;
        return -1;
    }
    return opened(function(directory, path, flags, mode), path);
}

int checkedOpenNext(const char *name, const char *path, int flags)
{
    if (refusesOpen(path, flags))
        return -1;
    const auto function = nextFunction<CheckedOpenFunction>(name);
    if (!function) {
        errno = ENOSYS;
        return -1;
    }
    return opened(function(path, flags), path);
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

#endif
