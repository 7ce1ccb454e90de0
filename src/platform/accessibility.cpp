#include "platform/accessibility.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace {
QDBusMessage propertyCall(const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                       QStringLiteral("org.freedesktop.DBus.Properties"), method);
    call << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled");
    return call;
}

// Bounded: start and exit must not hang on a session bus that does not answer.
constexpr int timeoutMs = 2000;

std::optional<bool> isEnabled(QDBusConnection &bus)
{
    const QDBusMessage reply = bus.call(propertyCall(QStringLiteral("Get")), QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

bool setEnabled(QDBusConnection &bus, bool on)
{
    QDBusMessage set = propertyCall(QStringLiteral("Set"));
    set << QVariant::fromValue(QDBusVariant(on));
    return bus.call(set, QDBus::Block, timeoutMs).type() == QDBusMessage::ReplyMessage;
}
} // namespace

AccessibilitySwitch::~AccessibilitySwitch()
{
    restore();
}

bool AccessibilitySwitch::switchOn()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const std::optional<bool> before = isEnabled(bus);
    if (before == true)
        return true;
    if (!setEnabled(bus, true))
        return false;
    if (before && !m_previous)
        m_previous = *before;
    return true;
}

void AccessibilitySwitch::restore()
{
    if (!m_previous)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        setEnabled(bus, *m_previous);
    m_previous.reset();
}
