#include "settingsdialog.h"

#include "config/datadir.h"
#include "config/params.h"
#include "config/properties.h"
#include "shutdown/opendocumentsaver.h"
#include "snmp/usmusers.h"
#include "ui_settingsdialog.h"
#include "widgets/filedialog.h"
#include "widgets/messagebox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

namespace {
const QString defaultAgent = QStringLiteral("192.168.1.1");

// Text that is not a number stores 0; the polling thread sends nothing to a port outside 1..65535.
int portValue(const QString &text)
{
    return text.toInt(nullptr, 10);
}
} // namespace

SettingsDialog::SettingsDialog(UsmUserTable &users, QWidget *parent)
    : QDialog(parent), m_users(users), ui(std::make_unique<Ui::SettingsDialog>())
{
    m_paramFile = std::make_unique<QSettings>(paramFilePath(), QSettings::IniFormat);
    ui->setupUi(this);
    connectSlots();
    ui->tabWidget->setCurrentIndex(0);
    load();
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::connectSlots()
{
    connect(ui->bt_Exte_Btn, &QPushButton::clicked, this, &SettingsDialog::on_bt_Exte_Btn_clicked);
    connect(ui->checkBox_shutdown, &QCheckBox::clicked, this, &SettingsDialog::on_checkBox_shutdown_clicked);
    connect(ui->checkbox_Exte_Check, &QCheckBox::clicked, this, &SettingsDialog::on_checkbox_Exte_Check_clicked);
    connect(ui->checkBox_popup, &QCheckBox::clicked, this, &SettingsDialog::on_checkBox_popup_clicked);
    connect(ui->pushButton, &QPushButton::clicked, this, &SettingsDialog::on_pushButton_clicked);
    connect(ui->radio_v1, &QRadioButton::clicked, this, &SettingsDialog::on_radio_v1_clicked);
    connect(ui->radio_v2, &QRadioButton::clicked, this, &SettingsDialog::on_radio_v2_clicked);
    connect(ui->radio_v3, &QRadioButton::clicked, this, &SettingsDialog::on_radio_v3_clicked);
    connect(ui->pushButton_usm, &QPushButton::clicked, this, &SettingsDialog::on_pushButton_usm_clicked);
    connect(ui->browseBtn, &QPushButton::clicked, this, &SettingsDialog::on_browseBtn_clicked);
    connect(ui->checkbox_SaveCheck, &QCheckBox::clicked, this, &SettingsDialog::on_checkbox_SaveCheck_clicked);
}

void SettingsDialog::load()
{
    const Params &p = params;
    ui->checkBox_shutdown->setChecked(p.shutdown);
    on_checkBox_shutdown_clicked(p.shutdown);
    ui->checkBox_utility->setChecked(p.Utility_para);
    ui->checkBox_battery->setChecked(p.Bat_para);
    ui->checkBox_ups->setChecked(p.UPS_para);
    ui->checkBox_auto->setChecked(p.Restart_para);
    ui->checkBox_popup->setChecked(p.Alarm_para);
    ui->checkBox_notify->setChecked(p.Notify_para);
    ui->spinBox_utility->setValue(p.Utility_time);
    ui->spinBox_battery->setValue(p.Bat_time);
    ui->spinBox_ups->setValue(p.UPS_time);
    on_checkBox_popup_clicked(p.Alarm_para);
    ui->spinBox->setValue(p.AlarmBox_time);

    ui->checkbox_Exte_Check->setChecked(p.exte_flag);
    ui->checkbox_SaveCheck->setChecked(p.exte_save);
    on_checkbox_SaveCheck_clicked(p.exte_save);
    ui->lineedit_Exte_Edit->setText(p.exte_param);
    ui->spinbox_Exte_Time->setValue(p.exte_time);
    on_checkbox_Exte_Check_clicked(p.exte_flag);

    QString securityName;
    {
        QReadLocker locker(&snmpParamLock);
        ui->lineEdit_ip->setText(p.ip);
        // A version outside 1..3 shows the form's SNMPv2 and is stored as such, so
        // that OK stores what the dialog shows.
        selectedVersion = p.msgVersion >= 1 && p.msgVersion <= 3 ? p.msgVersion : 2;
        ui->radio_v1->setChecked(selectedVersion == 1);
        ui->radio_v2->setChecked(selectedVersion == 2);
        ui->radio_v3->setChecked(selectedVersion == 3);
        ui->spinBox_2->setValue(p.retries);
        ui->spinBox_3->setValue(p.timeout);
        ui->lineEdit_port->setText(QString::number(p.snmp_port_poll));
        ui->lineEdit_trap->setText(QString::number(p.snmp_port_trace));
        ui->lineEdit_snmp_community->setText(p.snmp_community);
        // The polling thread treats every level outside 0..2 as authPriv; show it so.
        ui->comboBox_2->setCurrentIndex(p.securityLevel >= 0 && p.securityLevel <= 2 ? p.securityLevel : 2);
        ui->lineEdit->setText(p.contexName);
        ui->lineEdit_2->setText(p.contexEngineID);
        securityName = p.securityName;
    }

    reloadSecurityNames();
    const int index = ui->comboBox->findText(securityName, Qt::MatchExactly | Qt::MatchCaseSensitive);
    ui->comboBox->setCurrentIndex(index >= 0 ? index : 0);
    enableVersionGroups();

    ui->directoryEdit->setText(m_paramFile->value("dir", QString()).toString());
}

void SettingsDialog::reloadSecurityNames()
{
    ui->comboBox->clear();
    ui->comboBox->addItems(m_users.userNames());
}

void SettingsDialog::enableVersionGroups()
{
    const bool v3 = selectedVersion == 3;
    ui->groupBox_snmp_v3->setEnabled(v3);
    ui->groupBox_snmp_v12->setEnabled(!v3);
}

void SettingsDialog::on_bt_Exte_Btn_clicked()
{
    const QString file = FileDialog::getOpenFileName(this, tr("Open"), QString(), QString());
    if (file.isEmpty())
        return;
    params.exte_param = file;
    ui->lineedit_Exte_Edit->setText(file);
}

void SettingsDialog::on_checkBox_shutdown_clicked(bool checked)
{
    QWidget *const conditions[] = {ui->checkBox_utility, ui->checkBox_battery, ui->checkBox_ups,
                                   ui->spinBox_utility,  ui->spinBox_battery,  ui->spinBox_ups};
    for (QWidget *w : conditions)
        w->setEnabled(checked);
}

void SettingsDialog::on_checkbox_Exte_Check_clicked(bool checked)
{
    ui->bt_Exte_Btn->setEnabled(checked);
    ui->lineedit_Exte_Edit->setEnabled(checked);
    ui->spinbox_Exte_Time->setEnabled(checked);
}

void SettingsDialog::on_checkBox_popup_clicked(bool checked)
{
    ui->spinBox->setEnabled(checked);
}

void SettingsDialog::storeSaveDirectory()
{
    const QString dir = ui->directoryEdit->text();
    QString stored = dir;
    // A missing directory is created now; one that cannot be is replaced, and the
    // user told so, rather than losing documents at shutdown.
    if (!dir.isEmpty() && !prepareSaveDirectory(dir)) {
        stored = defaultSaveDirectory();
        QMessageBox box(
            QMessageBox::Warning, tr("Warning"),
            tr("The directory \"%1\" cannot be created. Documents will be saved in \"%2\".").arg(dir, stored),
            QMessageBox::Ok, this);
        MessageBox::exec(box);
    }
    // param.ini holds credentials: never readable by others, also when created here.
    constexpr QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    const QString path = paramFilePath();
    if (!QFile::exists(path)) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.setPermissions(ownerOnly);
    }
    m_paramFile->setValue("dir", stored);
    m_paramFile->sync();
    QFile::setPermissions(path, ownerOnly);
}

