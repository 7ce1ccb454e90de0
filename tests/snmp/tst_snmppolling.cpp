#include "snmpharness.h"
#include "udprelay.h"

// Polling against the real snmpd of tools/upsagent, over every SNMP version.
class TestSnmpPolling : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void firstAnswer_data();
    void firstAnswer();
    void alarmsByPolling_data();
    void alarmsByPolling();
    void twoAlarmsInOnePoll_data();
    void twoAlarmsInOnePoll();
    void agentStoppedAndRestarted_data();
    void agentStoppedAndRestarted();
    void runLoop_data();
    void runLoop();
    void v3AgentReplaced_data();
    void v3AgentReplaced();
    void newAgentAddress_data();
    void newAgentAddress();
    void newTrapPort();
    void oddAlarmCount_data();
    void oddAlarmCount();

private:
    void connect(SnmpHarness &h);

    UpsAgentFixture m_agent;
};

void TestSnmpPolling::initTestCase()
{
    QVERIFY2(m_agent.start(), qPrintable(UpsAgentFixture::toolPath()));
}

void TestSnmpPolling::init()
{
    QVERIFY(m_agent.reset());
    QVERIFY(m_agent.setForm("std"));
}

void TestSnmpPolling::connect(SnmpHarness &h)
{
    QVERIFY(h.opened());
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), (QList<int>{AgentConnected, UpsConnected}));
}

void TestSnmpPolling::firstAnswer_data()
{
    SnmpHarness::addVersionColumns();
    SnmpHarness::addVersionRows();
}

void TestSnmpPolling::firstAnswer()
{
    QFETCH(int, msgVersion);
    QFETCH(QString, user);
    SnmpHarness h(m_agent.port(), msgVersion, user);
    QVERIFY(h.opened());
    const UpsStatusSnapshot before = upsStatus.snapshot();
    QCOMPARE(before.agentLink, int(LinkUnknown));
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), (QList<int>{AgentConnected, UpsConnected}));
    const UpsStatusSnapshot s = upsStatus.snapshot();
    QCOMPARE(s.agentLink, int(LinkGood));
    QCOMPARE(s.upsLink, int(LinkGood));
    QCOMPARE(h.thread->failCount(), 0);
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>());
}

void TestSnmpPolling::alarmsByPolling_data()
{
    QTest::addColumn<int>("msgVersion");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("form");
    QTest::addColumn<int>("alarm");
    QTest::addColumn<int>("raisedEvent");
    QTest::addColumn<int>("clearedEvent");
    const struct
    {
        const char *name;
        int version;
        const char *user;
    } versions[] = {{"v1", 1, ""},
                    {"v2c", 2, ""},
                    {"v3 MD5/DES", 3, "md5des"},
                    {"v3 SHA/AES128", 3, "shaaes"},
                    {"v3 SHA-256/AES256", 3, "sha256aes256"}};
    const int raised[] = {UpsUnconnected, UtilityFail, BatteryLow, UpsFail};
    const int cleared[] = {UpsConnected, UtilityNormal, BatteryNormal, UpsNormal};
    for (const auto &v : versions) {
        for (const char *form : {"std", "dot0"}) {
            for (int alarm = 0; alarm < 4; ++alarm) {
                QTest::addRow("%s %s %s", v.name, form, qPrintable(UpsAgentFixture::alarmName(alarm)))
                    << v.version << QString::fromLatin1(v.user) << QString::fromLatin1(form) << alarm << raised[alarm]
                    << cleared[alarm];
            }
        }
    }
}

void TestSnmpPolling::alarmsByPolling()
{
    QFETCH(int, msgVersion);
    QFETCH(QString, user);
    QFETCH(QString, form);
    QFETCH(int, alarm);
    QFETCH(int, raisedEvent);
    QFETCH(int, clearedEvent);
    QVERIFY(m_agent.setForm(form));
    SnmpHarness h(m_agent.port(), msgVersion, user);
    connect(h);

    QVERIFY(m_agent.raise(UpsAgentFixture::alarmName(alarm)));
    // One pass reads the count and the table.
    h.cycle();
    QCOMPARE(h.thread->alarmCount(), 1);
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>{raisedEvent});
    const UpsStatusSnapshot s = upsStatus.snapshot();
    QCOMPARE(s.upsLink == LinkLost, alarm == 0);
    QCOMPARE(s.utilityFail, alarm == 1);
    QCOMPARE(s.batteryLow, alarm == 2);
    QCOMPARE(s.upsFail, alarm == 3);
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>());

    QVERIFY(m_agent.clear(UpsAgentFixture::alarmName(alarm)));
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>{clearedEvent});
    const UpsStatusSnapshot c = upsStatus.snapshot();
    QCOMPARE(c.upsLink, int(LinkGood));
    QVERIFY(!c.utilityFail && !c.batteryLow && !c.upsFail);
}

