#include "berpacket.h"
#include "snmpharness.h"

#include <QRandomGenerator>
#include <QUdpSocket>

#include <cstdio>
#include <unistd.h>

namespace {
// An agent of our own on 127.0.0.1 that answers every request as the test says.
class FakeAgent : public QObject
{
public:
    std::function<QByteArray(const Ber::Request &, const QByteArray &raw)> answer;
    QList<Ber::Request> requests;

    FakeAgent()
    {
        m_socket.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, this, [this] {
            while (m_socket.hasPendingDatagrams()) {
                QHostAddress from;
                quint16 port = 0;
                QByteArray data(int(m_socket.pendingDatagramSize()), 0);
                m_socket.readDatagram(data.data(), data.size(), &from, &port);
                Ber::Request r;
                Ber::parseRequest(data, &r);
                requests.append(r);
                const QByteArray reply = answer ? answer(r, data) : QByteArray();
                if (!reply.isEmpty())
                    m_socket.writeDatagram(reply, from, port);
            }
        });
    }
    int port() const { return m_socket.localPort(); }

private:
    QUdpSocket m_socket;
};

QByteArray response(const Ber::Request &r, const Ber::VarBinds &bindings, int errorStatus = 0)
{
    return Ber::message(r.version, r.community, 0xa2, r.requestId, errorStatus, errorStatus ? 1 : 0, bindings);
}

const QString alarmDescr1 = UpsMib::alarmDescrColumn + QStringLiteral(".1");
} // namespace

using Answer = std::function<QByteArray(const Ber::Request &, const QByteArray &)>;
Q_DECLARE_METATYPE(Answer)

// Traps and informs through the real snmptrap, garbage, and agents that answer badly.
class TestSnmpTraps : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void alarmsByTrap_data();
    void alarmsByTrap();
    void trapFromForeignAddress_data();
    void trapFromForeignAddress();
    void garbageOnTrapPort_data();
    void garbageOnTrapPort();
    void badAnswers_data();
    void badAnswers();
    void boundedAlarmRequest_data();
    void boundedAlarmRequest();
    void badV3User_data();
    void badV3User();
    void trapPortInUse();

private:
    UpsAgentFixture m_agent;
};

void TestSnmpTraps::initTestCase()
{
    QVERIFY2(m_agent.start(), qPrintable(UpsAgentFixture::toolPath()));
}

void TestSnmpTraps::init()
{
    QVERIFY(m_agent.reset());
    QVERIFY(m_agent.setForm("std"));
}

void TestSnmpTraps::alarmsByTrap_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("bindingForm");
    QTest::addColumn<int>("alarm");
    const struct
    {
        const char *name;
        const char *kind;
        QStringList extra;
    } kinds[] = {
        {"v1", "v1", {}},
        {"v2c", "v2c", {}},
        {"inform", "inform", {}},
        {"v3 SHA/AES128", "v3", {}},
        {"v3 MD5/DES", "v3", {"--user", "md5des"}},
        {"v3 SHA-256/AES256 own engine", "v3", {"--user", "sha256aes256", "--engine-id", "0x8000000001020304"}},
        {"v3 inform", "v3inform", {}},
    };
    for (const auto &k : kinds) {
        for (int alarm = 0; alarm < 4; ++alarm) {
            QTest::addRow("%s %s", k.name, qPrintable(UpsAgentFixture::alarmName(alarm)))
                << QString::fromLatin1(k.kind) << k.extra << QStringLiteral("std") << alarm;
        }
    }
    for (const char *form : {"dot0", "bare"}) {
        QTest::addRow("v2c utility, bindings %s", form)
            << QStringLiteral("v2c") << QStringList() << QString::fromLatin1(form) << 1;
    }
}

