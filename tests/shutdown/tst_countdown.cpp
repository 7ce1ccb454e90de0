#include "app/countdown.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
UpsStatusSnapshot statusFrom(const QString &flags)
{
    UpsStatusSnapshot s;
    s.agentLink = LinkGood;
    s.upsLink = LinkGood;
    s.utilityFail = flags.contains(QLatin1Char('U'));
    s.batteryLow = flags.contains(QLatin1Char('B'));
    s.upsFail = flags.contains(QLatin1Char('P'));
    // u: utility failure from an unauthenticated trap that no poll has confirmed yet.
    if (flags.contains(QLatin1Char('u'))) {
        s.utilityFail = true;
        s.unconfirmed = 1 << 1;
    }
    if (flags.contains(QLatin1Char('L')))
        s.upsLink = s.agentLink = LinkLost;
    if (flags.contains(QLatin1Char('?')))
        s.upsLink = LinkUnknown;
    return s;
}

void setParam(Params &p, const QString &key, int value)
{
    const QHash<QString, int *> ints{{"Utility_time", &p.Utility_time},
                                     {"Bat_time", &p.Bat_time},
                                     {"UPS_time", &p.UPS_time},
                                     {"AlarmBox_time", &p.AlarmBox_time},
                                     {"exte_time", &p.exte_time}};
    const QHash<QString, bool *> bools{{"Utility_para", &p.Utility_para},
                                       {"Bat_para", &p.Bat_para},
                                       {"UPS_para", &p.UPS_para},
                                       {"Alarm_para", &p.Alarm_para},
                                       {"exte_flag", &p.exte_flag}};
    if (ints.contains(key))
        *ints[key] = value;
    else if (bools.contains(key))
        *bools[key] = value != 0;
    else
        qFatal("unknown parameter %s", qPrintable(key));
}

Params paramsFrom(const QString &settings)
{
    Params p;
    p.Alarm_para = true;
    for (const QString &item : settings.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        setParam(p, item.section(QLatin1Char('='), 0, 0), item.section(QLatin1Char('='), 1).toInt());
    return p;
}

// What a run of the countdown did, tick by tick.
struct Transcript
{
    QList<CountdownTick> ticks;
    QList<int> requests; // ticks with a power-off request
    QList<int> passes;   // ... that run the pre-shutdown pass first
    QList<int> external; // ticks on which the external program was started
    QStringList popup;   // "N+" created, "N-" removed, "Nx" dismissed before tick N
};

// Runs a script of space-separated steps: "UB*120" is 120 ticks with utility
// failure and battery low (P = UPS fail, u = unconfirmed utility failure, L = agent
// lost, ? = UPS link unknown, - = nothing), "x" is the user closing the popup, "Utility_time=1" changes a
// parameter before the next tick, "refuse" and "accept" give the answer to the power-off requests
// that follow (accepted until said otherwise).
Transcript run(const QString &settings, const QString &script)
{
    Params p = paramsFrom(settings);
    Countdown countdown;
    Transcript t;
    bool shown = false;
    bool accepting = true;
    for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (step == QLatin1String("refuse") || step == QLatin1String("accept")) {
            accepting = step == QLatin1String("accept");
            continue;
        }
        if (step == QLatin1String("x")) {
            if (shown)
                t.popup << QStringLiteral("%1x").arg(t.ticks.size());
            shown = false;
            countdown.popupDismissed();
            continue;
        }
        if (step.contains(QLatin1Char('='))) {
            setParam(p, step.section(QLatin1Char('='), 0, 0), step.section(QLatin1Char('='), 1).toInt());
            continue;
        }
        const UpsStatusSnapshot status = statusFrom(step.section(QLatin1Char('*'), 0, 0));
        const int repeat = step.contains(QLatin1Char('*')) ? step.section(QLatin1Char('*'), 1).toInt() : 1;
        for (int i = 0; i < repeat; ++i) {
            const int index = t.ticks.size();
            CountdownTick tick = countdown.evaluateConditions(status, p);
            if (tick.requestShutdown) {
                t.requests << index;
                if (tick.runPass)
                    t.passes << index;
                countdown.powerOffAnswered(accepting, tick);
            }
            t.ticks << tick;
            if (tick.startExternalProgram)
                t.external << index;
            if (tick.popup == PopupAction::Create) {
                if (shown)
                    qFatal("popup created twice");
                shown = true;
                t.popup << QStringLiteral("%1+").arg(index);
            } else if (tick.popup == PopupAction::Close && shown) {
                shown = false;
                t.popup << QStringLiteral("%1-").arg(index);
            } else if (tick.popup == PopupAction::Refresh && !shown) {
                qFatal("refresh without a popup");
            }
            if (shown != countdown.popupShown())
                qFatal("popup state out of step");
        }
    }
    return t;
}

