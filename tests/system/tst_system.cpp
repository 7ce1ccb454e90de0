// End to end: the real binaries (the desktop application, the headless service,
// the Debian package) against the simulated UPS agent, python-dbusmock's logind
// on a private system bus, and a private X11 desktop with real editors.
#include "berpacket.h"
#include "binaryrun.h"
#include "desktopsession.h"
#include "logfixtures.h"
#include "logindmock.h"
#include "platform/desktopautomation.h"
#include "shutdown/closefile.h"
#include "shutdown/opendocumentsaver.h"
#include "upsagentfixture.h"

#include <QRegularExpression>
#include <QSettings>
#include <QUdpSocket>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QString();
}

// The exit code (-1: it did not end by itself) and the merged output of a command.
std::pair<int, QString> execute(const QString &command, const QString &binaryVariable = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments = command.split(' ', Qt::SkipEmptyParts);
    p.start(binaryVariable.isEmpty() ? arguments.takeFirst() : qEnvironmentVariable(qPrintable(binaryVariable)),
            arguments);
    const bool ended = p.waitForFinished(120000);
    BinaryRun::endProcess(p);
    return {ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll()};
}

// voltiguard-service --status on this process's system bus: the exit code and the summary.
QString status()
{
    const auto [code, output] = execute("--status", "VOLTIGUARD_SERVICE_BINARY");
    return QString::number(code) + ' ' + output;
}

// A binary watching an agent of its own, shutting down at once on utility failure
// through a logind of its own. The service's standard error is its journal, as
// systemd sets it up, so the lines carry their priorities.
struct Rig
{
    explicit Rig(bool service) : service(service), run(service ? "VOLTIGUARD_SERVICE_BINARY" : "VOLTIGUARD_BINARY") {}
    bool start(const QString &canPowerOff, QVariantMap params = {})
    {
        if (!logind.start(canPowerOff) || !agent.start() || !writeMarkerScript(file("program"), file("marker")))
            return false;
        const bool noAgent = params.remove("ip");
        QVariantMap all{{"snmp_port_poll", agent.port()},
                        {"shutdown", true},
                        {"Utility_para", true},
                        {"Utility_time", 0},
                        {"exte_param", file("program")}};
        all.insert(params);
        run.dataDir().writeParams(all);
        if (noAgent)
            QSettings(file("param.ini"), QSettings::IniFormat).remove("ip");
        run.environment().insert("DBUS_SYSTEM_BUS_ADDRESS", logind.address());
        if (!service)
            return run.start();
        QFile(file("journal")).open(QIODevice::WriteOnly);
        struct stat st = {};
        stat(qPrintable(file("journal")), &st);
        run.environment().insert("JOURNAL_STREAM", QString("%1:%2").arg(st.st_dev).arg(st.st_ino));
        run.environment().insert("STATE_DIRECTORY", run.dataDir().path());
        run.process().setProcessChannelMode(QProcess::SeparateChannels);
        run.process().setStandardErrorFile(file("journal"));
        return run.start({"--config", file("param.ini")});
    }
    QString file(const QString &name) const { return run.dataDir().file(name); }
    QList<int> logged() const { return loggedIds(file("log.db")); }
    int calls(const QString &method) { return logind.calls(method).size(); }

    bool service;
    LogindMock logind;
    UpsAgentFixture agent;
    BinaryRun run;
};
} // namespace

class TestSystem : public QObject
{
    Q_OBJECT
private slots:
    void startsWhateverItFinds_data();
    void startsWhateverItFinds();
    void withoutDisplay_data();
    void withoutDisplay();
    void oneMinuteUtilityFailurePowersOffOnce();
    void forgedTrapsNeverAskRefusalIsLoud_data();
    void forgedTrapsNeverAskRefusalIsLoud();
    void endsWithoutLosingEvents_data();
    void endsWithoutLosingEvents();
    void serviceWithoutAgent();
    void serviceReloadsOnSighup();
    void checkConfig_data();
    void checkConfig();
    void package();
    void packagedProgramUsesXdgDirectories_data();
    void packagedProgramUsesXdgDirectories();
    void desktopSaverSavesEveryDocumentEndsEveryApplication();

private:
    QString unpacked();