void TestSnmpTraps::alarmsByTrap()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, extra);
    QFETCH(QString, bindingForm);
    QFETCH(int, alarm);
    SnmpHarness h(m_agent.port());
    h.cycle();
    QCOMPARE(upsStatus.snapshot().upsLink, int(LinkGood));
    SnmpHarness::takeEvents();

    auto field = [alarm] {
        const UpsStatusSnapshot s = upsStatus.snapshot();
        switch (alarm) {
        case 0:
            return s.upsLink == LinkLost;
        case 1:
            return s.utilityFail;
        case 2:
            return s.batteryLow;
        default:
            return s.upsFail;
        }
    };
    const QStringList args = extra + QStringList{"--binding-form", bindingForm};
    // No poll runs meanwhile, so only the notification can have changed UpsStatus.
    quint64 handled = h.thread->handledEvents();
    QVERIFY(m_agent.raise(UpsAgentFixture::alarmName(alarm), kind, h.trapPort(), args));
    QVERIFY(h.waitHandled(handled));
    QVERIFY(field());
    QCOMPARE(upsStatus.snapshot().agentLink, int(LinkGood));

    handled = h.thread->handledEvents();
    QVERIFY(m_agent.clear(UpsAgentFixture::alarmName(alarm), kind, h.trapPort(), args));
    QVERIFY(h.waitHandled(handled));
    QVERIFY(!field());
    QCOMPARE(h.thread->failCount(), 0);
}

void TestSnmpTraps::trapFromForeignAddress_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("ownKind");
    QTest::newRow("v2c") << QStringLiteral("v2c") << QStringLiteral("v2c");
    QTest::newRow("v1") << QStringLiteral("v1") << QStringLiteral("v1");
    QTest::newRow("v3") << QStringLiteral("v3") << QStringLiteral("v3");
    // Not answered either: no reflector for anyone on the network.
    QTest::newRow("inform") << QStringLiteral("inform") << QStringLiteral("v2c");
    // Keys are derived only for the agent's datagrams, so forged engine IDs cannot
    // fill the key cache and shut the agent's own SNMPv3 traps out.
    QTest::newRow("130 SNMPv3 messages with forged engine IDs") << QStringLiteral("forged v3") << QStringLiteral("v3");
}

void TestSnmpTraps::trapFromForeignAddress()
{
    QFETCH(QString, kind);
    QFETCH(QString, ownKind);
    SnmpHarness h(m_agent.port());
    h.cycle();
    SnmpHarness::takeEvents();
    const quint64 handled = h.thread->handledEvents();
    if (kind == QLatin1String("forged v3")) {
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
        QRandomGenerator gen(3414);
        for (int i = 0; i < 130; ++i) {
            QByteArray engineId(12, 0);
            for (char &c : engineId)
                c = char(gen.bounded(256));
            const QByteArray usm =
                Ber::tlv(0x30, Ber::octets(engineId) + Ber::integer(1) + Ber::integer(1) + Ber::octets("shaaes") +
                                   Ber::octets(QByteArray(12, 0)) + Ber::octets(QByteArray(8, 0)));
            const QByteArray header = Ber::tlv(0x30, Ber::integer(i + 1) + Ber::integer(65507) +
                                                         Ber::octets(QByteArray(1, 3)) + Ber::integer(3));
            sender.writeDatagram(
                Ber::tlv(0x30, Ber::integer(3) + header + Ber::octets(usm) + Ber::octets(QByteArray(48, 'x'))),
                QHostAddress::LocalHost, quint16(h.trapPort()));
        }
    } else {
        const QStringList args = QStringList{"utility", "--trap", kind, "--trap-port", QString::number(h.trapPort())} +
                                 QStringList{"--source", "127.0.0.2", "--timeout", "0.3", "--retries", "0"};
        QCOMPARE(m_agent.run(QStringLiteral("raise"), args), kind == QLatin1String("inform") ? 3 : 0);
    }
    // The agent's own notification, sent after the foreign one, is the first that counts.
    QVERIFY(m_agent.raise("battery", ownKind, h.trapPort()));
    QVERIFY(h.waitHandled(handled));
    QTest::qWait(100);
    QCOMPARE(h.thread->handledEvents(), handled + 1);
    QVERIFY(upsStatus.snapshot().batteryLow);
    QVERIFY(!upsStatus.snapshot().utilityFail);
    QCOMPARE(h.thread->failCount(), 0);
}