QString label(const QString &shorthand)
{
    if (shorthand == QLatin1String("NO"))
        return QStringLiteral("Countdown of Shotdown:NO");
    if (shorthand == QLatin1String("hidden"))
        return {};
    if (shorthand == QLatin1String("refused"))
        return QStringLiteral("Shutdown refused");
    return QStringLiteral("Countdown of Shutdown:") + shorthand;
}
} // namespace

class TestCountdown : public QObject
{
    Q_OBJECT
private slots:
    void scenarios_data();
    void scenarios();
    void oneMinuteReadsEverySecond();
    void countersResetWhenAgentIsLost();
    void alarmTextListsCountingConditions_data();
    void alarmTextListsCountingConditions();
    void timeLeftForThePopup();
    void randomSequencesRequestOnlyWhenTheRulesSay();
};

void TestCountdown::scenarios_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("labels"); // "tick:shorthand"
    QTest::addColumn<QList<int>>("requests");
    QTest::addColumn<QList<int>>("passes");
    QTest::addColumn<QStringList>("popup");
    QTest::addColumn<QList<int>>("external");

    QTest::newRow("one-minute utility delay, one request, rests at zero")
        << "Utility_para=1 Utility_time=1"
        << "U*90" << QStringList{"0:00:01:00", "1:00:00:59", "58:00:00:02", "59:00:00:00", "89:00:00:00"}
        << QList<int>{59} << QList<int>{59} << QStringList{"0+"} << QList<int>{};
    QTest::newRow("utility 10 minutes with battery 2 minutes follows the battery")
        << "Utility_para=1 Utility_time=10 Bat_para=1 Bat_time=2"
        << "UB*130" << QStringList{"0:00:02:00", "60:00:01:00", "118:00:00:02", "119:00:00:00", "129:00:00:00"}
        << QList<int>{119} << QList<int>{119} << QStringList{"0+"} << QList<int>{};
    QTest::newRow("both conditions request at their own delays")
        << "Utility_para=1 Utility_time=3 Bat_para=1 Bat_time=2"
        << "UB*200" << QStringList{"0:00:02:00", "119:00:00:00", "150:00:00:00"} << QList<int>{119, 179}
        << QList<int>{119} << QStringList{"0+"} << QList<int>{};
    QTest::newRow("clearing with 5 s left, coming back from the full delay")
        << "Utility_para=1 Utility_time=1"
        << "U*56 -*1 U*61" << QStringList{"55:00:00:05", "56:NO", "57:00:01:00", "115:00:00:02", "116:00:00:00"}
        << QList<int>{116} << QList<int>{116} << QStringList{"0+", "56-", "57+"} << QList<int>{};
    QTest::newRow("agent lost mid-countdown stops it")
        << "Utility_para=1 Utility_time=1"
        << "U*30 UL*2 U*60" << QStringList{"29:00:00:31", "30:NO", "31:NO", "32:00:01:00", "91:00:00:00"}
        << QList<int>{91} << QList<int>{91} << QStringList{"0+", "30-", "32+"} << QList<int>{};
    QTest::newRow("UPS link unknown stops it")
        << "Utility_para=1 Utility_time=1"
        << "U*10 U?*1 U*3" << QStringList{"9:00:00:51", "10:NO", "11:00:01:00"} << QList<int>{} << QList<int>{}
        << QStringList{"0+", "10-", "11+"} << QList<int>{};
    QTest::newRow("zero delay requests once a run")
        << "UPS_para=1 UPS_time=0"
        << "P*5 -*2 P*3" << QStringList{"0:NO", "4:NO", "5:NO", "9:NO"} << QList<int>{0, 7} << QList<int>{0, 7}
        << QStringList{} << QList<int>{};
    QTest::newRow("zero delay beside a counting condition")
        << "UPS_para=1 UPS_time=0 Utility_para=1 Utility_time=1"
        << "UP*3 U*1" << QStringList{"0:00:01:00", "2:00:00:58", "3:00:00:57"} << QList<int>{0} << QList<int>{0}
        << QStringList{"0+"} << QList<int>{};
    QTest::newRow("unconfirmed condition counts and shows, its request waits for a poll")
        << "Utility_para=1 Utility_time=1"
        << "u*65 U*2" << QStringList{"0:00:01:00", "59:00:00:01", "60:00:00:00", "64:00:00:00", "65:00:00:00"}
        << QList<int>{65} << QList<int>{65} << QStringList{"0+"} << QList<int>{};
    QTest::newRow("unconfirmed condition with zero delay requests nothing")
        << "Utility_para=1 Utility_time=0"
        << "u*30 U*1" << QStringList{"0:NO"} << QList<int>{30} << QList<int>{30} << QStringList{} << QList<int>{};
    QTest::newRow("two zero delays, one request")
        << "UPS_para=1 UPS_time=0 Bat_para=1 Bat_time=0"
        << "BP*2" << QStringList{"1:NO"} << QList<int>{0} << QList<int>{0} << QStringList{} << QList<int>{};
    QTest::newRow("external program once at 60 s left, not in a later countdown")
        << "Utility_para=1 Utility_time=10 exte_flag=1 exte_time=1"
        << "U*600 -*5 U*600" << QStringList{"539:00:01:01", "540:00:01:00"} << QList<int>{599, 1204}
        << QList<int>{599, 1204} << QStringList{"0+", "600-", "605+"} << QList<int>{540};
    QTest::newRow("external program with exte_time 10 starts on the first tick")
        << "Utility_para=1 Utility_time=10 exte_flag=1 exte_time=10"
        << "U*5" << QStringList{"0:00:10:00"} << QList<int>{} << QList<int>{} << QStringList{"0+"} << QList<int>{0};
    QTest::newRow("external program switched off")
        << "Utility_para=1 Utility_time=1 exte_time=30"
        << "U*61" << QStringList{} << QList<int>{59} << QList<int>{59} << QStringList{"0+"} << QList<int>{};
    QTest::newRow("popup closed comes back after AlarmBox_time ticks")
        << "Utility_para=1 Utility_time=2 AlarmBox_time=3"
        << "U*2 x U*5 -*1 U*4" << QStringList{} << QList<int>{} << QList<int>{}
        << QStringList{"0+", "2x", "4+", "7-", "10+"} << QList<int>{};
    QTest::newRow("no popup is created once the request is made")
        << "Utility_para=1 Utility_time=1 AlarmBox_time=65"
        << "U*2 x U*80" << QStringList{"70:00:00:00"} << QList<int>{59} << QList<int>{59} << QStringList{"0+", "2x"}
        << QList<int>{};
    QTest::newRow("AlarmBox_time 0 never brings it back") << "Utility_para=1 Utility_time=1 AlarmBox_time=0"
                                                          << "U*2 x U*70 -*1 U*30" << QStringList{} << QList<int>{59}
                                                          << QList<int>{59} << QStringList{"0+", "2x"} << QList<int>{};
    QTest::newRow("Alarm_para off shows no popup")
        << "Utility_para=1 Utility_time=1 Alarm_para=0"
        << "U*61" << QStringList{"0:00:01:00"} << QList<int>{59} << QList<int>{59} << QStringList{} << QList<int>{};
    QTest::newRow("Alarm_para switched off removes the popup")
        << "Utility_para=1 Utility_time=1"
        << "U*3 Alarm_para=0 U*1" << QStringList{"3:00:00:57"} << QList<int>{} << QList<int>{}
        << QStringList{"0+", "3-"} << QList<int>{};
    QTest::newRow("all switches off: hidden whatever the UPS reports")
        << "Alarm_para=1"
        << "UBP*10 -*2 UBPL*2" << QStringList{"0:hidden", "9:hidden", "13:hidden"} << QList<int>{} << QList<int>{}
        << QStringList{} << QList<int>{};
    QTest::newRow("switched-on condition not failing reads NO")
        << "Bat_para=1 Bat_time=1"
        << "UP*70" << QStringList{"0:NO", "69:NO"} << QList<int>{} << QList<int>{} << QStringList{} << QList<int>{};
    QTest::newRow("delay shortened below the count requests on the next tick")
        << "Utility_para=1 Utility_time=5"
        << "U*100 Utility_time=1 U*3" << QStringList{"99:00:03:21", "100:00:00:00"} << QList<int>{100}
        << QList<int>{100} << QStringList{"0+"} << QList<int>{};
    QTest::newRow("delay lengthened keeps counting against the new delay")
        << "Utility_para=1 Utility_time=1"
        << "U*30 Utility_time=2 U*100" << QStringList{"30:00:01:30"} << QList<int>{119} << QList<int>{119}
        << QStringList{"0+"} << QList<int>{};
    QTest::newRow("refused: asked again every 60 s while the condition lasts, one pass a run")
        << "Utility_para=1 Utility_time=1"
        << "refuse U*200 -*1 U*61"
        << QStringList{"58:00:00:02", "59:refused", "150:refused", "200:NO", "201:00:01:00", "260:refused"}
        << QList<int>{59, 119, 179, 260} << QList<int>{59, 260} << QStringList{"0+", "200-", "201+"} << QList<int>{};
    QTest::newRow("refused, then the delay lengthened: asked at the new delay")
        << "Utility_para=1 Utility_time=1"
        << "refuse U*70 Utility_time=3 U*120" << QStringList{"69:refused", "70:00:01:50", "179:refused"}
        << QList<int>{59, 179} << QList<int>{59} << QStringList{"0+"} << QList<int>{};
    QTest::newRow("zero delay refused: one pass, asked again every 60 s")
        << "UPS_para=1 UPS_time=0"
        << "refuse P*130" << QStringList{"0:refused", "59:refused", "129:refused"} << QList<int>{0, 60, 120}
        << QList<int>{0} << QStringList{} << QList<int>{};
    QTest::newRow("accepted after a refusal: not asked again")
        << "UPS_para=1 UPS_time=0"
        << "refuse P*30 accept P*100" << QStringList{"29:refused", "60:NO"} << QList<int>{0, 60} << QList<int>{0}
        << QStringList{} << QList<int>{};
}