    QTemporaryDir m_work;
    QString m_deb;
};

void TestSystem::startsWhateverItFinds_data()
{
    QTest::addColumn<QString>("before");
    QTest::newRow("first start creates the log") << "";
    QTest::newRow("an older log keeps its rows") << "older log";
    QTest::newRow("a garbage log does not stop the window") << "garbage";
    QTest::newRow("a stale lock is taken over") << "killed";
    QTest::newRow("a second instance warns and exits with 0") << "second";
}

void TestSystem::startsWhateverItFinds()
{
    QFETCH(QString, before);
    XSession x;
    QVERIFY(x.startWindowManager());
    BinaryRun run;
    run.environment().insert("DISPLAY", x.display());
    run.dataDir().writeParams();
    const QString log = run.dataDir().file("log.db");
    const auto shown = [&](const QString &title) {
        return QTest::qWaitFor([&] { return x.run("wmctrl", {"-l"}).contains(' ' + title + '\n'); }, 15000);
    };
    if (before == "older log")
        LogFixtures::writeOldFormat(
            log, {{"2023-12-31 23:59:58", "127.0.0.1", "7", {}}, {"2023-12-31 23:59:59", "127.0.0.1", "9", {}}});
    if (before == "garbage")
        LogFixtures::writeFile(log, LogFixtures::garbage(8192));
    if (before == "killed") {
        QVERIFY(run.start() && shown("Voltiguard"));
        ::kill(pid_t(run.process().processId()), SIGKILL);
        QVERIFY(run.process().waitForFinished(5000) && QFile::exists(run.runtimeDir() + "/Voltiguard.lock"));
    }
    QVERIFY(run.start() && shown("Voltiguard"));
    if (before == "second") {
        QProcess second;
        QVERIFY(run.start({}, &second) && shown("Warning"));
        x.run("wmctrl", {"-c", "Warning"});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
    }
    QTest::qWait(1500); // a tick or two, each of which writes the log
    QCOMPARE(run.process().state(), QProcess::Running);
    QCOMPARE(loggedIds(log), before == "older log" ? (QList<int>{7, 9}) : QList<int>());
    QCOMPARE(readAll(log) == QString(LogFixtures::garbage(8192)), before == "garbage");
    if (before != "garbage")
        QTRY_COMPARE(LogFixtures::schemaNames(log), (QStringList{"table:log", "index:log_time"}));
}

void TestSystem::withoutDisplay_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("output"); // the exit code and the start of what it prints
    QTest::newRow("--version") << "--version"
                               << "0 voltiguard " VOLTIGUARD_VERSION "\n";
    QTest::newRow("--help") << "--help"
                            << "0 Usage: voltiguard [OPTION]";
    QTest::newRow("no option: one line, no abort") << ""
                                                   << "1 voltiguard: cannot open a display: run it in a graph";
}

void TestSystem::withoutDisplay()
{
    QFETCH(QString, argument);
    QFETCH(QString, output);
    BinaryRun run;
    run.dataDir().writeParams();
    run.environment().remove("DISPLAY");
    run.process().setProcessChannelMode(QProcess::MergedChannels);
    QVERIFY(run.start(argument.split(' ', Qt::SkipEmptyParts)) && run.process().waitForFinished(10000));
    const QString printed = QString::number(run.process().exitCode()) + ' ' + run.process().readAll();
    QVERIFY2(printed.startsWith(output) && (argument == "--help" || printed.count('\n') == 1), qPrintable(printed));
}