void TestSnmpTraps::garbageOnTrapPort_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("delivered");
    QByteArray random(600, 0);
    QRandomGenerator gen(1628);
    for (char &c : random)
        c = char(gen.bounded(256));
    const QByteArray trap =
        Ber::v2cTrap("public", "1.3.6.1.2.1.33.2.3", {{alarmDescr1, Ber::oid("1.3.6.1.2.1.33.1.6.3.6")}});
    QTest::newRow("random bytes") << random << 0;
    QTest::newRow("random bytes in a sequence") << Ber::tlv(0x30, random.left(100)) << 0;
    QTest::newRow("empty datagram") << QByteArray() << 0;
    QTest::newRow("truncated trap") << trap.left(trap.size() / 2) << 0;
    QByteArray oversized = trap;
    oversized[1] = char(0x84);
    QTest::newRow("length of four gigabytes") << oversized + QByteArray("\xff\xff\xff\xff", 4) << 0;
    QByteArray longer = trap;
    longer[1] = char(longer[1] + 40);
    QTest::newRow("length beyond the datagram") << longer << 0;
    QTest::newRow("indefinite length") << QByteArray("\x30\x80\x02\x01\x01\x00\x00", 7) << 0;
    QTest::newRow("version 5") << Ber::message(5, "public", 0xa7, 1, 0, 0,
                                               {{alarmDescr1, Ber::oid("1.3.6.1.2.1.33.1.6.3.6")}})
                               << 0;
    QTest::newRow("SNMPv3 header only") << Ber::tlv(0x30, Ber::integer(3) + Ber::tlv(0x30, Ber::integer(1))) << 0;
    QTest::newRow("SNMPv3 with bad security parameters")
        << Ber::tlv(0x30,
                    Ber::integer(3) +
                        Ber::tlv(0x30, Ber::integer(1) + Ber::integer(65507) + Ber::octets("\x04") + Ber::integer(3)) +
                        Ber::octets(Ber::tlv(0x30, Ber::octets(QByteArray(64, 'e')) + Ber::integer(-5))))
        << 0;
    QTest::newRow("a response instead of a trap")
        << Ber::message(1, "public", 0xa2, 7, 0, 0, {{UpsMib::alarmsPresent, Ber::integer(0, 0x42)}}) << 0;
    // Only an OBJECT IDENTIFIER names a notification.
    QTest::newRow("snmpTrapOID given as a string")
        << Ber::message(1, "public", 0xa7, 1, 0, 0,
                        {{QStringLiteral("1.3.6.1.2.1.1.3.0"), Ber::integer(5, 0x43)},
                         {QStringLiteral("1.3.6.1.6.3.1.1.4.1.0"), Ber::octets("x3")},
                         {alarmDescr1, Ber::oid("1.3.6.1.2.1.33.1.6.3.6")}})
        << 0;
    // A trap without alarm bindings is no failed exchange: the agent is not "lost".
    QTest::newRow("coldStart traps from the agent") << Ber::v2cTrap("public", "1.3.6.1.6.3.1.1.5.1", {}) << 20;
}

void TestSnmpTraps::garbageOnTrapPort()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, delivered);
    SnmpHarness h(m_agent.port());
    h.cycle();
    SnmpHarness::takeEvents();
    const UpsStatusSnapshot before = upsStatus.snapshot();
    const quint64 handled = h.thread->handledEvents();
    QUdpSocket sender;
    for (int i = 0; i < 20; ++i)
        sender.writeDatagram(datagram, QHostAddress::LocalHost, quint16(h.trapPort()));
    QTest::qWait(150);
    QCOMPARE(h.thread->handledEvents(), handled + delivered);
    QVERIFY(upsStatus.snapshot() == before);
    QCOMPARE(h.thread->failCount(), 0);

    // The receiver still works.
    QVERIFY(m_agent.raise("battery", "v2c", h.trapPort()));
    QVERIFY(h.waitHandled(handled + delivered));
    QVERIFY(upsStatus.snapshot().batteryLow);
}