void TestCountdown::scenarios()
{
    QFETCH(QString, settings);
    QFETCH(QString, script);
    QFETCH(QStringList, labels);
    QFETCH(QList<int>, requests);
    QFETCH(QList<int>, passes);
    QFETCH(QStringList, popup);
    QFETCH(QList<int>, external);

    const Transcript t = run(settings, script);
    for (const QString &expected : labels) {
        const int index = expected.section(QLatin1Char(':'), 0, 0).toInt();
        QVERIFY2(index < t.ticks.size(), qPrintable(expected));
        QCOMPARE(t.ticks.at(index).labelText(), label(expected.section(QLatin1Char(':'), 1)));
    }
    QCOMPARE(t.requests, requests);
    QCOMPARE(t.passes, passes);
    QCOMPARE(t.popup, popup);
    QCOMPARE(t.external, external);
}

void TestCountdown::oneMinuteReadsEverySecond()
{
    const Transcript t = run("Utility_para=1 Utility_time=1", "U*60");
    for (int i = 0; i < 59; ++i) {
        QCOMPARE(t.ticks.at(i).display, CountdownDisplay::Counting);
        QCOMPARE(t.ticks.at(i).countdownSecs, 60 - i);
        QVERIFY(!t.ticks.at(i).requestShutdown);
        QCOMPARE(t.ticks.at(i).popup, i == 0 ? PopupAction::Create : PopupAction::Refresh);
    }
    QCOMPARE(t.ticks.at(59).countdownSecs, 0);
    QVERIFY(t.ticks.at(59).requestShutdown);
    QCOMPARE(t.ticks.at(59).popup, PopupAction::Refresh);
}