// The desktop application and the service side by side, on their own clocks:
// both start the external program once, power off once, and write event 11 as
// soon as logind accepts. (The desktop's countdown texts are checked tick by tick
// in tests/shutdown.)
void TestSystem::oneMinuteUtilityFailurePowersOffOnce()
{
    Rig desktop(false), service(true);
    const QVariantMap params{{"Utility_time", 1}, {"exte_flag", true}, {"exte_time", 1}};
    QVERIFY(desktop.start("yes", params) && service.start("yes", params));
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("0 OK: ") && desktop.logged().contains(9), 20000);
    QVERIFY(desktop.agent.raise("utility") && service.agent.raise("utility"));
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("1 WARNING: Utility Fail") && desktop.logged().contains(0), 10000);
    QCOMPARE(desktop.calls("PowerOff") + service.calls("PowerOff"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(desktop.calls("PowerOff") && service.calls("PowerOff"), 90000);
    QVERIFY(desktop.logged().contains(11) && service.logged().contains(11));
    QTest::qWait(2000); // the machine "stays on": no second request follows
    for (Rig *rig : {&desktop, &service}) {
        QCOMPARE(rig->logind.calls("PowerOff").size(), 1);
        QCOMPARE(rig->logind.calls("PowerOff").first().args, QVariantList{false});
        QCOMPARE(rig->logged().count(11), 1);
        QCOMPARE(readAll(rig->file("marker")), "started\n");
    }
    for (const char *line : {"\n<4>Utility Fail: power-off in 00:01:00 unless it ends",
                             "\n<6>started the external program", "\n<6>Linux System Shutdown"})
        QVERIFY2(readAll(service.file("journal")).contains(line), line);
}

void TestSystem::forgedTrapsNeverAskRefusalIsLoud_data()
{
    QTest::addColumn<bool>("service");
    QTest::addColumn<QString>("errorLine");
    QTest::newRow("desktop") << false
                             << "voltiguard: the power-off was refused: logind answers CanPowerOff with \"challenge\"";
    QTest::newRow("service") << true << "\n<3>Shutdown Failed";
}

// v1/v2c traps carry no authentication: anyone who can send UDP with the agent's
// address can raise a utility failure. It is shown and logged, but only a poll
// answer can ask for the power-off. logind refuses: event 13 and one line on
// standard error with the reason, once, although the delay is zero.
void TestSystem::forgedTrapsNeverAskRefusalIsLoud()
{
    QFETCH(bool, service);
    QFETCH(QString, errorLine);
    Rig rig(service);
    const int trapPort = freeUdpPort();
    rig.run.process().setProcessChannelMode(QProcess::SeparateChannels);
    QVERIFY(rig.start("challenge", {{"snmp_port_trace", trapPort}, {"retries", 1}}));
    QTRY_VERIFY_WITH_TIMEOUT(rig.logged().contains(9), 20000);
    QUdpSocket forger;
    const QByteArray inputBad = Ber::oid("1.3.6.1.2.1.33.1.6.3.6");
    for (int i = 1; i <= 30; ++i) {
        forger.writeDatagram(
            Ber::v2cTrap("public", "1.3.6.1.2.1.33.2.3", {{"1.3.6.1.2.1.33.1.6.2.1.2.1", inputBad}}, i),
            QHostAddress::LocalHost, quint16(trapPort));
        QTest::qWait(100);
    }
    QTRY_VERIFY(rig.logged().contains(0));
    QCOMPARE(rig.calls("CanPowerOff"), 0);
    QVERIFY(rig.agent.raise("utility"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.logged().contains(13), 10000);
    QTest::qWait(3000);
    QCOMPARE(rig.calls("CanPowerOff"), 1);
    QCOMPARE(rig.calls("PowerOff"), 0);
    QCOMPARE(rig.logged().count(13), 1);
    const QString errors = service ? readAll(rig.file("journal")) : rig.run.process().readAllStandardError();
    QVERIFY2(errors.contains(errorLine), qPrintable(errors));
}

void TestSystem::endsWithoutLosingEvents_data()
{
    QTest::addColumn<bool>("service");
    QTest::addColumn<QString>("end");
    QTest::newRow("desktop, SIGTERM") << false << "SIGTERM";
    QTest::newRow("desktop, SIGHUP") << false << "SIGHUP";
    QTest::newRow("desktop, a shutdown announced by logind") << false << "PrepareForShutdown";
    QTest::newRow("desktop, SIGTERM right after the accepted power-off") << false << "PowerOff";
    QTest::newRow("service, SIGTERM") << true << "SIGTERM";
    QTest::newRow("service, a shutdown announced by logind") << true << "PrepareForShutdown";
}

// An event is pending when the end comes: log.db is locked until the end is on its
// way (signal sent, shutdown announced, power-off accepted).
void TestSystem::endsWithoutLosingEvents()
{
    QFETCH(bool, service);
    QFETCH(QString, end);
    Rig rig(service);
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", QTest::currentDataTag());
    db.setDatabaseName(rig.file("log.db"));
    QVERIFY(db.open() && QSqlQuery(db).exec("begin exclusive"));
    QVERIFY(rig.start("yes"));
    const auto pid = pid_t(rig.run.process().processId());
    // Up once it holds its inhibitor.
    QTRY_COMPARE_WITH_TIMEOUT(rig.logind.inhibitors().value(0).value(3), QString("delay"), 20000);
    if (end == "PowerOff") {
        QVERIFY(rig.logind.replaceMethod("PowerOff", "b", "", QString("import os; os.kill(%1, 15)").arg(pid)));
        QVERIFY(QSqlQuery(db).exec("commit") && rig.agent.raise("utility"));
    } else {
        QTest::qWait(3000); // the agent's first answer queues "Agent Connected"
        ::kill(pid, SIGSTOP);
        QVERIFY(QSqlQuery(db).exec("commit"));
        if (end == "PrepareForShutdown")
            QVERIFY2(rig.logind.prepareForShutdown(true), qPrintable(rig.logind.error()));
        else
            ::kill(pid, end == "SIGTERM" ? SIGTERM : SIGHUP);
        ::kill(pid, SIGCONT);
    }
    if (end == "PrepareForShutdown") {
        // The inhibitor goes only once the queue is written; the application goes on.
        QTRY_VERIFY(rig.logind.inhibitors().isEmpty());
        QCOMPARE(rig.run.process().state(), QProcess::Running);
    } else {
        QVERIFY(rig.run.process().waitForFinished(10000));
        QCOMPARE(rig.run.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(rig.run.process().exitCode(), 0);
    }
    QVERIFY(rig.logged().contains(end == "PowerOff" ? 11 : 7));
}

// Without an agent in its file the service idles and says why (a faulty one runs
// where the default address cannot be reached); once it ends, no service runs.
void TestSystem::serviceWithoutAgent()
{
    Rig rig(true);
    QVERIFY(rig.start("yes", {{"ip", QVariant()}}));
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("2 CRITICAL: no agent configured"), 10000);
    rig.run.stop();
    QTRY_VERIFY(status().startsWith("3 UNKNOWN: "));
}

void TestSystem::serviceReloadsOnSighup()
{
    Rig rig(true);
    QVERIFY(rig.start("yes", {{"snmp_port_poll", freeUdpPort()}}));
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("2 CRITICAL: Agent Unconnected"), 15000);
    rig.run.dataDir().writeParams({{"snmp_port_poll", rig.agent.port()}});
    ::kill(pid_t(rig.run.process().processId()), SIGHUP);
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("0 OK: "), 15000);
    QVERIFY(readAll(rig.file("journal")).contains("\n<6>Agent Connected"));
}

