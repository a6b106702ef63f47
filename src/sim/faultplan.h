#ifndef TQ470_FAULTPLAN_H
#define TQ470_FAULTPLAN_H

#include "setuppacket.h"

#include <QList>
#include <QString>

#include <map>
#include <optional>
#include <random>

enum class FaultKind { None, Timeout, Stall, ShortTransfer, Corrupt, Unplug, LostAck, OtherMode };

// One deliberate failure. Selectors narrow the requests the rule counts (request: a vendor
// request with that code; address);
// of those, the nth and the (times - 1) after it fail. Parameters that do not apply to the kind
// are ignored.
struct FaultRule
{
    static constexpr int Unlimited = -1;
    static constexpr int Never = -1;
    static constexpr int Default = -1;
    static constexpr char DefaultOtherLetter = 'a';

    FaultKind kind = FaultKind::Stall;
    std::optional<quint8> request;
    std::optional<quint32> address;
    int nth = 1;
    int times = 1;
    // Timeout, and a lost acknowledgement of a device that stays on the bus: when the failure is
    // reported; Default means the request's own timeout.
    int delayMs = Default;
    // Short transfer: bytes that move; Default means half of wLength.
    int bytes = Default;
    // Unplug: when the device returns to the bus, or Never.
    int replugMs = Never;
    // Other mode: the letter after the serial's digits when the device is back in its bootloader.
    char letter = DefaultOtherLetter;

    static FaultRule onNth(FaultKind kind, int nth);
    static FaultRule onNthRequest(FaultKind kind, quint8 request, int nth);
    static FaultRule onEveryRequest(FaultKind kind, quint8 request);
};

// Faults drawn at random for a share of all requests; the same seed and the same sequence of
// requests from a host give the same faults.
struct RandomFaults
{
    double rate = 0.0;
    quint32 seed = 0;
    QList<FaultKind> kinds = {FaultKind::Stall, FaultKind::Timeout, FaultKind::ShortTransfer,
                              FaultKind::Corrupt};
    int timeoutDelayMs = FaultRule::Default;
};

struct FaultDecision
{
    FaultKind kind = FaultKind::None;
    int delayMs = FaultRule::Default;
    int bytes = FaultRule::Default;
    int replugMs = FaultRule::Never;
    char letter = FaultRule::DefaultOtherLetter;
};

// Decides, request by request, which injected fault (if any) a request meets. Rules are
// checked in the order they were added and the first that fires wins; every rule counts every
// request it matches whether it fires or not. Each host (process) meets the plan on its own: the
// counts and the random draws start afresh for it, so that what one host meets does not depend
// on what others did meanwhile. Not thread-safe; SimulatedDevice guards it.
class FaultPlan
{
public:
    void addRule(const FaultRule &rule);
    void setRandomFaults(const RandomFaults &random);
    void clear();
    bool isEmpty() const;

    FaultDecision decide(const SetupPacket &setup, qint64 host = 0);

    // KIND[:KEY=VALUE]..., described by syntaxHelp().
    static bool parseRule(const QString &ruleText, FaultRule *rule, QString *error);
    static QString syntaxHelp();
    static QString kindName(FaultKind kind);

private:
    // What one host has met so far: per rule, the requests it matched (a rule added later
    // counts from then on), and the random draws.
    struct HostProgress
    {
        QList<int> matched;
        std::mt19937 generator;
    };

    static bool matches(const FaultRule &rule, const SetupPacket &setup);
    FaultDecision drawRandom(std::mt19937 &generator) const;

    QList<FaultRule> m_rules;
    RandomFaults m_random;
    std::map<qint64, HostProgress> m_hosts;
};

#endif
