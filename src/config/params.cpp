#include "params.h"

#include "datadir.h"
#include "platform/autostart.h"
#include "scramble.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>

Params params;
QReadWriteLock snmpParamLock;
bool snmpParamsChanged = false;

namespace {
constexpr QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;

// ASCII values keep the plain scrambled text; anything whose scrambled bytes leave
// ASCII is stored as bytes, which QSettings writes as @ByteArray(...).
QVariant storedScrambled(const QString &clear)
{
    const QByteArray bytes = scrambleBytes(clear.toUtf8(), ScrambleDirection::Encode);
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return bytes;
    }
    return QString::fromLatin1(bytes);
}

QString readScrambled(const QSettings &s, const QString &key)
{
    const QVariant v = s.value(key, QString());
    const QByteArray stored = v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
    return QString::fromUtf8(scrambleBytes(stored, ScrambleDirection::Decode));
}
} // namespace

QString paramFilePath()
{
    return configFilePath(QStringLiteral("param.ini"));
}

void loadParams()
{
    const QSettings s(paramFilePath(), QSettings::IniFormat);
    const Params d;
    Params &p = params;
    p.ip = s.value("ip", d.ip).toString();
    p.shutdown = s.value("shutdown", d.shutdown).toBool();
    p.Utility_para = s.value("Utility_para", d.Utility_para).toBool();
    p.Bat_para = s.value("Bat_para", d.Bat_para).toBool();
    p.UPS_para = s.value("UPS_para", d.UPS_para).toBool();
    p.Restart_para = s.value("Restart_para", d.Restart_para).toBool();
    p.Alarm_para = s.value("Alarm_para", d.Alarm_para).toBool();
    p.Notify_para = s.value("Notify_para", d.Notify_para).toBool();
    p.AlarmBox_time = s.value("AlarmBox_time", d.AlarmBox_time).toInt();
    p.Utility_time = s.value("Utility_time", d.Utility_time).toInt();
    p.Bat_time = s.value("Bat_time", d.Bat_time).toInt();
    p.UPS_time = s.value("UPS_time", d.UPS_time).toInt();
    p.exte_flag = s.value("exte_flag", d.exte_flag).toBool();
    p.exte_param = s.value("exte_param", d.exte_param).toString();
    p.exte_time = s.value("exte_time", d.exte_time).toInt();
    p.exte_save = s.value("exte_save", d.exte_save).toBool();
    p.snmp_port_poll = s.value("snmp_port_poll", d.snmp_port_poll).toInt();
    p.snmp_port_trace = s.value("snmp_port_trace", d.snmp_port_trace).toInt();
    p.msgVersion = s.value("msgVersion", d.msgVersion).toInt();
    p.contexName = readScrambled(s, "contexName");
    p.contexEngineID = readScrambled(s, "contexEngineID");
    p.securityName = readScrambled(s, "securityName");
    p.snmp_community = s.value("snmp_community", d.snmp_community).toString();
    p.securityLevel = s.value("securityLevel", d.securityLevel).toInt();
    p.retries = s.value("retries", d.retries).toInt();
    p.timeout = s.value("timeout", d.timeout).toInt();
}

void saveParams()
{
    const QString path = paramFilePath();
    // The file holds credentials: create it owner-only so that the saved copy,
    // which keeps the existing permissions, never is readable by others.
    if (!QFile::exists(path)) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.setPermissions(ownerOnly);
    }
    {
        QSettings s(path, QSettings::IniFormat);
        const Params &p = params;
        s.setValue("shutdown", p.shutdown);
        s.setValue("Utility_para", p.Utility_para);
        s.setValue("Bat_para", p.Bat_para);
        s.setValue("UPS_para", p.UPS_para);
        s.setValue("Restart_para", p.Restart_para);
        s.setValue("Alarm_para", p.Alarm_para);
        s.setValue("Notify_para", p.Notify_para);
        s.setValue("AlarmBox_time", p.AlarmBox_time);
        s.setValue("Utility_time", p.Utility_time);
        s.setValue("Bat_time", p.Bat_time);
        s.setValue("UPS_time", p.UPS_time);
        s.setValue("exte_flag", p.exte_flag);
        s.setValue("exte_param", p.exte_param);
        s.setValue("exte_time", p.exte_time);
        s.setValue("exte_save", p.exte_save);
        QReadLocker locker(&snmpParamLock);
        s.setValue("ip", p.ip);
        s.setValue("msgVersion", p.msgVersion);
        s.setValue("retries", p.retries);
        s.setValue("timeout", p.timeout);
        s.setValue("snmp_port_poll", p.snmp_port_poll);
        s.setValue("snmp_port_trace", p.snmp_port_trace);
        s.setValue("snmp_community", p.snmp_community);
        s.setValue("securityName", storedScrambled(p.securityName));
        s.setValue("securityLevel", p.securityLevel);
        s.setValue("contexName", storedScrambled(p.contexName));
        s.setValue("contexEngineID", storedScrambled(p.contexEngineID));
    }
    QFile::setPermissions(path, ownerOnly);
}

void applyAutoStart()
{
    if (params.Restart_para)
        Autostart::install(QCoreApplication::applicationFilePath());
    else
        Autostart::remove();
}
