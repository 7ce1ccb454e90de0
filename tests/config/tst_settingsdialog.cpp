// The settings dialog driven through its widgets. No polling thread runs in this
// test, so addresses outside loopback are only ever stored, never contacted.
#include "config/datadir.h"
#include "config/params.h"
#include "config/properties.h"
#include "config/settingsdialog.h"
#include "snmp/usmusers.h"
#include "tempdatadir.h"
#include "widgetdriver.h"
#include "widgets/filedialog.h"
#include "widgets/messagebox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTranslator>
#include <memory>

using namespace WidgetDriver;

namespace {
UsmUser plainUser(const QString &name)
{
    UsmUser u;
    u.name = name;
    return u;
}

// The dialog, shown on the test display with the page that holds the widgets
// the case needs, so clicks land as a user's would.
struct OpenDialog
{
    std::unique_ptr<SettingsDialog> dialog;
    explicit OpenDialog(UsmUserTable &users) : dialog(std::make_unique<SettingsDialog>(users))
    {
        dialog->show();
        if (!QTest::qWaitForWindowExposed(dialog.get()))
            qFatal("dialog not exposed");
    }
    template <typename T> T *w(const char *name) { return child<T>(*dialog, name); }
    void page(int index) { w<QTabWidget>("tabWidget")->setCurrentIndex(index); }
    void ok() { click(w<QPushButton>("pushButton")); }
};
} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void load_data();
    void load();
    void shutdownSwitch_data();
    void shutdownSwitch();
    void enablingSlots();
    void addressAndPorts_data();
    void addressAndPorts();
    void versionChoice_data();
    void versionChoice();
    void saveDirectory_data();
    void saveDirectory();
    void securityNames_data();
    void securityNames();
    void userButton();
    void externalProgramChooser();
    void closingIsCancel();
    void keyboard();
    void chinese();

private:
    std::unique_ptr<TempDataDir> m_data;
    std::unique_ptr<UsmUserTable> m_users;
};

void TestSettingsDialog::init()
{
    m_data = std::make_unique<TempDataDir>();
    params = Params();
    snmpParamsChanged = false;
    MessageBox::shownBoxes().clear();
    m_users = std::make_unique<UsmUserTable>();
}

void TestSettingsDialog::load_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("radio");
    QTest::addColumn<bool>("v3Enabled");
    QTest::addColumn<int>("levelIndex");

    QTest::newRow("SNMPv1") << 1 << 0 << "radio_v1" << false << 0;
    QTest::newRow("SNMPv2c") << 2 << 1 << "radio_v2" << false << 1;
    QTest::newRow("SNMPv3 authPriv") << 3 << 2 << "radio_v3" << true << 2;
    QTest::newRow("unknown version shows SNMPv2") << 7 << 0 << "radio_v2" << false << 0;
    QTest::newRow("level outside 0..2 shows authPriv") << 3 << 5 << "radio_v3" << true << 2;
}

