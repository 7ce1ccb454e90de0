// The main window's Settings button with the real polling thread and the simulated
// UPS agent. Every address in this test is 127.0.0.1 or 127.0.0.2.
#include "app/mainwindow.h"
#include "config/dialogadduser.h"
#include "config/params.h"
#include "config/properties.h"
#include "config/settingsdialog.h"
#include "logindmock.h"
#include "model/logevent.h"
#include "model/upsstatus.h"
#include "platform/autostart.h"
#include "shutdown/smarthomemsg.h"
#include "snmp/usmusers.h"
#include "tempdatadir.h"
#include "upsagentfixture.h"
#include "widgetdriver.h"
#include "widgets/btnwidget.h"
#include "widgets/filedialog.h"
#include "widgets/qtsvgpushbutton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <memory>

using namespace WidgetDriver;

namespace {
QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QWidget *alarmPopup()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<SmartHomeMsg *>(w) && w->isVisible())
            return w;
    }
    return nullptr;
}

int agentLink()
{
    return upsStatus.snapshot().agentLink;
}

// The main window of one run, over a data directory whose param.ini names the agent.
struct Run
{
    TempDataDir data;
    std::unique_ptr<MainWindow> window;

    explicit Run(const QVariantMap &values)
    {
        data.writeParams(values);
        {
            QWriteLocker locker(&snmpParamLock);
            snmpParamsChanged = false;
        }
        window = std::make_unique<MainWindow>();
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qFatal("main window not exposed");
    }
    ~Run()
    {
        window.reset();
        QWriteLocker locker(&pendingEventsLock);
        pendingEvents.clear();
    }
    // Opens the settings with the Settings button; edit runs on the open dialog and closes it.
    void settings(const std::function<void(SettingsDialog *)> &edit)
    {
        onModal<SettingsDialog>(edit);
        click(window->findChild<BtnWidget *>("bt_set")->svgButton());
    }
    QString stateText() const
    {
        QStringList texts;
        for (QLabel *l : window->statusBar()->findChildren<QLabel *>())
            texts << l->text();
        return texts.join('|');
    }
    QString shownAddress() const { return window->findChild<QLabel *>("td_ip")->text(); }
};

void ok(SettingsDialog *d)
{
    click(child<QPushButton>(*d, "pushButton"));
}

// Holds for the given time: the agent stays answered all along.
bool staysConnected(int ms)
{
    return !QTest::qWaitFor([] { return agentLink() != LinkGood; }, ms);
}
} // namespace

class TestMainWindowSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void timesSnapshot_data();
    void timesSnapshot();
    void cancelWritesNothing();
    void okSavesAndApplies();
    void versionAndCommunity_data();
    void versionAndCommunity();
    void externalProgramPath_data();
    void externalProgramPath();
    void portsOutOfRange_data();
    void portsOutOfRange();
    void endToEnd_data();
    void endToEnd();

private:
    QTemporaryDir m_config;
    LogindMock m_mock;
};

void TestMainWindowSettings::initTestCase()
{
    // Some cases switch a shutdown condition on; any power-off only ever reaches the mock.
    QVERIFY2(m_mock.start(), qPrintable(m_mock.error()));
    // The autostart entry goes below XDG_CONFIG_HOME.
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    QVERIFY(Autostart::entryPath().startsWith(m_config.path()));
}

void TestMainWindowSettings::init()
{
    QVERIFY(m_mock.ownsSystemBusVariable());
    m_mock.clearCalls();
}

void TestMainWindowSettings::cleanup()
{
    QVERIFY(m_mock.calls(QStringLiteral("PowerOff")).isEmpty());
}

void TestMainWindowSettings::timesSnapshot_data()
{
    QTest::addColumn<QStringList>("openings");

    // Each opening: widget=value, ok or cancel, and whether the popup is closed by it.
    QTest::newRow("utility time closes the popup") << QStringList{"spinBox_utility=5 ok closed"};
    QTest::newRow("battery time closes the popup") << QStringList{"spinBox_battery=3 ok closed"};
    QTest::newRow("UPS time closes the popup") << QStringList{"spinBox_ups=4 ok closed"};
    QTest::newRow("alarm box time closes the popup") << QStringList{"spinBox=30 ok closed"};
    QTest::newRow("other values leave it open") << QStringList{"spinBox_2=3 ok open"};
    QTest::newRow("cancel leaves it open") << QStringList{"spinBox_utility=5 cancel open"};
    QTest::newRow("later openings compare with the last accepted times")
        << QStringList{"spinBox_2=2 ok open", "spinBox_utility=5 ok closed", "spinBox_utility=5 ok open",
                       "spinBox_utility=5 cancel open", "spinBox_utility=10 ok closed"};
}

