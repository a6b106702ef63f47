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
// SIGTERM on, waits, and saves the devices. With a trace to replay, the trace's Tq470 answers in
// place of the model; with a trace to check, the model answers the trace's requests, and no
// command runs.
class SimulatorLauncher
{
public:
    // --check-trace: an answer of the model differs from the recorded one.
    static constexpr int ExitTraceDiffers = 1;
    static constexpr int ExitUsage = 2;
    // --replay: COMMAND made a request other than the next recorded one.
    static constexpr int ExitReplayDiverged = 124;
    static constexpr int ExitSimulatorFailure = 125;
    static constexpr int ExitCannotRun = 126;
    static constexpr int ExitNotFound = 127;
    static constexpr int ExitSignalBase = 128;

    explicit SimulatorLauncher(const LauncherOptions &options);

    int run();

private:
    int checkTrace() const;
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
