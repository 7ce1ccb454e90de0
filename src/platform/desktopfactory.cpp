#include "platform/desktopautomation.h"

#include "platform/nulldesktop.h"
#ifdef VOLTIGUARD_DESKTOP_X11
#include "platform/linuxdesktop.h"
#endif

std::unique_ptr<DesktopAutomation> createDesktopAutomation()
{
#ifdef VOLTIGUARD_DESKTOP_X11
    if (std::unique_ptr<LinuxDesktop> desktop = LinuxDesktop::create())
        return desktop;
#endif
    return std::make_unique<NullDesktop>();
}
