#include "platform/desktopautomation.h"

bool DesktopAutomation::hasApplicationWindow(qint64 pid)
{
    const QList<WindowInfo> windows = applicationWindows();
    for (const WindowInfo &window : windows) {
        if (windowProcessId(window.handle) == pid)
            return true;
    }
    return false;
}