void TestSettingsDialog::load()
{
    QFETCH(int, version);
    QFETCH(int, level);
    QFETCH(QString, radio);
    QFETCH(bool, v3Enabled);
    QFETCH(int, levelIndex);

    params.ip = "127.0.0.9";
    params.msgVersion = version;
    params.securityLevel = level;
    params.retries = 4;
    params.timeout = 7;
    params.snmp_port_poll = 16161;
    params.snmp_port_trace = 16162;
    params.snmp_community = "private";
    params.contexName = "ctx";
    params.contexEngineID = "engine";
    params.shutdown = true;
    params.Bat_para = true;
    params.Utility_time = 3;
    params.Bat_time = 4;
    params.UPS_time = 5;
    params.Restart_para = true;
    params.Alarm_para = false;
    params.Notify_para = false;
    params.AlarmBox_time = 30;
    params.exte_flag = true;
    params.exte_param = "/opt/tool";
    params.exte_time = 9;
    params.exte_save = false;
    QSettings(paramFilePath(), QSettings::IniFormat).setValue("dir", "/srv/saved");

    OpenDialog d(*m_users);
    QCOMPARE(d.w<QTabWidget>("tabWidget")->currentIndex(), 0);
    QCOMPARE(d.w<QLineEdit>("lineEdit_ip")->text(), QString("127.0.0.9"));
    for (const char *name : {"radio_v1", "radio_v2", "radio_v3"})
        QCOMPARE(d.w<QRadioButton>(name)->isChecked(), radio == QLatin1String(name));
    QCOMPARE(d.w<QGroupBox>("groupBox_snmp_v3")->isEnabled(), v3Enabled);
    QCOMPARE(d.w<QGroupBox>("groupBox_snmp_v12")->isEnabled(), !v3Enabled);
    QCOMPARE(d.w<QComboBox>("comboBox_2")->currentIndex(), levelIndex);
    QCOMPARE(d.w<QSpinBox>("spinBox_2")->value(), 4);
    QCOMPARE(d.w<QSpinBox>("spinBox_3")->value(), 7);
    QCOMPARE(d.w<QLineEdit>("lineEdit_port")->text(), QString("16161"));
    QCOMPARE(d.w<QLineEdit>("lineEdit_trap")->text(), QString("16162"));
    QCOMPARE(d.w<QLineEdit>("lineEdit_snmp_community")->text(), QString("private"));
    QCOMPARE(d.w<QLineEdit>("lineEdit")->text(), QString("ctx"));
    QCOMPARE(d.w<QLineEdit>("lineEdit_2")->text(), QString("engine"));

    QVERIFY(d.w<QCheckBox>("checkBox_shutdown")->isChecked());
    QVERIFY(!d.w<QCheckBox>("checkBox_utility")->isChecked());
    QVERIFY(d.w<QCheckBox>("checkBox_battery")->isChecked());
    QVERIFY(d.w<QCheckBox>("checkBox_utility")->isEnabled());
    QCOMPARE(d.w<QSpinBox>("spinBox_utility")->value(), 3);
    QCOMPARE(d.w<QSpinBox>("spinBox_battery")->value(), 4);
    QCOMPARE(d.w<QSpinBox>("spinBox_ups")->value(), 5);
    QVERIFY(d.w<QCheckBox>("checkBox_auto")->isChecked());
    QVERIFY(!d.w<QCheckBox>("checkBox_popup")->isChecked());
    QVERIFY(!d.w<QCheckBox>("checkBox_notify")->isChecked());
    QVERIFY(!d.w<QSpinBox>("spinBox")->isEnabled());
    QCOMPARE(d.w<QSpinBox>("spinBox")->value(), 30);
    QVERIFY(d.w<QCheckBox>("checkbox_Exte_Check")->isChecked());
    QVERIFY(d.w<QLineEdit>("lineedit_Exte_Edit")->isEnabled());
    QCOMPARE(d.w<QLineEdit>("lineedit_Exte_Edit")->text(), QString("/opt/tool"));
    QCOMPARE(d.w<QSpinBox>("spinbox_Exte_Time")->value(), 9);
    QVERIFY(!d.w<QCheckBox>("checkbox_SaveCheck")->isChecked());
    QVERIFY(!d.w<QLineEdit>("directoryEdit")->isEnabled());
    QVERIFY(!d.w<QPushButton>("browseBtn")->isEnabled());
    QVERIFY(!d.w<QLabel>("savedfileEdit")->isEnabled());
    QCOMPARE(d.w<QLineEdit>("directoryEdit")->text(), QString("/srv/saved"));
}

void TestSettingsDialog::shutdownSwitch_data()
{
    QTest::addColumn<bool>("loadedShutdown");
    QTest::addColumn<bool>("clickShutdown");
    QTest::addColumn<bool>("storedShutdown");
    QTest::addColumn<bool>("storedSwitches");

    QTest::newRow("unchecking stores the three switches off") << true << true << false << false;
    QTest::newRow("kept on stores the boxes") << true << false << true << true;
    QTest::newRow("off with boxes checked stores them off") << false << false << false << false;
    QTest::newRow("checking stores the boxes") << false << true << true << true;
}

