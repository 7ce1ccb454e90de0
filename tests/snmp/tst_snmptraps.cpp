#include "berpacket.h"
#include "snmpharness.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QUdpSocket>

#include <cstdio>
#include <unistd.h>

namespace {
QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, 0);
    QRandomGenerator gen(seed);
    for (char &c : bytes)
        c = char(gen.bounded(256));
    return bytes;
}

// A request as our agent below sees it, read at the fixed places of net-snmp's short
// v1/v2c requests with community "public".
struct Request
{
    explicit Request(const QByteArray &d) : pduTag(quint8(d[13])), maxRepetitions(d[22 + d[16]])
    {
        for (char c : d.mid(17, d[16]))
            id = (id << 8) | quint8(c);
        version = d[4];
    }
    quint8 pduTag;
    int maxRepetitions;
    int version = 0;
    qint32 id = 0;
};

// An agent of our own on 127.0.0.1 that answers every request as the test says.
class FakeAgent
{
public:
    explicit FakeAgent(const std::function<QByteArray(const Request &)> &answer)
    {
        m_socket.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this, answer] {
            while (m_socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = m_socket.receiveDatagram();
                m_socket.writeDatagram(d.makeReply(answer(Request(d.data()))));
                ++requests;
            }
        });
    }
    int port() const { return m_socket.localPort(); }
    int requests = 0;

private:
    QUdpSocket m_socket;
};

QByteArray response(const Request &r, const Ber::VarBinds &bindings, int errorStatus = 0)
{
    return Ber::message(r.version, "public", 0xa2, r.id, errorStatus, errorStatus ? 1 : 0, bindings);
}

const QString alarmDescr1 = UpsMib::alarmDescrColumn + ".1";
const QByteArray inputBad = Ber::oid("1.3.6.1.2.1.33.1.6.3.6");
} // namespace

