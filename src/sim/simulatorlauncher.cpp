#include "simulatorlauncher.h"

#include "devicestatestore.h"
#include "preloadenvironment.h"
#include "simulateddevice.h"
#include "tq470model.h"
#include "traceplayer.h"

#include <QByteArrayList>
#include <QDir>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr char ProgramName[] = "tq470-sim";
constexpr int ForwardedSignals[] = {SIGINT, SIGTERM};

volatile sig_atomic_t childProcess = 0;
volatile sig_atomic_t signalBeforeChild = 0;

// A signal the terminal sends to the whole foreground group (Ctrl-C) reaches the command by
// itself; only one sent to this process alone needs passing on.
void forwardSignal(int signalNumber, siginfo_t *info, void *)
{
    if (info && info->si_code == SI_KERNEL)
        return;
    if (childProcess > 0)
        kill(pid_t(childProcess), signalNumber);
    else
        signalBeforeChild = signalNumber;
}

QByteArray withVariable(const QByteArray &name, const QByteArray &value)
{
    return name + '=' + value;
}

// The command's environment: this process's, with the preload libraries, the testbed and the
// sanitizer option added. firstPreload, when given, goes in front of every other preload.
QByteArrayList commandEnvironment(const QString &testbedDirectory,
                                  const QByteArray &controlLibrary, const QByteArray &firstPreload)
{
    const QByteArray preload = PreloadEnvironment::PreloadVariable;
    const QByteArray asan = PreloadEnvironment::AsanVariable;
    const QByteArray directory = PreloadEnvironment::DirectoryVariable;
    QByteArrayList environment;
    for (char **entry = environ; *entry; ++entry) {
        const QByteArray variable(*entry);
        const QByteArray name = variable.left(variable.indexOf('='));
        if (name != preload && name != asan && name != directory)
            environment.append(variable);
    }
    QByteArray preloads = PreloadEnvironment::withPreload(qgetenv(preload), controlLibrary);
    if (!firstPreload.isEmpty())
        preloads = firstPreload + ':' + preloads;
    environment.append(withVariable(preload, preloads));
    environment.append(withVariable(asan, PreloadEnvironment::withAsanOption(qgetenv(asan))));
    environment.append(withVariable(directory, testbedDirectory.toLocal8Bit()));
    return environment;
}

std::vector<char *> pointers(QByteArrayList &strings)
{
    std::vector<char *> result;
    for (QByteArray &string : strings)
        result.push_back(string.data());
    result.push_back(nullptr);
    return result;
}

} // namespace

SimulatorLauncher::SimulatorLauncher(const LauncherOptions &options) : m_options(options) {}