void TestSystem::checkConfig_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QStringList>("problems");
    QTest::newRow("good file") << "[General]\nip=127.0.0.1\nUtility_para=true\nUtility_time=5\n" << QStringList();
    QTest::newRow("values that do not parse, no agent")
        << "[General]\nUtility_time=10min\nUPS_para=no\nsnmp_port_poll=70000\n"
        << QStringList{"Utility_time", "UPS_para", "snmp_port_poll", "\"ip\""};
    QTest::newRow("missing file") << QString() << QStringList{"does not exist"};
}

void TestSystem::checkConfig()
{
    QFETCH(QString, content);
    QFETCH(QStringList, problems);
    QTemporaryDir dir;
    QFile file(dir.filePath("param.ini"));
    QVERIFY(content.isNull() || (file.open(QIODevice::WriteOnly) && file.write(content.toUtf8()) && file.flush()));
    const auto [code, output] = execute("--check-config " + file.fileName(), "VOLTIGUARD_SERVICE_BINARY");
    QCOMPARE(code, int(!problems.isEmpty()));
    QCOMPARE(output.count('\n'), problems.size());
    for (const QString &problem : problems)
        QVERIFY2(output.contains(problem), qPrintable(output));
}

// The Debian package as CPack builds it, unpacked with dpkg -x.
QString TestSystem::unpacked()
{
    if (m_deb.isEmpty()) {
        QFile::setPermissions(m_work.path(), QFile::Permissions(0x7055));
        const QString build = qEnvironmentVariable("VOLTIGUARD_BUILD_DIR");
        const auto [code, output] =
            execute("cpack -G DEB -B " + m_work.filePath("pkg") + " --config " + build + "/CPackConfig.cmake");
        m_deb = m_work.filePath("pkg/") + QDir(m_work.filePath("pkg")).entryList({"*.deb"}).value(0);
        if (code || execute("dpkg -x " + m_deb + ' ' + m_work.filePath("root")).first)
            qWarning("%s", qPrintable(output));
    }
    return m_work.filePath("root/");
}

