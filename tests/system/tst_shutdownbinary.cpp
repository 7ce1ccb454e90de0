// End to end: the real binary on a private desktop polls the simulated UPS agent;
// a utility failure with "Utility_time" 1 counts down in the status bar and the
// alarm popup, starts the external program once, powers off through the logind
// mock exactly once, and writes event 11 to log.db at once. And the ends of the
// application that do not come from its own window: signals, and a shutdown that
// logind announces, after each of which nothing queued is lost.
#include "accessiblenames.h"
#include "berpacket.h"
#include "binaryrun.h"
#include "desktopsession.h"
#include "logindmock.h"
#include "upsagentfixture.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QUdpSocket>
#include <csignal>

namespace {
const QString countdownPrefix = QStringLiteral("Countdown of Shutdown:");
const QString popupPrefix = QStringLiteral("Utility Fail\n\nShut down the operating system Countdown:");

QList<int> loggedIds(const QString &path)
{
    QList<int> ids;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("select id from log order by rowid"))) {
                while (q.next())
                    ids << q.value(0).toInt();
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e"));
    return ids;
}

int secondsOf(const QString &text)
{
    const QStringList hms = text.mid(countdownPrefix.size()).split(QLatin1Char(':'));
    return hms.size() == 3 ? hms[0].toInt() * 3600 + hms[1].toInt() * 60 + hms[2].toInt() : -1;
}
} // namespace

class TestShutdownBinary : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void utilityFailureShutsDownOnce();
    void forgedTrapsNeverPowerOff();
    void refusedPowerOffIsLoud();
    void endsWithoutLosingEvents_data();
    void endsWithoutLosingEvents();
};

void TestShutdownBinary::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS"),
             "DBUS_SYSTEM_BUS_ADDRESS is unset; refusing to start a binary that powers off");
}

void TestShutdownBinary::utilityFailureShutsDownOnce()
{
    DesktopSession session;
    QString error;
    QVERIFY2(session.start(&error), qPrintable(error));
    LogindMock logind;
    QVERIFY2(logind.start(), qPrintable(logind.error()));
    UpsAgentFixture agent;
    QVERIFY(agent.start());

    QTemporaryDir scratch;
    const QString marker = scratch.filePath(QStringLiteral("marker"));
    const QString script = scratch.filePath(QStringLiteral("before-shutdown"));
    QVERIFY(writeMarkerScript(script, marker));

    BinaryRun run;
    run.dataDir().writeParams({{"snmp_port_poll", agent.port()},
                               {"msgVersion", 2},
                               {"snmp_community", "public"},
                               {"shutdown", true},
                               {"Utility_para", true},
                               {"Utility_time", 1},
                               {"exte_flag", true},
                               {"exte_param", script},
                               {"exte_time", 1}});
    const QProcessEnvironment desktop = session.environment();
    for (const char *name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM"})
        run.environment().insert(QString::fromLatin1(name), desktop.value(QString::fromLatin1(name)));
    run.environment().insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    QVERIFY(logind.ownsSystemBusVariable());
    run.environment().insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), logind.address());
    QVERIFY(run.start());
    const qint64 pid = run.process().processId();

    // Up and answering, nothing counts yet.
    QVERIFY(DesktopSession::waitFor(
        [&] {
            const QStringList names = accessibleNames(pid);
            return names.contains(QStringLiteral("Countdown of Shotdown:NO")) &&
                   names.contains(QStringLiteral("Agent and UPS Connected"));
        },
        20000));
    QVERIFY(agent.raise(QStringLiteral("utility")));

    QStringList countdown; // status-bar texts in the order they appeared
    bool popupSeen = false;
    bool titleSeen = false;
    QDeadlineTimer deadline(120000);
    while (!deadline.hasExpired() && logind.calls(QStringLiteral("PowerOff")).isEmpty()) {
        const QStringList names = accessibleNames(pid);
        for (const QString &n : names) {
            if (n.startsWith(countdownPrefix) && (countdown.isEmpty() || countdown.last() != n))
                countdown << n;
            popupSeen |= n.startsWith(popupPrefix);
            titleSeen |= n == QLatin1String("Alarm Prompt Dialog");
        }
        QTest::qWait(150);
    }
    QCOMPARE(logind.calls(QStringLiteral("PowerOff")).size(), 1);
    QCOMPARE(logind.calls(QStringLiteral("PowerOff")).first().args, QVariantList{false});
    QVERIFY(DesktopSession::waitFor(
        [&] { return accessibleNames(pid).contains(countdownPrefix + QStringLiteral("00:00:00")); }, 5000));
    countdown << countdownPrefix + QStringLiteral("00:00:00");
    countdown.removeDuplicates();

    QVERIFY2(!countdown.isEmpty(), "no countdown in the status bar");
    QCOMPARE(countdown.first(), countdownPrefix + QStringLiteral("00:01:00"));
    QCOMPARE(countdown.last(), countdownPrefix + QStringLiteral("00:00:00"));
    for (int i = 1; i < countdown.size(); ++i)
        QVERIFY2(secondsOf(countdown[i]) < secondsOf(countdown[i - 1]), qPrintable(countdown.join(", ")));
    // Read every 150 ms, a second-long text is rarely missed; a few may be under load.
    QVERIFY2(countdown.size() >= 50, qPrintable(countdown.join(", ")));
    QVERIFY(popupSeen);
    QVERIFY(titleSeen);

    // The power-off's event is written at once; the machine "stays on", so no second
    // request follows.
    const QString logDb = run.dataDir().file(QStringLiteral("log.db"));
    QVERIFY(loggedIds(logDb).contains(11));
    QTest::qWait(3000);
    QCOMPARE(logind.calls(QStringLiteral("PowerOff")).size(), 1);
    const QList<int> ids = loggedIds(logDb);
    QCOMPARE(ids.count(11), 1);
    QVERIFY(ids.indexOf(0) >= 0 && ids.indexOf(0) < ids.indexOf(11));

    QFile m(marker);
    QVERIFY(m.open(QIODevice::ReadOnly));
    QCOMPARE(m.readAll(), QByteArray("started\n"));

    run.stop();
}

