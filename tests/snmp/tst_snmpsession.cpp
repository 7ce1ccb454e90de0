#include "app/mainwindow.h"
#include "config/params.h"
#include "model/upsstatus.h"
#include "snmp/bootcounter.h"
#include "snmp/snmpengine.h"
#include "tempdatadir.h"
#include "upsagentfixture.h"
#include "widgets/messagebox.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

// Opening and releasing the session, as the main window does it.
class TestSnmpSession : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void bootCounterRisesPerStart();
    void usersLoadedAtStart_data();
    void usersLoadedAtStart();
    void mainWindowFollowsTheAgent();
    void createFailureShowsOneBox();

private:
    QTemporaryDir m_config;
};

void TestSnmpSession::initTestCase()
{
    // The main window applies the autostart entry; keep it out of the real home.
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
}

void TestSnmpSession::bootCounterRisesPerStart()
{
    TempDataDir dir;
    const QString path = dir.file("snmpv3_boot_counter");
    QVERIFY(saveBootCounter(path, "other-engine", 41));
    for (quint32 expected = 1; expected <= 3; ++expected) {
        QVERIFY(openSnmpSession());
        QCOMPARE(snmpV3->engineBoots(), expected);
        QCOMPARE(snmpV3->engineId(), QByteArray("not_needed"));
        closeSnmpSession();
        QVERIFY(!snmpSession && !snmpV3);
        QCOMPARE(readBootCounter(path, "not_needed"), expected);
    }
    QCOMPARE(readBootCounter(path, "other-engine"), 41u);
    const QFile::Permissions perms = QFile::permissions(path);
    QCOMPARE(perms & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther), QFile::Permissions());

    QFile damaged(path);
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write("6e6f745f6e6565646564 lots\n\x01\x02");
    damaged.close();
    QVERIFY(openSnmpSession());
    QCOMPARE(snmpV3->engineBoots(), 1u);
    closeSnmpSession();
}

void TestSnmpSession::usersLoadedAtStart_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("names");
    const QByteArray good = UsmUserTable::encode(UpsAgentFixture::agentUsers().mid(2, 2));
    QTest::newRow("no file") << QByteArray() << QStringList();
    QTest::newRow("two users") << good << QStringList{"md5des", "shaaes"};
    QTest::newRow("cut in the second user") << good.chopped(4) << QStringList{"md5des"};
    QTest::newRow("not ours") << QByteArray("\x80\x01garbage") << QStringList();
}

void TestSnmpSession::usersLoadedAtStart()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, names);
    TempDataDir dir;
    if (!file.isEmpty()) {
        QFile f(usmUsersFilePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
    }
    QVERIFY(openSnmpSession());
    QCOMPARE(snmpV3->usm().userNames(), names);
    closeSnmpSession();
}

void TestSnmpSession::mainWindowFollowsTheAgent()
{
    UpsAgentFixture agent;
    QVERIFY(agent.start());
    QVERIFY(agent.raise("utility"));
    TempDataDir dir;
    dir.writeParams({{"snmp_port_poll", agent.port()}, {"Utility_para", true}});
    MessageBox::shownBoxes().clear();
    auto window = std::make_unique<MainWindow>();
    QVERIFY(snmpSession && snmpSession->isValid() && snmpV3);
    QVERIFY(QTest::qWaitFor([] { return upsStatus.snapshot().utilityFail; }, 5000));
    QCOMPARE(upsStatus.snapshot().agentLink, int(LinkGood));
    QVERIFY(MessageBox::shownBoxes().isEmpty());

    // The destructor stops the polling thread at once, not after a second's sleep.
    QElapsedTimer timer;
    timer.start();
    window.reset();
    QVERIFY2(timer.elapsed() < 900, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!snmpSession && !snmpV3);
}

void TestSnmpSession::createFailureShowsOneBox()
{
    TempDataDir dir;
    dir.writeParams();
    QFile users(usmUsersFilePath());
    QVERIFY(users.open(QIODevice::WriteOnly));
    users.write(UsmUserTable::encode(UpsAgentFixture::agentUsers()));
    users.close();
    // Everything the window loads once is loaded by a first window.
    std::make_unique<MainWindow>().reset();
    MessageBox::shownBoxes().clear();

    // One descriptor left: enough for the files, not for the session's sockets.
    rlimit saved{};
    QVERIFY(getrlimit(RLIMIT_NOFILE, &saved) == 0);
    // The limit is lifted as the box comes up, before the polling thread starts:
    // its event loop needs descriptors of its own.
    MessageBox::setNextAnswer([saved] {
        setrlimit(RLIMIT_NOFILE, &saved);
        return int(QMessageBox::Ok);
    });
    const int lowest = dup(0);
    QVERIFY(lowest >= 0);
    close(lowest);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(lowest) + 1;
    QVERIFY(setrlimit(RLIMIT_NOFILE, &tight) == 0);
    auto window = std::make_unique<MainWindow>();
    QVERIFY(setrlimit(RLIMIT_NOFILE, &saved) == 0);

    QCOMPARE(MessageBox::shownBoxes().size(), 1);
    QCOMPARE(MessageBox::shownBoxes().first().title, QStringLiteral("Warnning"));
    QCOMPARE(MessageBox::shownBoxes().first().text, QStringLiteral("SNMP Create Fail!"));
    QVERIFY(snmpSession && !snmpSession->isValid());
    QVERIFY(!snmpV3);
    QCOMPARE(params.ip, QStringLiteral("127.0.0.1"));
    // Nothing can be sent on the failed session; the window keeps ticking.
    SnmpTarget target;
    target.address = QStringLiteral("127.0.0.1");
    QVERIFY(!snmpSession->get(target, {UpsMib::alarmsPresent}, [](const SnmpEvent &) {}));
    QTest::qWait(1200);
    QCOMPARE(upsStatus.snapshot().agentLink, int(LinkUnknown));
    window.reset();
    QVERIFY(!snmpSession);
}

QTEST_MAIN(TestSnmpSession)
#include "tst_snmpsession.moc"