void TestSettingsDialog::shutdownSwitch()
{
    QFETCH(bool, loadedShutdown);
    QFETCH(bool, clickShutdown);
    QFETCH(bool, storedShutdown);
    QFETCH(bool, storedSwitches);

    params.shutdown = loadedShutdown;
    params.Utility_para = params.Bat_para = params.UPS_para = true;
    OpenDialog d(*m_users);
    d.page(1);
    if (clickShutdown)
        click(d.w<QCheckBox>("checkBox_shutdown"));
    for (const char *name : {"checkBox_utility", "checkBox_battery", "checkBox_ups"}) {
        QVERIFY(d.w<QCheckBox>(name)->isChecked());
        QCOMPARE(d.w<QCheckBox>(name)->isEnabled(), storedShutdown);
    }
    for (const char *name : {"spinBox_utility", "spinBox_battery", "spinBox_ups"})
        QCOMPARE(d.w<QSpinBox>(name)->isEnabled(), storedShutdown);
    click(d.w<QCheckBox>("checkBox_notify"));
    d.ok();
    QCOMPARE(d.dialog->result(), int(QDialog::Accepted));
    QVERIFY(!params.Notify_para);
    QCOMPARE(params.shutdown, storedShutdown);
    QCOMPARE(params.Utility_para, storedSwitches);
    QCOMPARE(params.Bat_para, storedSwitches);
    QCOMPARE(params.UPS_para, storedSwitches);
}

void TestSettingsDialog::enablingSlots()
{
    OpenDialog d(*m_users);
    d.page(1);
    // A condition box does not grey its own spin box.
    click(d.w<QCheckBox>("checkBox_shutdown"));
    click(d.w<QCheckBox>("checkBox_utility"));
    QVERIFY(d.w<QSpinBox>("spinBox_utility")->isEnabled());
    click(d.w<QCheckBox>("checkBox_utility"));
    QVERIFY(d.w<QSpinBox>("spinBox_utility")->isEnabled());

    click(d.w<QCheckBox>("checkBox_popup"));
    QVERIFY(!d.w<QSpinBox>("spinBox")->isEnabled());
    click(d.w<QCheckBox>("checkBox_popup"));
    QVERIFY(d.w<QSpinBox>("spinBox")->isEnabled());

    click(d.w<QCheckBox>("checkbox_SaveCheck"));
    QVERIFY(d.w<QLineEdit>("directoryEdit")->isEnabled());
    QVERIFY(d.w<QPushButton>("browseBtn")->isEnabled());
    QVERIFY(d.w<QLabel>("savedfileEdit")->isEnabled());

    QVERIFY(!d.w<QPushButton>("bt_Exte_Btn")->isEnabled());
    click(d.w<QCheckBox>("checkbox_Exte_Check"));
    QVERIFY(d.w<QPushButton>("bt_Exte_Btn")->isEnabled());
    QVERIFY(d.w<QLineEdit>("lineedit_Exte_Edit")->isEnabled());
    QVERIFY(d.w<QSpinBox>("spinbox_Exte_Time")->isEnabled());

    d.page(0);
    click(d.w<QRadioButton>("radio_v3"));
    QVERIFY(d.w<QGroupBox>("groupBox_snmp_v3")->isEnabled());
    QVERIFY(!d.w<QGroupBox>("groupBox_snmp_v12")->isEnabled());
    click(d.w<QRadioButton>("radio_v1"));
    QVERIFY(!d.w<QGroupBox>("groupBox_snmp_v3")->isEnabled());
    QVERIFY(d.w<QGroupBox>("groupBox_snmp_v12")->isEnabled());
}