void TestSnmpPolling::twoAlarmsInOnePoll_data()
{
    SnmpHarness::addVersionColumns();
    SnmpHarness::addVersionRows();
}

void TestSnmpPolling::twoAlarmsInOnePoll()
{
    QFETCH(int, msgVersion);
    QFETCH(QString, user);
    SnmpHarness h(m_agent.port(), msgVersion, user);
    connect(h);
    QVERIFY(m_agent.raise("battery"));
    QVERIFY(m_agent.raise("utility"));
    QCOMPARE(m_agent.run("add-other", {"1.3.6.1.2.1.33.1.6.3.9"}), 0);
    h.cycle();
    // Utility before battery, whatever the row order; the unknown alarm is ignored.
    QCOMPARE(SnmpHarness::takeEvents(), (QList<int>{UtilityFail, BatteryLow}));
    QCOMPARE(h.thread->alarmCount(), 3);
}

void TestSnmpPolling::agentStoppedAndRestarted_data()
{
    SnmpHarness::addVersionColumns();
    QTest::addColumn<bool>("alarmKept");
    QTest::addColumn<QList<int>>("events");
    const struct
    {
        const char *name;
        int version;
        const char *user;
    } versions[] = {{"v1", 1, ""}, {"v2c", 2, ""}, {"v3 SHA/AES128", 3, "shaaes"}};
    // The UPS link is decided by the first alarm read after the return: no false
    // "UPS Unconnected"/"UPS Connected" pair.
    for (const auto &v : versions) {
        QTest::addRow("%s, utility failure raised while away", v.name)
            << v.version << QString::fromLatin1(v.user) << false << QList<int>{AgentConnected, UtilityFail};
    }
    QTest::newRow("v2c, utility failure throughout") << 2 << QString() << true << QList<int>{AgentConnected};
}

void TestSnmpPolling::agentStoppedAndRestarted()
{
    QFETCH(int, msgVersion);
    QFETCH(QString, user);
    QFETCH(bool, alarmKept);
    QFETCH(QList<int>, events);
    UpsAgentFixture agent;
    QVERIFY(agent.start());
    SnmpHarness h(agent.port(), msgVersion, user);
    connect(h);
    if (alarmKept) {
        QVERIFY(agent.raise("utility"));
        h.cycle();
        QCOMPARE(SnmpHarness::takeEvents(), QList<int>{UtilityFail});
    }

    QVERIFY(agent.stop());
    for (int failures = 1; failures <= 3; ++failures) {
        h.cycle();
        QCOMPARE(h.thread->failCount(), failures);
        QCOMPARE(upsStatus.snapshot().agentLink, int(failures < 3 ? LinkGood : LinkLost));
    }
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>{AgentUnconnected});
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>());
    QCOMPARE(h.thread->failCount(), 3);

    QVERIFY(agent.raise("utility"));
    // A freshly started snmpd on a busy machine may drop one request; the default of
    // one retry absorbs that, as it would for the application.
    SnmpHarness::changeParams([](Params &p) { p.retries = 1; });
    QVERIFY(agent.start());
    // A restarted SNMPv3 agent has new boots; the time window is learned again.
    QVERIFY(QTest::qWaitFor(
        [&] {
            h.cycle();
            return upsStatus.snapshot().agentLink == LinkGood;
        },
        15000));
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), events);
    QVERIFY(upsStatus.snapshot().utilityFail);
}

