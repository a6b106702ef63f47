#include "faultplan.h"

#include <QtTest>

namespace {

constexpr quint8 VendorIn = 0xC0;
constexpr quint8 VendorOut = 0x40;

// Memory reads: IN requests, which every kind of fault can meet.
SetupPacket request(quint8 code, quint32 address = 0, quint8 requestType = VendorIn)
{
    return SetupPacket{requestType, code, quint16(address & 0xFFFF), quint16(address >> 16), 0};
}

QChar letter(FaultKind kind)
{
    switch (kind) {
    case FaultKind::Stall:
        return QLatin1Char('S');
    case FaultKind::Timeout:
        return QLatin1Char('T');
    case FaultKind::ShortTransfer:
        return QLatin1Char('H');
    case FaultKind::Corrupt:
        return QLatin1Char('C');
    case FaultKind::Unplug:
        return QLatin1Char('U');
    case FaultKind::None:
        break;
    }
    return QLatin1Char('.');
}

// One letter per request: the fault it met, '.' for none.
QString run(FaultPlan &plan, const QList<SetupPacket> &requests)
{
    QString faults;
    for (const SetupPacket &setup : requests)
        faults += letter(plan.decide(setup).kind);
    return faults;
}

QList<SetupPacket> requests(const QList<int> &codes)
{
    QList<SetupPacket> list;
    for (int code : codes)
        list.append(request(quint8(code)));
    return list;
}

QString randomRun(const RandomFaults &random, int count, const FaultRule *rule = nullptr)
{
    FaultPlan plan;
    plan.setRandomFaults(random);
    if (rule)
        plan.addRule(*rule);
    return run(plan, requests(QList<int>(count, 1)));
}

} // namespace

class TestFaultPlan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ruleSelection_data();
    void ruleSelection();
    void addressSelectorCountsOnlyThatAddress();
    void parseRule_data();
    void parseRule();
    void badSpecIsRejected_data();
    void badSpecIsRejected();
    void randomFaultsRepeatWithTheSeed();
    void rulesDoNotShiftTheRandomSequence();
    void randomCorruptionSparesOutData();
    void randomRateBounds();
};

void TestFaultPlan::ruleSelection_data()
{
    QTest::addColumn<QStringList>("ruleTexts");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<QString>("faults");

    QTest::newRow("nth=3 fails the third request only")
        << QStringList{"stall:nth=3"} << QList<int>{1, 1, 1, 1, 1} << QStringLiteral("..S..");
    QTest::newRow("with request= only that request is counted")
        << QStringList{"stall:request=0x03:nth=2"} << QList<int>{3, 1, 3, 1, 3}
        << QStringLiteral("..S..");
    QTest::newRow("request= alone fails every such request")
        << QStringList{"timeout:request=5"} << QList<int>{5, 1, 5, 5} << QStringLiteral("T.TT");
    QTest::newRow("times= limits how many fail")
        << QStringList{"stall:request=6:times=2"} << QList<int>{6, 6, 6} << QStringLiteral("SS.");
    QTest::newRow("nth= with times= fails a run of requests")
        << QStringList{"short:nth=2:times=2"} << QList<int>{1, 1, 1, 1} << QStringLiteral(".HH.");
    QTest::newRow("first rule wins and later rules still count")
        << QStringList{"stall:nth=2", "corrupt:nth=2", "unplug:nth=3"} << QList<int>{1, 1, 1}
        << QStringLiteral(".SU");
}

void TestFaultPlan::ruleSelection()
{
    QFETCH(QStringList, ruleTexts);
    QFETCH(QList<int>, codes);
    QFETCH(QString, faults);

    FaultPlan plan;
    for (const QString &ruleText : ruleTexts) {
        FaultRule rule;
        QString error;
        QVERIFY2(FaultPlan::parseRule(ruleText, &rule, &error), qPrintable(error));
        plan.addRule(rule);
    }
    QCOMPARE(run(plan, requests(codes)), faults);
}

void TestFaultPlan::addressSelectorCountsOnlyThatAddress()
{
    FaultRule rule = FaultRule::onEveryRequest(FaultKind::Stall, 0x03);
    rule.address = 0x08004800;
    FaultPlan plan;
    plan.addRule(rule);
    QCOMPARE(run(plan, {request(3, 0x08004000), request(3, 0x08004800), request(3, 0x08005000),
                        request(3, 0x08004800)}),
             QStringLiteral(".S.S"));
}

