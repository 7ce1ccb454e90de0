#pragma once

#include <QReadWriteLock>
#include <QString>
#include <QStringList>

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
    // Seconds the pre-shutdown pass may spend saving documents before it ends the
    // applications still open.
    int exte_save_budget = 180;
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

// A value of a parameter file that cannot be used: the key keeps its default. For
// a problem of the file itself the key is empty.
struct ParamProblem
{
    QString key;
    QString value;
    QString reason;
};

QString paramFilePath();
// Reads the parameter file at `path` into `p`, each key checked on its own: a key
// that is absent, or whose value does not parse as its type or lies outside its
// range, keeps its default, and each such value is one problem. Only a regular file
// under 1 MB is read; lines that would make Qt's reader lose the keys after them (a
// section header without "]", an unbalanced quote, a trailing backslash) are left
// out, so that the good keys survive.
// taken, when given, receives the keys whose value came from the file.
QList<ParamProblem> readParamFile(const QString &path, Params &p, QStringList *taken = nullptr);
// One line for a problem, naming the file, the key and the value.
QString describeParamProblem(const QString &path, const ParamProblem &problem);
bool isDottedIpv4(const QString &text);
// Reads param.ini into params; every problem goes to standard error, one line each.
void loadParams();
void saveParams();
void applyAutoStart();