void TestCountdown::countersResetWhenAgentIsLost()
{
    const Params p = paramsFrom("Utility_para=1 Utility_time=1 Bat_para=1 Bat_time=1 UPS_para=1 UPS_time=1");
    Countdown c;
    for (int i = 0; i < 20; ++i)
        c.evaluateConditions(statusFrom("UBP"), p);
    QCOMPARE(c.utilityElapsed(), 20);
    QCOMPARE(c.batteryElapsed(), 20);
    QCOMPARE(c.upsElapsed(), 20);
    QCOMPARE(c.utilitySecs(), 41);
    const CountdownTick lost = c.evaluateConditions(statusFrom("UBPL"), p);
    QCOMPARE(lost.display, CountdownDisplay::Idle);
    QCOMPARE(c.utilityElapsed(), 0);
    QCOMPARE(c.batteryElapsed(), 0);
    QCOMPARE(c.upsElapsed(), 0);
    QCOMPARE(c.utilitySecs(), noCountdown);
    QCOMPARE(c.batterySecs(), noCountdown);
    QCOMPARE(c.upsSecs(), noCountdown);
}

void TestCountdown::alarmTextListsCountingConditions_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("text");

    const QString all = "Utility_para=1 Bat_para=1 UPS_para=1";
    QTest::newRow("utility only") << all << "U"
                                  << "Utility Fail\n";
    QTest::newRow("all three in order") << all << "PBU"
                                        << "Utility Fail\nBattery Low\nUPS Fail\n";
    QTest::newRow("battery and UPS") << all << "BP"
                                     << "Battery Low\nUPS Fail\n";
    QTest::newRow("zero delay adds no line") << all + " Bat_time=0"
                                             << "UB"
                                             << "Utility Fail\n";
    QTest::newRow("switched off adds no line") << "Bat_para=1"
                                               << "UB"
                                               << "Battery Low\n";
}

