// End to end: voltiguard-service, run without any display, against the simulated
// UPS agent and python-dbusmock's logind on a private system bus, which also
// carries the service's published state. Its standard error is a file that
// JOURNAL_STREAM names, as systemd sets it up, so the lines carry their priorities.
#include "logindmock.h"
#include "tempdatadir.h"
#include "upsagentfixture.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// One run of the service in a directory of its own: etc/param.ini, state/, and
// the journal file.
class ServiceRun
{
public:
    explicit ServiceRun(const QString &bus) : m_bus(bus)
    {
        // The socket of systemd's notify protocol (Type=notify).
        m_notify = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(notifySocket()).constData(), sizeof(address.sun_path));
        bind(m_notify, reinterpret_cast<sockaddr *>(&address), sizeof(address));
    }
    ~ServiceRun()
    {
        stop();
        close(m_notify);
    }

    QString config() const { return m_dir.filePath(QStringLiteral("param.ini")); }
    QString notifySocket() const { return m_dir.filePath(QStringLiteral("notify")); }
    // What the service has told systemd so far, one assignment per entry.
    QStringList notifications()
    {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = recv(m_notify, buffer, sizeof(buffer), 0)) > 0)
            m_notified << QString::fromUtf8(buffer, int(n)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return m_notified;
    }
    QString state() const { return m_dir.filePath(QStringLiteral("state")); }
    // Writes param.ini; an "ip" of null leaves the key out.
    void writeConfig(const QVariantMap &values)
    {
        QFile::remove(config());
        {
            QSettings s(config(), QSettings::IniFormat);
            for (auto it = values.begin(); it != values.end(); ++it) {
                if (!it.value().isNull())
                    s.setValue(it.key(), it.value());
            }
        }
        m_agentNamed = !values.value(QStringLiteral("ip")).isNull();
        if (m_agentNamed && !values.value(QStringLiteral("ip")).toString().startsWith(QLatin1String("127.")))
            qFatal("test param.ini must name a loopback agent");
        QFile::setPermissions(config(), QFile::ReadOwner | QFile::WriteOwner);
    }
    bool start()
    {
        const QString journalFile = m_dir.filePath(QStringLiteral("journal"));
        QFile(journalFile).open(QIODevice::WriteOnly);
        struct stat st = {};
        stat(QFile::encodeName(journalFile).constData(), &st);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_bus);
        env.insert(QStringLiteral("STATE_DIRECTORY"), state());
        env.insert(QStringLiteral("NOTIFY_SOCKET"), notifySocket());
        env.insert(QStringLiteral("JOURNAL_STREAM"), QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino));
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
            env.remove(QString::fromLatin1(name));
        m_process.setProcessEnvironment(env);
        m_process.setStandardErrorFile(journalFile, QIODevice::Append);
        const QString binary = qEnvironmentVariable("VOLTIGUARD_SERVICE_BINARY");
        // Without an agent in the file a faulty service would poll the default
        // address: it then runs in a network namespace that has only loopback.
        if (m_agentNamed)
            m_process.start(binary, {QStringLiteral("--config"), config()});
        else
            m_process.start(QStringLiteral("unshare"), {"-n", "sh", "-c", "ip link set lo up && exec \"$0\" \"$@\"",
                                                        binary, "--config", config()});
        return m_process.waitForStarted(10000);
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    QProcess &process() { return m_process; }
    QStringList journal() const
    {
        QFile f(m_dir.filePath(QStringLiteral("journal")));
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QList<int> loggedIds() const
    {
        QList<int> ids;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            db.setDatabaseName(state() + QStringLiteral("/log.db"));
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
            QSqlQuery q(db);
            if (db.open() && q.exec(QStringLiteral("select id from log order by rowid"))) {
                while (q.next())
                    ids << q.value(0).toInt();
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
        return ids;
    }

private:
    QString m_bus;
    bool m_agentNamed = false;
    QTemporaryDir m_dir;
    int m_notify = -1;
    QStringList m_notified;
    QProcess m_process;
};

struct Command
{
    int exitCode = -1;
    QStringList lines;
};

Command runService(const QStringList &arguments, const QString &bus)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), bus);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(qEnvironmentVariable("VOLTIGUARD_SERVICE_BINARY"), arguments);
    if (!p.waitForFinished(20000))
        p.kill();
    p.waitForFinished(1000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)};
}
} // namespace

class ServiceTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void statusExitCode_data();
    void statusExitCode();
    void powerOff_data();
    void powerOff();
    void sigtermWritesPendingEvent();
    void sighupTakesUpNewAgentPort();
    void checkConfig_data();
    void checkConfig();

private:
    QVariantMap agentConfig(const QVariantMap &extra = {}) const;

    LogindMock m_logind;
    UpsAgentFixture m_agent;
};

void ServiceTest::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS"),
             "DBUS_SYSTEM_BUS_ADDRESS is unset; refusing to start a service that powers off");
    QVERIFY2(m_logind.start(), qPrintable(m_logind.error()));
    QVERIFY(m_agent.start());
}

