#pragma once

#include "platform/atspiclient.h"
#include "platform/desktopautomation.h"
#include "platform/x11windows.h"

#include <memory>

// The desktop of an X11 session: top-level windows through EWMH, what a process
// shows inside them through AT-SPI, processes through pidfds.
class LinuxDesktop : public DesktopAutomation
{
public:
    // Null without a reachable X11 display.
    static std::unique_ptr<LinuxDesktop> create();

    QList<WindowInfo> applicationWindows() override;
    qint64 windowProcessId(WindowHandle window) override;
    bool isWindowVisible(WindowHandle window) override;
    void bringForward(WindowHandle window) override;
    void requestClose(WindowHandle window) override;

    QList<UiElement> dialogWindows(qint64 pid) override;
    QList<UiElement> visibleChildren(const UiElement &window) override;
    QList<UiElement> buttons(const UiElement &window) override;
    QList<UiElement> editFields(const UiElement &window) override;
    bool isShowing(const UiElement &element) override;
    bool press(const UiElement &button) override;
    bool pressReturn(const UiElement &element) override;
    bool typeText(const UiElement &field, const QString &text) override;
    QString text(const UiElement &field) override;
    bool setText(const UiElement &field, const QString &text) override;

    std::unique_ptr<DesktopProcess> openProcess(qint64 pid) override;
    void pause(int ms) override;

private:
    explicit LinuxDesktop(std::unique_ptr<X11Windows> windows);

    std::unique_ptr<X11Windows> m_windows;
    AtspiClient m_atspi;
};
