#include "berpacket.h"
#include "config/params.h"
#include "snmp/bootcounter.h"
#include "snmp/snmpengine.h"
#include "snmp/snmpthread.h"
#include "tempdatadir.h"
#include "upsagentfixture.h"

#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>
#include <unistd.h>

namespace {
const QStringList alarmNames{"comms-lost", "utility", "battery", "upsfail"};

bool alarmOn(const UpsStatusSnapshot &s, int alarm)
{
    return QList<bool>{s.upsLink == LinkLost, s.utilityFail, s.batteryLow, s.upsFail}.at(alarm);
}

class SnmpHarness
{
public:
    explicit SnmpHarness(int agentPort, const QString &version = "v2c", int trapPort = 0)
    {
        changeParams([&](Params &p) {
            p = Params();
            p.ip = "127.0.0.1";
            p.snmp_port_poll = agentPort;
            p.snmp_port_trace = trapPort ? trapPort : freeUdpPort();
            p.retries = 0;
            p.msgVersion = version == "v1" ? 1 : version == "v2c" ? 2 : 3;
            p.securityName = version;
            p.securityLevel = 2;
        });
        upsStatus.reset();
        takeEvents();
        for (const UsmUser &u : openSnmpSession() ? UpsAgentFixture::agentUsers() : QList<UsmUser>())
            snmpV3->usm().addUser(u);
        thread->takeUpInitialSettings();
        if (snmpSession)
            snmpSession->startEventThread();
    }
    ~SnmpHarness()
    {
        if (snmpSession)
            snmpSession->stopEventThread();
        thread.reset();
        closeSnmpSession();
    }

    QStringList trap(const QString &kind) const
    {
        return {"--trap", kind, "--trap-port", QString::number(params.snmp_port_trace)};
    }
    QList<int> cycle()
    {
        thread->pollCycle();
        (void)QTest::qWaitFor([&] { return thread->outstandingRequests() == 0; }, 5000);
        thread->detector().detectStatusChanges();
        return takeEvents();
    }
    bool connect() { return snmpV3 && cycle() == QList<int>{AgentConnected, UpsConnected}; }
    bool waitHandled(quint64 since, int count = 1, int ms = 5000)
    {
        return QTest::qWaitFor([&] { return thread->handledEvents() >= since + quint64(count); }, ms);
    }

    static QList<int> takeEvents()
    {
        QWriteLocker locker(&pendingEventsLock);
        QList<int> ids;
        for (const LogEvent &e : std::exchange(pendingEvents, {}))
            ids.append(e.id);
        return ids;
    }
    static void changeParams(const std::function<void(Params &)> &edit)
    {
        QWriteLocker locker(&snmpParamLock);
        edit(params);
        snmpParamsChanged = true;
    }

    std::unique_ptr<snmp_thread> thread = std::make_unique<snmp_thread>();

private:
    TempDataDir m_data;
};

const QByteArray junk = QByteArray::fromHex("deadbeef0badf00d5ec0ffee").repeated(50);

QByteArray v3Message(const QByteArray &usm)
{
    const QByteArray header = Ber::tlv(0x30, Ber::integer(1) + Ber::integer(65507) + "\x04\x01\x03" + Ber::integer(3));
    return Ber::tlv(0x30, Ber::integer(3) + header + Ber::octets(usm) + Ber::octets(QByteArray(48, 'x')));
}

class FakeAgent : public QUdpSocket
{
public:
    explicit FakeAgent(const std::function<Ber::VarBinds(quint8, int)> &bindings, int errorStatus = 0)
    {
        bind(QHostAddress::LocalHost, 0);
        QObject::connect(this, &QUdpSocket::readyRead, [=] {
            while (hasPendingDatagrams()) {
                const QNetworkDatagram d = receiveDatagram();
                const QByteArray r = d.data();
                qint32 id = 0;
                for (char c : r.mid(17, r[16]))
                    id = (id << 8) | quint8(c);
                const QByteArray answer = Ber::message(r[4], "public", 0xa2, id, errorStatus, !!errorStatus,
                                                       bindings(quint8(r[13]), r[22 + r[16]]));
                writeDatagram(d.makeReply(errorStatus < 0 ? junk.left(40) : answer));
            }
        });
    }
};

const QString alarmDescr1 = UpsMib::alarmDescrColumn + ".1";
const QByteArray inputBad = Ber::oid("1.3.6.1.2.1.33.1.6.3.6");
} // namespace