void TestMainWindowSettings::timesSnapshot()
{
    QFETCH(QStringList, openings);

    UpsAgentFixture agent;
    QVERIFY(agent.start());
    QVERIFY(agent.raise("utility"));
    Run run({{"snmp_port_poll", agent.port()},
             {"shutdown", true},
             {"Utility_para", true},
             {"Utility_time", 10},
             {"Alarm_para", true},
             {"AlarmBox_time", 10}});

    for (const QString &opening : openings) {
        const QStringList parts = opening.split(' ');
        const QStringList edit = parts[0].split('=');
        const bool accept = parts[1] == QLatin1String("ok");
        const bool closes = parts[2] == QLatin1String("closed");

        QVERIFY2(QTest::qWaitFor([] { return alarmPopup() != nullptr; }, 10000), "no alarm popup");
        const QPointer<QWidget> popup = alarmPopup();
        run.settings([&](SettingsDialog *d) {
            child<QSpinBox>(*d, edit[0].toLatin1().constData())->setValue(edit[1].toInt());
            if (accept)
                ok(d);
            else
                d->close();
        });
        QCOMPARE(popup.isNull(), closes);
    }
}

void TestMainWindowSettings::cancelWritesNothing()
{
    Run run({{"ip", "127.0.0.1"}});
    const QByteArray before = fileBytes(run.data.file("param.ini"));
    run.settings([](SettingsDialog *d) {
        setText(child<QLineEdit>(*d, "lineEdit_ip"), "127.0.0.2");
        click(child<QRadioButton>(*d, "radio_v3"));
        child<QCheckBox>(*d, "checkBox_auto")->setChecked(true);
        d->close();
    });
    QCOMPARE(fileBytes(run.data.file("param.ini")), before);
    QVERIFY(!QFile::exists(Autostart::entryPath()));
    QVERIFY(!QFile::exists(usmUsersFilePath()));
    QCOMPARE(run.shownAddress(), QString("127.0.0.1"));
    QReadLocker locker(&snmpParamLock);
    QCOMPARE(params.ip, QString("127.0.0.1"));
    QVERIFY(!snmpParamsChanged);
}

void TestMainWindowSettings::okSavesAndApplies()
{
    Run run({{"ip", "127.0.0.1"}});
    run.settings([](SettingsDialog *d) {
        setText(child<QLineEdit>(*d, "lineEdit_ip"), "127.0.0.2");
        child<QCheckBox>(*d, "checkBox_auto")->setChecked(true);
        click(child<QCheckBox>(*d, "checkbox_SaveCheck"));
        setText(child<QLineEdit>(*d, "directoryEdit"), QDir::tempPath());
        ok(d);
    });
    QCOMPARE(run.shownAddress(), QString("127.0.0.2"));
    QSettings saved(run.data.file("param.ini"), QSettings::IniFormat);
    QCOMPARE(saved.value("ip").toString(), QString("127.0.0.2"));
    QCOMPARE(saved.value("Restart_para").toBool(), true);
    QCOMPARE(saved.value("exte_save").toBool(), true);
    QCOMPARE(saved.value("dir").toString(), QDir::tempPath());
    QVERIFY(QFile::exists(Autostart::entryPath()));
    QCOMPARE(QFile::permissions(run.data.file("param.ini")) & (QFile::ReadOther | QFile::ReadGroup),
             QFile::Permissions());

    run.settings([](SettingsDialog *d) {
        child<QCheckBox>(*d, "checkBox_auto")->setChecked(false);
        ok(d);
    });
    QVERIFY(!QFile::exists(Autostart::entryPath()));
    saved.sync();
    QCOMPARE(saved.value("Restart_para").toBool(), false);
}

void TestMainWindowSettings::versionAndCommunity_data()
{
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QString>("community");
    QTest::addColumn<int>("link");

    QTest::newRow("SNMPv2c, wrong community") << "radio_v2"
                                              << "not-public" << int(LinkLost);
    QTest::newRow("SNMPv1, wrong community") << "radio_v1"
                                             << "not-public" << int(LinkLost);
    QTest::newRow("SNMPv1, right community") << "radio_v1"
                                             << "public" << int(LinkGood);
}

