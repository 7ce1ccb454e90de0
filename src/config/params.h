#pragma once

#include <QReadWriteLock>
#include <QString>

// The in-memory parameter set, one field per param.ini key (key names kept as
// field names). The SNMP fields are guarded by snmpParamLock.
struct Params
{
    QString ip = QStringLiteral("192.168.1.1");
    bool shutdown = false;
    bool Utility_para = false;
    bool Bat_para = false;
    bool UPS_para = false;
    bool Restart_para = false;
    bool Alarm_para = true;
    bool Notify_para = true; // desktop notifications of events and countdowns
    int AlarmBox_time = 10;
    int Utility_time = 10;
    int Bat_time = 10;
    int UPS_time = 10;
    bool exte_flag = false;
    QString exte_param;
    int exte_time = 1;
    bool exte_save = false;
    int snmp_port_poll = 161;
    int snmp_port_trace = 162;
    int msgVersion = 2;
    QString contexName;
    QString contexEngineID;
    QString securityName;
    QString snmp_community = QStringLiteral("public");
    int securityLevel = 0;
    int retries = 1;
    int timeout = 1;
};

extern Params params;
extern QReadWriteLock snmpParamLock;
extern bool snmpParamsChanged;

QString paramFilePath();
void loadParams();
void saveParams();
void applyAutoStart();
