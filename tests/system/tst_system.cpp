#include "berpacket.h"
#include "binaryrun.h"
#include "desktopsession.h"
#include "logindmock.h"
#include "platform/desktopautomation.h"
#include "shutdown/closefile.h"
#include "shutdown/opendocumentsaver.h"
#include "upsagentfixture.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUdpSocket>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString execute(const QString &command, const char *binaryVariable = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(binaryVariable ? QProcess::ForwardedErrorChannel : QProcess::MergedChannels);
    QStringList arguments = command.split(' ', Qt::SkipEmptyParts);
    p.start(binaryVariable ? qEnvironmentVariable(binaryVariable) : arguments.takeFirst(), arguments);
    const bool ended = p.waitForFinished(120000);
    BinaryRun::endProcess(p);
    return QString::number(ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1) + ' ' + p.readAll();
}

const auto status = [] { return execute("--status", "VOLTIGUARD_SERVICE_BINARY"); };

// The service's standard error is its journal, as systemd sets it up: the lines carry their priorities.
struct Rig
{
    explicit Rig(bool service) : service(service), run(service ? "VOLTIGUARD_SERVICE_BINARY" : "VOLTIGUARD_BINARY") {}
    bool start(const QString &canPowerOff, QVariantMap params = {})
    {
        if (!logind.start(canPowerOff) || !agent.start() || !writeMarkerScript(file("program"), file("marker")))
            return false;
        const bool noAgent = params.remove("ip");
        all = {{"snmp_port_poll", agent.port()}, {"shutdown", true}, {"Utility_para", true}, {"Utility_time", 0}};
        all.insert("exte_param", file("program"));
        all.insert(params);
        run.dataDir().writeParams(all);
        if (noAgent)
            QSettings(file("param.ini"), QSettings::IniFormat).remove("ip");
        run.environment().insert("DBUS_SYSTEM_BUS_ADDRESS", logind.address());
        if (!service)
            return run.start();
        struct stat st = {};
        writeFile(file("journal"), {});
        stat(qPrintable(file("journal")), &st);
        run.environment().insert("JOURNAL_STREAM", QString("%1:%2").arg(st.st_dev).arg(st.st_ino));
        run.environment().insert("STATE_DIRECTORY", run.dataDir().path());
        run.process().setProcessChannelMode(QProcess::SeparateChannels);
        run.process().setStandardErrorFile(file("journal"));
        return run.start({"--config", file("param.ini")});
    }
    QString file(const QString &name) const { return run.dataDir().file(name); }
    QStringList logged() const { return sqlRows(file("log.db"), {"select id from log order by rowid"}); }
    int calls(const QString &method) { return logind.calls(method).size(); }

    bool service;
    QVariantMap all;
    LogindMock logind;
    UpsAgentFixture agent;
    BinaryRun run;
};
} // namespace

class TestSystem : public QObject
{
    Q_OBJECT
    QTemporaryDir m_work;
    QString m_deb;

