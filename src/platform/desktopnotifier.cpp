#include "desktopnotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace {
const QString appId = QStringLiteral("org.voltiguard.Voltiguard");
} // namespace

void FreedesktopNotifier::notify(const QString &summary, const QString &body, NotificationUrgency urgency)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(urgency))},
                            {QStringLiteral("desktop-entry"), appId}};
    call << QStringLiteral("Voltiguard") << uint(0) << appId << summary << body << QStringList() << hints << int(-1);
    // Without a server the bus answers with an error that nobody needs to read.
    call.setAutoStartService(true);
    bus.send(call);
}

std::unique_ptr<DesktopNotifier> createDesktopNotifier()
{
    return std::make_unique<FreedesktopNotifier>();
}
