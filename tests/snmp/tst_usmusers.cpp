#include "snmp/usmusers.h"
#include "tempdatadir.h"

#include <QFile>
#include <QProcess>
#include <QTest>

Q_DECLARE_METATYPE(UsmUser)

namespace {
UsmUser makeUser(const QString &name, UsmAuthProtocol a = UsmAuthProtocol::None, const QString &ap = {},
                 UsmPrivProtocol p = UsmPrivProtocol::None, const QString &pp = {})
{
    return UsmUser{name, a, ap, p, pp};
}

QByteArray field(const QByteArray &bytes)
{
    QByteArray out;
    out.append(char(bytes.size() >> 8));
    out.append(char(bytes.size() & 0xff));
    return out + bytes;
}

QByteArray record(int auth, int priv, const QByteArray &name, const QByteArray &ap = {}, const QByteArray &pp = {})
{
    QByteArray out;
    out.append(char(auth));
    out.append(char(priv));
    return out + field(name) + field(ap) + field(pp);
}

const QByteArray header("VGUSM\0\0\1", 8);
} // namespace

class TestUsmUsers : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip();
    void decodeDamaged_data();
    void decodeDamaged();
    void tableOperations();
    void changeHandler();
    void savedFileIsPrivate();
    void loadMissingAndCorruptFile();
    void provisioningScript_data();
    void provisioningScript();
};

void TestUsmUsers::roundTrip()
{
    TempDataDir dir;
    UsmUserTable table;
    const QList<UsmUser> users{
        makeUser("md5des", UsmAuthProtocol::HmacMd5, "md5des-auth", UsmPrivProtocol::Des, "md5des-priv"),
        makeUser("shaaes", UsmAuthProtocol::HmacSha, "shaaes-auth", UsmPrivProtocol::Aes128, "shaaes-priv"),
        makeUser("sha256", UsmAuthProtocol::HmacSha256, "päss wörd", UsmPrivProtocol::Aes256, "x"),
        makeUser("plain"),
        makeUser(QString(300, 'n'), UsmAuthProtocol::HmacSha512, QString(70000, 'a'), UsmPrivProtocol::Aes192, ""),
    };
    for (const UsmUser &u : users)
        table.addUser(u);
    QVERIFY(table.save(usmUsersFilePath()));

    UsmUserTable again;
    const auto result = again.load(usmUsersFilePath());
    QVERIFY(result.fileFound);
    QVERIFY(!result.damaged);
    QCOMPARE(result.loaded, users.size());
    QList<UsmUser> expected = users;
    expected.last().authPassword.truncate(0xffff);
    QCOMPARE(again.users(), expected);
    QCOMPARE(again.userNames().first(), QStringLiteral("md5des"));
}

void TestUsmUsers::decodeDamaged_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("damaged");

    const QByteArray a = record(2, 2, "a", "pw-a", "pv-a");
    const QByteArray b = record(3, 4, "b", "pw-b", "pv-b");
    QTest::newRow("empty file") << QByteArray() << QStringList() << false;
    QTest::newRow("header only") << header << QStringList() << false;
    QTest::newRow("two users") << header + a + b << QStringList{"a", "b"} << false;
    QTest::newRow("wrong magic") << QByteArray("VGUSM\0\0\2", 8) + a << QStringList() << true;
    QTest::newRow("random bytes") << QByteArray("\x30\x82\xff\xff garbage", 14) << QStringList() << true;
    QTest::newRow("truncated second record") << header + a + b.left(7) << QStringList{"a"} << true;
    QTest::newRow("length beyond the end")
        << header + a + QByteArray("\x02\x02\xff\xff", 4) << QStringList{"a"} << true;
    QTest::newRow("unknown auth protocol skipped") << header + record(9, 2, "x") + b << QStringList{"b"} << true;
    QTest::newRow("unknown priv protocol skipped") << header + a + record(2, 3, "x") << QStringList{"a"} << true;
    QTest::newRow("empty name skipped") << header + record(1, 1, "") + a << QStringList{"a"} << true;
    QTest::newRow("duplicate keeps the later") << header + a + b + record(1, 1, "a") << QStringList{"b", "a"} << false;
    QTest::newRow("lone byte after a record") << header + a + QByteArray(1, '\x02') << QStringList{"a"} << true;
}

void TestUsmUsers::decodeDamaged()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, names);
    QFETCH(bool, damaged);
    bool bad = !damaged;
    const QList<UsmUser> users = UsmUserTable::decode(data, &bad);
    QStringList got;
    for (const UsmUser &u : users)
        got.append(u.name);
    QCOMPARE(got, names);
    QCOMPARE(bad, damaged);
}

void TestUsmUsers::tableOperations()
{
    UsmUserTable table;
    table.addUser(makeUser("one"));
    table.addUser(makeUser("two"));
    table.addUser(makeUser("three"));
    table.addUser(makeUser("two", UsmAuthProtocol::HmacSha, "secret-two"));
    QCOMPARE(table.userNames(), (QStringList{"one", "two", "three"}));
    QCOMPARE(table.user("two")->authPassword, QStringLiteral("secret-two"));
    QVERIFY(!table.user("Two").has_value());
    QVERIFY(table.deleteUser("one"));
    QVERIFY(!table.deleteUser("one"));
    table.addUser(makeUser("one"));
    QCOMPARE(table.userNames(), (QStringList{"two", "three", "one"}));
    QCOMPARE(table.count(), 3);
    table.clear();
    QCOMPARE(table.count(), 0);
}