void TestMainWindowSettings::versionAndCommunity()
{
    QFETCH(QString, radio);
    QFETCH(QString, community);
    QFETCH(int, link);

    UpsAgentFixture agent;
    QVERIFY(agent.start());
    Run run({{"snmp_port_poll", agent.port()}, {"msgVersion", 2}, {"snmp_community", "public"}});
    QVERIFY(QTest::qWaitFor([] { return agentLink() == LinkGood; }, 10000));
    run.settings([&](SettingsDialog *d) {
        click(child<QRadioButton>(*d, radio.toLatin1().constData()));
        setText(child<QLineEdit>(*d, "lineEdit_snmp_community"), community);
        ok(d);
    });
    if (link == LinkGood)
        QVERIFY(staysConnected(5000));
    else
        QVERIFY(QTest::qWaitFor([] { return agentLink() == LinkLost; }, 10000));
    QCOMPARE(QSettings(run.data.file("param.ini"), QSettings::IniFormat).value("snmp_community").toString(), community);
}

void TestMainWindowSettings::externalProgramPath_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("spaces") << "my pre shutdown tool";
    QTest::newRow("quotes") << "it's \"quoted\"";
    QTest::newRow("shell characters") << "run; touch pwned & $(touch pwned) `touch pwned` |x";
}

void TestMainWindowSettings::externalProgramPath()
{
    QFETCH(QString, name);

    QTemporaryDir bin;
    const QString program = bin.filePath(name);
    {
        QFile f(program);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\necho ran > \"$(dirname \"$0\")/marker\"\n");
    }
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    UpsAgentFixture agent;
    QVERIFY(agent.start());
    Run run({{"snmp_port_poll", agent.port()}});
    run.settings([&](SettingsDialog *d) {
        click(child<QCheckBox>(*d, "checkBox_shutdown"));
        click(child<QCheckBox>(*d, "checkBox_utility"));
        child<QSpinBox>(*d, "spinBox_utility")->setValue(10);
        click(child<QCheckBox>(*d, "checkbox_Exte_Check"));
        FileDialog::setNextFileName(program);
        click(child<QPushButton>(*d, "bt_Exte_Btn"));
        // Started as soon as the countdown begins.
        child<QSpinBox>(*d, "spinbox_Exte_Time")->setValue(30);
        ok(d);
    });
    QCOMPARE(QSettings(run.data.file("param.ini"), QSettings::IniFormat).value("exte_param").toString(), program);
    QVERIFY(agent.raise("utility"));
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(bin.filePath("marker")); }, 10000));
    QCOMPARE(QDir(bin.path()).entryList(QDir::Files).size(), 2);
    QVERIFY(!QFile::exists(run.data.file("pwned")));
    QVERIFY(!QDir::current().exists("pwned"));
}

void TestMainWindowSettings::portsOutOfRange_data()
{
    QTest::addColumn<QString>("pollPort");
    QTest::addColumn<QString>("trapPort");
    QTest::addColumn<int>("link");

    // "+65536": the agent's port plus 65536, which a 16-bit cut would turn into the agent's port.
    QTest::newRow("poll port +65536") << "+65536"
                                      << "" << int(LinkUnknown);
    QTest::newRow("poll port 0") << "0"
                                 << "" << int(LinkUnknown);
    QTest::newRow("poll port letters") << "abc"
                                       << "" << int(LinkUnknown);
    QTest::newRow("poll port negative") << "-161"
                                        << "" << int(LinkUnknown);
    QTest::newRow("trap port above 65535") << ""
                                           << "99999" << int(LinkGood);
    QTest::newRow("trap port letters") << ""
                                       << "x1" << int(LinkGood);
}

void TestMainWindowSettings::portsOutOfRange()
{
    QFETCH(QString, pollPort);
    QFETCH(QString, trapPort);
    QFETCH(int, link);

    UpsAgentFixture agent;
    QVERIFY(agent.start());
    Run run({{"snmp_port_poll", agent.port()}});
    QVERIFY(QTest::qWaitFor([] { return agentLink() == LinkGood; }, 10000));
    if (pollPort == QLatin1String("+65536"))
        pollPort = QString::number(agent.port() + 65536);
    run.settings([&](SettingsDialog *d) {
        if (!pollPort.isEmpty())
            setText(child<QLineEdit>(*d, "lineEdit_port"), pollPort);
        if (!trapPort.isEmpty())
            setText(child<QLineEdit>(*d, "lineEdit_trap"), trapPort);
        ok(d);
    });
    // Nothing is sent to a port outside 1..65535: the agent stays unknown rather than lost.
    QTest::qWait(4000);
    QCOMPARE(agentLink(), link);
    QVERIFY(run.window->isVisible());
}

