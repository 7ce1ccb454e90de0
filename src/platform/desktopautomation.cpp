#include "platform/desktopautomation.h"

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

qint64 DesktopAutomation::clockMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
