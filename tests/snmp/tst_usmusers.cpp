#include "snmp/usmusers.h"
#include "tempdatadir.h"

#include <QFile>
#include <QTest>

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

QTEST_GUILESS_MAIN(TestUsmUsers)
#include "tst_usmusers.moc"