class TestSnmp : public QObject
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
        QTest::addColumn<QStringList>("setup"); // version, instance form, count served at the end, its type
        QTest::addColumn<bool>("badCount");
        // The walk stops where the column ends, not after 100000 rows.
        QTest::newRow("v1") << QStringList{"v1", "std", "100000", "gauge"} << false;
        QTest::newRow("v3 SHA/AES128 dot0") << QStringList{"shaaes", "dot0", "100000", "gauge"} << false;
        // A count that cannot be one is a bad answer, not "no alarm".
        QTest::newRow("v1 dot0") << QStringList{"v1", "dot0", "-2147483648", "integer"} << true;
        QTest::newRow("v2c dot0") << QStringList{"v2c", "dot0", "-1", "integer"} << true;
        QTest::newRow("v3 MD5/DES") << QStringList{"md5des", "std", "x3", "string"} << true;
    }
    void alarmsPerVersion()
    {
        QFETCH(QStringList, setup);
        QFETCH(bool, badCount);
        QCOMPARE(m_agent.run("set-form", {setup[1]}), 0);
        SnmpHarness h(m_agent.port(), setup[0]);
        QVERIFY(h.connect());
        for (int alarm = 0; alarm < 4; ++alarm) {
            QVERIFY(m_agent.raise(alarmNames[alarm]));
            QCOMPARE(h.cycle(), QList<int>{alarm ? alarm - 1 : UpsUnconnected});
            QVERIFY(m_agent.clear(alarmNames[alarm]));
            QCOMPARE(h.cycle(), QList<int>{alarm ? alarm + 2 : UpsConnected});
        }
        QVERIFY(m_agent.raise("battery") && m_agent.raise("utility"));
        QCOMPARE(m_agent.run("add-other", {"1.3.6.1.2.1.33.1.6.3.9"}), 0);
        QCOMPARE(h.cycle(), (QList<int>{UtilityFail, BatteryLow}));
        QCOMPARE(h.thread->alarmCount(), 3);
        QCOMPARE(m_agent.run("set-count", {setup[2], "--type", setup[3]}), 0);
        QCOMPARE(h.cycle() + h.cycle(), QList<int>());
        QVERIFY(upsStatus.snapshot().batteryLow);
        QCOMPARE(h.thread->failCount(), badCount ? 2 : 0);
    }

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
        QTest::addColumn<QStringList>("present");
        // Count and table read in one cycle: an alarm raised with its trap is not Fail, Normal, Fail.
        QTest::newRow("v2c, battery low present, utility failure raised with its trap")
            << "v2c" << 0 << QStringList{"battery", "utility"};
        // At most one cycle in flight, however slow the link: a steady alarm set is logged once.
        const QStringList all{"utility", "battery", "upsfail"};
        QTest::newRow("v1, 250 ms each way, three alarms") << "v1" << 250 << all;
        QTest::newRow("v2c, 400 ms each way, three alarms") << "v2c" << 400 << all;
    }
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
        QVERIFY(!trapped || m_agent.raise(present.last(), h.trap("v2c")));
        QVERIFY(waitFor(events.size()));
        QVERIFY(h.waitHandled(h.thread->handledEvents(), 4, 15000));
        QCOMPARE(seen + SnmpHarness::takeEvents(), events);
    }

    void alarmsByTrap_data()
    {
        QTest::addColumn<QStringList>("kind");
        QTest::newRow("v1") << QStringList{"v1"};
        QTest::newRow("v2c, bindings .N.0") << QStringList{"v2c", "--binding-form", "dot0"};
        QTest::newRow("v2c, bindings without instance") << QStringList{"v2c", "--binding-form", "bare"};
        QTest::newRow("inform") << QStringList{"inform"};
        QTest::newRow("v3 SHA-256/AES256, own engine ID")
            << QStringList{"v3", "--user", "sha256aes256", "--engine-id", "0x8000000001020304"};
    }
    void alarmsByTrap()
    {
        QFETCH(QStringList, kind);
        SnmpHarness h(m_agent.port());
        QVERIFY(h.connect());
        for (int step = 0; step < 8; ++step) {
            const int alarm = step / 2;
            const quint64 handled = h.thread->handledEvents();
            QCOMPARE(m_agent.run(step % 2 ? "clear" : "raise", {alarmNames[alarm]}, h.trap(kind[0]) + kind.mid(1)), 0);
            QVERIFY(h.waitHandled(handled));
            const UpsStatusSnapshot s = upsStatus.snapshot();
            QCOMPARE(alarmOn(s, alarm), step % 2 == 0);
            // Only an authenticated notification stands for a poll answer.
            QCOMPARE(s.confirmed(alarm), alarm == 0 || kind[0].startsWith("v3"));
        }
    }

    void strangersOnTrapPort_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<int>("delivered");
        for (const char *kind : {"v1", "v2c", "v3", "inform"})
            QTest::addRow("%s from another address", kind) << "127.0.0.2" << kind << QByteArrayList() << 0;
        // Forged engine IDs must not fill the key cache and shut the agent's own SNMPv3 traps out.
        QByteArrayList forged;
        for (int i = 0; i < 130; ++i)
            forged << v3Message(Ber::tlv(0x30, Ber::octets("forged" + QByteArray::number(1000000 + i)) +
                                                   Ber::integer(1) + Ber::integer(1) + Ber::octets("shaaes") +
                                                   Ber::octets(QByteArray(12, 0)) + Ber::octets(QByteArray(8, 0))));
        QTest::newRow("130 SNMPv3 messages with forged engine IDs") << "127.0.0.2" << QString() << forged << 0;
        const auto garbage = [](const char *name, const QByteArray &datagram, int delivered = 0) {
            QTest::newRow(name) << "127.0.0.1" << QString() << QByteArrayList(qMax(delivered, 1), datagram)
                                << delivered;
        };
        const QByteArray trap = Ber::v2cTrap("public", "1.3.6.1.2.1.33.2.3", {{alarmDescr1, inputBad}});
        garbage("junk", junk);
        garbage("truncated trap", trap.left(trap.size() / 2));
        garbage("length of four gigabytes", trap.left(1) + "\x84\xff\xff\xff\xff" + trap.mid(2));
        garbage("length beyond the datagram", trap.left(1) + char(trap[1] + 40) + trap.mid(2));
        garbage("version 5", Ber::message(5, "public", 0xa7, 1, 0, 0, {{alarmDescr1, inputBad}}));
        garbage("SNMPv3 with bad security parameters",
                v3Message(Ber::tlv(0x30, Ber::octets(QByteArray(64, 'e')) + Ber::integer(-5))));
        // Only an OBJECT IDENTIFIER names a notification.
        const Ber::VarBinds stringTrapOid{{"1.3.6.1.2.1.1.3.0", Ber::integer(5, 0x43)},
                                          {"1.3.6.1.6.3.1.1.4.1.0", Ber::octets("x3")},
                                          {alarmDescr1, inputBad}};
        garbage("snmpTrapOID given as a string", Ber::message(1, "public", 0xa7, 1, 0, 0, stringTrapOid));
        // Only poll exchanges count toward the agent-lost rule.
        garbage("coldStart traps from the agent", Ber::v2cTrap("public", "1.3.6.1.6.3.1.1.5.1", {}), 3);
    }
    void strangersOnTrapPort()
    {
        QFETCH(QString, source);
        QFETCH(QString, kind);
        QFETCH(QByteArrayList, datagrams);
        QFETCH(int, delivered);
        SnmpHarness h(m_agent.port());
        QVERIFY(h.connect());
        UpsStatusSnapshot expected = upsStatus.snapshot();
        const quint64 handled = h.thread->handledEvents();
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress(source), 0));
        for (const QByteArray &d : datagrams)
            sender.writeDatagram(d, QHostAddress::LocalHost, quint16(params.snmp_port_trace));
        const QStringList from{"--source", source, "--timeout", "0.3", "--retries", "0"};
        QCOMPARE(kind.isEmpty() ? 0 : m_agent.run("raise", {"utility"}, h.trap(kind) + from), kind == "inform" ? 3 : 0);
        QVERIFY(m_agent.raise("battery", h.trap("v3")));
        QVERIFY(QTest::qWaitFor([] { return upsStatus.snapshot().batteryLow; }, 5000));
        QCOMPARE(h.thread->handledEvents(), handled + delivered + 1);
        expected.batteryLow = true;
        QVERIFY(upsStatus.snapshot() == expected);
    }

    void boundedAlarmRequest_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("reported");
        QTest::addColumn<int>("repetitions");
        QTest::newRow("v2c, 2147483647 alarms") << "v2c" << 2147483647 << snmp_thread::maxAlarmRows;
        QTest::newRow("v1, 100000 alarms") << "v1" << 100000 << 0;
    }
    void boundedAlarmRequest()
    {
        QFETCH(QString, version);
        QFETCH(int, reported);
        QFETCH(int, repetitions);
        int row = 0;
        QList<int> bulks;
        FakeAgent fake([&](quint8 pdu, int maxRepetitions) {
            if (pdu == 0xa0)
                return Ber::VarBinds{{UpsMib::alarmsPresent, Ber::integer(reported, 0x42)}};
            Ber::VarBinds rows;
            for (int i = 0; i < (pdu == 0xa5 ? maxRepetitions : 1); ++i, ++row) {
                rows.append({UpsMib::alarmDescrColumn + "." + QString::number(row + 1),
                             row == 1 ? inputBad : Ber::oid("1.3.6.1.2.1.33.1.6.3.9")});
            }
            bulks << (pdu == 0xa5 ? maxRepetitions : 0);
            return rows;
        });
        SnmpHarness h(fake.localPort(), version);
        QCOMPARE(h.cycle(), (QList<int>{AgentConnected, UpsConnected, UtilityFail}));
        QCOMPARE(h.thread->alarmCount(), reported);
        QCOMPARE(row, qMin(reported, snmp_thread::maxAlarmRows));
        QCOMPARE(bulks.value(0), repetitions);
    }

    void failedExchanges_data()
    {
        QTest::addColumn<QStringList>("user"); // name and passwords; none: v2c to a fake agent
        QTest::addColumn<QByteArray>("value"); // of its upsAlarmsPresent; empty: no binding
        QTest::addColumn<int>("errorStatus");  // -1: junk
        QTest::newRow("junk") << QStringList() << QByteArray() << -1;
        QTest::newRow("error status") << QStringList() << Ber::tlv(0x05, {}) << 5;
        QTest::newRow("noSuchObject only") << QStringList() << Ber::tlv(0x80, {}) << 0;
        QTest::newRow("no bindings") << QStringList() << QByteArray() << 0;
        const auto v3 = [](const char *name, const QStringList &user) {
            QTest::newRow(name) << user << QByteArray() << 0;
        };
        v3("not in our table", {"nosuchuser"});
        v3("unknown to the agent", {"ghost", "ghostpass1", "ghostpriv1"});
        v3("wrong authentication password", {"shaaes", "wrongpass1", "shaaespriv"});
        v3("wrong privacy password", {"shaaes", "shaaespass", "wrongpriv1"});
        v3("password too short", {"shaaes", "short", "shaaespriv"});
    }
    // The keys made from wrong credentials are dropped.
    void failedExchanges()
    {
        QFETCH(QStringList, user);
        QFETCH(QByteArray, value);
        QFETCH(int, errorStatus);
        FakeAgent fake(
            [&](quint8, int) {
                return Ber::VarBinds(!value.isEmpty(), {UpsMib::alarmsPresent, value});
            },
            errorStatus);
        SnmpHarness h(user.isEmpty() ? fake.localPort() : m_agent.port(), user.value(0, "v2c"));
        if (user.size() == 3)
            snmpV3->usm().addUser({user[0], UsmAuthProtocol::HmacSha, user[1], UsmPrivProtocol::Aes128, user[2]});
        QCOMPARE(h.cycle() + h.cycle() + h.cycle(), QList<int>{AgentUnconnected});
        if (user.isEmpty())
            return;
        snmpV3->usm().addUser(UpsAgentFixture::agentUsers().at(1));
        SnmpHarness::changeParams([](Params &p) { p.securityName = "shaaes"; });
        QList<int> seen;
        QVERIFY(QTest::qWaitFor([&] { return (seen += h.cycle()).contains(UpsConnected); }, 10000));
        QCOMPARE(seen, (QList<int>{AgentConnected, UpsConnected}));
    }

    void trapPortInUse()
    {
        QUdpSocket squatter;
        QTemporaryFile capture;
        const int savedErr = dup(STDERR_FILENO);
        QVERIFY(squatter.bind(QHostAddress::AnyIPv4, 0) && capture.open() && dup2(capture.handle(), STDERR_FILENO) > 0);
        SnmpHarness h(m_agent.port(), "v2c", squatter.localPort());
        dup2(savedErr, STDERR_FILENO);
        QVERIFY(h.connect());
        QCOMPARE(int(snmpSession->listenPort()), 0);
        const QString text = fileBytes(capture.fileName());
        QCOMPARE(text.count('\n'), 1);
        QVERIFY2(text.contains(QString("UDP port %1").arg(squatter.localPort())), qPrintable(text));
    }

    void sessionFiles()
    {
        TempDataDir dir;
        const QString counter = dir.file("snmpv3_boot_counter"), path = usmUsersFilePath();
        QVERIFY(saveBootCounter(counter, "other-engine", 41));
        for (quint32 expected = 1; expected <= 3; ++expected) {
            QVERIFY(openSnmpSession());
            QCOMPARE(snmpV3->engineBoots(), expected);
            closeSnmpSession();
            QCOMPARE(readBootCounter(counter, "not_needed"), expected);
        }
        QCOMPARE(readBootCounter(counter, "other-engine"), 41u);
        QCOMPARE(QFile::permissions(counter) & 0x0077, QFile::Permissions());
        UsmUserTable table;
        table.addUser(UpsAgentFixture::agentUsers().at(0));
        QVERIFY(!table.load(path).fileFound && table.count() == 0);
        QVERIFY(writeFile(path, "old") &&
                QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        QList<UsmUser> users = UpsAgentFixture::agentUsers();
        users << UsmUser{"päss", UsmAuthProtocol::HmacSha224, "wörd", UsmPrivProtocol::None, {}}
              << UsmUser{
                     QString(300, 'n'), UsmAuthProtocol::HmacSha512, QString(70000, 'a'), UsmPrivProtocol::Aes192, {}};
        for (const UsmUser &u : users)
            table.addUser(u);
        QVERIFY(table.save(path));
        QCOMPARE(QFile::permissions(path) & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
        users.last().authPassword.truncate(0xffff);
        QVERIFY(openSnmpSession());
        QCOMPARE(snmpV3->usm().users(), users);
        closeSnmpSession();
        QVERIFY(QFile::resize(path, QFileInfo(path).size() - 4));
        QVERIFY(table.load(path).damaged);
        QCOMPARE(table.users(), users.mid(0, users.size() - 1));
    }

private:
    UpsAgentFixture m_agent;
};

QTEST_GUILESS_MAIN(TestSnmp)
#include "tst_snmp.moc"
