#include "platform/desktopautomation.h"

#include "platform/nulldesktop.h"
#ifdef VOLTIGUARD_DESKTOP_X11
#include "platform/linuxdesktop.h"
#endif

#include <chrono>

bool DesktopAutomation::hasApplicationWindow(qint64 pid)
{
    const QList<WindowInfo> windows = applicationWindows();
    for (const WindowInfo &window : windows) {
        if (windowProcessId(window.handle) == pid)
            return true;
    }
    return false;
}

std::unique_ptr<DesktopAutomation> createDesktopAutomation()
{
#ifdef VOLTIGUARD_DESKTOP_X11
    if (std::unique_ptr<LinuxDesktop> desktop = LinuxDesktop::create())
        return desktop;
#endif
    return std::make_unique<NullDesktop>();
}

qint64 DesktopAutomation::clockMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
