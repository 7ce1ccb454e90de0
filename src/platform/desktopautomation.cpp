#include "platform/desktopautomation.h"

#include "platform/nulldesktop.h"

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
    return std::make_unique<NullDesktop>();
}
