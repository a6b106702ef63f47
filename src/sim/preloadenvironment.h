#ifndef TQ470_PRELOADENVIRONMENT_H
#define TQ470_PRELOADENVIRONMENT_H

#include <QByteArray>

// The environment a process needs so that its libusb reaches the emulated bus: umockdev's
// preload library in LD_PRELOAD and, for sanitizer builds, AddressSanitizer told not to insist
// on being first in the library order (it refuses to start under LD_PRELOAD otherwise).
class PreloadEnvironment
{
public:
    static constexpr char PreloadLibrary[] = "libumockdev-preload.so.0";
    static constexpr char PreloadVariable[] = "LD_PRELOAD";
    static constexpr char AsanVariable[] = "ASAN_OPTIONS";
    static constexpr char DirectoryVariable[] = "UMOCKDEV_DIR";
    static constexpr char AsanLinkOrderOption[] = "verify_asan_link_order=0";

    // Both append to what is there and leave a value that already has the entry alone.
    static QByteArray withPreload(const QByteArray &ldPreload);
    static QByteArray withAsanOption(const QByteArray &asanOptions);

    // umockdev_in_mock_environment() caches its first answer, so LD_PRELOAD is what tells.
    static bool isActive();
    // Sets both variables in this process's environment.
    static void apply();
};

#endif