void TestCountdown::alarmTextListsCountingConditions()
{
    QFETCH(QString, settings);
    QFETCH(QString, flags);
    QFETCH(QString, text);
    Countdown c;
    QCOMPARE(c.evaluateConditions(statusFrom(flags), paramsFrom(settings)).alarmText, text);
}

void TestCountdown::timeLeftForThePopup()
{
    CountdownTick t;
    t.display = CountdownDisplay::Counting;
    t.countdownSecs = 3723;
    QCOMPARE(t.timeLeft(), QTime(1, 2, 3));
    QCOMPARE(t.labelText(), QStringLiteral("Countdown of Shutdown:01:02:03"));
    t.countdownSecs = 598;
    QCOMPARE(t.labelText(), QStringLiteral("Countdown of Shutdown:00:09:58"));
    t.countdownSecs = 999 * 60;
    QCOMPARE(t.timeLeft(), QTime(16, 39, 0));
    QCOMPARE(t.labelText(), QStringLiteral("Countdown of Shutdown:16:39:00"));
}

// Seeded random runs of condition states against the rules stated directly, every
// power-off accepted: a tick requests when a condition with delay d > 0 has been
// active for exactly d * 60 consecutive ticks or one with delay 0 has just become
// active, and the display shows the smallest d * 60 - run + 1 of the conditions
// counting, 0 from the request on.
void TestCountdown::randomSequencesRequestOnlyWhenTheRulesSay()
{
    constexpr int seeds = 40;
    constexpr int ticksPerSeed = 5000;
    int totalRequests = 0;
    for (quint32 seed = 1; seed <= seeds; ++seed) {
        QRandomGenerator rng(seed);
        Params p;
        bool *switches[3] = {&p.Utility_para, &p.Bat_para, &p.UPS_para};
        int *delays[3] = {&p.Utility_time, &p.Bat_time, &p.UPS_time};
        for (int c = 0; c < 3; ++c) {
            *switches[c] = rng.bounded(4) != 0;
            *delays[c] = rng.bounded(5) == 0 ? 0 : int(rng.bounded(1, 4));
        }
        p.exte_flag = rng.bounded(2);
        p.exte_time = rng.bounded(1, 4);
        Countdown countdown;
        int run[3] = {0, 0, 0};
        UpsStatusSnapshot status = statusFrom(QString());
        int hold = 0;
        int externalStarts = 0;
        for (int tick = 0; tick < ticksPerSeed; ++tick) {
            if (hold-- <= 0) {
                // Conditions persist for a while; long runs reach the delays.
                status.utilityFail = rng.bounded(2);
                status.batteryLow = rng.bounded(2);
                status.upsFail = rng.bounded(2);
                const int link = rng.bounded(10);
                status.upsLink = link == 0 ? LinkLost : link == 1 ? LinkUnknown : LinkGood;
                hold = rng.bounded(8) == 0 ? int(rng.bounded(60, 400)) : int(rng.bounded(1, 20));
            }
            const bool alarms[3] = {status.utilityFail, status.batteryLow, status.upsFail};
            bool expectedRequest = false;
            int expectedSecs = noCountdown;
            bool counting = false;
            for (int c = 0; c < 3; ++c) {
                const bool active = *switches[c] && alarms[c] && status.upsLink == LinkGood;
                run[c] = active ? run[c] + 1 : 0;
                if (!active)
                    continue;
                if (*delays[c] == 0) {
                    expectedRequest |= run[c] == 1;
                    continue;
                }
                counting = true;
                expectedRequest |= run[c] == *delays[c] * 60;
                expectedSecs = std::min(expectedSecs, run[c] >= *delays[c] * 60 ? 0 : *delays[c] * 60 - run[c] + 1);
            }

            CountdownTick t = countdown.evaluateConditions(status, p);
            if (t.requestShutdown != expectedRequest)
                QFAIL(qPrintable(QStringLiteral("seed %1 tick %2: request %3, expected %4")
                                     .arg(seed)
                                     .arg(tick)
                                     .arg(t.requestShutdown)
                                     .arg(expectedRequest)));
            if (t.requestShutdown)
                countdown.powerOffAnswered(true, t);
            const CountdownDisplay display = !p.Utility_para && !p.Bat_para && !p.UPS_para ? CountdownDisplay::Hidden
                                             : counting                                    ? CountdownDisplay::Counting
                                                                                           : CountdownDisplay::Idle;
            if (t.display != display || (counting && t.countdownSecs != expectedSecs))
                QFAIL(qPrintable(QStringLiteral("seed %1 tick %2: display %3/%4, expected %5/%6")
                                     .arg(seed)
                                     .arg(tick)
                                     .arg(int(t.display))
                                     .arg(t.countdownSecs)
                                     .arg(int(display))
                                     .arg(expectedSecs)));
            externalStarts += t.startExternalProgram;
            totalRequests += t.requestShutdown;
        }
        QVERIFY(externalStarts <= 1);
    }
    // The runs must actually reach the delays, or the test proves little.
    QVERIFY(totalRequests > seeds);
}

QTEST_GUILESS_MAIN(TestCountdown)
#include "tst_countdown.moc"
