#include "faultplan.h"

#include "bootloaderprotocol.h"

#include <QStringList>

#include <algorithm>
#include <iterator>
#include <limits>

namespace {

constexpr double GeneratorRange = 4294967296.0;
const char *const RuleKeys[] = {"request", "address", "nth",    "times",
                                "delay",   "bytes",   "replug", "letter"};
constexpr quint32 MaxRequestCode = 0xFF;

struct KindName
{
    FaultKind kind;
    const char *name;
};

constexpr KindName KindNames[] = {
    {FaultKind::Timeout, "timeout"},     {FaultKind::Stall, "stall"},
    {FaultKind::ShortTransfer, "short"}, {FaultKind::Corrupt, "corrupt"},
    {FaultKind::Unplug, "unplug"},       {FaultKind::LostAck, "lostack"},
    {FaultKind::OtherMode, "othermode"},
};

// Decimal, or hexadecimal with 0x; a leading zero does not mean octal here.
bool parseNumber(const QString &text, quint64 limit, quint64 *value)
{
    bool ok = false;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const quint64 parsed = hex ? text.mid(2).toULongLong(&ok, 16) : text.toULongLong(&ok, 10);
    if (!ok || parsed > limit)
        return false;
    *value = parsed;
    return true;
}

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

} // namespace

FaultRule FaultRule::onNth(FaultKind kind, int nth)
{
    FaultRule rule;
    rule.kind = kind;
    rule.nth = nth;
    return rule;
}

FaultRule FaultRule::onNthRequest(FaultKind kind, quint8 request, int nth)
{
    FaultRule rule = onNth(kind, nth);
    rule.request = request;
    return rule;
}

FaultRule FaultRule::onEveryRequest(FaultKind kind, quint8 request)
{
    FaultRule rule;
    rule.kind = kind;
    rule.request = request;
    rule.times = Unlimited;
    return rule;
}

void FaultPlan::addRule(const FaultRule &rule)
{
    m_rules.append(rule);
}

void FaultPlan::setRandomFaults(const RandomFaults &random)
{
    m_random = random;
    for (auto &host : m_hosts)
        host.second.generator.seed(random.seed);
}

void FaultPlan::clear()
{
    m_rules.clear();
    m_random = RandomFaults();
    m_hosts.clear();
}

bool FaultPlan::isEmpty() const
{
    return m_rules.isEmpty() && m_random.rate <= 0.0;
}

FaultDecision FaultPlan::decide(const SetupPacket &setup, qint64 host)
{
    auto progress = m_hosts.find(host);
    if (progress == m_hosts.end())
        progress = m_hosts.emplace(host, HostProgress{{}, std::mt19937(m_random.seed)}).first;
    QList<int> &matched = progress->second.matched;
    matched.resize(m_rules.size());
    FaultDecision decision;
    for (int i = 0; i < m_rules.size(); ++i) {
        const FaultRule &rule = m_rules.at(i);
        if (!matches(rule, setup))
            continue;
        const int count = ++matched[i];
        const bool due = count >= rule.nth
                         && (rule.times == FaultRule::Unlimited || count < rule.nth + rule.times);
        if (due && decision.kind == FaultKind::None)
            decision =
                FaultDecision{rule.kind, rule.delayMs, rule.bytes, rule.replugMs, rule.letter};
    }
    FaultDecision random = drawRandom(progress->second.generator);
    // A real link checks every data packet, so what a host sends is never stored altered by
    // chance; only deliberate rules corrupt OUT data.
    if (random.kind == FaultKind::Corrupt && !setup.isIn())
        random = FaultDecision();
    return decision.kind != FaultKind::None ? decision : random;
}

bool FaultPlan::matches(const FaultRule &rule, const SetupPacket &setup)
{
    // A code names a bootloader request: standard requests share the codes (0x06 is also
    // get-descriptor) and never match one.
    return (!rule.request || (setup.isVendor() && *rule.request == setup.request))
           && (!rule.address || *rule.address == setup.address());
}

