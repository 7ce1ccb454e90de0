#include "config/datadir.h"
#include "config/params.h"
#include "config/scramble.h"
#include "platform/autostart.h"
#include "tempdatadir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <sys/types.h>

class TestParams : public QObject
{
    Q_OBJECT
private slots:
    void init() { params = Params(); }

    void defaultsWithoutFile()
    {
        TempDataDir dir;
        loadParams();
        const Params &p = params;
        QCOMPARE(p.ip, QString("192.168.1.1"));
        QCOMPARE(p.snmp_port_poll, 161);
        QCOMPARE(p.snmp_port_trace, 162);
        QCOMPARE(p.msgVersion, 2);
        QCOMPARE(p.snmp_community, QString("public"));
        QCOMPARE(p.retries, 1);
        QCOMPARE(p.timeout, 1);
        QVERIFY(!p.shutdown && !p.Utility_para && !p.Bat_para && !p.UPS_para && !p.Restart_para);
        QVERIFY(p.Alarm_para && p.Notify_para);
        QCOMPARE(p.AlarmBox_time, 10);
        QCOMPARE(p.Utility_time, 10);
        QCOMPARE(p.Bat_time, 10);
        QCOMPARE(p.UPS_time, 10);
        QVERIFY(!p.exte_flag);
        QCOMPARE(p.exte_param, QString());
        QCOMPARE(p.exte_time, 1);
        QVERIFY(!p.exte_save);
        QCOMPARE(p.exte_save_budget, 180);
        QCOMPARE(p.securityLevel, 0);
        QVERIFY(p.securityName.isEmpty() && p.contexName.isEmpty() && p.contexEngineID.isEmpty());
        QVERIFY(!QFile::exists(dir.file("param.ini")));
    }

