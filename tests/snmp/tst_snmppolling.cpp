#include "snmpharness.h"

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
    void newAgentAddress_data();
    void newAgentAddress();
    void newTrapPort();
    void hugeAlarmCount_data();
    void hugeAlarmCount();

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
    // The first pass learns the count, the second reads the table.
    h.cycle();
    QCOMPARE(h.thread->alarmCount(), 1);
    h.cycle();
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
    h.cycle();
    // Utility before battery, whatever the row order; the unknown alarm is ignored.
    QCOMPARE(SnmpHarness::takeEvents(), (QList<int>{UtilityFail, BatteryLow}));
    QCOMPARE(h.thread->alarmCount(), 3);
}

void TestSnmpPolling::agentStoppedAndRestarted_data()
{
    SnmpHarness::addVersionColumns();
    SnmpHarness::addVersionRows();
}

void TestSnmpPolling::agentStoppedAndRestarted()
{
    QFETCH(int, msgVersion);
    QFETCH(QString, user);
    UpsAgentFixture agent;
    QVERIFY(agent.start());
    SnmpHarness h(agent.port(), msgVersion, user);
    connect(h);
    QVERIFY(agent.raise("utility"));
    h.cycle();
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>{UtilityFail});

    QVERIFY(agent.stop());
    // With an alarm present a pass has two exchanges, the count and the table walk.
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>());
    QCOMPARE(h.thread->failCount(), 2);
    QCOMPARE(upsStatus.snapshot().agentLink, int(LinkGood));
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>{AgentUnconnected});
    QCOMPARE(h.thread->failCount(), 3);
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>());
    QCOMPARE(h.thread->failCount(), 3);

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
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>{AgentConnected});
    QVERIFY(upsStatus.snapshot().utilityFail);
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
    // The count alone leaves the UPS link unknown; the table walk of the next pass sets it.
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>{AgentConnected});
    h.cycle();
    QCOMPARE(SnmpHarness::takeEvents(), (QList<int>{UpsConnected, BatteryLow}));
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

void TestSnmpPolling::hugeAlarmCount_data()
{
    SnmpHarness::addVersionColumns();
    QTest::newRow("v1") << 1 << QString();
    QTest::newRow("v2c") << 2 << QString();
    QTest::newRow("v3 SHA/AES128") << 3 << QStringLiteral("shaaes");
}

void TestSnmpPolling::hugeAlarmCount()
{
    QFETCH(int, msgVersion);
    QFETCH(QString, user);
    SnmpHarness h(m_agent.port(), msgVersion, user);
    connect(h);
    QVERIFY(m_agent.raise("upsfail"));
    QVERIFY(m_agent.setCount("100000"));
    h.cycle();
    QCOMPARE(h.thread->alarmCount(), 100000);
    h.cycle();
    // One row is there; the walk stops where the column ends, not after 100000 rows.
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>{UpsFail});
    QVERIFY(upsStatus.snapshot().upsFail);
    QCOMPARE(h.thread->failCount(), 0);
    QVERIFY(m_agent.setCount("auto"));
}

QTEST_GUILESS_MAIN(TestSnmpPolling)
#include "tst_snmppolling.moc"
