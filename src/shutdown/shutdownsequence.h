#pragma once

#include "platform/desktopautomation.h"
#include "platform/poweroff.h"
#include "shutdown/opendocumentsaver.h"

#include <memory>

// The one operation that turns the machine off: the pre-shutdown pass when
// "exte_save" is on, then the forced power-off, and on success the queued event
// LinuxSystemShutdown.
class ShutdownSequence
{
public:
    ShutdownSequence(std::unique_ptr<PowerOff> powerOff, std::unique_ptr<DesktopAutomation> desktop);

    // False, silently, when the power-off was not accepted; the pass has run by then.
    bool shutdownSystem();
    OpenDocumentSaver &saver() { return m_saver; }

private:
    std::unique_ptr<PowerOff> m_powerOff;
    std::unique_ptr<DesktopAutomation> m_desktop;
    OpenDocumentSaver m_saver;
};