int SimulatorLauncher::run()
{
    if (!m_options.checkTrace().isEmpty())
        return checkTrace();
    std::shared_ptr<TracePlayer> player;
    QString error;
    if (!m_options.replayTrace().isEmpty() &&
        !(player = std::make_shared<TracePlayer>())->load(m_options.replayTrace(), &error)) {
        report(error);
        return ExitUsage;
    }
    // One device keeps today's layout, directly in the state directory; several keep one
    // directory each, named after the serial.
    const bool severalDevices = m_options.devices() > 1;
    std::vector<std::shared_ptr<SimulatedDevice>> devices;
    std::vector<std::optional<DeviceStateStore>> stores;
    bool faultDeviceFound = !m_options.faultDevice();
    for (int i = 0; i < m_options.devices(); ++i) {
        const QByteArray serial = m_options.serialAt(i);
        QString directory = m_options.stateDirectory();
        if (severalDevices && !directory.isEmpty())
            directory = QDir(directory).filePath(QString::fromLatin1(serial));
        DeviceState state;
        const int failure = prepareState(&state, directory, severalDevices ? serial : QByteArray());
        if (failure != 0)
            return failure;

        DeviceOptions deviceOptions;
        deviceOptions.reenumerateDelayMs = m_options.reenumerateDelayMs();
        deviceOptions.refuseAccess = m_options.noAccess();
        const auto device = std::make_shared<SimulatedDevice>(state, deviceOptions);
        device->setTracePlayer(player);
        if (!m_options.faultDevice() || *m_options.faultDevice() == state.serial) {
            faultDeviceFound = true;
            for (const FaultRule &rule : m_options.faults())
                device->addFault(rule);
            if (m_options.randomFaults())
                device->setRandomFaults(*m_options.randomFaults());
        }
        devices.push_back(device);
        stores.emplace_back();
        if (!directory.isEmpty()) {
            stores.back().emplace(directory);
            if (!save(*stores.back(), state))
                return ExitSimulatorFailure;
        }
    }
    if (!faultDeviceFound) {
        report(QStringLiteral("--fault-device %1 is the serial of none of the devices")
                   .arg(QString::fromLatin1(*m_options.faultDevice())));
        return ExitUsage;
    }

    EmulatedBus bus;
    if (!m_options.stateDirectory().isEmpty()) {
        // An interrupted run must leave what the device itself would hold.
        bus.setDepartureListener([&devices, &stores](EmulatedBus::DeviceId,
                                                     SimulatedDevice &departed) {
            for (std::size_t i = 0; i < devices.size(); ++i)
                if (devices[i].get() == &departed)
                    save(*stores[i], departed.state());
        });
    }
    std::vector<EmulatedBus::DeviceId> plugged;
    const auto plugAll = [&bus, &devices, &plugged] {
        for (const auto &device : devices)
            plugged.push_back(bus.plug(device));
    };
    // A late plug waits on its own thread, and is called off when COMMAND ends before it.
    std::mutex commandLock;
    std::condition_variable commandEnded;
    bool ended = false;
    std::thread latePlug;
    if (!m_options.unplugged() && m_options.plugAfterMs() == 0)
        plugAll();
    else if (!m_options.unplugged())
        latePlug = std::thread([&] {
            std::unique_lock<std::mutex> lock(commandLock);
            if (!commandEnded.wait_for(lock, std::chrono::milliseconds(m_options.plugAfterMs()),
                                       [&ended] { return ended; }))
                plugAll();
        });

    int exitCode = runCommand(bus.rootDirectory());
    {
        const std::lock_guard<std::mutex> lock(commandLock);
        ended = true;
    }
    commandEnded.notify_all();
    if (latePlug.joinable())
        latePlug.join();
    if (player) {
        for (const QString &line : player->replayReport())
            report(line);
        if (player->diverged())
            exitCode = ExitReplayDiverged;
    }
    if (m_options.reportClaims())
        for (std::size_t i = 0; i < devices.size(); ++i)
            reportClaims(devices[i]->state().serial,
                         i < plugged.size() ? bus.claimRecord(plugged[i])
                                            : EmulatedBus::ClaimRecord());
    bus.unplugAll();
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (stores[i] && !save(*stores[i], devices[i]->state()) && exitCode == 0)
            exitCode = ExitSimulatorFailure;
    return exitCode;
}

int SimulatorLauncher::checkTrace() const
{
    TracePlayer trace;
    QString error;
    if (!trace.load(m_options.checkTrace(), &error)) {
        report(error);
        return ExitUsage;
    }
    DeviceOptions deviceOptions;
    deviceOptions.reenumerateDelayMs = m_options.reenumerateDelayMs();
    SimulatedDevice device(trace.startState(), deviceOptions);
    for (const FaultRule &rule : m_options.faults())
        device.addFault(rule);
    if (m_options.randomFaults())
        device.setRandomFaults(*m_options.randomFaults());
    QStringList lines;
    const int differences = trace.compareWith(device, &lines);
    std::fputs(lines.join(QLatin1Char('\n')).append(QLatin1Char('\n')).toLocal8Bit().constData(),
               stdout);
    return differences == 0 ? 0 : ExitTraceDiffers;
}

// A fresh device, or the one kept in directory. A device kept under its serial (requiredSerial)
// must have that serial; a single device may be given --serial only when it is new.
int SimulatorLauncher::prepareState(DeviceState *state, const QString &directory,
                                    const QByteArray &requiredSerial) const
{
    const QByteArray serial =
        requiredSerial.isEmpty() ? m_options.serialAt(0) : requiredSerial;
    const DeviceMode mode = m_options.mode().value_or(DeviceMode::Bootloader);
    const DeviceStateStore store(directory);
    if (directory.isEmpty() || !store.holdsDevice()) {
        *state = Tq470Model::freshState(mode, serial);
        return 0;
    }
    QString error;
    if (!store.load(state, &error)) {
        report(error);
        return ExitUsage;
    }
    if (!requiredSerial.isEmpty() && requiredSerial != state->serial) {
        report(QStringLiteral("the device in %1 has the serial %2, not that of its directory")
                   .arg(store.directory(), QString::fromLatin1(state->serial)));
        return ExitUsage;
    }
    if (requiredSerial.isEmpty() && m_options.serial() && *m_options.serial() != state->serial) {
        report(QStringLiteral("the device in %1 has the serial %2; --serial applies to a new "
                              "device only")
                   .arg(store.directory(), QString::fromLatin1(state->serial)));
        return ExitUsage;
    }
    if (m_options.mode())
        state->mode = *m_options.mode();
    return 0;
}