void TestSystem::package()
{
    const QString root = unpacked(), id = "org.voltiguard.Voltiguard",
                  metainfo = "usr/share/metainfo/" + id + ".metainfo.xml";
    const std::pair<QString, QString> files[] = {{"usr/bin/voltiguard", ""},
                                                 {"usr/sbin/voltiguard-service", ""},
                                                 {"usr/share/voltiguard/help_en.html", ""},
                                                 {"usr/share/voltiguard/help_cn.html", ""},
                                                 {"usr/share/man/man8/voltiguard-service.8.gz", ""},
                                                 {"usr/share/doc/voltiguard/examples/param.ini", ""},
                                                 {"usr/share/icons/hicolor/256x256/apps/" + id + ".png", ""},
                                                 {metainfo, "<screenshot type=\"default\">"},
                                                 {metainfo, "<url type=\"homepage\">"},
                                                 {metainfo, "<url type=\"bugtracker\">"},
                                                 {metainfo, "<release version=\"" VOLTIGUARD_VERSION "\""}};
    for (const auto &[file, part] : files)
        QVERIFY2(QFileInfo(root + file).size() > 0 && readAll(root + file).contains(part),
                 qPrintable(file + ' ' + part));
    QStringList depends = execute("dpkg-deb -f " + m_deb + " Depends").second.split(',');
    for (QString &name : depends)
        name = name.trimmed().section(' ', 0, 0);
    QCOMPARE(QSet<QString>(depends.begin(), depends.end()).size(), depends.size());
    const QString recommends = execute("dpkg-deb -f " + m_deb + " Recommends").second;
    QVERIFY2(recommends.contains("notification-daemon") && !recommends.contains("qpa-plugins"), qPrintable(recommends));

    // The service unit is checked as a file, never given to this machine's systemd.
    QFile unit(m_work.filePath("voltiguard.service")), bus(m_work.filePath("bus.conf"));
    QVERIFY(unit.open(QIODevice::WriteOnly) && bus.open(QIODevice::WriteOnly));
    unit.write(readAll(root + "usr/lib/systemd/system/voltiguard.service")
                   .replace("=/usr/sbin/", "=" + root + "usr/sbin/")
                   .toUtf8());
    bus.write(
        QString(
            "<busconfig><type>system</type><listen>unix:path=%1</listen><policy context=\"default\"><allow user=\"*\"/>"
            "</policy><include>%2usr/share/dbus-1/system.d/%3.conf</include></busconfig>")
            .arg(m_work.filePath("bus"), root, id + '1')
            .toUtf8());
    unit.close();
    bus.close();
    qputenv("MANPATH", (root + "usr/share/man").toUtf8());
    // Exit code and the start of the output, none: any.
    const std::tuple<QString, int, QString> validators[] = {
        {"desktop-file-validate " + root + "usr/share/applications/" + id + ".desktop", 0, ""},
        {"appstreamcli validate --no-net " + root + metainfo, 0, QString()},
        {"lintian --fail-on error,warning " + m_deb, 0, QString()},
        {"systemd-analyze verify " + unit.fileName(), 0, ""},
        // A policy that dbus-daemon cannot parse makes it refuse to start.
        {"timeout 3 dbus-daemon --nofork --print-address --config-file=" + bus.fileName(), 124, "unix:path="}};
    for (const auto &[command, exitCode, start] : validators) {
        const auto [code, output] = execute(command);
        QVERIFY2(code == exitCode &&
                     (start.isNull() || (start.isEmpty() ? output.isEmpty() : output.startsWith(start))),
                 qPrintable(command + '\n' + output));
    }
}