void TestUsmUsers::changeHandler()
{
    UsmUserTable table;
    QStringList changed;
    table.setChangeHandler([&](const QString &name) {
        // The handler runs outside the table lock, so it may read the table.
        QVERIFY(table.count() >= 0);
        changed.append(name);
    });
    table.addUser(makeUser("u", UsmAuthProtocol::HmacMd5, "a1"));
    table.addUser(makeUser("u", UsmAuthProtocol::HmacMd5, "a1"));
    table.addUser(makeUser("u", UsmAuthProtocol::HmacMd5, "a2"));
    table.deleteUser("nobody");
    table.deleteUser("u");
    QCOMPARE(changed, (QStringList{"u", "u", "u"}));
}

void TestUsmUsers::savedFileIsPrivate()
{
    TempDataDir dir;
    QFile old(usmUsersFilePath());
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    QFile::setPermissions(usmUsersFilePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    UsmUserTable table;
    table.addUser(makeUser("u", UsmAuthProtocol::HmacSha, "authpass"));
    QVERIFY(table.save(usmUsersFilePath()));
    const QFile::Permissions perms = QFile::permissions(usmUsersFilePath());
    QCOMPARE(perms & (QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner), QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(perms & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
             QFile::Permissions());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"usm_users.bin"});
}

void TestUsmUsers::loadMissingAndCorruptFile()
{
    TempDataDir dir;
    UsmUserTable table;
    table.addUser(makeUser("stale"));
    auto r = table.load(usmUsersFilePath());
    QVERIFY(!r.fileFound);
    QCOMPARE(table.count(), 0);

    QFile f(usmUsersFilePath());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(header + record(2, 2, "kept", "authpass", "privpass") + QByteArray("\x05\x01\x00", 3));
    f.close();
    r = table.load(usmUsersFilePath());
    QVERIFY(r.fileFound);
    QVERIFY(r.damaged);
    QCOMPARE(table.userNames(), QStringList{"kept"});
}

void TestUsmUsers::provisioningScript_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<UsmUser>("user");
    using A = UsmAuthProtocol;
    using P = UsmPrivProtocol;
    QTest::newRow("no security") << QStringList{"plain"} << UsmUser{"plain", A::None, {}, P::None, {}};
    QTest::newRow("MD5 only") << QStringList{"m", "--auth", "MD5", "--auth-pass", "md5authpass"}
                              << UsmUser{"m", A::HmacMd5, "md5authpass", P::None, {}};
    QTest::newRow("MD5/DES") << QStringList{"md5des", "--auth", "MD5",         "--auth-pass", "a-pass",
                                            "--priv", "DES",    "--priv-pass", "p-pass"}
                             << UsmUser{"md5des", A::HmacMd5, "a-pass", P::Des, "p-pass"};
    QTest::newRow("SHA/AES128") << QStringList{"s",      "--auth",      "SHA", "--auth-pass", "a", "--priv",
                                               "AES128", "--priv-pass", "p"}
                                << UsmUser{"s", A::HmacSha, "a", P::Aes128, "p"};
    QTest::newRow("SHA-256/AES256 non-ASCII")
        << QStringList{"用户",   "--auth", "SHA-256",     "--auth-pass", "pässwörd",
                       "--priv", "AES256", "--priv-pass", "geheim"}
        << UsmUser{"用户", A::HmacSha256, "pässwörd", P::Aes256, "geheim"};
    QTest::newRow("SHA-512/AES192") << QStringList{"x",      "--auth",      "SHA-512", "--auth-pass", "a", "--priv",
                                                   "AES192", "--priv-pass", "p"}
                                    << UsmUser{"x", A::HmacSha512, "a", P::Aes192, "p"};
}

// scripts/usm-users writes what the application reads, and reads what it writes.
void TestUsmUsers::provisioningScript()
{
    QFETCH(QStringList, args);
    QFETCH(UsmUser, user);
    TempDataDir dir;
    const QString script = qEnvironmentVariable("VOLTIGUARD_SOURCE_DIR") + "/scripts/usm-users";
    UsmUserTable table;
    table.addUser(makeUser("first"));
    QVERIFY(table.save(usmUsersFilePath()));
    QProcess p;
    p.start("python3", QStringList{script, usmUsersFilePath(), "add"} + args);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(table.load(usmUsersFilePath()).damaged, false);
    QCOMPARE(table.users(), (QList<UsmUser>{makeUser("first"), user}));

    p.start("python3", QStringList{script, usmUsersFilePath(), "list"});
    QVERIFY(p.waitForFinished(10000));
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines.at(1).startsWith(user.name + '\t'));
}

QTEST_GUILESS_MAIN(TestUsmUsers)
#include "tst_usmusers.moc"