void TestMainWindowSettings::endToEnd_data()
{
    QTest::addColumn<QString>("authPass");
    QTest::addColumn<QString>("privPass");

    QTest::newRow("wrong authentication password") << "wrong-authpass"
                                                   << "shaaespriv";
    QTest::newRow("wrong privacy password") << "shaaespass"
                                            << "wrong-privpass";
}

void TestMainWindowSettings::endToEnd()
{
    QFETCH(QString, authPass);
    QFETCH(QString, privPass);

    UpsAgentFixture first;
    UpsAgentFixture second;
    QVERIFY(first.start());
    QVERIFY(second.start());
    Run run({{"snmp_port_poll", first.port()}, {"retries", 0}, {"timeout", 1}});
    const QString connected = eventText(AgentAndUpsConnected);
    QVERIFY(QTest::qWaitFor([] { return agentLink() == LinkGood; }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return run.stateText().contains(connected); }, 3000));

    // The agent's port: the second agent takes over, the first one goes away.
    run.settings([&](SettingsDialog *d) {
        setText(child<QLineEdit>(*d, "lineEdit_port"), QString::number(second.port()));
        ok(d);
    });
    QVERIFY(QTest::qWaitFor([] { return agentLink() == LinkGood; }, 10000));
    QVERIFY(first.stop());
    QVERIFY(staysConnected(5000));
    QVERIFY(QTest::qWaitFor([&] { return run.stateText().contains(connected); }, 3000));
    QCOMPARE(QSettings(run.data.file("param.ini"), QSettings::IniFormat).value("snmp_port_poll").toInt(),
             second.port());

    // SNMPv3 with a user made in the user dialog.
    run.settings([&](SettingsDialog *d) {
        click(child<QRadioButton>(*d, "radio_v3"));
        onModal<Properties>([&](Properties *p) {
            onModal<DialogAddUser>([&](DialogAddUser *add) {
                setText(child<QLineEdit>(*add, "line_edit_new_name"), "shaaes");
                click(child<QPushButton>(*add, "buttonOk"));
            });
            click(child<QPushButton>(*p, "push_button_add_user"));
            choose(child<QComboBox>(*p, "combo_box_auth_prot"), "HMAC-SHA");
            setText(child<QLineEdit>(*p, "line_edit_auth_pass"), "shaaespass");
            choose(child<QComboBox>(*p, "combo_box_priv_prot"), "AES128");
            setText(child<QLineEdit>(*p, "line_edit_priv_pass"), "shaaespriv");
            click(child<QPushButton>(*p, "push_button_ok"));
        });
        click(child<QPushButton>(*d, "pushButton_usm"));
        choose(child<QComboBox>(*d, "comboBox"), "shaaes");
        choose(child<QComboBox>(*d, "comboBox_2"), "authPriv");
        ok(d);
    });
    // Three failed exchanges in a row would report the agent lost within this time.
    QVERIFY(staysConnected(6000));
    QVERIFY(QTest::qWaitFor([&] { return run.stateText().contains(connected); }, 3000));
    {
        QReadLocker locker(&snmpParamLock);
        QCOMPARE(params.msgVersion, 3);
        QCOMPARE(params.securityName, QString("shaaes"));
        QCOMPARE(params.securityLevel, 2);
    }
    UsmUserTable stored;
    stored.load(usmUsersFilePath());
    QCOMPARE(*stored.user("shaaes"),
             (UsmUser{"shaaes", UsmAuthProtocol::HmacSha, "shaaespass", UsmPrivProtocol::Aes128, "shaaespriv"}));

    // A wrong password takes effect on the next request: the agent is reported lost.
    run.settings([&](SettingsDialog *d) {
        onModal<Properties>([&](Properties *p) {
            setText(child<QLineEdit>(*p, "line_edit_auth_pass"), authPass);
            setText(child<QLineEdit>(*p, "line_edit_priv_pass"), privPass);
            click(child<QPushButton>(*p, "push_button_ok"));
        });
        click(child<QPushButton>(*d, "pushButton_usm"));
        ok(d);
    });
    QVERIFY(QTest::qWaitFor([] { return agentLink() == LinkLost; }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return run.stateText().contains(eventText(AgentUnconnected)); }, 3000));
}

QTEST_MAIN(TestMainWindowSettings)
#include "tst_mainwindowsettings.moc"