void TestSystem::packagedProgramUsesXdgDirectories_data()
{
    QTest::addColumn<bool>("asRoot"); // /usr/bin is writable for root: its files still go to its XDG directories
    QTest::newRow("run as root") << true;
    QTest::newRow("run as a user, moving the files of the old data directory") << false;
}

void TestSystem::packagedProgramUsesXdgDirectories()
{
    QFETCH(bool, asRoot);
    if (geteuid() != 0)
        QSKIP("runs the program as root and as nobody");
    const QString root = unpacked(), home = m_work.filePath(QTest::currentDataTag()).replace(' ', '-');
    const QString before = execute("find " + root).second, config = home + "/config/voltiguard",
                  state = home + "/state/voltiguard", old = home + "/data/voltiguard";
    QVERIFY(QDir().mkpath(asRoot ? config : old) && QDir().mkpath(home + "/run"));
    QFile params((asRoot ? config : old) + "/param.ini"); // a loopback agent that never answers
    QVERIFY(params.open(QIODevice::WriteOnly));
    params.write(
        QString("[General]\nip=127.0.0.1\nsnmp_port_poll=%1\nsnmp_port_trace=%1\n").arg(freeUdpPort()).toUtf8());
    params.close();
    QVERIFY(asRoot || execute("chown -R 65534:65534 " + home).first == 0);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &dir : QStringList{"data", "config", "state", "run"})
        env.insert(dir == "run" ? "XDG_RUNTIME_DIR" : "XDG_" + dir.toUpper() + "_HOME", home + '/' + dir);
    env.insert("HOME", home);
    env.remove("QT_QPA_PLATFORM");
    program.setProcessEnvironment(env);
    // A program that missed its param.ini would poll the default agent address:
    // it runs in a network namespace that has only loopback, as nobody unless asRoot.
    const QString user = asRoot ? "" : "setpriv --reuid=65534 --regid=65534 --clear-groups -- ";
    program.start("unshare",
                  {"-n", "sh", "-c", "ip link set lo up && exec " + user + "\"$0\"", root + "usr/bin/voltiguard"});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(state + "/log.db") && QFile::exists(state + "/snmpv3_boot_counter"), 20000);
    QCOMPARE(program.state(), QProcess::Running);
    BinaryRun::endProcess(program);
    QCOMPARE(execute("find " + root).second, before);
    QVERIFY(QFile::exists(config + "/param.ini") && !QFile::exists(old + "/param.ini"));
    for (const QString &path : {config, state, state + "/log.db"})
        QVERIFY2(!(QFileInfo(path).permissions() & QFile::Permissions(0x0077)), qPrintable(path));
}