void ServiceTest::init()
{
    QVERIFY(m_agent.reset());
    QVERIFY(m_logind.clearCalls());
    QVERIFY(m_logind.replaceMethod(QStringLiteral("CanPowerOff"), QString(), QStringLiteral("s"),
                                   QStringLiteral("ret = 'yes'")));
}

QVariantMap ServiceTest::agentConfig(const QVariantMap &extra) const
{
    QVariantMap values{{"ip", "127.0.0.1"},
                       {"snmp_port_poll", m_agent.port()},
                       {"snmp_port_trace", freeUdpPort()},
                       {"msgVersion", 2},
                       {"retries", 0},
                       {"timeout", 1}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        values[it.key()] = it.value();
    return values;
}

void ServiceTest::statusExitCode_data()
{
    QTest::addColumn<QVariantMap>("config");
    QTest::addColumn<QString>("alarm");
    QTest::addColumn<QString>("journalLine");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("summary");
    QTest::newRow("agent and UPS connected") << agentConfig() << QString() << "<6>UPS Connected" << 0 << "OK: ";
    QTest::newRow("utility failure present") << agentConfig() << "utility"
                                             << "<4>Utility Fail" << 1 << "WARNING: Utility Fail";
    QTest::newRow("agent lost") << agentConfig({{"snmp_port_poll", freeUdpPort()}}) << QString()
                                << "<4>Agent Unconnected" << 2 << "CRITICAL: Agent Unconnected";
    QTest::newRow("no agent configured") << agentConfig({{"ip", QVariant()}}) << QString() << "<4>no agent configured"
                                         << 2 << "CRITICAL: no agent configured";
    QTest::newRow("no service runs") << QVariantMap() << QString() << QString() << 3 << "UNKNOWN: ";
}

void ServiceTest::statusExitCode()
{
    QFETCH(QVariantMap, config);
    QFETCH(QString, alarm);
    QFETCH(QString, journalLine);
    QFETCH(int, exitCode);
    QFETCH(QString, summary);

    ServiceRun service(m_logind.address());
    if (!config.isEmpty()) {
        service.writeConfig(config);
        QVERIFY(service.start());
        if (!alarm.isEmpty())
            QVERIFY(m_agent.raise(alarm));
        QTRY_VERIFY2_WITH_TIMEOUT(service.journal().join('\n').contains(journalLine),
                                  qPrintable(service.journal().join('\n')), 15000);
    }
    Command status;
    // The state is published with the next tick.
    QTRY_COMPARE_WITH_TIMEOUT((status = runService({QStringLiteral("--status")}, m_logind.address())).exitCode,
                              exitCode, 5000);
    QVERIFY2(!status.lines.isEmpty() && status.lines.first().startsWith(summary), qPrintable(status.lines.join('\n')));
    if (!config.isEmpty()) {
        // systemd learns that the start is complete, and shows the same verdict.
        QVERIFY(service.notifications().contains(QStringLiteral("READY=1")));
        QVERIFY2(service.notifications().contains(QStringLiteral("STATUS=") + status.lines.first()),
                 qPrintable(service.notifications().join('\n')));
    }
}

void ServiceTest::powerOff_data()
{
    QTest::addColumn<QString>("canPowerOff");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QStringList>("journalLines");
    QTest::addColumn<QList<int>>("rows");
    QTest::newRow("one-minute utility failure powers off once")
        << "yes" << 1
        << QStringList{"<4>Utility Fail", "<4>Utility Fail: power-off in 00:01:00 unless it ends",
                       "<6>started the external program", "<6>Linux System Shutdown"}
        << QList<int>{0, 11};
    QTest::newRow("refused power-off is an error")
        << "challenge" << 0 << QStringList{"<4>Utility Fail", "<3>Shutdown Failed"} << QList<int>{0, 13};
}

void ServiceTest::powerOff()
{
    QFETCH(QString, canPowerOff);
    QFETCH(int, minutes);
    QFETCH(QStringList, journalLines);
    QFETCH(QList<int>, rows);
    QVERIFY(m_logind.replaceMethod(QStringLiteral("CanPowerOff"), QString(), QStringLiteral("s"),
                                   QStringLiteral("ret = '%1'").arg(canPowerOff)));
    QTemporaryDir scratch;
    const QString marker = scratch.filePath(QStringLiteral("marker"));
    const QString program = scratch.filePath(QStringLiteral("before-shutdown"));
    QVERIFY(writeMarkerScript(program, marker));

    ServiceRun service(m_logind.address());
    service.writeConfig(agentConfig({{"Utility_para", true},
                                     {"Utility_time", minutes},
                                     {"exte_flag", true},
                                     {"exte_param", program},
                                     {"exte_time", 1}}));
    QVERIFY(service.start());
    QTRY_VERIFY_WITH_TIMEOUT(service.journal().contains(QStringLiteral("<6>UPS Connected")), 15000);
    QVERIFY(m_agent.raise(QStringLiteral("utility")));

    // The last row is written once the answer has come.
    QTRY_VERIFY2_WITH_TIMEOUT(service.loggedIds().contains(rows.last()), qPrintable(service.journal().join('\n')),
                              minutes * 60000 + 20000);
    QTest::qWait(3000);
    const QStringList journal = service.journal();
    for (const QString &line : journalLines) {
        QVERIFY2(std::any_of(journal.begin(), journal.end(), [&](const QString &l) { return l.startsWith(line); }),
                 qPrintable(line + " not in:\n" + journal.join('\n')));
    }
    const QList<int> ids = service.loggedIds();
    QCOMPARE(ids.count(rows.last()), 1);
    QVERIFY(ids.indexOf(rows.first()) < ids.indexOf(rows.last()));
    if (canPowerOff == QLatin1String("yes")) {
        QCOMPARE(m_logind.calls(QStringLiteral("PowerOff")).size(), 1);
        QCOMPARE(m_logind.calls(QStringLiteral("PowerOff")).first().args, QVariantList{false});
        QFile started(marker);
        QVERIFY(started.open(QIODevice::ReadOnly));
        QCOMPARE(started.readAll().count('\n'), 1);
    } else {
        QVERIFY(m_logind.calls(QStringLiteral("PowerOff")).isEmpty());
    }
}

void ServiceTest::sigtermWritesPendingEvent()
{
    ServiceRun service(m_logind.address());
    service.writeConfig(agentConfig());
    QVERIFY(service.start());
    QTRY_VERIFY_WITH_TIMEOUT(service.journal().contains(QStringLiteral("<6>UPS Connected")), 15000);

    // The log is held by another reader: the event waits in memory.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
    db.setDatabaseName(service.state() + QStringLiteral("/log.db"));
    QVERIFY(db.open());
    QSqlQuery hold(db);
    QVERIFY(hold.exec(QStringLiteral("begin exclusive")));
    QVERIFY(m_agent.raise(QStringLiteral("utility")));
    QTRY_VERIFY_WITH_TIMEOUT(service.journal().contains(QStringLiteral("<4>Utility Fail")), 15000);
    QVERIFY(!service.loggedIds().contains(0));

    service.signal(SIGTERM);
    QTest::qWait(500);
    QVERIFY(hold.exec(QStringLiteral("rollback")));
    hold.finish();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));

    QVERIFY(service.process().state() == QProcess::NotRunning || service.process().waitForFinished(10000));
    QCOMPARE(service.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.process().exitCode(), 0);
    QVERIFY2(service.loggedIds().contains(0), qPrintable(service.journal().join('\n')));
}