FaultDecision FaultPlan::drawRandom(std::mt19937 &generator) const
{
    if (m_random.rate <= 0.0 || m_random.kinds.isEmpty())
        return FaultDecision();
    // Two draws for every request, whatever the outcome, so that a fault never shifts the
    // sequence of the faults after it.
    const quint32 roll = quint32(generator());
    const quint32 pick = quint32(generator());
    if (double(roll) >= m_random.rate * GeneratorRange)
        return FaultDecision();
    FaultDecision decision;
    decision.kind = m_random.kinds.at(int(pick % quint32(m_random.kinds.size())));
    decision.delayMs = m_random.timeoutDelayMs;
    return decision;
}

QString FaultPlan::kindName(FaultKind kind)
{
    for (const KindName &entry : KindNames) {
        if (entry.kind == kind)
            return QString::fromLatin1(entry.name);
    }
    return QStringLiteral("none");
}

bool FaultPlan::parseRule(const QString &ruleText, FaultRule *rule, QString *error)
{
    const QStringList parts = ruleText.split(QLatin1Char(':'));
    FaultRule parsed;
    bool kindKnown = false;
    for (const KindName &entry : KindNames) {
        if (parts.first() == QLatin1String(entry.name)) {
            parsed.kind = entry.kind;
            kindKnown = true;
        }
    }
    if (!kindKnown) {
        QStringList names;
        for (const KindName &entry : KindNames)
            names << QLatin1String(entry.name);
        return fail(error, QStringLiteral("unknown fault kind '%1' in '%2' (one of %3)")
                               .arg(parts.first(), ruleText, names.join(QLatin1String(", "))));
    }

    QStringList seen;
    bool nthGiven = false;
    bool timesGiven = false;
    for (int i = 1; i < parts.size(); ++i) {
        const int equals = parts.at(i).indexOf(QLatin1Char('='));
        const QString key = parts.at(i).left(equals);
        const QString value = equals < 0 ? QString() : parts.at(i).mid(equals + 1);
        if (equals < 0 || value.isEmpty())
            return fail(error, QStringLiteral("'%1' in '%2' is not KEY=VALUE")
                                   .arg(parts.at(i), ruleText));
        if (std::none_of(std::begin(RuleKeys), std::end(RuleKeys),
                         [&key](const char *known) { return key == QLatin1String(known); }))
            return fail(error, QStringLiteral("unknown key '%1' in '%2'").arg(key, ruleText));
        if (seen.contains(key))
            return fail(error, QStringLiteral("'%1' is given twice in '%2'").arg(key, ruleText));
        seen.append(key);

        const auto badValue = [&]() {
            return fail(error, QStringLiteral("bad value '%1' for %2 in '%3'")
                                   .arg(value, key, ruleText));
        };
        const auto onlyFor = [&](const char *kinds) {
            return fail(error, QStringLiteral("%1= applies to %2 faults only, not to '%3'")
                                   .arg(key, QLatin1String(kinds), ruleText));
        };
        quint64 number = 0;
        if (key == QLatin1String("letter")) {
            if (parsed.kind != FaultKind::OtherMode)
                return onlyFor("othermode");
            // Another mode's letter: the bootloader's own would be no fault at all.
            const char letter = value.size() == 1 ? value.at(0).toLatin1() : '\0';
            if (letter < 'a' || letter > 'z' || letter == Bootloader::BootloaderSerialMarker)
                return badValue();
            parsed.letter = letter;
            continue;
        }
        if (key == QLatin1String("times") && value == QLatin1String("all")) {
            parsed.times = FaultRule::Unlimited;
            timesGiven = true;
            continue;
        }
        if (key == QLatin1String("address")) {
            if (!parseNumber(value, 0xFFFFFFFFu, &number))
                return badValue();
            parsed.address = quint32(number);
            continue;
        }
        if (!parseNumber(value, quint64(std::numeric_limits<int>::max()), &number))
            return badValue();
        const int n = int(number);
        if (key == QLatin1String("request")) {
            if (number > MaxRequestCode)
                return badValue();
            parsed.request = quint8(number);
        } else if (key == QLatin1String("nth")) {
            if (n < 1)
                return badValue();
            parsed.nth = n;
            nthGiven = true;
        } else if (key == QLatin1String("times")) {
            if (n < 1)
                return badValue();
            parsed.times = n;
            timesGiven = true;
        } else if (key == QLatin1String("delay")) {
            if (parsed.kind != FaultKind::Timeout && parsed.kind != FaultKind::LostAck)
                return onlyFor("timeout and lostack");
            parsed.delayMs = n;
        } else if (key == QLatin1String("bytes")) {
            if (parsed.kind != FaultKind::ShortTransfer)
                return onlyFor("short");
            parsed.bytes = n;
        } else if (key == QLatin1String("replug")) {
            if (parsed.kind != FaultKind::Unplug)
                return onlyFor("unplug");
            parsed.replugMs = n;
        }
    }
    if (!timesGiven)
        parsed.times = nthGiven ? 1 : FaultRule::Unlimited;
    *rule = parsed;
    return true;
}

