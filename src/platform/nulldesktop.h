#pragma once

#include "platform/desktopautomation.h"

// A desktop without reachable windows (no X11 display, or a build without X11): it
// finds no application windows, so a pass records its time and closes nothing.
class NullDesktop : public DesktopAutomation
{
public:
    QList<WindowInfo> applicationWindows() override { return {}; }
    qint64 windowProcessId(WindowHandle) override { return 0; }
    bool isWindowVisible(WindowHandle) override { return false; }
    void bringForward(WindowHandle) override {}
    void requestClose(WindowHandle) override {}

    QList<UiElement> dialogWindows(qint64) override { return {}; }
    QList<UiElement> visibleChildren(const UiElement &) override { return {}; }
    QList<UiElement> buttons(const UiElement &) override { return {}; }
    QList<UiElement> editFields(const UiElement &) override { return {}; }
    bool isShowing(const UiElement &) override { return false; }
    bool press(const UiElement &) override { return false; }
    bool pressReturn(const UiElement &) override { return false; }
    bool typeText(const UiElement &, const QString &) override { return false; }
    QString text(const UiElement &) override { return {}; }
    bool setText(const UiElement &, const QString &) override { return false; }

    std::unique_ptr<DesktopProcess> openProcess(qint64) override { return nullptr; }
    void pause(int ms) override;
};
