#include "berpacket.h"
#include "snmp/bootcounter.h"
#include "snmpharness.h"

#include <QDir>
#include <QNetworkDatagram>
#include <QTemporaryFile>
#include <QUdpSocket>

#include <unistd.h>

namespace {
const QByteArray junk = QByteArray::fromHex("deadbeef0badf00d5ec0ffee").repeated(50);

// An SNMPv3 message with the given security parameters and a scoped PDU of garbage.
QByteArray v3Message(const QByteArray &usm)
{
    const QByteArray header = Ber::tlv(0x30, Ber::integer(1) + Ber::integer(65507) + "\x04\x01\x03" + Ber::integer(3));
    return Ber::tlv(0x30, Ber::integer(3) + header + Ber::octets(usm) + Ber::octets(QByteArray(48, 'x')));
}

// A request read at the fixed places of net-snmp's short v1/v2c requests (community "public").
struct Request
{
    explicit Request(const QByteArray &d) : version(d[4]), pduTag(quint8(d[13])), maxRepetitions(d[22 + d[16]])
    {
        for (char c : d.mid(17, d[16]))
            id = (id << 8) | quint8(c);
    }
    int version;
    quint8 pduTag;
    int maxRepetitions;
    qint32 id = 0;
};

// An agent of our own on 127.0.0.1 that answers every request as the test says.
class FakeAgent : public QUdpSocket
{
public:
    explicit FakeAgent(const std::function<Ber::VarBinds(const Request &)> &bindings, int errorStatus = 0)
    {
        bind(QHostAddress::LocalHost, 0);
        QObject::connect(this, &QUdpSocket::readyRead, [=] {
            while (hasPendingDatagrams()) {
                const QNetworkDatagram d = receiveDatagram();
                const Request r(d.data());
                const QByteArray answer =
                    Ber::message(r.version, "public", 0xa2, r.id, errorStatus, !!errorStatus, bindings(r));
                writeDatagram(d.makeReply(errorStatus < 0 ? junk.left(40) : answer));
            }
        });
    }
};

const QString alarmDescr1 = UpsMib::alarmDescrColumn + ".1";
const QByteArray inputBad = Ber::oid("1.3.6.1.2.1.33.1.6.3.6");
} // namespace

