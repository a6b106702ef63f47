#ifndef TQ470_PRELOADENVIRONMENT_H
#define TQ470_PRELOADENVIRONMENT_H

#include <QByteArray>
#include <QString>

// The environment a process needs so that its libusb reaches the emulated bus: the bus's
// control-transfer library and umockdev's preload library, in that order, in LD_PRELOAD and, for
// sanitizer builds, AddressSanitizer told not to insist on being first in the library order (it
// refuses to start under LD_PRELOAD otherwise).
class PreloadEnvironment
{
public:
    static constexpr char PreloadLibrary[] = "libumockdev-preload.so.0";
    static constexpr char ControlLibrary[] = TQ470_CONTROL_LIBRARY;
    static constexpr char NoAccessLibrary[] = TQ470_NOACCESS_LIBRARY;
    static constexpr char PreloadVariable[] = "LD_PRELOAD";
    static constexpr char AsanVariable[] = "ASAN_OPTIONS";
    static constexpr char DirectoryVariable[] = "UMOCKDEV_DIR";
    static constexpr char AsanLinkOrderOption[] = "verify_asan_link_order=0";

    // Our own preload libraries: beside the running program, where the installation puts them,
    // or in the build tree (for the tests). Empty when none is found.
    static QString library(const char *fileName);
    // Where library() looks last but one, relative to the program's directory.
    static QString installedDirectory();

    // Adds what is missing: the control library (given by path) ahead of umockdev's, which goes
    // last. Other entries keep their order.
    static QByteArray withPreload(const QByteArray &ldPreload, const QByteArray &controlLibrary);
    static QByteArray withAsanOption(const QByteArray &asanOptions);

    // umockdev_in_mock_environment() caches its first answer, so LD_PRELOAD is what tells.
    static bool isActive();
    // Sets both variables in this process's environment; false when the control library is
    // nowhere to be found.
    static bool apply();
};

#endif
