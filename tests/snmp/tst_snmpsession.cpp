#include "app/mainwindow.h"
#include "snmp/bootcounter.h"
#include "snmp/snmpengine.h"
#include "tempdatadir.h"
#include "upsagentfixture.h"
#include "widgets/messagebox.h"

#include <QDir>
#include <QProcess>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

namespace {
QByteArray field(const QByteArray &bytes)
{
    return QByteArray(1, char(bytes.size() >> 8)) + char(bytes.size() & 0xff) + bytes;
}

// A usm_users.bin record: the protocol numbers, then name and passwords with their lengths.
QByteArray record(int auth, int priv, const QByteArray &name)
{
    return QByteArray(1, char(auth)) + char(priv) + field(name) + field("pass-" + name) + field("priv-" + name);
}
} // namespace

// The session as the main window opens it, and the SNMPv3 users it loads.
class TestSnmpSession : public QObject
{
    Q_OBJECT
private slots:
    // The main window applies the autostart entry; keep it out of the real home.
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit()); }

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
        QFile damaged(path);
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write("6e6f745f6e6565646564 lots\n\x01\x02") > 0);
        damaged.close();
        QVERIFY(openSnmpSession());
        QCOMPARE(snmpV3->engineBoots(), 1u);
        closeSnmpSession();
    }

    // Saved private over a file that others could read, loaded whole by the session, and
    // loaded as far as it is intact when cut.
    void usersFile()
    {
        TempDataDir dir;
        const QString path = usmUsersFilePath();
        UsmUserTable table;
        table.addUser({"stale"});
        QVERIFY(!table.load(path).fileFound && table.count() == 0);
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        QList<UsmUser> users = UpsAgentFixture::agentUsers();
        users += UsmUser{"päss", UsmAuthProtocol::HmacSha224, "wörd", UsmPrivProtocol::None, {}};
        users += UsmUser{QString(300, 'n'), UsmAuthProtocol::HmacSha512, QString(70000, 'a'), UsmPrivProtocol::Aes192};
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
    }

    void decodeDamaged_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("damaged");
        const QByteArray header("VGUSM\0\0\1", 8), a = record(2, 2, "a"), b = record(3, 4, "b");
        QTest::newRow("empty file") << QByteArray() << QStringList() << false;
        QTest::newRow("wrong magic") << QByteArray("VGUSM\0\0\2", 8) + a << QStringList() << true;
        QTest::newRow("random bytes") << QByteArray("\x30\x82\xff\xff garbage", 14) << QStringList() << true;
        QTest::newRow("truncated second record") << header + a + b.left(7) << QStringList{"a"} << true;
        QTest::newRow("length beyond the end") << header + a + "\x02\x02\xff\xff" << QStringList{"a"} << true;
        QTest::newRow("unknown auth protocol skipped") << header + record(9, 2, "x") + b << QStringList{"b"} << true;
        QTest::newRow("unknown priv protocol skipped") << header + a + record(2, 3, "x") << QStringList{"a"} << true;
        QTest::newRow("empty name skipped") << header + record(1, 1, "") + a << QStringList{"a"} << true;
        QTest::newRow("duplicate keeps the later")
            << header + b + a + record(1, 1, "b") << QStringList{"a", "b"} << false;
        QTest::newRow("lone byte after a record") << header + a + "\x02" << QStringList{"a"} << true;
    }
    void decodeDamaged()
    {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, names);
        QFETCH(bool, damaged);
        bool bad = !damaged;
        QStringList got;
        for (const UsmUser &u : UsmUserTable::decode(data, &bad))
            got.append(u.name);
        QCOMPARE(got, names);
        QCOMPARE(bad, damaged);
    }

    // scripts/usm-users writes what the application reads, and reads what it writes.
    void provisioningScript()
    {
        TempDataDir dir;
        const QString script = qEnvironmentVariable("VOLTIGUARD_SOURCE_DIR") + "/scripts/usm-users";
        UsmUserTable table;
        table.addUser({"first"});
        QVERIFY(table.save(usmUsersFilePath()));
        QProcess p;
        p.start("python3", {script, usmUsersFilePath(), "add", "用户", "--auth", "SHA-256", "--auth-pass", "pässwörd",
                            "--priv", "AES256", "--priv-pass", "geheim"});
        QVERIFY(p.waitForFinished(10000) && p.exitCode() == 0);
        QVERIFY(!table.load(usmUsersFilePath()).damaged);
        const UsmUser added{"用户", UsmAuthProtocol::HmacSha256, "pässwörd", UsmPrivProtocol::Aes256, "geheim"};
        QCOMPARE(table.users(), (QList<UsmUser>{{"first"}, added}));
        p.start("python3", {script, usmUsersFilePath(), "list"});
        QVERIFY(p.waitForFinished(10000));
        QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).split('\n').value(1).startsWith("用户\t"));
    }

    // A session that cannot be opened shows one box; the window runs on without it.
    void createFailureShowsOneBox()
    {
        TempDataDir dir;
        dir.writeParams();
        // Everything the window loads once is loaded by a first window.
        std::make_unique<MainWindow>().reset();
        MessageBox::shownBoxes().clear();
        // One descriptor left: enough for the files, not for the session's sockets. The
        // limit is lifted as the box comes up, before the polling thread starts: its
        // event loop needs descriptors of its own.
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_NOFILE, &saved) == 0);
        MessageBox::setNextAnswer([saved] {
            setrlimit(RLIMIT_NOFILE, &saved);
            return int(QMessageBox::Ok);
        });
        const int lowest = dup(0);
        close(lowest);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(lowest) + 1;
        QVERIFY(lowest >= 0 && setrlimit(RLIMIT_NOFILE, &tight) == 0);
        auto window = std::make_unique<MainWindow>();
        QVERIFY(setrlimit(RLIMIT_NOFILE, &saved) == 0);
        QCOMPARE(MessageBox::shownBoxes().size(), 1);
        QCOMPARE(MessageBox::shownBoxes().first().text, "SNMP Create Fail!");
        QVERIFY(snmpSession && !snmpSession->isValid() && !snmpV3);
        SnmpTarget target;
        target.address = "127.0.0.1";
        QVERIFY(!snmpSession->get(target, {UpsMib::alarmsPresent}, [](const SnmpEvent &) {}));
        window.reset();
        QVERIFY(!snmpSession);
    }

private:
    QTemporaryDir m_config;
};

QTEST_MAIN(TestSnmpSession)
#include "tst_snmpsession.moc"