    QString unpacked()
    {
        if (m_deb.isEmpty()) {
            QFile::setPermissions(m_work.path(), QFile::Permissions(0x7055));
            const QString out = execute("cpack -G DEB -B " + m_work.filePath("pkg") + " --config " +
                                        qEnvironmentVariable("VOLTIGUARD_BUILD_DIR") + "/CPackConfig.cmake");
            m_deb = m_work.filePath("pkg/") + QDir(m_work.filePath("pkg")).entryList({"*.deb"}).value(0);
            if (!out.startsWith("0 ") || execute("dpkg -x " + m_deb + ' ' + m_work.filePath("root")) != "0 ")
                qWarning("%s", qPrintable(out));
        }
        return m_work.filePath("root/");
    }

private slots:
    void startsWhateverItFinds_data()
    {
        QTest::addColumn<QString>("before");
        QTest::newRow("first start creates the log") << "";
        QTest::newRow("an older log keeps its rows") << "older log";
        QTest::newRow("a garbage log does not stop the window") << "garbage";
        QTest::newRow("a stale lock is taken over") << "killed";
        QTest::newRow("a second instance warns and exits with 0") << "second";
    }
    void startsWhateverItFinds()
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
        const QByteArray garbage(8192, '\x9c');
        if (before == "older log") // as an older build wrote it: the table only
            sqlRows(log, {"create table log(time varchar,ip varchar,id varchar)",
                          "insert into log values('2023-12-31 23:59:58','',7),('2023-12-31 23:59:59','',9)"});
        if (before == "garbage")
            writeFile(log, garbage);
        if (before == "killed") {
            QVERIFY(run.start() && shown("Voltiguard"));
            ::kill(pid_t(run.process().processId()), SIGKILL);
            QVERIFY(run.process().waitForFinished(5000) && QFile::exists(run.runtimeDir() + "/Voltiguard.lock"));
        }
        QVERIFY(run.start() && shown("Voltiguard"));
        QProcess second;
        if (before == "second") {
            QVERIFY(run.start({}, &second) && shown("Warning"));
            x.run("wmctrl", {"-c", "Warning"});
            QVERIFY(second.waitForFinished(10000) && second.exitStatus() == QProcess::NormalExit && !second.exitCode());
        }
        QTest::qWait(1500);
        QCOMPARE(run.process().state(), QProcess::Running);
        QCOMPARE(sqlRows(log, {"select id from log order by rowid"}),
                 (before == "older log" ? QStringList{"7", "9"} : QStringList()));
        QCOMPARE(fileBytes(log) == garbage, before == "garbage");
        if (before != "garbage")
            QTRY_COMPARE(sqlRows(log, {"select type || ':' || name from sqlite_master order by name"}),
                         (QStringList{"table:log", "index:log_time"}));
    }

    void withoutDisplay_data()
    {
        QTest::addColumn<QString>("output"); // the exit code and the start of what it prints
        QTest::newRow("--version") << QString("0 voltiguard %1\n").arg(VOLTIGUARD_VERSION);
        QTest::newRow("--help") << "0 Usage: voltiguard [OPTION]";
        QTest::newRow("no option: one line, no abort") << "1 voltiguard: cannot open a display: run it in";
    }
    void withoutDisplay()
    {
        QFETCH(QString, output);
        const QString tag = QTest::currentDataTag(), argument = tag.startsWith("--") ? tag : QString();
        BinaryRun run;
        run.dataDir().writeParams();
        run.environment().remove("DISPLAY");
        run.process().setProcessChannelMode(QProcess::MergedChannels);
        QVERIFY(run.start(QStringList(argument).filter("-")) && run.process().waitForFinished(10000));
        const QString printed = QString::number(run.process().exitCode()) + ' ' + run.process().readAll();
        QVERIFY2(printed.startsWith(output) && (argument == "--help" || printed.count('\n') == 1), qPrintable(printed));
    }

    // The service finds its agent only once SIGHUP has made it read the port again.
    void oneMinuteUtilityFailurePowersOffOnce()
    {
        Rig desktop(false), service(true);
        const QVariantMap params{{"Utility_time", 1}, {"exte_flag", true}, {"exte_time", 1}};
        QVariantMap wrongPort = params;
        wrongPort.insert("snmp_port_poll", freeUdpPort());
        QVERIFY(desktop.start("yes", params) && service.start("yes", wrongPort));
        QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("2 CRITICAL: Agent Unconnected"), 15000);
        service.all.insert("snmp_port_poll", service.agent.port());
        service.run.dataDir().writeParams(service.all);
        ::kill(pid_t(service.run.process().processId()), SIGHUP);
        QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("0 OK: ") && desktop.logged().contains("9"), 20000);
        QCOMPARE(execute("--check-config " + service.file("param.ini"), "VOLTIGUARD_SERVICE_BINARY"), QString("0 "));
        QVERIFY(desktop.agent.raise("utility") && service.agent.raise("utility"));
        QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("1 WARNING: Utility Fail") && desktop.logged().contains("0"),
                                 10000);
        QCOMPARE(desktop.calls("PowerOff") + service.calls("PowerOff"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.calls("PowerOff") && service.calls("PowerOff"), 90000);
        QTest::qWait(2000); // the machine "stays on": no second request follows
        for (Rig *rig : {&desktop, &service}) {
            QCOMPARE(rig->logind.calls("PowerOff").size(), 1);
            QCOMPARE(rig->logind.calls("PowerOff").first().args, QVariantList{false});
            QCOMPARE(rig->logged().count("11"), 1);
            QCOMPARE(fileBytes(rig->file("marker")), QByteArray("started\n"));
        }
        for (const char *line : {"\n<6>Agent Connected", "\n<4>Utility Fail: power-off in 00:01:00 unless it ends",
                                 "\n<6>started the external program", "\n<6>Linux System Shutdown"})
            QVERIFY2(fileBytes(service.file("journal")).contains(line), line);
    }

    void forgedTrapsNeverAskRefusalIsLoud_data()
    {
        QTest::addColumn<bool>("service");
        QTest::addColumn<QString>("errorLine");
        QTest::newRow("desktop")
            << false << "voltiguard: the power-off was refused: logind answers CanPowerOff with \"challenge\"";
        QTest::newRow("service") << true << "\n<3>Shutdown Failed";
    }
    // Only a poll answer asks for the power-off; a refusal is logged once although the delay is zero.
    void forgedTrapsNeverAskRefusalIsLoud()
    {
        QFETCH(bool, service);
        QFETCH(QString, errorLine);
        Rig rig(service);
        const int trapPort = freeUdpPort();
        rig.run.process().setProcessChannelMode(QProcess::SeparateChannels);
        QVERIFY(rig.start("challenge", {{"snmp_port_trace", trapPort}, {"retries", 1}}));
        QTRY_VERIFY_WITH_TIMEOUT(rig.logged().contains("9"), 20000);
        QUdpSocket forger;
        for (int i = 1; i <= 30; QTest::qWait(100), ++i)
            forger.writeDatagram(Ber::v2cTrap("public", "1.3.6.1.2.1.33.2.3",
                                              {{"1.3.6.1.2.1.33.1.6.2.1.2.1", Ber::oid("1.3.6.1.2.1.33.1.6.3.6")}}, i),
                                 QHostAddress::LocalHost, quint16(trapPort));
        QTRY_VERIFY(rig.logged().contains("0"));
        QCOMPARE(rig.calls("CanPowerOff"), 0);
        QVERIFY(rig.agent.raise("utility"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.logged().contains("13"), 10000);
        QTest::qWait(3000);
        QCOMPARE(rig.calls("CanPowerOff"), 1);
        QCOMPARE(rig.calls("PowerOff"), 0);
        QCOMPARE(rig.logged().count("13"), 1);
        const QString errors = service ? fileBytes(rig.file("journal")) : rig.run.process().readAllStandardError();
        QVERIFY2(errors.contains(errorLine), qPrintable(errors));
    }

    void endsWithoutLosingEvents_data()
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
    // log.db is locked so that an event is pending when the end comes.
    void endsWithoutLosingEvents()
    {
        QFETCH(bool, service);
        QFETCH(QString, end);
        Rig rig(service);
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", QTest::currentDataTag());
        db.setDatabaseName(rig.file("log.db"));
        QVERIFY(db.open() && QSqlQuery(db).exec("begin exclusive") && rig.start("yes"));
        const auto pid = pid_t(rig.run.process().processId());
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
            ::kill(pid, end == "SIGTERM" ? SIGTERM : end == "SIGHUP" ? SIGHUP : SIGCONT);
            ::kill(pid, SIGCONT);
        }
        if (end == "PrepareForShutdown")
            QTRY_VERIFY(rig.logind.inhibitors().isEmpty() && rig.run.process().state() == QProcess::Running);
        else
            QVERIFY(rig.run.process().waitForFinished(10000) && rig.run.process().exitStatus() == QProcess::NormalExit);
        QCOMPARE(rig.run.process().exitCode(), 0);
        QVERIFY(rig.logged().contains(end == "PowerOff" ? "11" : "7"));
    }

    void serviceWithoutAgent()
    {
        Rig rig(true);
        QVERIFY(
            rig.start("yes", {{"ip", {}}, {"Utility_time", "10min"}, {"UPS_para", "no"}, {"snmp_port_poll", 70000}}));
        QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("2 CRITICAL: no agent configured"), 10000);
        const QString out = execute("--check-config " + rig.file("param.ini"), "VOLTIGUARD_SERVICE_BINARY");
        QVERIFY2(out.startsWith("1 ") && out.count('\n') == 4, qPrintable(out));
        for (const char *key : {"Utility_time", "UPS_para", "snmp_port_poll", "\"ip\""})
            QVERIFY2(out.contains(key), qPrintable(out));
        rig.run.stop();
        QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("3 UNKNOWN: "), 15000);
    }

    void package()
    {
        const QString root = unpacked(), id = "org.voltiguard.Voltiguard", work = m_work.path() + '/';
        const QString metainfo = root + "usr/share/metainfo/" + id + ".metainfo.xml";
        for (const char *part : {"<screenshot type=\"default\">", "<url type=\"homepage\">",
                                 "<url type=\"bugtracker\">", "<release version=\"" VOLTIGUARD_VERSION "\""})
            QVERIFY2(fileBytes(metainfo).contains(part), part);
        const QString control = execute("dpkg-deb -f " + m_deb + " Depends Recommends");
        QStringList depends = control.section('\n', 0, 0).section(' ', 2).split(',');
        for (QString &name : depends)
            name = name.trimmed().section(' ', 0, 0);
        QCOMPARE(QSet<QString>(depends.begin(), depends.end()).size(), depends.size());
        QVERIFY2(control.contains("notification-daemon") && !control.contains("qpa-plugins"), qPrintable(control));
        QVERIFY(writeFile(work + "voltiguard.service", fileBytes(root + "usr/lib/systemd/system/voltiguard.service")
                                                           .replace("=/usr/sbin/", "=" + root.toUtf8() + "usr/sbin/")));
        QVERIFY(writeFile(work + "bus.conf",
                          QString("<busconfig><type>system</type><listen>unix:path=%1bus</listen><policy "
                                  "context=\"default\"><allow user=\"*\"/></policy><include>%2</include></busconfig>")
                              .arg(work, root + "usr/share/dbus-1/system.d/" + id + "1.conf")
                              .toUtf8()));
        qputenv("MANPATH", (root + "usr/share/man").toUtf8());
        // dbus-daemon refuses a policy it cannot parse.
        const std::pair<QString, QString> validators[] = {
            {"desktop-file-validate " + root + "usr/share/applications/" + id + ".desktop", "0 $"},
            {"appstreamcli validate --no-net " + metainfo, "0 "},
            {"lintian --fail-on error,warning " + m_deb, "0 "},
            {"systemd-analyze verify " + work + "voltiguard.service", "0 $"},
            {"timeout 3 dbus-daemon --nofork --print-address --config-file=" + work + "bus.conf", "124 unix:path="}};
        for (const auto &[command, expected] : validators) {
            const QString out = execute(command);
            QVERIFY2(out.contains(QRegularExpression('^' + expected)), qPrintable(command + '\n' + out));
        }
    }

    void packagedProgramUsesXdgDirectories_data()
    {
        QTest::addColumn<bool>("asRoot"); // /usr/bin is writable for root
        QTest::newRow("run as root") << true;
        QTest::newRow("run as a user, moving the files of the old data directory") << false;
    }
    void packagedProgramUsesXdgDirectories()
    {
        QFETCH(bool, asRoot);
        if (geteuid() != 0)
            QSKIP("runs the program as root and as nobody");
        const QString root = unpacked(), home = m_work.filePath(QTest::currentDataTag()).replace(' ', '-');
        const QString before = execute("find " + root), config = home + "/config/voltiguard",
                      state = home + "/state/voltiguard", old = home + "/data/voltiguard";
        QVERIFY(QDir().mkpath(asRoot ? config : old) && QDir().mkpath(home + "/run"));
        QVERIFY(writeFile(
            (asRoot ? config : old) + "/param.ini",
            QString("[General]\nip=127.0.0.1\nsnmp_port_poll=%1\nsnmp_port_trace=%1\n").arg(freeUdpPort()).toUtf8()));
        QVERIFY(asRoot || execute("chown -R 65534:65534 " + home) == "0 ");
        QProcess program;
        BinaryRun::startLoopbackOnly(
            program, QString("env -u QT_QPA_PLATFORM HOME=%1 XDG_DATA_HOME=%1/data XDG_CONFIG_HOME=%1/config "
                             "XDG_STATE_HOME=%1/state XDG_RUNTIME_DIR=%1/run %2 %3usr/bin/voltiguard")
                         .arg(home, asRoot ? "" : "setpriv --reuid=65534 --regid=65534 --clear-groups --", root)
                         .split(' ', Qt::SkipEmptyParts));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(state + "/log.db") && QFile::exists(state + "/snmpv3_boot_counter"),
                                 20000);
        QCOMPARE(program.state(), QProcess::Running);
        BinaryRun::endProcess(program);
        QCOMPARE(execute("find " + root), before);
        QVERIFY(QFile::exists(config + "/param.ini") && !QFile::exists(old + "/param.ini"));
        for (const QString &path : {config, state, state + "/log.db"})
            QVERIFY2(!(QFileInfo(path).permissions() & QFile::Permissions(0x0077)), qPrintable(path));
    }

    void desktopSaverSavesEveryDocumentEndsEveryApplication()
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
        const auto editor = [&](const QString &caption, const QStringList &options) {
            const qint64 pid = session.launch(TEST_EDITOR, QStringList{"--caption", caption} + options);
            return session.waitFor([&] { return titles().contains(caption); }, 10000) ? pid : 0;
        };
        TempDataDir data;
        data.writeParams({{"dir", data.file("saved")}});
        const qint64 mousepad = session.launch("mousepad"), featherpad = session.launch("featherpad");
        QVERIFY(session.typeIntoDocument(mousepad, "mousepad first tab"));
        session.launch("mousepad", {"--opening-mode=tab"});
        QVERIFY(session.waitFor([&] { return titles().join('\n').contains("Untitled 2"); }, 10000));
        QVERIFY(session.typeIntoDocument(mousepad, "mousepad second tab"));
        QVERIFY(session.typeIntoDocument(featherpad, "featherpad text"));
        const QList<qint64> ended{mousepad, featherpad, editor("Qt 6 'quoted' editor", {"--text", "qt6 text"}),
                                  editor("Stubborn", {"--ignore-close", "--text", "lost"}),
                                  editor("Tray keeper", {"--hide-on-close"})};
        const QList<qint64> kept{editor("Voltiguard", {"--text", "keep me"}),
                                 session.launch(TEST_EDITOR, {"--tool", "--caption", "Palette"})};
        QVERIFY(session.waitFor([&] { return execute("xprop -name Palette WM_NAME").startsWith("0 "); }, 10000));
        QStringList closed = titles(), contents;
        closed.removeAll("Voltiguard");
        QCOMPARE(closed.size(), 5);
        OpenDocumentSaver(*desktop).closeApplications();

        QStringList names = QDir(data.file("saved")).entryList(QDir::Files);
        for (const QString &name : names)
            contents << fileBytes(data.file("saved/" + name)).trimmed();
        contents.sort();
        QCOMPARE(contents, (QStringList{"featherpad text", "mousepad first tab", "mousepad second tab", "qt6 text"}));
        QCOMPARE(names.replaceInStrings(QRegularExpression("_\\d{8}-\\d{6}$"), ""),
                 (QStringList{"backup1", "backup2", "backup3", "backup4"}));
        const CloseFile::Record record = CloseFile::read();
        QVERIFY(QDateTime::fromString(record.time, "yyyy-MM-dd hh:mm:ss").isValid());
        QCOMPARE(record.closed, closed);
        QCOMPARE(record.saved.size(), 4);
        QVERIFY(record.saved.contains("Qt 6 'quoted' editor"));
        for (qint64 pid : ended)
            QVERIFY(session.waitFor([&] { return session.hasEnded(pid); }, 3000));
        for (qint64 pid : kept)
            QVERIFY(!session.hasEnded(pid));
    }
};

QTEST_GUILESS_MAIN(TestSystem)
#include "tst_system.moc"
