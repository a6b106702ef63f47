#ifndef TQ470_SIMULATORLAUNCHER_H
#define TQ470_SIMULATORLAUNCHER_H

#include "devicestate.h"
#include "emulatedbus.h"
#include "launcheroptions.h"

#include <QString>

class DeviceStateStore;

// Runs one command against simulated Tq470s: prepares the devices (fresh or from the state
// directory), plugs them into an emulated bus owned by this process, runs the command as a child
// under the preload libraries with the standard streams inherited, passes SIGINT and
// SIGTERM on, waits, and saves the devices.
class SimulatorLauncher
{
public:
    static constexpr int ExitUsage = 2;
    static constexpr int ExitSimulatorFailure = 125;
    static constexpr int ExitCannotRun = 126;
    static constexpr int ExitNotFound = 127;
    static constexpr int ExitSignalBase = 128;

    explicit SimulatorLauncher(const LauncherOptions &options);

    int run();

private:
    int prepareState(DeviceState *state, const QString &directory,
                     const QByteArray &requiredSerial) const;
    int runCommand(const QString &testbedDirectory) const;
    static QString findLibrary(const char *fileName, QByteArray *path);
    static bool save(const DeviceStateStore &store, const DeviceState &state);
    static void reportClaims(const QByteArray &serial, const EmulatedBus::ClaimRecord &record);
    static void report(const QString &message);

    LauncherOptions m_options;
};

#endif