QString FaultPlan::syntaxHelp()
{
    return QStringLiteral(
        "Fault RULE: KIND[:KEY=VALUE]...\n"
        "  KIND is one of\n"
        "    timeout      the request is never answered; the host sees a timeout\n"
        "    stall        the device stalls the request\n"
        "    short        fewer bytes move than asked; the host sees success\n"
        "    corrupt      one byte is flipped: of the answer of an IN request, of the data\n"
        "                 the device stores for an OUT request\n"
        "    unplug       the device leaves the bus instead of answering\n"
        "    lostack      the device acts on the request as without the fault, but its\n"
        "                 acknowledgement never reaches the host: when the request makes it\n"
        "                 leave the bus (0x04), the transfer fails at once with EPROTO (-71\n"
        "                 from libusb), as the host controller reports a device that gives\n"
        "                 no handshake; otherwise the host sees a timeout (ETIMEDOUT, -110)\n"
        "    othermode    on the request that resets a running application into the\n"
        "                 bootloader (0x04), the device comes back with another letter after\n"
        "                 its serial's digits and keeps it until its next reset; on any other\n"
        "                 request it changes nothing\n"
        "  Which requests are counted (all control requests if neither is given):\n"
        "    request=CODE only the bootloader's requests with this bRequest (0x03 or 3);\n"
        "                 standard requests (descriptors) never match\n"
        "    address=ADDR only requests at this address (wIndex << 16 | wValue)\n"
        "  Which of the counted requests fail:\n"
        "    nth=N        the N-th counted request is the first to fail (default 1)\n"
        "    times=N|all  how many fail from there (default 1 with nth=, all without)\n"
        "  Parameters:\n"
        "    delay=MS     timeout, lostack: when the timeout is reported (default: the\n"
        "                 request's own timeout, 2000 ms for the tool)\n"
        "    bytes=N      short: how many bytes move (default: half of those asked)\n"
        "    replug=MS    unplug: the device returns to the bus after MS ms (default: never)\n"
        "    letter=X     othermode: the letter, a to z but b (default a)\n"
        "  Counting starts when the device is plugged in, afresh for each host process\n"
        "  (--fault-rate's draws too). Without request=, every control request counts,\n"
        "  descriptor requests included; the first rule that fires wins.\n"
        "  Examples:\n"
        "    stall:request=0x03:nth=5         the fifth page write stalls\n"
        "    timeout:nth=12:delay=200         the twelfth request times out after 200 ms\n"
        "    unplug:request=0x03:nth=3:replug=500\n"
        "    stall:request=0x06:times=100     the first 100 external-flash writes stall\n"
        "    lostack:request=4                the start is not acknowledged, the application\n"
        "                                     runs\n"
        "    othermode:request=4:letter=x     back from the reset, the serial ends in x\n");
}
