#include "shutdownsequence.h"

#include "config/params.h"
#include "model/logevent.h"

ShutdownSequence::ShutdownSequence(std::unique_ptr<PowerOff> powerOff, std::unique_ptr<DesktopAutomation> desktop)
    : m_powerOff(std::move(powerOff)), m_desktop(std::move(desktop)), m_saver(*m_desktop)
{
}

bool ShutdownSequence::shutdownSystem()
{
    if (params.exte_save)
        m_saver.closeApplications();
    if (!m_powerOff->requestPowerOff())
        return false;
    queueEvents({LogEvent{timeText(), LinuxSystemShutdown}});
    return true;
}
