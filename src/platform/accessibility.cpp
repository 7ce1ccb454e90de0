#include "platform/accessibility.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

bool enableDesktopAccessibility()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage set =
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    set << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled") << QVariant::fromValue(QDBusVariant(true));
    // Bounded: start-up must not hang on a session bus that does not answer.
    return bus.call(set, QDBus::Block, 2000).type() == QDBusMessage::ReplyMessage;
}