// SNMPv1/v2c traps carry no authentication: anyone who can send UDP with the agent's
// address can raise a utility failure. It is shown and logged, but only a poll answer
// can make it ask for the power-off.
void TestShutdownBinary::forgedTrapsNeverPowerOff()
{
    DesktopSession session;
    QString error;
    QVERIFY2(session.start(&error), qPrintable(error));
    LogindMock logind;
    QVERIFY2(logind.start(), qPrintable(logind.error()));
    UpsAgentFixture agent;
    QVERIFY(agent.start());
    BinaryRun run;
    for (const char *name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM"})
        run.environment().insert(QString::fromLatin1(name), session.environment().value(QString::fromLatin1(name)));
    const int trapPort = freeUdpPort();
    run.dataDir().writeParams({{"snmp_port_poll", agent.port()},
                               {"snmp_port_trace", trapPort},
                               {"retries", 1},
                               {"shutdown", true},
                               {"Utility_para", true},
                               {"Utility_time", 0}});
    QVERIFY(logind.ownsSystemBusVariable());
    run.environment().insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), logind.address());
    QVERIFY(run.start());
    const QString logDb = run.dataDir().file(QStringLiteral("log.db"));
    QVERIFY(QTest::qWaitFor([&] { return loggedIds(logDb).contains(9); }, 20000));

    QUdpSocket forger;
    const QByteArray inputBad = Ber::oid(QStringLiteral("1.3.6.1.2.1.33.1.6.3.6"));
    for (int i = 0; i < 30; ++i) {
        forger.writeDatagram(
            Ber::v2cTrap("public", "1.3.6.1.2.1.33.2.3", {{"1.3.6.1.2.1.33.1.6.2.1.2.1", inputBad}}, i + 1),
            QHostAddress::LocalHost, quint16(trapPort));
        QTest::qWait(100);
    }
    QTest::qWait(2000);
    QVERIFY(loggedIds(logDb).contains(0));
    QCOMPARE(logind.calls(QStringLiteral("PowerOff")).size(), 0);

    QVERIFY(agent.raise(QStringLiteral("utility")));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(QTest::qWaitFor([&] { return !logind.calls(QStringLiteral("PowerOff")).isEmpty(); }, 10000));
    qInfo("utility failure in the agent's table to PowerOff: %lld ms", timer.elapsed());
    run.stop();
}