void SettingsDialog::on_pushButton_clicked()
{
    storeSaveDirectory();

    const QString ip = ui->lineEdit_ip->text();
    const QString pollPort = ui->lineEdit_port->text();
    const QString trapPort = ui->lineEdit_trap->text();
    if (ip.isEmpty() || pollPort.isEmpty() || trapPort.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, tr("Warnning"), tr("IP or PORT is NULL"), QMessageBox::Ok, this);
        MessageBox::exec(box);
        QReadLocker locker(&snmpParamLock);
        ui->lineEdit_ip->setText(params.ip);
        return;
    }
    if (!isDottedIpv4(ip)) {
        ui->lineEdit_ip->setText(defaultAgent);
        QMessageBox box(QMessageBox::Warning, tr("Warning"), tr("IP illegal format!"), QMessageBox::Yes, this);
        MessageBox::exec(box);
        return;
    }

    Params &p = params;
    p.shutdown = ui->checkBox_shutdown->isChecked();
    p.Utility_para = p.shutdown && ui->checkBox_utility->isChecked();
    p.Bat_para = p.shutdown && ui->checkBox_battery->isChecked();
    p.UPS_para = p.shutdown && ui->checkBox_ups->isChecked();
    p.Restart_para = ui->checkBox_auto->isChecked();
    p.Utility_time = ui->spinBox_utility->value();
    p.Bat_time = ui->spinBox_battery->value();
    p.UPS_time = ui->spinBox_ups->value();
    p.exte_flag = ui->checkbox_Exte_Check->checkState() != Qt::Unchecked;
    p.exte_param = ui->lineedit_Exte_Edit->text();
    p.exte_time = ui->spinbox_Exte_Time->value();
    p.exte_save = ui->checkbox_SaveCheck->checkState() != Qt::Unchecked;
    p.Alarm_para = ui->checkBox_popup->isChecked();
    p.Notify_para = ui->checkBox_notify->isChecked();
    p.AlarmBox_time = ui->spinBox->value();

    {
        QWriteLocker locker(&snmpParamLock);
        p.ip = ip;
        p.msgVersion = selectedVersion;
        p.retries = ui->spinBox_2->value();
        p.timeout = ui->spinBox_3->value();
        p.snmp_port_poll = portValue(pollPort);
        p.snmp_port_trace = portValue(trapPort);
        if (selectedVersion == 3) {
            p.securityName = ui->comboBox->currentText();
            p.securityLevel = ui->comboBox_2->currentIndex();
            p.contexName = ui->lineEdit->text();
            p.contexEngineID = ui->lineEdit_2->text();
            m_users.save(usmUsersFilePath());
        } else {
            p.snmp_community = ui->lineEdit_snmp_community->text();
        }
        snmpParamsChanged = true;
    }
    accept();
}

void SettingsDialog::on_radio_v1_clicked()
{
    selectedVersion = 1;
    enableVersionGroups();
}

void SettingsDialog::on_radio_v2_clicked()
{
    selectedVersion = 2;
    enableVersionGroups();
}

void SettingsDialog::on_radio_v3_clicked()
{
    selectedVersion = 3;
    enableVersionGroups();
}

void SettingsDialog::on_pushButton_usm_clicked()
{
    Properties dialog;
    dialog.setWindowFlags(Qt::WindowCloseButtonHint);
    dialog.setWindowTitle(tr("User-Based Security Model"));
    dialog.setSnmp(m_users);
    dialog.exec();
    reloadSecurityNames();
}

void SettingsDialog::on_browseBtn_clicked()
{
    const QString dir = FileDialog::getExistingDirectory(this, tr("Select the path to save"), QDir::currentPath(),
                                                         QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (!dir.isEmpty())
        ui->directoryEdit->setText(dir);
}

void SettingsDialog::on_checkbox_SaveCheck_clicked(bool checked)
{
    ui->browseBtn->setEnabled(checked);
    ui->directoryEdit->setEnabled(checked);
    ui->savedfileEdit->setEnabled(checked);
}