void TestFaultPlan::parseRule_data()
{
    QTest::addColumn<QString>("ruleText");
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<int>("request");
    QTest::addColumn<qint64>("address");
    QTest::addColumn<int>("nth");
    QTest::addColumn<int>("times");
    QTest::addColumn<int>("parameter");

    const int all = FaultRule::Unlimited;
    QTest::newRow("fifth page write stalls") << "stall:request=0x03:nth=5" << FaultKind::Stall << 3
                                             << qint64(-1) << 5 << 1 << -1;
    QTest::newRow("twelfth request times out after 2000 ms")
        << "timeout:nth=12:delay=2000" << FaultKind::Timeout << -1 << qint64(-1) << 12 << 1
        << 2000;
    QTest::newRow("third page write unplugs, back after 500 ms")
        << "unplug:request=0x03:nth=3:replug=500" << FaultKind::Unplug << 3 << qint64(-1) << 3 << 1
        << 500;
    QTest::newRow("every memory read is short by 10 bytes")
        << "short:request=1:bytes=10" << FaultKind::ShortTransfer << 1 << qint64(-1) << 1 << all
        << 10;
    QTest::newRow("three reads at one address are corrupted")
        << "corrupt:address=0x08004000:times=3" << FaultKind::Corrupt << -1 << qint64(0x08004000)
        << 1 << 3 << -1;
    QTest::newRow("times=all after the second") << "stall:request=255:nth=2:times=all"
                                                << FaultKind::Stall << 255 << qint64(-1) << 2
                                                << all << -1;
}

void TestFaultPlan::parseRule()
{
    QFETCH(QString, ruleText);
    QFETCH(FaultKind, kind);
    QFETCH(int, request);
    QFETCH(qint64, address);
    QFETCH(int, nth);
    QFETCH(int, times);
    QFETCH(int, parameter);

    FaultRule rule;
    QString error;
    QVERIFY2(FaultPlan::parseRule(ruleText, &rule, &error), qPrintable(error));
    QCOMPARE(rule.kind, kind);
    QCOMPARE(rule.request ? int(*rule.request) : -1, request);
    QCOMPARE(rule.address ? qint64(*rule.address) : qint64(-1), address);
    QCOMPARE(rule.nth, nth);
    QCOMPARE(rule.times, times);
    QCOMPARE(qMax(qMax(rule.delayMs, rule.bytes), rule.replugMs), parameter);
}

void TestFaultPlan::badSpecIsRejected_data()
{
    QTest::addColumn<QString>("ruleText");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown kind") << "explode:nth=1" << "unknown fault kind 'explode'";
    QTest::newRow("nth counts from 1") << "stall:nth=0" << "bad value '0' for nth";
    QTest::newRow("request code above 0xFF") << "stall:request=0x100" << "bad value '0x100'";
    QTest::newRow("delay belongs to timeouts") << "stall:delay=5" << "delay= applies to timeout";
    QTest::newRow("replug belongs to unplugs") << "timeout:replug=5" << "replug= applies to unplug";
    QTest::newRow("key given twice") << "stall:nth=2:nth=3" << "'nth' is given twice";
    QTest::newRow("unknown key") << "stall:colour=red" << "unknown key 'colour'";
}

void TestFaultPlan::badSpecIsRejected()
{
    QFETCH(QString, ruleText);
    QFETCH(QString, message);

    FaultRule rule;
    QString error;
    QVERIFY(!FaultPlan::parseRule(ruleText, &rule, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
}

void TestFaultPlan::randomFaultsRepeatWithTheSeed()
{
    RandomFaults random;
    random.rate = 0.3;
    random.seed = 7;
    const QString first = randomRun(random, 500);
    QCOMPARE(randomRun(random, 500), first);
    for (QChar kind : {QLatin1Char('S'), QLatin1Char('T'), QLatin1Char('H'), QLatin1Char('C')})
        QVERIFY2(first.contains(kind), qPrintable(first));
    QVERIFY(!first.contains(QLatin1Char('U')));
    random.seed = 8;
    QVERIFY(randomRun(random, 500) != first);
}

void TestFaultPlan::rulesDoNotShiftTheRandomSequence()
{
    RandomFaults random;
    random.rate = 0.3;
    random.seed = 11;
    const FaultRule rule = FaultRule::onNth(FaultKind::Unplug, 2);
    QString expected = randomRun(random, 50);
    expected[1] = QLatin1Char('U');
    QCOMPARE(randomRun(random, 50, &rule), expected);
}

void TestFaultPlan::randomCorruptionSparesOutData()
{
    RandomFaults random;
    random.rate = 1.0;
    random.kinds = {FaultKind::Corrupt};
    FaultPlan plan;
    plan.setRandomFaults(random);
    QCOMPARE(plan.decide(request(1, 0, VendorOut)).kind, FaultKind::None);
    QCOMPARE(plan.decide(request(1)).kind, FaultKind::Corrupt);

    FaultRule rule = FaultRule::onNth(FaultKind::Corrupt, 1);
    plan.addRule(rule);
    QCOMPARE(plan.decide(request(3, 0, VendorOut)).kind, FaultKind::Corrupt);
}

void TestFaultPlan::randomRateBounds()
{
    RandomFaults random;
    random.seed = 3;
    random.rate = 0.0;
    QCOMPARE(randomRun(random, 200), QString(200, QLatin1Char('.')));
    random.rate = 1.0;
    QVERIFY(!randomRun(random, 200).contains(QLatin1Char('.')));
    random.rate = 0.25;
    const qsizetype failures = 1000 - randomRun(random, 1000).count(QLatin1Char('.'));
    QVERIFY2(failures > 180 && failures < 320, qPrintable(QString::number(failures)));
}

QTEST_GUILESS_MAIN(TestFaultPlan)
#include "tst_faultplan.moc"