void TestSettingsDialog::addressAndPorts_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("pollPort");
    QTest::addColumn<QString>("trapPort");
    QTest::addColumn<QString>("boxTitle");
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<QString>("ipAfter");
    QTest::addColumn<int>("storedPoll");
    QTest::addColumn<int>("storedTrap");

    const QString illegal = "IP illegal format!";
    const QString empty = "IP or PORT is NULL";
    QTest::newRow("256.1.1.1") << "256.1.1.1"
                               << "161"
                               << "162"
                               << "Warning" << illegal << "192.168.1.1" << 0 << 0;
    QTest::newRow("1.2.3") << "1.2.3"
                           << "161"
                           << "162"
                           << "Warning" << illegal << "192.168.1.1" << 0 << 0;
    QTest::newRow("leading space") << " 10.0.0.1"
                                   << "161"
                                   << "162"
                                   << "Warning" << illegal << "192.168.1.1" << 0 << 0;
    QTest::newRow("five parts") << "1.2.3.4.5"
                                << "161"
                                << "162"
                                << "Warning" << illegal << "192.168.1.1" << 0 << 0;
    QTest::newRow("host name") << "ups.local"
                               << "161"
                               << "162"
                               << "Warning" << illegal << "192.168.1.1" << 0 << 0;
    QTest::newRow("empty address") << ""
                                   << "161"
                                   << "162"
                                   << "Warnning" << empty << "127.0.0.5" << 0 << 0;
    QTest::newRow("empty poll port") << "10.0.0.1"
                                     << ""
                                     << "162"
                                     << "Warnning" << empty << "127.0.0.5" << 0 << 0;
    QTest::newRow("empty trap port") << "10.0.0.1"
                                     << "161"
                                     << ""
                                     << "Warnning" << empty << "127.0.0.5" << 0 << 0;
    QTest::newRow("leading zeros accepted") << "010.001.1.1"
                                            << "161"
                                            << "162"
                                            << ""
                                            << ""
                                            << "010.001.1.1" << 161 << 162;
    QTest::newRow("highest address") << "255.255.255.255"
                                     << "1"
                                     << "65535"
                                     << ""
                                     << ""
                                     << "255.255.255.255" << 1 << 65535;
    QTest::newRow("letters in ports store 0") << "127.0.0.1"
                                              << "16x1"
                                              << "abc"
                                              << ""
                                              << ""
                                              << "127.0.0.1" << 0 << 0;
    QTest::newRow("ports above 65535 stored as typed") << "127.0.0.1"
                                                       << "70000"
                                                       << "99999"
                                                       << ""
                                                       << ""
                                                       << "127.0.0.1" << 70000 << 99999;
}

void TestSettingsDialog::addressAndPorts()
{
    QFETCH(QString, ip);
    QFETCH(QString, pollPort);
    QFETCH(QString, trapPort);
    QFETCH(QString, boxTitle);
    QFETCH(QString, boxText);
    QFETCH(QString, ipAfter);
    QFETCH(int, storedPoll);
    QFETCH(int, storedTrap);

    params.ip = "127.0.0.5";
    params.snmp_port_poll = 5000;
    params.snmp_port_trace = 5001;
    params.Utility_time = 3;
    OpenDialog d(*m_users);
    setText(d.w<QLineEdit>("lineEdit_ip"), ip);
    setText(d.w<QLineEdit>("lineEdit_port"), pollPort);
    setText(d.w<QLineEdit>("lineEdit_trap"), trapPort);
    d.w<QSpinBox>("spinBox_utility")->setValue(8);
    if (!boxTitle.isEmpty())
        MessageBox::setNextAnswer(QMessageBox::Ok);
    d.ok();

    QCOMPARE(d.w<QLineEdit>("lineEdit_ip")->text(), ipAfter);
    if (boxTitle.isEmpty()) {
        QVERIFY(MessageBox::shownBoxes().isEmpty());
        QCOMPARE(d.dialog->result(), int(QDialog::Accepted));
        QCOMPARE(params.ip, ip);
        QCOMPARE(params.snmp_port_poll, storedPoll);
        QCOMPARE(params.snmp_port_trace, storedTrap);
        QCOMPARE(params.Utility_time, 8);
        QVERIFY(snmpParamsChanged);
        return;
    }
    QCOMPARE(MessageBox::shownBoxes().size(), 1);
    QCOMPARE(MessageBox::shownBoxes().first().title, boxTitle);
    QCOMPARE(MessageBox::shownBoxes().first().text, boxText);
    QCOMPARE(MessageBox::shownBoxes().first().icon, QMessageBox::Warning);
    QVERIFY(d.dialog->isVisible());
    // Refused: nothing stored, the port fields keep what was typed.
    QCOMPARE(params.ip, QString("127.0.0.5"));
    QCOMPARE(params.snmp_port_poll, 5000);
    QCOMPARE(params.Utility_time, 3);
    QVERIFY(!snmpParamsChanged);
    QCOMPARE(d.w<QLineEdit>("lineEdit_port")->text(), pollPort);
    QCOMPARE(d.w<QLineEdit>("lineEdit_trap")->text(), trapPort);
}