    void saveAndReloadEveryKey()
    {
        TempDataDir dir;
        Params &p = params;
        p.ip = "127.0.0.9";
        p.shutdown = p.Utility_para = p.Bat_para = p.UPS_para = p.Restart_para = true;
        p.Alarm_para = false;
        p.Notify_para = false;
        p.AlarmBox_time = 3;
        p.Utility_time = 4;
        p.Bat_time = 5;
        p.UPS_time = 6;
        p.exte_flag = true;
        p.exte_param = "/opt/my tools/\"pre\" shutdown;$(x).sh";
        p.exte_time = 2;
        p.exte_save = true;
        p.exte_save_budget = 600;
        p.snmp_port_poll = 1161;
        p.snmp_port_trace = 11162;
        p.msgVersion = 3;
        p.contexName = "ctx";
        p.contexEngineID = "8000000001020304";
        p.securityName = QString::fromUtf8("用户-ü");
        p.snmp_community = "private community";
        p.securityLevel = 2;
        p.retries = 4;
        p.timeout = 7;
        const Params saved = p;
        saveParams();
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(dir.file("param.ini")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        params = Params();
        loadParams();
        QCOMPARE(p.ip, saved.ip);
        QCOMPARE(p.shutdown, saved.shutdown);
        QCOMPARE(p.Utility_para, saved.Utility_para);
        QCOMPARE(p.Bat_para, saved.Bat_para);
        QCOMPARE(p.UPS_para, saved.UPS_para);
        QCOMPARE(p.Restart_para, saved.Restart_para);
        QCOMPARE(p.Alarm_para, saved.Alarm_para);
        QCOMPARE(p.Notify_para, saved.Notify_para);
        QCOMPARE(p.AlarmBox_time, saved.AlarmBox_time);
        QCOMPARE(p.Utility_time, saved.Utility_time);
        QCOMPARE(p.Bat_time, saved.Bat_time);
        QCOMPARE(p.UPS_time, saved.UPS_time);
        QCOMPARE(p.exte_flag, saved.exte_flag);
        QCOMPARE(p.exte_param, saved.exte_param);
        QCOMPARE(p.exte_time, saved.exte_time);
        QCOMPARE(p.exte_save, saved.exte_save);
        QCOMPARE(p.exte_save_budget, saved.exte_save_budget);
        QCOMPARE(p.snmp_port_poll, saved.snmp_port_poll);
        QCOMPARE(p.snmp_port_trace, saved.snmp_port_trace);
        QCOMPARE(p.msgVersion, saved.msgVersion);
        QCOMPARE(p.contexName, saved.contexName);
        QCOMPARE(p.contexEngineID, saved.contexEngineID);
        QCOMPARE(p.securityName, saved.securityName);
        QCOMPARE(p.snmp_community, saved.snmp_community);
        QCOMPARE(p.securityLevel, saved.securityLevel);
        QCOMPARE(p.retries, saved.retries);
        QCOMPARE(p.timeout, saved.timeout);
    }

    void storedScrambledForm()
    {
        TempDataDir dir;
        params.securityName = "ups";
        saveParams();
        const QSettings s(dir.file("param.ini"), QSettings::IniFormat);
        // 'u'^2, 'p'^4, 's'^6 reversed.
        QCOMPARE(s.value("securityName").toString(), QString("utw"));
    }

    // Each value is checked on its own: one that does not parse or is out of range
    // keeps its key's default and is named as a problem; the other keys survive.
    void badValues_data()
    {
        QTest::addColumn<QByteArray>("content"); // "<fifo>": a FIFO; "<big>": 1.5 MB of comments and a key
        QTest::addColumn<QStringList>("loaded"); // "key=value" as saveParams then writes it
        QTest::addColumn<QStringList>("problems");

        const QByteArray good = "ip=127.0.0.1\nUtility_time=3\n";
        QTest::newRow("a unit after the minutes")
            << QByteArray("[General]\nUtility_time=10min\nip=127.0.0.1\n")
            << QStringList{"Utility_time=10", "ip=127.0.0.1"} << QStringList{"Utility_time"};
        QTest::newRow("no for a switch") << QByteArray("[General]\nUPS_para=no\nBat_para=1\n")
                                         << QStringList{"UPS_para=false", "Bat_para=true"} << QStringList{"UPS_para"};
        QTest::newRow("unbalanced quote")
            << "[General]\nexte_param=\"/opt/pre\n" + good
            << QStringList{"ip=127.0.0.1", "Utility_time=3", "exte_param="} << QStringList{"exte_param"};
        QTest::newRow("stray bracket") << "[General]\n[\n" + good << QStringList{"ip=127.0.0.1", "Utility_time=3"}
                                       << QStringList{""};
        QTest::newRow("trailing backslash")
            << "[General]\nsnmp_community=pub\\\n" + good << QStringList{"ip=127.0.0.1", "snmp_community=public"}
            << QStringList{"snmp_community"};
        QTest::newRow("out of range") << QByteArray("snmp_port_poll=70000\nmsgVersion=4\nBat_time=-1\nretries=5\n")
                                      << QStringList{"snmp_port_poll=161", "msgVersion=2", "Bat_time=10", "retries=5"}
                                      << QStringList{"Bat_time", "snmp_port_poll", "msgVersion"};
        QTest::newRow("not an address") << QByteArray("ip=ups.example\n") << QStringList{"ip=192.168.1.1"}
                                        << QStringList{"ip"};
        QTest::newRow("unquoted comma") << QByteArray("exte_param=/opt/a,b\n") << QStringList{"exte_param="}
                                        << QStringList{"exte_param"};
        QTest::newRow("binary bytes") << QByteArray("\x00\xff\xfe[General]\nUtility_time=\x01\x02\n\x00\x00", 28)
                                      << QStringList{"Utility_time=10", "ip=192.168.1.1"}
                                      << QStringList{"Utility_time"};
        QTest::newRow("a FIFO is not read") << QByteArray("<fifo>") << QStringList{"ip=192.168.1.1"} << QStringList{""};
        QTest::newRow("1 MB or larger is not read")
            << QByteArray("<big>") << QStringList{"ip=192.168.1.1"} << QStringList{""};
    }

    void badValues()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, loaded);
        QFETCH(QStringList, problems);
        TempDataDir dir;
        const QString path = dir.file("param.ini");
        if (content == "<fifo>") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            if (content == "<big>")
                content = QByteArray(1536 * 1024, ';').replace(1023, 1, "\n") + "\nip=127.0.0.1\n";
            f.write(content);
        }
        QStringList reported;
        for (const ParamProblem &p : readParamFile(path, params)) {
            reported << p.key;
            QVERIFY(describeParamProblem(path, p).startsWith(path + ": "));
        }
        QCOMPARE(reported, problems);

        QFile::remove(path);
        saveParams();
        const QSettings s(path, QSettings::IniFormat);
        for (const QString &kv : loaded)
            QCOMPARE(kv.section('=', 0, 0) + '=' + s.value(kv.section('=', 0, 0)).toString(), kv);
    }

    void scrambleVectors_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("storedAsPlainText");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("one byte") << QString("a") << true;
        QTest::newRow("63 bytes") << QString(63, QLatin1Char('z')) << true;
        QTest::newRow("64 bytes") << QString(64, QLatin1Char('z')) << false;
        QTest::newRow("non-ASCII") << QString::fromUtf8("Ünïcode 用户") << false;
    }

    void scrambleVectors()
    {
        QFETCH(QString, text);
        QFETCH(bool, storedAsPlainText);
        const QByteArray encoded = scrambleBytes(text.toUtf8(), ScrambleDirection::Encode);
        QCOMPARE(scrambleBytes(encoded, ScrambleDirection::Decode), text.toUtf8());
        if (storedAsPlainText)
            QCOMPARE(scrambleText(scrambleText(text, ScrambleDirection::Encode), ScrambleDirection::Decode), text);

        TempDataDir dir;
        params.contexName = text;
        saveParams();
        params.contexName = "changed";
        loadParams();
        QCOMPARE(params.contexName, text);
        QFile f(dir.file("param.ini"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll().contains("@ByteArray("), !storedAsPlainText && !text.isEmpty());
    }

    void scrambleKnownBytes()
    {
        // b[p] ^ 2(p+1), reversed: "AB" -> {'B'^4, 'A'^2}
        QCOMPARE(scrambleBytes("AB", ScrambleDirection::Encode), QByteArray("FC"));
        QCOMPARE(scrambleBytes("FC", ScrambleDirection::Decode), QByteArray("AB"));
        // Position 128 wraps to mask 0.
        const QByteArray longText(128, 'x');
        QCOMPARE(scrambleBytes(longText, ScrambleDirection::Encode).at(0), 'x');
    }

    void autostartEntry_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/opt/voltiguard/voltiguard"
                               << "\"/opt/voltiguard/voltiguard\"";
        QTest::newRow("space") << "/opt/my apps/voltiguard"
                               << "\"/opt/my apps/voltiguard\"";
        QTest::newRow("reserved") << "/opt/a\"b$c`d\\e%f"
                                  << "\"/opt/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e%%f\"";
    }

    void autostartEntry()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        QCOMPARE(Autostart::entryPath(), config.path() + "/autostart/Voltiguard.desktop");
        QVERIFY(Autostart::install(program));
        QSettings entry(Autostart::entryPath(), QSettings::IniFormat);
        QFile f(Autostart::entryPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QVERIFY2(text.contains("\nExec=" + exec + "\n"), qPrintable(text));
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        Autostart::remove();
        QVERIFY(!QFile::exists(Autostart::entryPath()));
        Autostart::remove();
    }

    void applyAutoStartFollowsSwitch()
    {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        params.Restart_para = true;
        applyAutoStart();
        QVERIFY(QFile::exists(Autostart::entryPath()));
        params.Restart_para = false;
        applyAutoStart();
        QVERIFY(!QFile::exists(Autostart::entryPath()));
    }

    void dataLocationRule_data()
    {
        QTest::addColumn<QString>("appDir");
        QTest::addColumn<bool>("paramIni");
        QTest::addColumn<bool>("portable");
        QTest::newRow("portable: param.ini beside the program") << QString() << true << true;
        QTest::newRow("packaged, run as a user") << QString() << false << false;
        // The program's directory is writable here, as /usr/bin is for root.
        QTest::newRow("packaged, run as root") << QString() << false << false;
        QTest::newRow("packaged in /usr/bin") << QStringLiteral("/usr/bin") << false << false;
    }

    void dataLocationRule()
    {
        QFETCH(QString, appDir);
        QFETCH(bool, paramIni);
        QFETCH(bool, portable);
        QTemporaryDir program;
        if (appDir.isEmpty())
            appDir = program.path();
        if (QTest::currentDataTag() == QByteArray("packaged, run as a user"))
            QFile::setPermissions(appDir, QFile::ReadOwner | QFile::ExeOwner);
        if (paramIni)
            QSettings(appDir + "/param.ini", QSettings::IniFormat).setValue("ip", "127.0.0.1");
        const DataLocations installed{"/c/voltiguard", "/s/voltiguard", "/d/voltiguard/Temp"};
        const DataLocations chosen = chooseDataLocations(appDir, installed);
        QVERIFY(chosen == (portable ? DataLocations::portable(appDir) : installed));
        QFile::setPermissions(program.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void migration_data()
    {
        QTest::addColumn<bool>("newFileExists");
        QTest::newRow("first start after an upgrade moves every file") << false;
        QTest::newRow("a file already at its new place is kept, the old one stays") << true;
    }

    void migration()
    {
        QFETCH(bool, newFileExists);
        QTemporaryDir root;
        const QString old = root.filePath("old");
        const DataLocations to{root.filePath("config/voltiguard"), root.filePath("state/voltiguard"),
                               root.filePath("data/voltiguard/Temp")};
        const QStringList files{"param.ini",     "usm_users.bin",       "log.db",
                                "close_file.db", "snmpv3_boot_counter", "Temp/backup1_20250101-000000"};
        for (const QString &f : files) {
            QDir().mkpath(QFileInfo(old + "/" + f).path());
            QFile file(old + "/" + f);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(f.toUtf8());
        }
        if (newFileExists) {
            QDir().mkpath(to.stateDir);
            QFile file(to.stateDir + "/log.db");
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("newer");
        }

        prepareDataLocations(to, old);

        const QStringList places{to.configDir, to.configDir, to.stateDir, to.stateDir, to.stateDir, to.saveDir};
        for (int i = 0; i < files.size(); ++i) {
            QFile moved(places[i] + "/" + files[i].section('/', -1));
            QVERIFY2(moved.open(QIODevice::ReadOnly), qPrintable(moved.fileName()));
            const bool kept = newFileExists && files[i] == "log.db";
            QCOMPARE(moved.readAll(), kept ? QByteArray("newer") : files[i].toUtf8());
            QCOMPARE(QFile::exists(old + "/" + files[i]), kept);
        }
        for (const QString &dir : {to.configDir, to.stateDir, to.saveDir})
            QCOMPARE(QFileInfo(dir).permissions() & 0x0077, QFile::Permissions());
    }
};

QTEST_GUILESS_MAIN(TestParams)
#include "tst_params.moc"