void TestSnmpTraps::badAnswers_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<int>("agentLink");
    QTest::addColumn<QList<int>>("events");

    const QList<int> lost{AgentUnconnected};
    QTest::newRow("random bytes") << Answer([](const Ber::Request &, const QByteArray &) {
        return QByteArray("\x30\x29\x02\x01\x01\x04\x06public\xa2\x1c\x02\x04garbage", 27);
    }) << int(LinkLost) << lost;
    QTest::newRow("the request echoed") << Answer([](const Ber::Request &, const QByteArray &raw) { return raw; })
                                        << int(LinkLost) << lost;
    QTest::newRow("truncated answer") << Answer([](const Ber::Request &r, const QByteArray &) {
        return response(r, {{UpsMib::alarmsPresent, Ber::integer(0, 0x42)}}).chopped(5);
    }) << int(LinkLost) << lost;
    QTest::newRow("oversized length") << Answer([](const Ber::Request &r, const QByteArray &) {
        QByteArray a = response(r, {{UpsMib::alarmsPresent, Ber::integer(0, 0x42)}});
        a[1] = char(0x7f);
        return a;
    }) << int(LinkLost) << lost;
    QTest::newRow("wrong request id") << Answer([](Ber::Request r, const QByteArray &) {
        r.requestId ^= 0x5a5a;
        return response(r, {{UpsMib::alarmsPresent, Ber::integer(0, 0x42)}});
    }) << int(LinkLost) << lost;
    QTest::newRow("error status") << Answer([](const Ber::Request &r, const QByteArray &) {
        return response(r, {{UpsMib::alarmsPresent, Ber::null()}}, 5);
    }) << int(LinkLost) << lost;
    QTest::newRow("noSuchObject only") << Answer([](const Ber::Request &r, const QByteArray &) {
        return response(r, {{UpsMib::alarmsPresent, Ber::null(0x80)}});
    }) << int(LinkLost) << lost;
    QTest::newRow("no bindings") << Answer([](const Ber::Request &r, const QByteArray &) { return response(r, {}); })
                                 << int(LinkLost) << lost;
}

void TestSnmpTraps::badAnswers()
{
    QFETCH(Answer, answer);
    QFETCH(int, agentLink);
    QFETCH(QList<int>, events);
    FakeAgent fake;
    fake.answer = answer;
    SnmpHarness h(fake.port());
    for (int i = 0; i < 3; ++i)
        h.cycle();
    QCOMPARE(upsStatus.snapshot().agentLink, agentLink);
    QCOMPARE(SnmpHarness::takeEvents(), events);
    QCOMPARE(h.thread->alarmCount(), 0);
    QCOMPARE(fake.requests.size(), 3);
}

void TestSnmpTraps::boundedAlarmRequest_data()
{
    QTest::addColumn<int>("msgVersion");
    QTest::addColumn<int>("reported");
    QTest::addColumn<int>("repetitions");
    QTest::newRow("v2c, 100000 alarms") << 2 << 100000 << snmp_thread::maxAlarmRows;
    QTest::newRow("v2c, 3 alarms") << 2 << 3 << 3;
    QTest::newRow("v2c, 2147483647 alarms") << 2 << 2147483647 << snmp_thread::maxAlarmRows;
    QTest::newRow("v1, 100000 alarms") << 1 << 100000 << 0;
}

// An agent that claims many alarms and serves every row it is asked for: the walk
// stops at the cap.
void TestSnmpTraps::boundedAlarmRequest()
{
    QFETCH(int, msgVersion);
    QFETCH(int, reported);
    QFETCH(int, repetitions);
    FakeAgent fake;
    fake.answer = [&](const Ber::Request &r, const QByteArray &) {
        if (r.pduTag == 0xa0)
            return response(r, {{UpsMib::alarmsPresent, Ber::integer(reported, 0x42)}});
        Ber::VarBinds rows;
        int row = r.oids.value(0) == UpsMib::alarmDescrColumn ? 0 : r.oids.value(0).section('.', -1).toInt();
        const int n = r.pduTag == 0xa5 ? r.maxRepetitions : 1;
        for (int i = 0; i < n; ++i) {
            ++row;
            rows.append({UpsMib::alarmDescrColumn + QLatin1Char('.') + QString::number(row),
                         Ber::oid(row == 2 ? "1.3.6.1.2.1.33.1.6.3.6" : "1.3.6.1.2.1.33.1.6.3.9")});
        }
        return response(r, rows);
    };
    SnmpHarness h(fake.port(), msgVersion);
    h.cycle();
    QCOMPARE(h.thread->alarmCount(), reported);
    fake.requests.clear();
    h.cycle();
    const int limit = qMin(reported, snmp_thread::maxAlarmRows);
    int rows = 0;
    for (const Ber::Request &r : fake.requests) {
        if (r.pduTag == 0xa5) {
            QCOMPARE(r.maxRepetitions, repetitions);
            rows += r.maxRepetitions;
        } else if (r.pduTag == 0xa1) {
            ++rows;
        }
    }
    QCOMPARE(rows, limit);
    QVERIFY(upsStatus.snapshot().utilityFail);
    QCOMPARE(h.thread->failCount(), 0);
}