void TestSettingsDialog::versionChoice_data()
{
    QTest::addColumn<QString>("radio");
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("v3Stored");

    QTest::newRow("SNMPv1 leaves the v3 values") << "radio_v1" << 1 << false;
    QTest::newRow("SNMPv2c leaves the v3 values") << "radio_v2" << 2 << false;
    QTest::newRow("SNMPv3 leaves the community") << "radio_v3" << 3 << true;
}

void TestSettingsDialog::versionChoice()
{
    QFETCH(QString, radio);
    QFETCH(int, version);
    QFETCH(bool, v3Stored);

    m_users->addUser(plainUser("alpha"));
    m_users->addUser(UsmUser{"beta", UsmAuthProtocol::HmacSha, "beta-auth", UsmPrivProtocol::Aes128, "beta-priv"});
    params.msgVersion = 3;
    params.securityName = "alpha";
    params.securityLevel = 0;
    params.contexName = "old-ctx";
    params.contexEngineID = "old-engine";
    params.snmp_community = "public";
    OpenDialog d(*m_users);
    // Edit both groups first, then choose the version.
    d.w<QComboBox>("comboBox")->setCurrentIndex(1);
    d.w<QComboBox>("comboBox_2")->setCurrentIndex(2);
    setText(d.w<QLineEdit>("lineEdit"), "new-ctx");
    setText(d.w<QLineEdit>("lineEdit_2"), "new-engine");
    click(d.w<QRadioButton>("radio_v1"));
    setText(d.w<QLineEdit>("lineEdit_snmp_community"), "private");
    click(d.w<QRadioButton>(radio.toLatin1().constData()));
    d.ok();

    QCOMPARE(d.dialog->result(), int(QDialog::Accepted));
    QCOMPARE(params.msgVersion, version);
    QCOMPARE(params.securityName, QString(v3Stored ? "beta" : "alpha"));
    QCOMPARE(params.securityLevel, v3Stored ? 2 : 0);
    QCOMPARE(params.contexName, QString(v3Stored ? "new-ctx" : "old-ctx"));
    QCOMPARE(params.contexEngineID, QString(v3Stored ? "new-engine" : "old-engine"));
    QCOMPARE(params.snmp_community, QString(v3Stored ? "public" : "private"));
    QCOMPARE(QFile::exists(configFilePath("usm_users.bin")), v3Stored);
    if (v3Stored) {
        UsmUserTable stored;
        stored.load(configFilePath("usm_users.bin"));
        QCOMPARE(stored.userNames(), QStringList({"alpha", "beta"}));
    }
}

