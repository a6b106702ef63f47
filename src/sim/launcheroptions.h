#ifndef TQ470_LAUNCHEROPTIONS_H
#define TQ470_LAUNCHEROPTIONS_H

#include "deviceoptions.h"
#include "devicestate.h"
#include "faultplan.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The command line of tq470-sim:
//   [--devices N] [--state DIR] [--mode bootloader|application] [--serial NINE_DIGITS]
//   [--fault-rate P [--seed N]] [--fault RULE ...] [--fault-device SERIAL]
//   [--reenumerate-ms MS] [--unplugged] [--plug-after-ms MS] [--no-access] [--report-claims]
//   [--replay FILE] [--] COMMAND [ARGS...]
// or --check-trace FILE, without COMMAND. Options end at COMMAND: what follows it is COMMAND's.
class LauncherOptions
{
public:
    enum class Outcome { Run, Help, Version, Invalid };

    static constexpr quint32 DefaultSeed = 1;
    // Device numbers 2 to 127 on the bus, with room for devices that return under new ones.
    static constexpr int MaxDevices = 32;

    Outcome parse(const QStringList &arguments);
    QString error() const { return m_error; }
    static QString helpText(const QString &program);

    QString stateDirectory() const { return m_stateDirectory; }
    std::optional<DeviceMode> mode() const { return m_mode; }
    std::optional<QByteArray> serial() const { return m_serial; }
    int devices() const { return m_devices; }
    // The serial of a fresh device at position index on the bus: --serial counted up.
    QByteArray serialAt(int index) const;
    // The one device faults apply to; all when not given.
    std::optional<QByteArray> faultDevice() const { return m_faultDevice; }
    std::optional<RandomFaults> randomFaults() const { return m_random; }
    QList<FaultRule> faults() const { return m_faults; }
    int reenumerateDelayMs() const { return m_reenumerateDelayMs; }
    bool unplugged() const { return m_unplugged; }
    // How long after COMMAND starts the devices come onto the bus; 0 for before it starts.
    int plugAfterMs() const { return m_plugAfterMs; }
    bool noAccess() const { return m_noAccess; }
    // When COMMAND ends, tell on standard error who configured or claimed each device and what
    // was refused.
    bool reportClaims() const { return m_reportClaims; }
    QStringList command() const { return m_command; }
    // A USB trace whose device answers COMMAND in place of the model.
    QString replayTrace() const { return m_replayTrace; }
    // A USB trace whose requests go to the model, with no COMMAND.
    QString checkTrace() const { return m_checkTrace; }

private:
    bool apply(const QString &option, const QString &value);
    bool invalid(const QString &message);

    QString m_error;
    QString m_stateDirectory;
    std::optional<DeviceMode> m_mode;
    std::optional<QByteArray> m_serial;
    int m_devices = 1;
    std::optional<QByteArray> m_faultDevice;
    std::optional<double> m_faultRate;
    std::optional<quint32> m_seed;
    std::optional<RandomFaults> m_random;
    QList<FaultRule> m_faults;
    int m_reenumerateDelayMs = DeviceOptions::DefaultReenumerateDelayMs;
    bool m_unplugged = false;
    int m_plugAfterMs = 0;
    bool m_noAccess = false;
    bool m_reportClaims = false;
    QStringList m_command;
    QString m_replayTrace;
    QString m_checkTrace;
};

#endif