void TestSnmpPolling::runLoop_data()
{
    SnmpHarness::addVersionColumns();
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("trapped");
    QTest::addColumn<QList<int>>("events");
    // The alarm count and the table are read in the same cycle: a new alarm is logged once.
    QTest::newRow("v2c, battery low present, utility failure raised with its trap")
        << 2 << QString() << 0 << QStringList{"battery"} << QStringLiteral("utility")
        << QList<int>{AgentConnected, UpsConnected, BatteryLow, UtilityFail};
    // At most one cycle in flight, however slow the link: a steady alarm set is logged once.
    const struct
    {
        const char *name;
        int version;
        const char *user;
    } versions[] = {{"v1", 1, ""}, {"v2c", 2, ""}, {"v3 SHA/AES128", 3, "shaaes"}};
    for (const auto &v : versions) {
        for (int delay : {0, 250, 400}) {
            QTest::addRow("%s, %d ms each way, three alarms", v.name, delay)
                << v.version << QString::fromLatin1(v.user) << delay << QStringList{"utility", "battery", "upsfail"}
                << QString() << QList<int>{AgentConnected, UpsConnected, UtilityFail, BatteryLow, UpsFail};
        }
    }
}

// The thread's own one-second loop, through a relay that delays every request.
void TestSnmpPolling::runLoop()
{
    QFETCH(int, msgVersion);
    QFETCH(QString, user);
    QFETCH(int, delayMs);
    QFETCH(QStringList, present);
    QFETCH(QString, trapped);
    QFETCH(QList<int>, events);
    for (const QString &alarm : present)
        QVERIFY(m_agent.raise(alarm));
    UdpRelay relay(quint16(m_agent.port()), delayMs);
    SnmpHarness h(relay.port(), msgVersion, user);
    h.thread->start();
    QTest::qWait(2500);
    if (!trapped.isEmpty())
        QVERIFY(m_agent.raise(trapped, QStringLiteral("v2c"), h.trapPort()));
    QTest::qWait(5000);
    h.thread->stop();
    QVERIFY(h.thread->wait(5000));
    QCOMPARE(SnmpHarness::takeEvents(), events);
}

void TestSnmpPolling::v3AgentReplaced_data()
{
    QTest::addColumn<int>("retries");
    for (int retries = 0; retries <= 10; ++retries)
        QTest::addRow("retries %d", retries) << retries;
}

// A card that restarts in its factory state (same engine ID, boots 1) and then one
// that is replaced (new engine ID) are both read again within two poll cycles.
void TestSnmpPolling::v3AgentReplaced()
{
    QFETCH(int, retries);
    UpsAgentFixture agent;
    QVERIFY(agent.start({"--boots", "100"}));
    SnmpHarness h(agent.port(), 3, QStringLiteral("shaaes"));
    SnmpHarness::changeParams([&](Params &p) { p.retries = retries; });
    h.thread->start();
    QVERIFY(QTest::qWaitFor([] { return upsStatus.snapshot().upsLink == LinkGood; }, 5000));
    const struct
    {
        QStringList start;
        const char *alarm;
    } replacements[] = {{{"--boots", "1"}, "utility"}, {{"--engine-id", "0x80001f88047265706c61636564"}, "battery"}};
    for (const auto &r : replacements) {
        QVERIFY(agent.stop());
        QVERIFY(agent.raise(r.alarm));
        QVERIFY(agent.start(r.start));
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         const UpsStatusSnapshot s = upsStatus.snapshot();
                         return qstrcmp(r.alarm, "utility") == 0 ? s.utilityFail : s.batteryLow;
                     },
                     3500),
                 r.alarm);
    }
    h.thread->stop();
    QVERIFY(h.thread->wait(15000));
}

void TestSnmpPolling::newAgentAddress_data()
{
    SnmpHarness::addVersionColumns();
    QTest::newRow("v2c") << 2 << QString();
    QTest::newRow("v3 SHA/AES128") << 3 << QStringLiteral("shaaes");
}