void ServiceTest::sighupTakesUpNewAgentPort()
{
    ServiceRun service(m_logind.address());
    service.writeConfig(agentConfig({{"snmp_port_poll", freeUdpPort()}}));
    QVERIFY(service.start());
    QTRY_VERIFY_WITH_TIMEOUT(service.journal().contains(QStringLiteral("<4>Agent Unconnected")), 15000);

    service.writeConfig(agentConfig());
    service.signal(SIGHUP);
    QTRY_VERIFY2_WITH_TIMEOUT(service.journal().contains(QStringLiteral("<6>Agent Connected")),
                              qPrintable(service.journal().join('\n')), 15000);
    QCOMPARE(runService({QStringLiteral("--status")}, m_logind.address()).exitCode, 0);
    QCOMPARE(service.process().state(), QProcess::Running);
}

void ServiceTest::checkConfig_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("good file") << "[General]\nip=127.0.0.1\nUtility_para=true\nUtility_time=5\n" << 0 << QStringList();
    QTest::newRow("values that do not parse")
        << "[General]\nip=127.0.0.1\nUtility_time=10min\nUPS_para=no\nsnmp_port_poll=70000\n"
        << 1 << QStringList{"Utility_time", "UPS_para", "snmp_port_poll"};
    QTest::newRow("no agent named") << "[General]\nUtility_para=true\n" << 1 << QStringList{"ip"};
    QTest::newRow("missing file") << QString() << 1 << QStringList();
}

void ServiceTest::checkConfig()
{
    QFETCH(QString, content);
    QFETCH(int, exitCode);
    QFETCH(QStringList, keys);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("param.ini"));
    if (!content.isNull()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content.toUtf8());
    }
    const Command check = runService({QStringLiteral("--check-config"), path}, m_logind.address());
    QCOMPARE(check.exitCode, exitCode);
    for (const QString &key : keys) {
        QVERIFY2(std::any_of(check.lines.begin(), check.lines.end(), [&](const QString &l) { return l.contains(key); }),
                 qPrintable(key + " not in:\n" + check.lines.join('\n')));
    }
    QCOMPARE(exitCode == 0, check.lines.isEmpty());
}

QTEST_GUILESS_MAIN(ServiceTest)
#include "tst_service.moc"
