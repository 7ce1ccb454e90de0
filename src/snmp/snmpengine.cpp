#include "snmpengine.h"

#include "bootcounter.h"
#include "config/datadir.h"

std::unique_ptr<SnmpSession> snmpSession;
std::unique_ptr<SnmpV3Engine> snmpV3;

bool openSnmpSession()
{
    const QByteArray engineId = SnmpSession::localEngineId();
    const QString counterPath = stateFilePath(QStringLiteral("snmpv3_boot_counter"));
    quint32 boots = readBootCounter(counterPath, engineId);
    ++boots;
    saveBootCounter(counterPath, engineId, boots);

    SnmpSession::setLocalEngineBoots(boots);
    snmpSession = std::make_unique<SnmpSession>();
    if (!snmpSession->isValid())
        return false;
    snmpV3 = std::make_unique<SnmpV3Engine>(engineId, boots);
    snmpSession->setUserTable(&snmpV3->usm());
    snmpV3->usm().load(usmUsersFilePath());
    return true;
}

void closeSnmpSession()
{
    snmpSession.reset();
    snmpV3.reset();
}