void TestSettingsDialog::saveDirectory_data()
{
    QTest::addColumn<QString>("typed"); // "<new>": a missing directory that can be created
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("warned");

    const QString existing = QDir::tempPath();
    const QString impossible = "/etc/hostname/saved";
    QTest::newRow("existing directory") << existing << "127.0.0.1" << existing << false;
    QTest::newRow("missing directory is created") << "<new>"
                                                  << "127.0.0.1"
                                                  << "<new>" << false;
    QTest::newRow("cannot be created: Temp, and a warning") << impossible << "127.0.0.1"
                                                            << "<Temp>" << true;
    QTest::newRow("cannot be created, OK refused") << impossible << "1.2.3"
                                                   << "<Temp>" << true;
    QTest::newRow("existing directory, OK refused") << existing << "" << existing << false;
    QTest::newRow("a file is not a directory") << "/etc/hostname"
                                               << "127.0.0.1"
                                               << "<Temp>" << true;
    QTest::newRow("empty") << ""
                           << "127.0.0.1"
                           << "" << false;
}

void TestSettingsDialog::saveDirectory()
{
    QFETCH(QString, typed);
    QFETCH(QString, ip);
    QFETCH(QString, stored);
    QFETCH(bool, warned);
    const QString created = m_data->file("stick/backups");
    typed.replace("<new>", created);
    stored.replace("<new>", created).replace("<Temp>", documentSaveDir());

    QSettings(paramFilePath(), QSettings::IniFormat).setValue("dir", "/previous");
    params.exte_save = true;
    OpenDialog d(*m_users);
    d.page(1);
    setText(d.w<QLineEdit>("directoryEdit"), typed);
    d.page(0);
    setText(d.w<QLineEdit>("lineEdit_ip"), ip);
    MessageBox::shownBoxes().clear();
    for (int box = 0; box < int(warned) + int(ip != "127.0.0.1"); ++box)
        MessageBox::setNextAnswer(QMessageBox::Ok);
    d.ok();
    QCOMPARE(QSettings(paramFilePath(), QSettings::IniFormat).value("dir").toString(), stored);
    QCOMPARE(QFile::permissions(paramFilePath()) & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    QCOMPARE(!MessageBox::shownBoxes().isEmpty() && MessageBox::shownBoxes().first().text.contains(typed), warned);
    QCOMPARE(QFileInfo(created).isDir(), typed == created);
}

void TestSettingsDialog::securityNames_data()
{
    QTest::addColumn<QStringList>("users");
    QTest::addColumn<QString>("storedName");
    QTest::addColumn<QString>("shown");

    QTest::newRow("stored name selected") << QStringList{"ups", "admin", "Admin"} << "Admin"
                                          << "Admin";
    QTest::newRow("case-sensitive match") << QStringList{"ups", "admin"} << "ADMIN"
                                          << "ups";
    QTest::newRow("unknown name selects the first") << QStringList{"ups", "admin"} << "gone"
                                                    << "ups";
    QTest::newRow("no users, empty name stored") << QStringList{} << "gone"
                                                 << "";
    QTest::newRow("non-ASCII name") << QStringList{"ups", "Überwacher"} << "Überwacher"
                                    << "Überwacher";
}

void TestSettingsDialog::securityNames()
{
    QFETCH(QStringList, users);
    QFETCH(QString, storedName);
    QFETCH(QString, shown);

    for (const QString &name : users)
        m_users->addUser(plainUser(name));
    params.msgVersion = 3;
    params.securityName = storedName;
    OpenDialog d(*m_users);
    auto *combo = d.w<QComboBox>("comboBox");
    QCOMPARE(combo->count(), int(users.size()));
    for (int i = 0; i < users.size(); ++i)
        QCOMPARE(combo->itemText(i), users.at(i));
    QCOMPARE(combo->currentText(), shown);
    d.ok();
    QCOMPARE(params.securityName, shown);
}

void TestSettingsDialog::userButton()
{
    for (const char *name : {"a", "b", "c"})
        m_users->addUser(plainUser(name));
    params.msgVersion = 3;
    params.securityName = "c";
    OpenDialog d(*m_users);
    QCOMPARE(d.w<QComboBox>("comboBox")->currentText(), QString("c"));
    QString title;
    QStringList listed;
    Qt::WindowFlags flags;
    onModal<Properties>([&](Properties *users) {
        title = users->windowTitle();
        flags = users->windowFlags();
        auto *names = child<QComboBox>(*users, "combo_box_sec_name");
        for (int i = 0; i < names->count(); ++i)
            listed << names->itemText(i);
        // Deletes "a", the user shown first, then closes.
        click(child<QPushButton>(*users, "push_button_del_user"));
        click(child<QPushButton>(*users, "button_close"));
    });
    click(d.w<QPushButton>("pushButton_usm"));
    QCOMPARE(title, QString("User-Based Security Model"));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QCOMPARE(listed, QStringList({"a", "b", "c"}));
    // The list is read again; the selection is then the first user.
    auto *combo = d.w<QComboBox>("comboBox");
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->itemText(0), QString("b"));
    QCOMPARE(combo->currentText(), QString("b"));
    QVERIFY(!QFile::exists(usmUsersFilePath()));
    d.ok();
    QCOMPARE(params.securityName, QString("b"));
    UsmUserTable stored;
    stored.load(usmUsersFilePath());
    QCOMPARE(stored.userNames(), QStringList({"b", "c"}));
    QCOMPARE(QFile::permissions(usmUsersFilePath()) & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
}

void TestSettingsDialog::externalProgramChooser()
{
    QSettings(paramFilePath(), QSettings::IniFormat).setValue("exte_param", "/old/program");
    params.exte_param = "/old/program";
    params.exte_flag = true;
    const QString chosen = "/opt/my tools/it's \"odd\"; $(echo x) & run";
    {
        OpenDialog d(*m_users);
        d.page(1);
        FileDialog::setNextFileName(QString());
        click(d.w<QPushButton>("bt_Exte_Btn"));
        QCOMPARE(params.exte_param, QString("/old/program"));
        FileDialog::setNextFileName(chosen);
        click(d.w<QPushButton>("bt_Exte_Btn"));
        QCOMPARE(d.w<QLineEdit>("lineedit_Exte_Edit")->text(), chosen);
        d.dialog->close();
        QCOMPARE(d.dialog->result(), int(QDialog::Rejected));
    }
    // Kept in memory for the running application; the file keeps the old path.
    QCOMPARE(params.exte_param, chosen);
    QCOMPARE(QSettings(paramFilePath(), QSettings::IniFormat).value("exte_param").toString(), QString("/old/program"));

    // The directory chooser: cancelled keeps the text, a choice replaces it.
    params.exte_save = true;
    OpenDialog d(*m_users);
    d.page(1);
    auto *dir = d.w<QLineEdit>("directoryEdit");
    setText(dir, "/typed");
    FileDialog::setNextFileName(QString());
    click(d.w<QPushButton>("browseBtn"));
    QCOMPARE(dir->text(), QString("/typed"));
    FileDialog::setNextFileName(QDir::tempPath());
    click(d.w<QPushButton>("browseBtn"));
    QCOMPARE(dir->text(), QDir::tempPath());
}

void TestSettingsDialog::closingIsCancel()
{
    params.ip = "127.0.0.5";
    const QByteArray before = [] {
        QFile f(paramFilePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    OpenDialog d(*m_users);
    setText(d.w<QLineEdit>("lineEdit_ip"), "127.0.0.6");
    d.w<QSpinBox>("spinBox_utility")->setValue(99);
    click(d.w<QRadioButton>("radio_v3"));
    QTest::keyClick(d.dialog.get(), Qt::Key_Escape);
    QVERIFY(!d.dialog->isVisible());
    QCOMPARE(d.dialog->result(), int(QDialog::Rejected));
    QCOMPARE(params.ip, QString("127.0.0.5"));
    QCOMPARE(params.Utility_time, 10);
    QCOMPARE(params.msgVersion, 2);
    QVERIFY(!snmpParamsChanged);
    QFile f(paramFilePath());
    QCOMPARE(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(), before);
}

void TestSettingsDialog::keyboard()
{
    params.exte_save = params.exte_flag = params.shutdown = true;
    OpenDialog d(*m_users);
    d.dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(d.dialog.get()));
    auto tabChain = [](QWidget *first, int steps) {
        first->setFocus();
        QStringList seen{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < steps; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            seen << QApplication::focusWidget()->objectName();
        }
        return seen;
    };
    // The version group is one stop; the disabled SNMPv3 group is skipped.
    QCOMPARE(tabChain(d.w<QLineEdit>("lineEdit_ip"), 9),
             QStringList({"lineEdit_ip", "radio_v1", "lineEdit_snmp_community", "spinBox_2", "spinBox_3",
                          "lineEdit_port", "lineEdit_trap", "pushButton", "qt_tabwidget_tabbar", "lineEdit_ip"}));
    click(d.w<QRadioButton>("radio_v3"));
    QCOMPARE(tabChain(d.w<QRadioButton>("radio_v3"), 6), QStringList({"radio_v3", "comboBox", "comboBox_2", "lineEdit",
                                                                      "lineEdit_2", "pushButton_usm", "spinBox_2"}));
    d.page(1);
    QCOMPARE(
        tabChain(d.w<QCheckBox>("checkbox_SaveCheck"), 18),
        QStringList({"checkbox_SaveCheck", "directoryEdit", "browseBtn", "checkbox_Exte_Check", "lineedit_Exte_Edit",
                     "bt_Exte_Btn", "spinbox_Exte_Time", "checkBox_shutdown", "checkBox_utility", "spinBox_utility",
                     "checkBox_battery", "spinBox_battery", "checkBox_ups", "spinBox_ups", "checkBox_auto",
                     "checkBox_notify", "checkBox_popup", "spinBox", "pushButton"}));
    d.page(0);

    for (const auto &[label, field] :
         std::initializer_list<std::pair<const char *, const char *>>{{"label_12", "lineEdit_ip"},
                                                                      {"label_5", "lineEdit_snmp_community"},
                                                                      {"label_14", "comboBox"},
                                                                      {"label_15", "comboBox_2"},
                                                                      {"label_16", "lineEdit"},
                                                                      {"label_17", "lineEdit_2"},
                                                                      {"label_10", "spinBox_2"},
                                                                      {"label_18", "spinBox_3"},
                                                                      {"label_6", "lineEdit_port"},
                                                                      {"label_7", "lineEdit_trap"},
                                                                      {"savedfileEdit", "directoryEdit"},
                                                                      {"label_22", "spinbox_Exte_Time"}})
        QCOMPARE(d.w<QLabel>(label)->buddy(), d.w<QWidget>(field));

    // Return in a field is OK.
    auto *ip = d.w<QLineEdit>("lineEdit_ip");
    setText(ip, "127.0.0.3");
    QTest::keyClick(ip, Qt::Key_Return);
    QCOMPARE(d.dialog->result(), int(QDialog::Accepted));
    QCOMPARE(params.ip, QString("127.0.0.3"));
}

void TestSettingsDialog::chinese()
{
    QTranslator zh;
    QVERIFY(zh.load(":/file/zh.qm"));
    QCoreApplication::installTranslator(&zh);
    OpenDialog d(*m_users);
    QCoreApplication::removeTranslator(&zh);
    auto *tabs = d.w<QTabWidget>("tabWidget");
    QCOMPARE(tabs->tabText(0), QString("SNMP设置"));
    QCOMPARE(tabs->tabText(1), QString("电源设置"));
    auto *level = d.w<QComboBox>("comboBox_2");
    QCOMPARE(level->itemText(0), QString("无鉴权无加密"));
    QCOMPARE(level->itemText(1), QString("有鉴权无加密"));
    QCOMPARE(level->itemText(2), QString("有鉴权有加密"));
    QCOMPARE(d.w<QPushButton>("pushButton")->text(), QString("确定"));
    QCOMPARE(d.w<QLineEdit>("lineEdit_port")->text(), QString("161"));
    QCOMPARE(d.w<QPushButton>("browseBtn")->text(), QString("浏览"));
    QCOMPARE(d.w<QCheckBox>("checkBox_shutdown")->text(), QString("关机时间设置"));
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