// The pre-shutdown pass on a real X11 desktop: real editors (GTK 3 mousepad with two
// tabs, Qt 5 featherpad, our Qt 6 editor) hold unsaved documents, an application
// ignores the close request, another hides its window. Every document is saved
// under its generated name and recorded in close_file.db, no application is left,
// and the windows the pass must not touch are left alone.
void TestSystem::desktopSaverSavesEveryDocumentEndsEveryApplication()
{
    DesktopSession session;
    QString error;
    QVERIFY2(session.start(&error), qPrintable(error));
    const auto desktop = createDesktopAutomation();
    const auto titles = [&] {
        QStringList titles;
        for (const WindowInfo &w : desktop->applicationWindows())
            titles << w.title;
        return titles;
    };
    const auto editor = [&](const QStringList &arguments) {
        const qint64 pid = session.launch(TEST_EDITOR, arguments);
        session.waitFor([&] { return titles().contains(arguments.value(1)); }, 10000);
        return pid;
    };
    TempDataDir data;
    const QString saveDir = data.file("saved"); // created by the pass
    data.writeParams({{"dir", saveDir}});
    const qint64 mousepad = session.launch("mousepad");
    QVERIFY(session.typeIntoDocument(mousepad, "mousepad first tab"));
    session.launch("mousepad", {"--opening-mode=tab"});
    QVERIFY(session.waitFor([&] { return titles().join('\n').contains("Untitled 2"); }, 10000));
    QVERIFY(session.typeIntoDocument(mousepad, "mousepad second tab"));
    const qint64 featherpad = session.launch("featherpad");
    QVERIFY(session.typeIntoDocument(featherpad, "featherpad text"));
    const QList<qint64> ended{mousepad, featherpad, editor({"--caption", "Qt 6 'quoted' editor", "--text", "qt6 text"}),
                              editor({"--caption", "Stubborn", "--ignore-close", "--text", "lost"}),
                              editor({"--caption", "Tray keeper", "--hide-on-close"})};
    // Not to be touched: our own title, and a window that is no application window.
    const QList<qint64> kept{editor({"--caption", "Voltiguard", "--text", "keep me"}),
                             session.launch(TEST_EDITOR, {"--tool", "--caption", "Palette"})};
    QVERIFY(session.waitFor([&] { return titles().size() == 6 && execute("xprop -name Palette WM_NAME").first == 0; },
                            10000));
    QStringList closed = titles();
    closed.removeAll("Voltiguard");
    OpenDocumentSaver(*desktop).closeApplications();

    QStringList contents, names = QDir(saveDir).entryList(QDir::Files);
    for (const QString &name : names)
        contents << readAll(saveDir + '/' + name).trimmed();
    contents.sort();
    QCOMPARE(contents, (QStringList{"featherpad text", "mousepad first tab", "mousepad second tab", "qt6 text"}));
    // backup<N>_<yyyyMMdd-hhmmss>, N counting across windows.
    QCOMPARE(names.replaceInStrings(QRegularExpression("_\\d{8}-\\d{6}$"), ""),
             (QStringList{"backup1", "backup2", "backup3", "backup4"}));
    const CloseFile::Record record = CloseFile::read();
    QVERIFY(QDateTime::fromString(record.time, "yyyy-MM-dd hh:mm:ss").isValid());
    QCOMPARE(record.closed, closed);
    // One saved row per document, with the title its window had when the pass found it.
    QCOMPARE(record.saved.size(), 4);
    QVERIFY(record.saved.contains("Qt 6 'quoted' editor"));
    for (qint64 pid : ended)
        QVERIFY(session.waitFor([&] { return session.hasEnded(pid); }, 3000));
    for (qint64 pid : kept)
        QVERIFY(!session.hasEnded(pid));
}

QTEST_GUILESS_MAIN(TestSystem)
#include "tst_system.moc"