void TestSnmpPolling::newAgentAddress()
{
    QFETCH(int, msgVersion);
    QFETCH(QString, user);
    SnmpHarness h(m_agent.port(), msgVersion, user);
    connect(h);

    // A silent port first: unknown, and no event before three failures.
    const int silent = freeUdpPort();
    SnmpHarness::changeParams([&](Params &p) { p.snmp_port_poll = silent; });
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>());
    QCOMPARE(upsStatus.snapshot().agentLink, int(LinkUnknown));
    QCOMPARE(upsStatus.snapshot().upsLink, int(LinkUnknown));
    QCOMPARE(h.thread->failCount(), 1);

    // Then a second agent with an alarm: nothing is logged until it answers.
    UpsAgentFixture second;
    QVERIFY(second.start());
    QVERIFY(second.raise("battery"));
    SnmpHarness::changeParams([&](Params &p) { p.snmp_port_poll = second.port(); });
    h.thread->pollCycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>());
    QCOMPARE(upsStatus.snapshot().agentLink, int(LinkUnknown));
    h.waitIdle();
    h.thread->detector().detectStatusChanges();
    QCOMPARE(SnmpHarness::takeEvents(), (QList<int>{AgentConnected, UpsConnected, BatteryLow}));
}

void TestSnmpPolling::newTrapPort()
{
    SnmpHarness h(m_agent.port());
    connect(h);
    const int oldPort = h.trapPort();
    QCOMPARE(int(h.thread->registeredTrapPort()), oldPort);
    QCOMPARE(int(snmpSession->listenPort()), oldPort);
    const UpsStatusSnapshot before = upsStatus.snapshot();

    const int newPort = freeUdpPort();
    SnmpHarness::changeParams([&](Params &p) { p.snmp_port_trace = newPort; });
    h.thread->pollCycle();
    QVERIFY(upsStatus.snapshot() == before);
    QCOMPARE(int(h.thread->registeredTrapPort()), newPort);
    QCOMPARE(int(snmpSession->listenPort()), newPort);
    h.waitIdle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>());

    // The old port is closed; the new one delivers.
    const quint64 handled = h.thread->handledEvents();
    QVERIFY(m_agent.raise("utility", "v2c", oldPort));
    QTest::qWait(300);
    QCOMPARE(h.thread->handledEvents(), handled);
    QVERIFY(!upsStatus.snapshot().utilityFail);
    QVERIFY(m_agent.clear("utility"));
    QVERIFY(m_agent.raise("utility", "v2c", newPort));
    QVERIFY(h.waitHandled(handled));
    QVERIFY(upsStatus.snapshot().utilityFail);
}

void TestSnmpPolling::oddAlarmCount_data()
{
    SnmpHarness::addVersionColumns();
    QTest::addColumn<QString>("served"); // the count and its syntax
    QTest::addColumn<bool>("badAnswer");
    // One row is there; the walk stops where the column ends, not after 100000 rows.
    QTest::newRow("v1, 100000 alarms") << 1 << QString() << QStringLiteral("100000 gauge") << false;
    QTest::newRow("v2c, 100000 alarms") << 2 << QString() << QStringLiteral("100000 gauge") << false;
    QTest::newRow("v3 SHA/AES128, 100000 alarms")
        << 3 << QStringLiteral("shaaes") << QStringLiteral("100000 gauge") << false;
    // A count that cannot be one is a bad answer, not "no alarm".
    QTest::newRow("v2c, count -1") << 2 << QString() << QStringLiteral("-1 integer") << true;
    QTest::newRow("v1, count -2^31") << 1 << QString() << QStringLiteral("-2147483648 integer") << true;
    QTest::newRow("v2c, count as a string") << 2 << QString() << QStringLiteral("x3 string") << true;
}

void TestSnmpPolling::oddAlarmCount()
{
    QFETCH(int, msgVersion);
    QFETCH(QString, user);
    QFETCH(QString, served);
    QFETCH(bool, badAnswer);
    SnmpHarness h(m_agent.port(), msgVersion, user);
    connect(h);
    QVERIFY(m_agent.raise("upsfail"));
    h.cycle();
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>{UpsFail});

    QVERIFY(m_agent.setCount(served.section(' ', 0, 0), served.section(' ', 1)));
    h.cycle();
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>());
    QVERIFY(upsStatus.snapshot().upsFail);
    QCOMPARE(h.thread->failCount(), badAnswer ? 2 : 0);
    QVERIFY(m_agent.setCount("auto", "gauge"));
}

QTEST_GUILESS_MAIN(TestSnmpPolling)
#include "tst_snmppolling.moc"
