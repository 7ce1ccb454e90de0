// Parameters and the settings dialogs, in a network namespace of its own so that no packet can leave this machine.
#include "app/mainwindow.h"
#include "config/datadir.h"
#include "config/dialogadduser.h"
#include "config/params.h"
#include "config/properties.h"
#include "config/scramble.h"
#include "config/settingsdialog.h"
#include "model/upsstatus.h"
#include "platform/autostart.h"
#include "snmp/usmusers.h"
#include "tempdatadir.h"
#include "upsagentfixture.h"
#include "widgetdriver.h"
#include "widgets/filedialog.h"
#include "widgets/messagebox.h"

#include <QtTest>
#include <QtWidgets>
#include <sys/stat.h>
#include <unistd.h>

using namespace WidgetDriver;
Q_DECLARE_METATYPE(UsmUser)

namespace {
QVariantList fields(const Params &p)
{
    return {p.ip,           p.shutdown,         p.Utility_para,   p.Bat_para,        p.UPS_para,
            p.Restart_para, p.Alarm_para,       p.Notify_para,    p.AlarmBox_time,   p.Utility_time,
            p.Bat_time,     p.UPS_time,         p.exte_flag,      p.exte_param,      p.exte_time,
            p.exte_save,    p.exte_save_budget, p.snmp_port_poll, p.snmp_port_trace, p.msgVersion,
            p.contexName,   p.contexEngineID,   p.securityName,   p.snmp_community,  p.securityLevel,
            p.retries,      p.timeout};
}

template <typename... T> void row(const char *tag, const T &...columns)
{
    (QTest::newRow(tag) << ... << columns);
}

// Edits as a user does, "name=value" for a field, "name" for a button, separated by "|".
void edit(QWidget &dialog, const QString &edits)
{
    for (const QString &e : edits.split('|', Qt::SkipEmptyParts)) {
        QWidget *w = child<QWidget>(dialog, qPrintable(e.section('=', 0, 0)));
        const QString value = e.section('=', 1);
        if (auto *line = qobject_cast<QLineEdit *>(w); line && line->isEnabled())
            setText(line, value);
        else if (line)
            line->setText(value);
        else if (auto *spin = qobject_cast<QSpinBox *>(w))
            spin->setValue(value.toInt());
        else if (auto *combo = qobject_cast<QComboBox *>(w)) {
            combo->setCurrentIndex(value.toInt());
            emit combo->activated(value.toInt());
        } else
            qobject_cast<QAbstractButton *>(w)->click();
    }
}

} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

    QTemporaryDir m_xdgConfig;
    std::unique_ptr<TempDataDir> m_data;

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_xdgConfig.path().toLocal8Bit()); }

    void init()
    {
        m_data = std::make_unique<TempDataDir>();
        params = Params();
        snmpParamsChanged = false;
        MessageBox::shownBoxes().clear();
    }

    void everyKeyRoundTrips()
    {
        const Params written{
            "127.0.0.9", true, true, true, true,  true, false, false,  3,        4,       5, 6, true, "/a \"b\";$(c)",
            2,           true, 600,  1161, 11162, 3,    "ctx", "8000", "用户-ü", "pub c", 2, 4, 7};
        params = written;
        saveParams();
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(paramFilePath()).constData(), &st) == 0 && (st.st_mode & 0777) == 0600);
        params = Params();
        loadParams();
        QCOMPARE(fields(params), fields(written));
    }

    void badValues_data()
    {
        QTest::addColumn<QByteArray>("content"); // "<fifo>": a FIFO; "<big>": 1.5 MB of comments and a key
        QTest::addColumn<QString>("loaded");     // "key=value ..." as saveParams then writes them
        QTest::addColumn<QString>("problems");
        const QByteArray good = "ip=127.0.0.1\nUtility_time=3\n";
        row("unit after the minutes", QByteArray("[General]\nUtility_time=10min\nip=127.0.0.1\n"),
            "Utility_time=10 ip=127.0.0.1", "Utility_time");
        row("no for a switch", QByteArray("[General]\nUPS_para=no\nBat_para=1\n"), "UPS_para=false Bat_para=true",
            "UPS_para");
        row("unbalanced quote", "[General]\nexte_param=\"/opt/pre\n" + good, "ip=127.0.0.1 exte_param=", "exte_param");
        row("stray bracket", "[General]\n[\n" + good, "ip=127.0.0.1 Utility_time=3", "");
        row("trailing backslash", "snmp_community=pub\\\n" + good, "ip=127.0.0.1 snmp_community=public",
            "snmp_community");
        row("out of range", QByteArray("snmp_port_poll=70000\nmsgVersion=4\nBat_time=-1\nretries=5\n"),
            "snmp_port_poll=161 msgVersion=2 Bat_time=10 retries=5", "Bat_time snmp_port_poll msgVersion");
        row("not an address", QByteArray("ip=ups.example\n"), "ip=192.168.1.1", "ip");
        row("unquoted comma", QByteArray("exte_param=/opt/a,b\n"), "exte_param=", "exte_param");
        row("binary bytes", QByteArray("\x00\xff\xfe[General]\nUtility_time=\x01\x02\n\x00\x00", 28),
            "Utility_time=10 ip=192.168.1.1", "Utility_time");
        row("a FIFO is not read", QByteArray("<fifo>"), "ip=192.168.1.1", "");
        row("1 MB or more is not read", QByteArray("<big>"), "ip=192.168.1.1", "");
    }

    void badValues()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, loaded);
        QFETCH(QString, problems);
        const QString path = paramFilePath();
        if (content == "<big>")
            content = QByteArray(1536 * 1024, ';').replace(1023, 1, "\n") + "\nip=127.0.0.1\n";
        QVERIFY(content == "<fifo>" ? ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0
                                    : writeFile(path, content));
        QStringList reported;
        for (const ParamProblem &p : readParamFile(path, params))
            reported << p.key;
        QCOMPARE(reported.join(' '), problems);
        QFile::remove(path);
        saveParams();
        const QSettings s(path, QSettings::IniFormat);
        for (const QString &kv : loaded.split(' '))
            QCOMPARE(kv.section('=', 0, 0) + '=' + s.value(kv.section('=', 0, 0)).toString(), kv);
    }

    void scramble_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored"); // in param.ini, when given; "@": as @ByteArray
        row("empty", QString(), QString(""));
        row("ups", "ups", "utw");
        row("63 bytes", QString(63, 'z'), QString());
        row("64 bytes", QString(64, 'z'), "@");
        row("non-ASCII", "Ünïcode 用户", "@");
    }

    void scramble()
    {
        QFETCH(QString, text);
        QFETCH(QString, stored);
        // Position 128 wraps to mask 0.
        QCOMPARE(scrambleBytes(QByteArray(128, 'x'), ScrambleDirection::Encode).at(0), 'x');
        params.securityName = text;
        saveParams();
        params = Params();
        loadParams();
        QCOMPARE(params.securityName, text);
        const QByteArray file = fileBytes(paramFilePath());
        QCOMPARE(file.contains("@ByteArray("), stored == "@");
        QVERIFY(stored.isNull() || stored == "@" || file.contains("\nsecurityName=" + stored.toUtf8() + "\n"));
    }

    void dataLocations_data()
    {
        QTest::addColumn<bool>("portable"); // param.ini beside the program
        QTest::addColumn<bool>("newer");    // a log.db already at its new place
        QTest::newRow("portable: param.ini beside the program") << true << false;
        QTest::newRow("installed: a file at its new place is kept") << false << true;
    }

    // The program's directory is writable, as /usr/bin is for root.
    void dataLocations()
    {
        QFETCH(bool, portable);
        QFETCH(bool, newer);
        const QString old = m_data->file("old");
        const DataLocations to{m_data->file("config"), m_data->file("state"), m_data->file("data/Temp")};
        const QStringList files{"param.ini",     "usm_users.bin",       "log.db",
                                "close_file.db", "snmpv3_boot_counter", "Temp/backup1_20250101-000000"};
        QDir().mkpath(old + "/Temp");
        for (const QString &f : files.mid(portable ? 0 : 1))
            QVERIFY(writeFile(old + "/" + f, f.toUtf8()));
        QVERIFY(chooseDataLocations(old, to) == (portable ? DataLocations::portable(old) : to));
        QVERIFY(chooseDataLocations("/usr/bin", to) == to);
        if (portable)
            return;
        QVERIFY(!newer || (QDir().mkpath(to.stateDir) && writeFile(to.stateDir + "/log.db", "newer")));
        prepareDataLocations(to, old);
        const QStringList places{to.configDir, to.stateDir, to.stateDir, to.stateDir, to.saveDir};
        for (int i = 1; i < files.size(); ++i) {
            const bool kept = newer && files[i] == "log.db";
            QCOMPARE(fileBytes(places[i - 1] + "/" + files[i].section('/', -1)), kept ? "newer" : files[i].toUtf8());
            QCOMPARE(QFile::exists(old + "/" + files[i]), kept);
        }
        for (const QString &dir : {to.configDir, to.stateDir, to.saveDir})
            QCOMPARE(QFileInfo(dir).permissions() & 0x0077, QFile::Permissions());
    }

    void settingsDialog_data()
    {
        QTest::addColumn<QString>("edits");
        QTest::addColumn<QString>("box");     // how the box's text starts; empty: no box
        QTest::addColumn<QString>("checked"); // param.ini saved; "@widget": its text; "usm_users.bin": exists
        for (const char *ip : {"256.1.1.1", "1.2.3", " 10.0.0.1", "1.2.3.4.5", "ups.local"})
            row(ip, "lineEdit_ip=" + QString(ip), "IP illegal format!", "ip=127.0.0.5|@lineEdit_ip=192.168.1.1");
        row("empty address", "lineEdit_ip=", "IP or PORT is NULL", "ip=127.0.0.5|@lineEdit_ip=127.0.0.5");
        row("empty poll port", "lineEdit_port=", "IP or PORT is NULL", "snmp_port_poll=5000");
        row("empty trap port", "lineEdit_trap=", "IP or PORT is NULL", "snmp_port_trace=5001");
        row("leading zeros accepted", "lineEdit_ip=010.001.1.1", "", "ip=010.001.1.1");
        row("letters in ports store 0", "lineEdit_port=16x1|lineEdit_trap=abc", "",
            "snmp_port_poll=0|snmp_port_trace=0");
        row("ports above 65535 stored as typed", "lineEdit_port=70000|lineEdit_trap=99999", "",
            "snmp_port_poll=70000|snmp_port_trace=99999");
        const QString versions = "comboBox_2=2|radio_v1|lineEdit_snmp_community=private|";
        row("SNMPv1 keeps the v3 values", versions, "",
            "msgVersion=1|securityLevel=0|snmp_community=private|usm_users.bin=false");
        row("SNMPv3 keeps the community, unknown user shows the first", versions + "radio_v3", "",
            "msgVersion=3|securityLevel=2|snmp_community=public|usm_users.bin=true|@comboBox=alpha");
        row("unchecked Shutdown system stores its conditions off", "checkBox_shutdown", "",
            "shutdown=false|Utility_para=false|Bat_para=false|UPS_para=false");
        row("missing save directory is created", "directoryEdit=<dir>", "", "dir=<dir>");
        row("save directory that cannot be created", "directoryEdit=/etc/hostname/x", "The directory", "dir=<Temp>");
        row("save directory stored when OK is refused", "directoryEdit=<dir>|lineEdit_ip=", "IP or PORT", "dir=<dir>");
    }

    // No poller runs here: addresses outside loopback are only ever stored.
    void settingsDialog()
    {
        QFETCH(QString, edits);
        QFETCH(QString, box);
        QFETCH(QString, checked);
        const QString dir = m_data->file("stick/backups");
        params.ip = "127.0.0.5";
        params.snmp_port_poll = 5000;
        params.snmp_port_trace = 5001;
        params.msgVersion = 3;
        params.securityName = "gone";
        params.shutdown = params.Utility_para = params.Bat_para = params.UPS_para = params.exte_save = true;
        UsmUserTable users;
        for (const char *name : {"alpha", "beta"})
            users.addUser({name, UsmAuthProtocol::None, {}, UsmPrivProtocol::None, {}});
        SettingsDialog d(users);
        edit(d, edits.replace("<dir>", dir));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        edit(d, "pushButton");
        QCOMPARE(MessageBox::shownBoxes().value(0).text.left(box.size()), box);
        QCOMPARE(MessageBox::shownBoxes().size(), int(!box.isEmpty()));
        saveParams();
        const QSettings s(paramFilePath(), QSettings::IniFormat);
        for (const QString &c : checked.replace("<dir>", dir).replace("<Temp>", documentSaveDir()).split('|')) {
            const QString key = c.section('=', 0, 0);
            const QVariant value =
                key == "usm_users.bin" ? QFile::exists(usmUsersFilePath())
                : key.startsWith('@')
                    ? child<QWidget>(d, qPrintable(key.mid(1)))->property(key == "@comboBox" ? "currentText" : "text")
                    : s.value(key);
            QCOMPARE(key + '=' + value.toString(), c);
        }
    }

    void userDialog_data()
    {
        QTest::addColumn<QString>("name"); // added first, when given
        QTest::addColumn<QString>("edits");
        QTest::addColumn<UsmUser>("stored");
        using A = UsmAuthProtocol;
        using P = UsmPrivProtocol;
        row("MD5 with an empty password: no security", "ups",
            "combo_box_auth_prot=1|combo_box_priv_prot=2|line_edit_priv_pass=p-pass",
            UsmUser{"ups", A::None, {}, P::None, {}});
        row("privacy password with privacy None", "ups",
            "combo_box_auth_prot=2|line_edit_auth_pass=a-pass|line_edit_priv_pass=p-pass",
            UsmUser{"ups", A::HmacSha, "a-pass", P::None, {}});
        row("existing non-ASCII name replaced in place", "Überwacher-ß",
            "combo_box_auth_prot=2|line_edit_auth_pass=pässwörd-€|combo_box_priv_prot=4|line_edit_priv_pass=机密",
            UsmUser{"Überwacher-ß", A::HmacSha, "pässwörd-€", P::Aes256, "机密"});
        row("closed: nothing stored", "", "combo_box_auth_prot=1|line_edit_auth_pass=typed",
            UsmUser{"a", A::HmacSha, "old", P::Des, "old"});
        row("the user shown deleted", "", "push_button_del_user",
            UsmUser{"Überwacher-ß", A::HmacSha, "old", P::Des, "old"});
    }

    void userDialog()
    {
        QFETCH(QString, name);
        QFETCH(QString, edits);
        QFETCH(UsmUser, stored);
        UsmUserTable users;
        QStringList names{"a", "Überwacher-ß"};
        for (const QString &n : names)
            users.addUser({n, UsmAuthProtocol::HmacSha, "old", UsmPrivProtocol::Des, "old"});
        QStringList changed;
        users.setChangeHandler([&](const QString &n) { changed << n; });
        params.msgVersion = 3;
        SettingsDialog d(users);
        onModal<Properties>([&](Properties *p) {
            if (!name.isEmpty())
                onModal<DialogAddUser>(
                    [&](DialogAddUser *add) { edit(*add, "line_edit_new_name=" + name + "|buttonOk"); });
            edit(*p, (name.isEmpty() ? "" : "push_button_add_user|") + edits +
                         (name.isEmpty() ? "|button_close" : "|push_button_ok"));
        });
        edit(d, "pushButton_usm");
        if (!names.contains(name) && !name.isEmpty())
            names << name;
        if (edits.contains("del_user"))
            names.removeFirst();
        QCOMPARE(child<QComboBox>(d, "comboBox")->count(), names.size());
        QCOMPARE(changed.contains(stored.name), !name.isEmpty());
        edit(d, "pushButton");
        UsmUserTable saved;
        saved.load(usmUsersFilePath());
        QCOMPARE(saved.userNames(), names);
        QCOMPARE(*saved.user(stored.name), stored);
    }

    void settingsOfARunningWindow()
    {
        UpsAgentFixture agent;
        QVERIFY(agent.start());
        UsmUserTable users;
        users.addUser(UpsAgentFixture::agentUsers().at(1));
        QVERIFY(users.save(usmUsersFilePath()));
        m_data->writeParams({{"snmp_port_poll", agent.port()},
                             {"msgVersion", 3},
                             {"securityName", scrambleText(users.userNames()[0], ScrambleDirection::Encode)},
                             {"securityLevel", 2}});
        MainWindow w;
        QTRY_COMPARE_WITH_TIMEOUT(upsStatus.snapshot().agentLink, int(LinkGood), 10000);
        const QByteArray before = fileBytes(paramFilePath());
        const auto settings = [&](const QString &edits) {
            onModal<SettingsDialog>([&](SettingsDialog *d) {
                edit(*d, edits);
                d->close();
            });
            w.bt_set_clicked();
        };

        const QString program = "/opt/my tools/it's \"odd\"; $(echo x)";
        FileDialog::setNextFileName(program);
        settings("lineEdit_ip=127.0.0.2|checkBox_auto|checkbox_Exte_Check|bt_Exte_Btn");
        QCOMPARE(fileBytes(paramFilePath()), before);
        QVERIFY(!QFile::exists(Autostart::entryPath()) && !snmpParamsChanged);
        QCOMPARE(params.ip + params.exte_param, "127.0.0.1" + program);

        // The agent's port plus 65536, which a 16-bit cut would make the agent's port: nothing is sent.
        settings(QStringLiteral("lineEdit_port=%1|checkBox_auto|pushButton").arg(agent.port() + 65536));
        QVERIFY(QFile::exists(Autostart::entryPath()));
        QTest::qWait(3000);
        QCOMPARE(upsStatus.snapshot().agentLink, int(LinkUnknown));

        // Back on the agent's port with another password, which takes effect at once: the agent is lost.
        onModal<Properties>([](Properties *p) { edit(*p, "line_edit_auth_pass=wrong-pass|push_button_ok"); });
        settings(QStringLiteral("lineEdit_port=%1|checkBox_auto|pushButton_usm|pushButton").arg(agent.port()));
        QVERIFY(!QFile::exists(Autostart::entryPath()));
        QTRY_COMPARE_WITH_TIMEOUT(upsStatus.snapshot().agentLink, int(LinkLost), 10000);
    }
};

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("VG_NETNS")) {
        qputenv("VG_NETNS", "1");
        std::vector<const char *> args{"unshare", "-n", "sh", "-c", "ip link set lo up && exec \"$0\" \"$@\""};
        args.insert(args.end(), argv, argv + argc);
        args.push_back(nullptr);
        execvp("unshare", const_cast<char *const *>(args.data()));
        qFatal("cannot run unshare");
    }
    QApplication app(argc, argv);
    TestConfig test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_config.moc"