void TestSnmpTraps::badV3User_data()
{
    QTest::addColumn<QString>("securityName");
    QTest::addColumn<QString>("authPassword");
    QTest::addColumn<QString>("privPassword");
    QTest::newRow("not in our table") << QStringLiteral("nosuchuser") << QString() << QString();
    QTest::newRow("unknown to the agent")
        << QStringLiteral("ghost") << QStringLiteral("ghostpass1") << QStringLiteral("ghostpriv1");
    QTest::newRow("wrong authentication password")
        << QStringLiteral("shaaes") << QStringLiteral("wrongpass1") << QStringLiteral("shaaespriv");
    QTest::newRow("wrong privacy password")
        << QStringLiteral("shaaes") << QStringLiteral("shaaespass") << QStringLiteral("wrongpriv1");
    QTest::newRow("password too short") << QStringLiteral("shaaes") << QStringLiteral("short")
                                        << QStringLiteral("shaaespriv");
}

void TestSnmpTraps::badV3User()
{
    QFETCH(QString, securityName);
    QFETCH(QString, authPassword);
    QFETCH(QString, privPassword);
    SnmpHarness h(m_agent.port(), 3, securityName);
    QVERIFY(h.opened());
    if (!authPassword.isEmpty()) {
        snmpV3->usm().addUser(
            {securityName, UsmAuthProtocol::HmacSha, authPassword, UsmPrivProtocol::Aes128, privPassword});
    }
    for (int i = 0; i < 3; ++i) {
        h.cycle();
        QCOMPARE(h.thread->failCount(), i + 1);
    }
    QCOMPARE(upsStatus.snapshot().agentLink, int(LinkLost));
    QCOMPARE(SnmpHarness::takeEvents(), QList<int>{AgentUnconnected});

    // Once the credentials are right the same user answers: the old keys were dropped.
    snmpV3->usm().addUser(UpsAgentFixture::agentUsers().at(3));
    SnmpHarness::changeParams([](Params &p) { p.securityName = QStringLiteral("shaaes"); });
    QVERIFY(QTest::qWaitFor(
        [&] {
            h.cycle();
            return upsStatus.snapshot().agentLink == LinkGood;
        },
        10000));
    QCOMPARE(SnmpHarness::takeEvents(), (QList<int>{AgentConnected, UpsConnected}));
}

void TestSnmpTraps::trapPortInUse()
{
    QUdpSocket squatter;
    QVERIFY(squatter.bind(QHostAddress::AnyIPv4, 0));
    const int port = squatter.localPort();

    std::fflush(stderr);
    const int savedErr = dup(STDERR_FILENO);
    FILE *capture = std::tmpfile();
    dup2(fileno(capture), STDERR_FILENO);
    {
        SnmpHarness h(m_agent.port(), 2, QString(), port);
        std::fflush(stderr);
        dup2(savedErr, STDERR_FILENO);
        // Polling goes on without the trap port.
        h.cycle();
        QCOMPARE(SnmpHarness::takeEvents(), (QList<int>{AgentConnected, UpsConnected}));
        QCOMPARE(int(snmpSession->listenPort()), 0);
    }
    close(savedErr);
    std::rewind(capture);
    char buf[1024] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, capture);
    std::fclose(capture);
    const QString text = QString::fromLocal8Bit(buf, int(n));
    QCOMPARE(text.count(QLatin1Char('\n')), 1);
    QVERIFY2(text.contains(QStringLiteral("UDP port %1").arg(port)), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("1024 or above")), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestSnmpTraps)
#include "tst_snmptraps.moc"