// logind refuses: event 13 in the log and one line on standard error with the
// reason, once: a zero delay does not ask again every second.
void TestShutdownBinary::refusedPowerOffIsLoud()
{
    LogindMock logind;
    QVERIFY2(logind.start(QStringLiteral("challenge")), qPrintable(logind.error()));
    UpsAgentFixture agent;
    QVERIFY(agent.start());
    BinaryRun run;
    run.dataDir().writeParams(
        {{"snmp_port_poll", agent.port()}, {"shutdown", true}, {"Utility_para", true}, {"Utility_time", 0}});
    run.environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QVERIFY(logind.ownsSystemBusVariable());
    run.environment().insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), logind.address());
    run.process().setProcessChannelMode(QProcess::SeparateChannels);
    QVERIFY(run.start());
    const QString logDb = run.dataDir().file(QStringLiteral("log.db"));
    QVERIFY(QTest::qWaitFor([&] { return loggedIds(logDb).contains(9); }, 20000));

    QVERIFY(agent.raise(QStringLiteral("utility")));
    QVERIFY(QTest::qWaitFor([&] { return loggedIds(logDb).contains(13); }, 10000));
    QTest::qWait(3000);
    QCOMPARE(logind.calls(QStringLiteral("CanPowerOff")).size(), 1);
    QVERIFY(logind.calls(QStringLiteral("PowerOff")).isEmpty());
    QCOMPARE(loggedIds(logDb).count(13), 1);
    const QString errors = QString::fromLocal8Bit(run.process().readAllStandardError());
    QVERIFY2(errors.contains(QStringLiteral("voltiguard: the power-off was refused: logind answers CanPowerOff with "
                                            "\"challenge\"")),
             qPrintable(errors));
}

// The event is pending when the end comes: log.db is locked until the binary is
// stopped, and the end is on its way (signal sent, or shutdown announced) before it
// runs again. What ends it must not lose the event.
void TestShutdownBinary::endsWithoutLosingEvents_data()
{
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("event");
    QTest::newRow("SIGTERM") << "SIGTERM" << 7;
    QTest::newRow("SIGHUP") << "SIGHUP" << 7;
    QTest::newRow("a shutdown announced by logind") << "PrepareForShutdown" << 7;
    QTest::newRow("SIGTERM right after the accepted power-off") << "PowerOff" << 11;
}

void TestShutdownBinary::endsWithoutLosingEvents()
{
    QFETCH(QString, end);
    QFETCH(int, event);
    LogindMock logind;
    QVERIFY2(logind.start(), qPrintable(logind.error()));
    UpsAgentFixture agent;
    QVERIFY(agent.start());
    BinaryRun run;
    run.dataDir().writeParams(
        {{"snmp_port_poll", agent.port()}, {"shutdown", true}, {"Utility_para", true}, {"Utility_time", 0}});
    run.environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QVERIFY(logind.ownsSystemBusVariable());
    run.environment().insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), logind.address());

    const QString logDb = run.dataDir().file(QStringLiteral("log.db"));
    const QString lock = QStringLiteral("lock");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), lock);
        db.setDatabaseName(logDb);
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(QStringLiteral("begin exclusive")));
    }
    QVERIFY(run.start());
    const qint64 pid = run.process().processId();
    // Up once it holds its inhibitor.
    QVERIFY(DesktopSession::waitFor([&] { return logind.inhibitors().size() == 1; }, 20000));
    QCOMPARE(
        logind.inhibitors().first(),
        (QStringList{"shutdown", "Voltiguard", "Writing the UPS event log before the machine goes down", "delay"}));
    if (end == QLatin1String("PowerOff")) {
        QVERIFY(logind.replaceMethod(QStringLiteral("PowerOff"), QStringLiteral("b"), QString(),
                                     QStringLiteral("import os, signal; os.kill(%1, signal.SIGTERM)").arg(pid)));
        QSqlDatabase::database(lock).commit();
        QVERIFY(agent.raise(QStringLiteral("utility")));
    } else {
        // The agent's first answer queues "Agent Connected", which cannot be written.
        QTest::qWait(5000);
        ::kill(pid_t(pid), SIGSTOP);
        QSqlDatabase::database(lock).commit();
        if (end == QLatin1String("PrepareForShutdown"))
            QVERIFY2(logind.prepareForShutdown(true), qPrintable(logind.error()));
        else
            ::kill(pid_t(pid), end == QLatin1String("SIGTERM") ? SIGTERM : SIGHUP);
        ::kill(pid_t(pid), SIGCONT);
    }
    QSqlDatabase::removeDatabase(lock);

    if (end == QLatin1String("PrepareForShutdown")) {
        // The inhibitor goes only once the queue is written; the application goes on.
        QVERIFY(DesktopSession::waitFor([&] { return logind.inhibitors().isEmpty(); }, 5000));
        QVERIFY(loggedIds(logDb).contains(event));
        QCOMPARE(run.process().state(), QProcess::Running);
        return;
    }
    QVERIFY(run.process().waitForFinished(10000));
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process().exitCode(), 0);
    QVERIFY(loggedIds(logDb).contains(event));
}

QTEST_GUILESS_MAIN(TestShutdownBinary)
#include "tst_shutdownbinary.moc"