// The session: notifications, garbage, agents that answer badly, and what it loads.
class TestSnmpSession : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_agent.start()); }
    void init() { QVERIFY(m_agent.reset()); }

    void alarmsByTrap_data()
    {
        QTest::addColumn<QStringList>("kind"); // and upsagent's options for it
        QTest::newRow("v1") << QStringList{"v1"};
        QTest::newRow("v2c, bindings .N.0") << QStringList{"v2c", "--binding-form", "dot0"};
        QTest::newRow("v2c, bindings without instance") << QStringList{"v2c", "--binding-form", "bare"};
        QTest::newRow("inform") << QStringList{"inform"};
        QTest::newRow("v3 SHA/AES128") << QStringList{"v3"};
        QTest::newRow("v3 MD5/DES") << QStringList{"v3", "--user", "md5des"};
        QTest::newRow("v3 SHA-256/AES256, own engine ID")
            << QStringList{"v3", "--user", "sha256aes256", "--engine-id", "0x8000000001020304"};
        QTest::newRow("v3 inform") << QStringList{"v3inform"};
    }
    // Each alarm raised and cleared by a notification alone: no poll runs meanwhile.
    void alarmsByTrap()
    {
        QFETCH(QStringList, kind);
        SnmpHarness h(m_agent.port());
        QVERIFY(h.connect());
        for (int step = 0; step < 8; ++step) {
            const int alarm = step / 2;
            const quint64 handled = h.thread->handledEvents();
            QCOMPARE(m_agent.run(step % 2 ? "clear" : "raise", {alarmNames[alarm]},
                                 trap(kind[0], h.trapPort()) + kind.mid(1)),
                     0);
            QVERIFY(h.waitHandled(handled));
            const UpsStatusSnapshot s = upsStatus.snapshot();
            QCOMPARE(alarmOn(s, alarm), step % 2 == 0);
            // Only an authenticated notification stands for a poll answer.
            QCOMPARE(s.confirmed(alarm), alarm == 0 || kind[0].startsWith("v3"));
        }
        QCOMPARE(upsStatus.snapshot().agentLink, int(LinkGood));
        QCOMPARE(h.thread->failCount(), 0);
    }

    void strangersOnTrapPort_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("kind"); // of an upsagent notification sent from source
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<int>("delivered");
        for (const char *kind : {"v1", "v2c", "v3", "inform"})
            QTest::addRow("%s from another address", kind) << "127.0.0.2" << kind << QByteArrayList() << 0;
        // Keys are derived only for the agent's datagrams, so forged engine IDs cannot
        // fill the key cache and shut the agent's own SNMPv3 traps out.
        QByteArrayList forged;
        for (int i = 0; i < 130; ++i) {
            forged << v3Message(Ber::tlv(0x30, Ber::octets("forged" + QByteArray::number(1000000 + i)) +
                                                   Ber::integer(1) + Ber::integer(1) + Ber::octets("shaaes") +
                                                   Ber::octets(QByteArray(12, 0)) + Ber::octets(QByteArray(8, 0))));
        }
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
    // Nothing a stranger sends, nor garbage, changes anything or crashes anything; the
    // agent's own SNMPv3 trap, sent after it, is the first that counts.
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
        const QStringList from{"--source", source, "--timeout", "0.3", "--retries", "0"};
        QCOMPARE(kind.isEmpty() ? 0 : m_agent.run("raise", {"utility"}, trap(kind, h.trapPort()) + from),
                 kind == "inform" ? 3 : 0);
        QVERIFY(m_agent.raise("battery", trap("v3", h.trapPort())));
        QVERIFY(QTest::qWaitFor([] { return upsStatus.snapshot().batteryLow; }, 5000));
        QCOMPARE(h.thread->handledEvents(), handled + delivered + 1);
        expected.batteryLow = true;
        QVERIFY(upsStatus.snapshot() == expected);
    }

    void badAnswers_data()
    {
        QTest::addColumn<QByteArray>("value"); // of upsAlarmsPresent; empty: no binding
        QTest::addColumn<int>("errorStatus");  // -1: junk
        QTest::newRow("junk") << QByteArray() << -1;
        QTest::newRow("error status") << Ber::tlv(0x05, {}) << 5;
        QTest::newRow("noSuchObject only") << Ber::tlv(0x80, {}) << 0;
        QTest::newRow("no bindings") << QByteArray() << 0;
    }
    // Each counts as a failed exchange: after three of them the agent is lost.
    void badAnswers()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, errorStatus);
        const Ber::VarBinds bindings{{UpsMib::alarmsPresent, value}};
        FakeAgent fake([&](const Request &) { return value.isEmpty() ? Ber::VarBinds() : bindings; }, errorStatus);
        SnmpHarness h(fake.localPort());
        QCOMPARE(h.cycle() + h.cycle() + h.cycle(), QList<int>{AgentUnconnected});
    }

    void boundedAlarmRequest_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("reported");
        QTest::addColumn<int>("repetitions");
        QTest::newRow("v2c, 2147483647 alarms") << "v2c" << 2147483647 << snmp_thread::maxAlarmRows;
        QTest::newRow("v1, 100000 alarms") << "v1" << 100000 << 0;
    }
    // An agent that claims many alarms and serves every row asked for: the walk stops at the cap.
    void boundedAlarmRequest()
    {
        QFETCH(QString, version);
        QFETCH(int, reported);
        QFETCH(int, repetitions);
        int row = 0;
        QList<int> bulks;
        FakeAgent fake([&](const Request &r) {
            if (r.pduTag == 0xa0)
                return Ber::VarBinds{{UpsMib::alarmsPresent, Ber::integer(reported, 0x42)}};
            Ber::VarBinds rows;
            for (int i = 0; i < (r.pduTag == 0xa5 ? r.maxRepetitions : 1); ++i, ++row) {
                rows.append({UpsMib::alarmDescrColumn + "." + QString::number(row + 1),
                             row == 1 ? inputBad : Ber::oid("1.3.6.1.2.1.33.1.6.3.9")});
            }
            bulks << (r.pduTag == 0xa5 ? r.maxRepetitions : 0);
            return rows;
        });
        SnmpHarness h(fake.localPort(), version);
        QCOMPARE(h.cycle(), (QList<int>{AgentConnected, UpsConnected, UtilityFail}));
        QCOMPARE(h.thread->alarmCount(), reported);
        QCOMPARE(row, qMin(reported, snmp_thread::maxAlarmRows));
        QCOMPARE(bulks.value(0), repetitions);
    }

    void badV3User_data()
    {
        QTest::addColumn<QStringList>("user"); // name and passwords
        QTest::newRow("not in our table") << QStringList{"nosuchuser"};
        QTest::newRow("unknown to the agent") << QStringList{"ghost", "ghostpass1", "ghostpriv1"};
        QTest::newRow("wrong authentication password") << QStringList{"shaaes", "wrongpass1", "shaaespriv"};
        QTest::newRow("wrong privacy password") << QStringList{"shaaes", "shaaespass", "wrongpriv1"};
        QTest::newRow("password too short") << QStringList{"shaaes", "short", "shaaespriv"};
    }
    // Each counts as a failed exchange; once the credentials are right the same user
    // answers: the keys made from the wrong ones were dropped.
    void badV3User()
    {
        QFETCH(QStringList, user);
        SnmpHarness h(m_agent.port(), user[0]);
        QVERIFY(snmpV3);
        if (user.size() == 3)
            snmpV3->usm().addUser({user[0], UsmAuthProtocol::HmacSha, user[1], UsmPrivProtocol::Aes128, user[2]});
        QCOMPARE(h.cycle() + h.cycle() + h.cycle(), QList<int>{AgentUnconnected});
        snmpV3->usm().addUser(UpsAgentFixture::agentUsers().at(1));
        SnmpHarness::changeParams([](Params &p) { p.securityName = "shaaes"; });
        QList<int> seen;
        QVERIFY(QTest::qWaitFor([&] { return (seen += h.cycle()).contains(UpsConnected); }, 10000));
        QCOMPARE(seen, (QList<int>{AgentConnected, UpsConnected}));
    }

    // Polling goes on without the trap port, and one line on standard error says why.
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
        QFile written(capture.fileName());
        const QString text = written.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(written.readAll()) : QString();
        QCOMPARE(text.count('\n'), 1);
        QVERIFY2(text.contains(QString("UDP port %1").arg(squatter.localPort())) && text.contains("1024 or above"),
                 qPrintable(text));
    }

    void bootCounterRisesPerStart()
    {
        TempDataDir dir;
        const QString path = dir.file("snmpv3_boot_counter");
        QVERIFY(saveBootCounter(path, "other-engine", 41));
        for (quint32 expected = 1; expected <= 3; ++expected) {
            QVERIFY(openSnmpSession());
            QCOMPARE(snmpV3->engineBoots(), expected);
            closeSnmpSession();
            QCOMPARE(readBootCounter(path, "not_needed"), expected);
        }
        QCOMPARE(readBootCounter(path, "other-engine"), 41u);
        QCOMPARE(QFile::permissions(path) & 0x0077, QFile::Permissions());
    }

    // Saved private over a file others could read, loaded whole, and as far as it is intact.
    void usersFile()
    {
        TempDataDir dir;
        const QString path = usmUsersFilePath();
        UsmUserTable table;
        table.addUser(UpsAgentFixture::agentUsers().at(0));
        QVERIFY(!table.load(path).fileFound && table.count() == 0);
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        QList<UsmUser> users = UpsAgentFixture::agentUsers();
        users += UsmUser{"päss", UsmAuthProtocol::HmacSha224, "wörd", UsmPrivProtocol::None, {}};
        users +=
            UsmUser{QString(300, 'n'), UsmAuthProtocol::HmacSha512, QString(70000, 'a'), UsmPrivProtocol::Aes192, {}};
        for (const UsmUser &u : users)
            table.addUser(u);
        QVERIFY(table.save(path));
        QCOMPARE(QFile::permissions(path) & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"usm_users.bin"});
        users.last().authPassword.truncate(0xffff);
        QVERIFY(openSnmpSession());
        QCOMPARE(snmpV3->usm().users(), users);
        closeSnmpSession();
        QVERIFY(QFile::resize(path, QFileInfo(path).size() - 4));
        const UsmUserTable::LoadResult r = table.load(path);
        QVERIFY(r.fileFound && r.damaged);
        QCOMPARE(table.users(), users.mid(0, users.size() - 1));
        // A record of an unknown protocol is skipped, not the rest of the file.
        QByteArray bytes = UsmUserTable::encode(users.mid(0, 2));
        bytes[8] = 9;
        bool damaged = false;
        QCOMPARE(UsmUserTable::decode(bytes, &damaged), users.mid(1, 1));
        QVERIFY(damaged);
    }

private:
    UpsAgentFixture m_agent;
};

QTEST_GUILESS_MAIN(TestSnmpSession)
#include "tst_snmpsession.moc"