// Traps and informs through the real snmptrap, garbage, and agents that answer badly.
class TestSnmpTraps : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_agent.start()); }
    void init() { QVERIFY(m_agent.reset()); }

    void alarmsByTrap_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("extra");
        QTest::newRow("v1") << "v1" << QStringList();
        QTest::newRow("v2c, bindings .N.0") << "v2c" << QStringList{"--binding-form", "dot0"};
        QTest::newRow("v2c, bindings without instance") << "v2c" << QStringList{"--binding-form", "bare"};
        QTest::newRow("inform") << "inform" << QStringList();
        QTest::newRow("v3 SHA/AES128") << "v3" << QStringList();
        QTest::newRow("v3 MD5/DES") << "v3" << QStringList{"--user", "md5des"};
        QTest::newRow("v3 SHA-256/AES256, own engine ID")
            << "v3" << QStringList{"--user", "sha256aes256", "--engine-id", "0x8000000001020304"};
        QTest::newRow("v3 inform") << "v3inform" << QStringList();
    }
    // Each alarm raised and cleared by a notification alone: no poll runs meanwhile.
    void alarmsByTrap()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, extra);
        SnmpHarness h(m_agent.port());
        QVERIFY(h.connect());
        for (int alarm = 0; alarm < 8; ++alarm) {
            const quint64 handled = h.thread->handledEvents();
            const QStringList args{alarmNames[alarm / 2], "--trap", kind, "--trap-port", QString::number(h.trapPort())};
            QCOMPARE(m_agent.run(alarm % 2 ? "clear" : "raise", args + extra), 0);
            QVERIFY(h.waitHandled(handled));
            const UpsStatusSnapshot s = upsStatus.snapshot();
            QCOMPARE(alarmOn(s, alarm / 2), alarm % 2 == 0);
            // Only an authenticated notification stands for a poll answer.
            QCOMPARE(s.confirmed(alarm / 2), alarm < 2 || kind.startsWith("v3"));
        }
        QCOMPARE(upsStatus.snapshot().agentLink, int(LinkGood));
        QCOMPARE(h.thread->failCount(), 0);
    }

    void strangersOnTrapPort_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("kind"); // a notification of upsagent's, sent from source
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<int>("delivered");
        for (const char *kind : {"v1", "v2c", "v3", "inform"})
            QTest::addRow("%s from another address", kind) << "127.0.0.2" << kind << QByteArrayList() << 0;
        // Keys are derived only for the agent's datagrams, so forged engine IDs cannot
        // fill the key cache and shut the agent's own SNMPv3 traps out.
        QByteArrayList forged;
        for (int i = 0; i < 130; ++i) {
            const QByteArray usm = Ber::tlv(0x30, Ber::octets(randomBytes(12, i)) + Ber::integer(1) + Ber::integer(1) +
                                                      Ber::octets("shaaes") + Ber::octets(QByteArray(12, 0)) +
                                                      Ber::octets(QByteArray(8, 0)));
            const QByteArray header =
                Ber::tlv(0x30, Ber::integer(i + 1) + Ber::integer(65507) + Ber::octets("\x03") + Ber::integer(3));
            forged << Ber::tlv(0x30, Ber::integer(3) + header + Ber::octets(usm) + Ber::octets(QByteArray(48, 'x')));
        }
        QTest::newRow("130 SNMPv3 messages with forged engine IDs") << "127.0.0.2" << QString() << forged << 0;
        const QByteArray trap = Ber::v2cTrap("public", "1.3.6.1.2.1.33.2.3", {{alarmDescr1, inputBad}});
        const auto garbage = [](const char *name, const QByteArray &datagram) {
            QTest::newRow(name) << "127.0.0.1" << QString() << QByteArrayList{datagram} << 0;
        };
        garbage("random bytes", randomBytes(600, 1628));
        garbage("truncated trap", trap.left(trap.size() / 2));
        garbage("length of four gigabytes", trap.left(1) + "\x84\xff\xff\xff\xff" + trap.mid(2));
        garbage("length beyond the datagram", trap.left(1) + char(trap[1] + 40) + trap.mid(2));
        garbage("version 5", Ber::message(5, "public", 0xa7, 1, 0, 0, {{alarmDescr1, inputBad}}));
        garbage("SNMPv3 with bad security parameters",
                Ber::tlv(0x30, Ber::integer(3) +
                                   Ber::tlv(0x30, Ber::integer(1) + Ber::integer(65507) + Ber::octets("\x04") +
                                                      Ber::integer(3)) +
                                   Ber::octets(Ber::tlv(0x30, Ber::octets(QByteArray(64, 'e')) + Ber::integer(-5)))));
        garbage("a response instead of a trap",
                Ber::message(1, "public", 0xa2, 7, 0, 0, {{UpsMib::alarmsPresent, Ber::integer(0, 0x42)}}));
        // Only an OBJECT IDENTIFIER names a notification.
        garbage("snmpTrapOID given as a string", Ber::message(1, "public", 0xa7, 1, 0, 0,
                                                              {{"1.3.6.1.2.1.1.3.0", Ber::integer(5, 0x43)},
                                                               {"1.3.6.1.6.3.1.1.4.1.0", Ber::octets("x3")},
                                                               {alarmDescr1, inputBad}}));
        // A trap without alarm bindings is no failed exchange: the agent is not "lost".
        QTest::newRow("coldStart traps from the agent")
            << "127.0.0.1" << QString() << QByteArrayList(3, Ber::v2cTrap("public", "1.3.6.1.6.3.1.1.5.1", {})) << 3;
    }
    // Nothing a stranger sends, nor garbage, changes anything; the agent's own SNMPv3
    // trap, sent after it, is still the first that counts.
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
            sender.writeDatagram(d, QHostAddress::LocalHost, quint16(h.trapPort()));
        // An inform from a stranger is not answered either: no reflector for anyone.
        const QStringList args{"utility",  "--trap", kind,        "--trap-port", QString::number(h.trapPort()),
                               "--source", source,   "--timeout", "0.3",         "--retries",
                               "0"};
        QCOMPARE(kind.isEmpty() ? 0 : m_agent.run("raise", args), kind == "inform" ? 3 : 0);
        QVERIFY(m_agent.raise("battery", "v3", h.trapPort()));
        QVERIFY(QTest::qWaitFor([] { return upsStatus.snapshot().batteryLow; }, 5000));
        QCOMPARE(h.thread->handledEvents(), handled + delivered + 1);
        expected.batteryLow = true;
        QVERIFY(upsStatus.snapshot() == expected);
        QCOMPARE(h.thread->failCount(), 0);
    }

    void badAnswers_data()
    {
        QTest::addColumn<QByteArray>("value"); // of upsAlarmsPresent; empty: no binding
        QTest::addColumn<int>("errorStatus");
        QTest::addColumn<int>("cut");
        QTest::newRow("truncated answer") << Ber::integer(0, 0x42) << 0 << 5;
        QTest::newRow("error status") << Ber::null() << 5 << 0;
        QTest::newRow("noSuchObject only") << Ber::null(0x80) << 0 << 0;
        QTest::newRow("no bindings") << QByteArray() << 0 << 0;
    }
    // Each counts as a failed exchange: after three of them the agent is lost.
    void badAnswers()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, errorStatus);
        QFETCH(int, cut);
        FakeAgent fake([&](const Request &r) {
            const Ber::VarBinds bindings{{UpsMib::alarmsPresent, value}};
            return response(r, value.isEmpty() ? Ber::VarBinds() : bindings, errorStatus).chopped(cut);
        });
        SnmpHarness h(fake.port());
        QCOMPARE(h.cycle() + h.cycle() + h.cycle(), QList<int>{AgentUnconnected});
        QCOMPARE(h.thread->alarmCount(), 0);
        QCOMPARE(fake.requests, 3);
    }

    void boundedAlarmRequest_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("reported");
        QTest::addColumn<int>("repetitions");
        QTest::newRow("v2c, 2147483647 alarms") << "v2c" << 2147483647 << snmp_thread::maxAlarmRows;
        QTest::newRow("v2c, 3 alarms") << "v2c" << 3 << 3;
        QTest::newRow("v1, 100000 alarms") << "v1" << 100000 << 0;
    }
    // An agent that claims many alarms and serves every row it is asked for: the walk
    // stops at the count or at the cap.
    void boundedAlarmRequest()
    {
        QFETCH(QString, version);
        QFETCH(int, reported);
        QFETCH(int, repetitions);
        int row = 0;
        QList<int> bulks;
        FakeAgent fake([&](const Request &r) {
            if (r.pduTag == 0xa0)
                return response(r, {{UpsMib::alarmsPresent, Ber::integer(reported, 0x42)}});
            if (r.pduTag == 0xa5)
                bulks.append(r.maxRepetitions);
            Ber::VarBinds rows;
            for (int i = 0; i < (r.pduTag == 0xa5 ? r.maxRepetitions : 1); ++i) {
                rows.append({UpsMib::alarmDescrColumn + "." + QString::number(++row),
                             row == 2 ? inputBad : Ber::oid("1.3.6.1.2.1.33.1.6.3.9")});
            }
            return response(r, rows);
        });
        SnmpHarness h(fake.port(), version);
        QCOMPARE(h.cycle(), (QList<int>{AgentConnected, UpsConnected, UtilityFail}));
        QCOMPARE(h.thread->alarmCount(), reported);
        QCOMPARE(row, qMin(reported, snmp_thread::maxAlarmRows));
        QCOMPARE(bulks.value(0), repetitions);
    }

    void badV3User_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("passwords");
        QTest::newRow("not in our table") << "nosuchuser" << QStringList();
        QTest::newRow("unknown to the agent") << "ghost" << QStringList{"ghostpass1", "ghostpriv1"};
        QTest::newRow("wrong authentication password") << "shaaes" << QStringList{"wrongpass1", "shaaespriv"};
        QTest::newRow("wrong privacy password") << "shaaes" << QStringList{"shaaespass", "wrongpriv1"};
        QTest::newRow("password too short") << "shaaes" << QStringList{"short", "shaaespriv"};
    }
    // Each counts as a failed exchange; once the credentials are right the same user
    // answers: the keys made from the wrong ones were dropped.
    void badV3User()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, passwords);
        SnmpHarness h(m_agent.port(), name);
        QVERIFY(snmpV3);
        if (!passwords.isEmpty())
            snmpV3->usm().addUser(
                {name, UsmAuthProtocol::HmacSha, passwords[0], UsmPrivProtocol::Aes128, passwords[1]});
        QCOMPARE(h.cycle() + h.cycle() + h.cycle(), QList<int>{AgentUnconnected});
        snmpV3->usm().addUser(UpsAgentFixture::agentUsers().at(3));
        SnmpHarness::changeParams([](Params &p) { p.securityName = "shaaes"; });
        QList<int> seen;
        QVERIFY(QTest::qWaitFor([&] { return (seen += h.cycle()).contains(UpsConnected); }, 10000));
        QCOMPARE(seen, (QList<int>{AgentConnected, UpsConnected}));
    }

    // Polling goes on without the trap port, and one line on standard error says why.
    void trapPortInUse()
    {
        QUdpSocket squatter;
        QVERIFY(squatter.bind(QHostAddress::AnyIPv4, 0));
        std::fflush(stderr);
        const int savedErr = dup(STDERR_FILENO);
        FILE *capture = std::tmpfile();
        dup2(fileno(capture), STDERR_FILENO);
        {
            SnmpHarness h(m_agent.port(), "v2c", squatter.localPort());
            std::fflush(stderr);
            dup2(savedErr, STDERR_FILENO);
            QVERIFY(h.connect());
            QCOMPARE(int(snmpSession->listenPort()), 0);
        }
        close(savedErr);
        std::rewind(capture);
        char buf[1024] = {};
        const QString text = QString::fromLocal8Bit(buf, int(std::fread(buf, 1, sizeof buf - 1, capture)));
        std::fclose(capture);
        QCOMPARE(text.count('\n'), 1);
        QVERIFY2(text.contains(QString("UDP port %1").arg(squatter.localPort())), qPrintable(text));
        QVERIFY2(text.contains("1024 or above"), qPrintable(text));
    }

private:
    UpsAgentFixture m_agent;
};

QTEST_GUILESS_MAIN(TestSnmpTraps)
#include "tst_snmptraps.moc"
