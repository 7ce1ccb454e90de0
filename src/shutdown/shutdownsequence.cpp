#include "shutdownsequence.h"

#include "config/params.h"
#include "model/logevent.h"
#include "shutdown/closefile.h"

ShutdownSequence::ShutdownSequence(std::unique_ptr<PowerOff> powerOff, PrePass prePass)
    : m_powerOff(std::move(powerOff)), m_prePass(std::move(prePass))
{
}

ShutdownResult ShutdownSequence::shutdownSystem(bool runPass)
{
    if (runPass) {
        m_passTime.clear();
        if (params.exte_save && m_prePass) {
            m_prePass();
            m_passTime = CloseFile::read().time;
        }
    }
    ShutdownResult result;
    result.powerOff = m_powerOff->requestPowerOff();
    queueEvents({LogEvent{timeText(), result.powerOff.accepted ? LinuxSystemShutdown : ShutdownFailed}});
    QString ip;
    {
        QReadLocker locker(&snmpParamLock);
        ip = params.ip;
    }
    result.flushed = writePendingEvents(ip);
    if (!m_passTime.isEmpty())
        CloseFile::setPowerOff(m_passTime, result.powerOff.accepted, result.powerOff.reason);
    return result;
}