// Our preload library fileName, or a message that it is missing.
QString SimulatorLauncher::findLibrary(const char *fileName, QByteArray *path)
{
    const QString library = PreloadEnvironment::library(fileName);
    if (!library.isEmpty()) {
        *path = QFile::encodeName(library);
        return QString();
    }
    return QStringLiteral("%1 is missing beside the launcher and in %2")
        .arg(QLatin1String(fileName), PreloadEnvironment::installedDirectory());
}

int SimulatorLauncher::runCommand(const QString &testbedDirectory) const
{
    QByteArray controlLibrary;
    QString missing = findLibrary(PreloadEnvironment::ControlLibrary, &controlLibrary);
    if (!missing.isEmpty()) {
        report(missing);
        return ExitSimulatorFailure;
    }
    QByteArray firstPreload;
    if (m_options.noAccess()) {
        missing = findLibrary(PreloadEnvironment::NoAccessLibrary, &firstPreload);
        if (!missing.isEmpty()) {
            report(QStringLiteral("--no-access: ") + missing);
            return ExitSimulatorFailure;
        }
    }
    QByteArrayList arguments;
    for (const QString &argument : m_options.command())
        arguments.append(argument.toLocal8Bit());
    QByteArrayList environment = commandEnvironment(testbedDirectory, controlLibrary, firstPreload);
    std::vector<char *> argv = pointers(arguments);
    std::vector<char *> envp = pointers(environment);

    struct sigaction forward = {};
    forward.sa_sigaction = forwardSignal;
    // No SA_RESTART: the wait below is interrupted and goes on by itself, and a runtime that
    // defers handlers to the next call it sees (ThreadSanitizer) gets to run them in time.
    forward.sa_flags = SA_SIGINFO;
    sigemptyset(&forward.sa_mask);
    struct sigaction previous[std::size(ForwardedSignals)] = {};
    childProcess = 0;
    signalBeforeChild = 0;
    for (std::size_t i = 0; i < std::size(ForwardedSignals); ++i)
        sigaction(ForwardedSignals[i], &forward, &previous[i]);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t child = 0;
    const int spawnError =
        posix_spawnp(&child, argv.front(), nullptr, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);

    int exitCode = 0;
    if (spawnError != 0) {
        report(QStringLiteral("cannot run %1: %2")
                   .arg(m_options.command().first(),
                        QString::fromLocal8Bit(std::strerror(spawnError))));
        exitCode = spawnError == ENOENT ? ExitNotFound : ExitCannotRun;
    } else {
        childProcess = child;
        if (signalBeforeChild != 0)
            kill(child, signalBeforeChild);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        exitCode = WIFSIGNALED(status) ? ExitSignalBase + WTERMSIG(status) : WEXITSTATUS(status);
    }

    childProcess = 0;
    for (std::size_t i = 0; i < std::size(ForwardedSignals); ++i)
        sigaction(ForwardedSignals[i], &previous[i], nullptr);
    return exitCode;
}

bool SimulatorLauncher::save(const DeviceStateStore &store, const DeviceState &state)
{
    QString error;
    if (store.save(state, &error))
        return true;
    report(error);
    return false;
}

void SimulatorLauncher::reportClaims(const QByteArray &serial,
                                     const EmulatedBus::ClaimRecord &record)
{
    const QString device = QString::fromLatin1(serial);
    report(QStringLiteral("%1: configured or claimed by %2 host process%3, %4 refused")
               .arg(device)
               .arg(record.processes)
               .arg(QLatin1String(record.processes == 1 ? "" : "es"))
               .arg(record.refusals.size()));
    for (const EmulatedBus::ClaimRefusal &refusal : record.refusals)
        report(QStringLiteral("%1: %2 on %3 refused to process %4: interface %5 is held by "
                              "process %6")
                   .arg(device, QString::fromLatin1(refusal.request),
                        QString::fromLatin1(refusal.node))
                   .arg(refusal.process)
                   .arg(refusal.interfaceNumber)
                   .arg(refusal.holder));
}

void SimulatorLauncher::report(const QString &message)
{
    std::fprintf(stderr, "%s: %s\n", ProgramName, message.toLocal8Bit().constData());
}
