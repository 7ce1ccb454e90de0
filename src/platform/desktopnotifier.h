#pragma once

#include <QString>
#include <memory>

enum class NotificationUrgency
{
    Low = 0,
    Normal = 1,
    Critical = 2
};

// A message on the desktop, outside the application's own windows.
class DesktopNotifier
{
public:
    virtual ~DesktopNotifier() = default;
    // Never blocks and never fails visibly: without a notification server nothing is shown.
    virtual void notify(const QString &summary, const QString &body, NotificationUrgency urgency) = 0;
};

// org.freedesktop.Notifications on the D-Bus session bus. The call is sent without
// waiting for the answer, so a bus or server that hangs cannot hold the caller.
class FreedesktopNotifier : public DesktopNotifier
{
public:
    void notify(const QString &summary, const QString &body, NotificationUrgency urgency) override;
};

std::unique_ptr<DesktopNotifier> createDesktopNotifier();
