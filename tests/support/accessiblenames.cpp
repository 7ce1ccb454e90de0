#include "accessiblenames.h"
#include "platform/atspiclient.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace {
const QString connectionName = QStringLiteral("accessiblenames-a11y");
constexpr int callTimeoutMs = 2000;
constexpr int maxNodes = 2000;

QDBusConnection a11yBus()
{
    QDBusConnection bus(connectionName);
    if (bus.isConnected())
        return bus;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
        QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return bus;
    QDBusConnection::disconnectFromBus(connectionName);
    return QDBusConnection::connectToBus(reply.arguments().constFirst().toString(), connectionName);
}

QDBusMessage call(const QString &service, const QString &path, const QString &interface, const QString &method,
                  const QVariantList &args = {})
{
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
    m.setArguments(args);
    return a11yBus().call(m, QDBus::Block, callTimeoutMs);
}

QList<std::pair<QString, QString>> children(const QString &service, const QString &path)
{
    return atspiReferences(
        call(service, path, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetChildren")));
}

QString name(const QString &service, const QString &path)
{
    const QDBusMessage reply =
        call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
             {QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toString();
}

void collect(const QString &service, const QString &path, int depth, QStringList &names)
{
    if (depth > 40 || names.size() > maxNodes)
        return;
    for (const auto &child : children(service, path)) {
        const QString n = name(child.first, child.second);
        if (!n.isEmpty())
            names << n;
        collect(child.first, child.second, depth + 1, names);
    }
}
} // namespace

QStringList accessibleNames(qint64 pid)
{
    QStringList names;
    const auto apps =
        children(QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/accessible/root"));
    for (const auto &app : apps) {
        const QDBusMessage reply =
            call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"), {app.first});
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().constFirst().toLongLong() == pid)
            collect(app.first, app.second, 0, names);
    }
    return names;
}
