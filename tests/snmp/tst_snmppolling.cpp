#include "snmpharness.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

// Polling the real snmpd of tools/upsagent, one agent for the whole program.
class TestSnmpPolling : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_agent.start()); }
    void init()
    {
        QVERIFY(m_agent.pid() || m_agent.start());
        QVERIFY(m_agent.reset());
        QCOMPARE(m_agent.run("set-form", {"std"}), 0);
        QCOMPARE(m_agent.run("set-count", {"auto", "--type", "gauge"}), 0);
    }

    void alarmsPerVersion_data()
    {
        QTest::addColumn<QStringList>("setup"); // version, instance form, count served at the end
        QTest::addColumn<bool>("badCount");
        // The walk stops where the column ends, not after 100000 rows.
        QTest::newRow("v1") << QStringList{"v1", "std", "100000", "gauge"} << false;
        QTest::newRow("v3 SHA/AES128 dot0") << QStringList{"shaaes", "dot0", "100000", "gauge"} << false;
        // A count that cannot be one is a bad answer, not "no alarm".
        QTest::newRow("v1 dot0") << QStringList{"v1", "dot0", "-2147483648", "integer"} << true;
        QTest::newRow("v2c dot0") << QStringList{"v2c", "dot0", "-1", "integer"} << true;
        QTest::newRow("v3 MD5/DES") << QStringList{"md5des", "std", "x3", "string"} << true;
        QTest::newRow("v3 SHA-256/AES256") << QStringList{"sha256aes256", "std", "auto", "gauge"} << false;
    }
    // Each alarm raised and cleared is logged once, from the pass that reads count and table.
    void alarmsPerVersion()
    {
        QFETCH(QStringList, setup);
        QFETCH(bool, badCount);
        QCOMPARE(m_agent.run("set-form", {setup[1]}), 0);
        SnmpHarness h(m_agent.port(), setup[0]);
        QVERIFY(h.connect());
        QCOMPARE(h.cycle(), QList<int>());
        const int raised[] = {UpsUnconnected, UtilityFail, BatteryLow, UpsFail};
        const int cleared[] = {UpsConnected, UtilityNormal, BatteryNormal, UpsNormal};
        for (int alarm = 0; alarm < 4; ++alarm) {
            QVERIFY(m_agent.raise(alarmNames[alarm]));
            QCOMPARE(h.cycle(), QList<int>{raised[alarm]});
            QVERIFY(m_agent.clear(alarmNames[alarm]));
            QCOMPARE(h.cycle(), QList<int>{cleared[alarm]});
        }
        // Utility before battery, whatever the row order; the unknown alarm is ignored.
        QVERIFY(m_agent.raise("battery") && m_agent.raise("utility"));
        QCOMPARE(m_agent.run("add-other", {"1.3.6.1.2.1.33.1.6.3.9"}), 0);
        QCOMPARE(h.cycle(), (QList<int>{UtilityFail, BatteryLow}));
        QCOMPARE(h.thread->alarmCount(), 3);
        QCOMPARE(m_agent.run("set-count", {setup[2], "--type", setup[3]}), 0);
        QCOMPARE(h.cycle() + h.cycle(), QList<int>());
        QVERIFY(upsStatus.snapshot().batteryLow);
        QCOMPARE(h.thread->failCount(), badCount ? 2 : 0);
    }

    // Lost after three failed exchanges; back with an alarm raised meanwhile, the UPS link
    // waits for the first alarm read: no false "UPS Unconnected"/"UPS Connected" pair.
    void agentStoppedAndRestarted()
    {
        SnmpHarness h(m_agent.port(), "shaaes");
        QVERIFY(h.connect());
        QVERIFY(m_agent.stop());
        for (int failures = 1; failures <= 3; ++failures) {
            QCOMPARE(h.cycle(), failures < 3 ? QList<int>() : QList<int>{AgentUnconnected});
            QCOMPARE(h.thread->failCount(), failures);
        }
        QVERIFY(m_agent.raise("utility"));
        // A freshly started snmpd may drop one request; the default retry absorbs that.
        SnmpHarness::changeParams([](Params &p) { p.retries = 1; });
        QVERIFY(m_agent.start());
        QList<int> seen;
        QVERIFY(QTest::qWaitFor([&] { return !(seen += h.cycle()).isEmpty(); }, 15000));
        QCOMPARE(seen + h.cycle(), (QList<int>{AgentConnected, UtilityFail}));
    }

    void v3AgentReplaced_data()
    {
        QTest::addColumn<int>("retries");
        for (int retries : {1, 10})
            QTest::addRow("retries %d", retries) << retries;
    }
    // A card restarted in its factory state (boots 1), then replaced (new engine ID), is
    // read again within two poll cycles.
    void v3AgentReplaced()
    {
        QFETCH(int, retries);
        QVERIFY(m_agent.stop() && m_agent.start({"--boots", "100"}));
        SnmpHarness h(m_agent.port(), "shaaes");
        SnmpHarness::changeParams([&](Params &p) { p.retries = retries; });
        h.thread->start();
        QVERIFY(QTest::qWaitFor([] { return upsStatus.snapshot().upsLink == LinkGood; }, 5000));
        const QStringList restarts[] = {{"--boots", "1"},
                                        {"--engine-id", "0x80001f8804aa" + QString::number(16 + retries, 16)}};
        for (int alarm : {1, 2}) {
            QVERIFY(m_agent.stop() && m_agent.raise(alarmNames[alarm]) && m_agent.start(restarts[alarm - 1]));
            QVERIFY(QTest::qWaitFor([&] { return alarmOn(upsStatus.snapshot(), alarm); }, 3500));
        }
    }

    void runLoop_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<QStringList>("present"); // in the order of their events
        // Count and table are read in one cycle: a new alarm (raised with its trap) is logged
        // once, not Fail, Normal, Fail.
        QTest::newRow("v2c, battery low present, utility failure raised with its trap")
            << "v2c" << 0 << QStringList{"battery", "utility"};
        // At most one cycle in flight, however slow the link: a steady alarm set is logged once.
        const QStringList all{"utility", "battery", "upsfail"};
        QTest::newRow("v1, 250 ms each way, three alarms") << "v1" << 250 << all;
        QTest::newRow("v2c, 400 ms each way, three alarms") << "v2c" << 400 << all;
    }
    // The thread's own one-second loop, through a relay that holds every datagram back.
    void runLoop()
    {
        QFETCH(QString, version);
        QFETCH(int, delayMs);
        QFETCH(QStringList, present);
        const bool trapped = delayMs == 0;
        QList<int> events{AgentConnected, UpsConnected};
        for (const QString &alarm : present)
            events << alarmNames.indexOf(alarm) - 1;
        for (const QString &alarm : present.mid(0, present.size() - trapped))
            QVERIFY(m_agent.raise(alarm));
        QUdpSocket front, back;
        QVERIFY(front.bind(QHostAddress::LocalHost, 0) && back.bind(QHostAddress::LocalHost, 0));
        const quint16 agent = quint16(m_agent.port());
        quint16 client = 0;
        // Datagrams to the agent come from the session's socket; its answers go back there.
        const auto relay = [&client, delayMs](QUdpSocket *from, QUdpSocket *to, const quint16 *port) {
            QObject::connect(from, &QUdpSocket::readyRead, [=, &client] {
                while (from->hasPendingDatagrams()) {
                    const QNetworkDatagram d = from->receiveDatagram();
                    client = port == &client ? client : quint16(d.senderPort());
                    QTimer::singleShot(
                        delayMs, to, [=, data = d.data()] { to->writeDatagram(data, QHostAddress::LocalHost, *port); });
                }
            });
        };
        relay(&front, &back, &agent);
        relay(&back, &front, &client);
        SnmpHarness h(front.localPort(), version);
        h.thread->start();
        QList<int> seen;
        const auto waitFor = [&](int n) {
            return QTest::qWaitFor([&] { return (seen += SnmpHarness::takeEvents()).size() >= n; }, 15000);
        };
        QVERIFY(waitFor(events.size() - trapped));
        QVERIFY(!trapped || m_agent.raise(present.last(), trap("v2c", h.trapPort())));
        QVERIFY(waitFor(events.size()));
        // A few more exchanges in which nothing may change.
        QVERIFY(h.waitHandled(h.thread->handledEvents(), 4, 15000));
        QCOMPARE(seen + SnmpHarness::takeEvents(), events);
    }

private:
    UpsAgentFixture m_agent;
};

QTEST_GUILESS_MAIN(TestSnmpPolling)
#include "tst_snmppolling.moc"
