#include "statusbus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMetaProperty>

QString linkText(int link)
{
    switch (link) {
    case LinkGood:
        return QStringLiteral("connected");
    case LinkLost:
        return QStringLiteral("lost");
    default:
        return QStringLiteral("unknown");
    }
}

namespace {
int linkValue(const QString &text)
{
    if (text == QLatin1String("connected"))
        return LinkGood;
    return text == QLatin1String("lost") ? LinkLost : LinkUnknown;
}

QString clockText(int seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds % 3600 / 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

int ServiceStatus::exitCode() const
{
    if (agent.isEmpty() || ups.agentLink != LinkGood || ups.upsLink != LinkGood)
        return 2;
    return ups.utilityFail || ups.batteryLow || ups.upsFail ? 1 : 0;
}

QString ServiceStatus::summary() const
{
    if (agent.isEmpty())
        return QStringLiteral("CRITICAL: no agent configured, the service idles");
    if (ups.agentLink == LinkUnknown)
        return QStringLiteral("CRITICAL: the agent %1 has not answered yet").arg(agent);
    if (ups.agentLink != LinkGood)
        return QStringLiteral("CRITICAL: %1 (%2)").arg(eventText(AgentUnconnected), agent);
    if (ups.upsLink != LinkGood)
        return QStringLiteral("CRITICAL: %1 (%2)").arg(eventText(UpsUnconnected), agent);
    QStringList conditions;
    if (ups.utilityFail)
        conditions << eventText(UtilityFail);
    if (ups.batteryLow)
        conditions << eventText(BatteryLow);
    if (ups.upsFail)
        conditions << eventText(UpsFail);
    if (conditions.isEmpty())
        return QStringLiteral("OK: %1 (%2)").arg(eventText(AgentAndUpsConnected), agent);
    QString line = QStringLiteral("WARNING: ") + conditions.join(QLatin1String(", "));
    if (countdownSeconds >= 0)
        line += QStringLiteral(", power-off in ") + clockText(countdownSeconds);
    return line;
}

QStringList ServiceStatus::details() const
{
    auto present = [](bool on, const char *yes) { return QLatin1String(on ? yes : "normal"); };
    QStringList lines{
        QStringLiteral("Agent: %1").arg(agent.isEmpty() ? QStringLiteral("none configured") : agent),
        QStringLiteral("Agent link: %1").arg(linkText(ups.agentLink)),
        QStringLiteral("UPS link: %1").arg(linkText(ups.upsLink)),
        QStringLiteral("Utility: %1").arg(present(ups.utilityFail, "failed")),
        QStringLiteral("Battery: %1").arg(present(ups.batteryLow, "low")),
        QStringLiteral("UPS: %1").arg(present(ups.upsFail, "failed")),
        QStringLiteral("Countdown: %1")
            .arg(countdownSeconds < 0 ? QStringLiteral("none") : clockText(countdownSeconds)),
    };
    lines << QStringLiteral("Last event: %1")
                 .arg(lastEvent.id < 0 ? QStringLiteral("none since the start")
                                       : lastEvent.time + QLatin1Char(' ') + eventText(lastEvent.id));
    return lines;
}

ServiceStatus ServiceStatus::fromProperties(const QVariantMap &p)
{
    ServiceStatus s;
    s.agent = p.value(QStringLiteral("Agent")).toString();
    s.ups.agentLink = linkValue(p.value(QStringLiteral("AgentLink")).toString());
    s.ups.upsLink = linkValue(p.value(QStringLiteral("UpsLink")).toString());
    s.ups.utilityFail = p.value(QStringLiteral("UtilityFailure")).toBool();
    s.ups.batteryLow = p.value(QStringLiteral("BatteryLow")).toBool();
    s.ups.upsFail = p.value(QStringLiteral("UpsFailure")).toBool();
    s.countdownSeconds = p.value(QStringLiteral("CountdownSeconds"), -1).toInt();
    s.lastEvent = {p.value(QStringLiteral("LastEventTime")).toString(),
                   p.value(QStringLiteral("LastEventId"), -1).toInt()};
    return s;
}

StatusPublisher::StatusPublisher(QObject *parent) : QObject(parent) {}

StatusPublisher::~StatusPublisher()
{
    if (!m_bus)
        return;
    m_bus->unregisterObject(StatusBus::path);
    m_bus->unregisterService(StatusBus::service);
}

bool StatusPublisher::publish(const QDBusConnection &bus, QString *error)
{
    if (!bus.isConnected()) {
        *error = bus.lastError().message();
        return false;
    }
    QDBusConnection connection = bus;
    // Not queued behind another owner: a second service would only wait unseen.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = connection.interface()->registerService(
        StatusBus::service, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        *error = reply.isValid() ? QStringLiteral("%1 is owned by another process").arg(StatusBus::service)
                                 : reply.error().message();
        return false;
    }
    if (!connection.registerObject(StatusBus::path, this,
                                   QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSignals)) {
        *error = QStringLiteral("the object path %1 is taken").arg(StatusBus::path);
        connection.unregisterService(StatusBus::service);
        return false;
    }
    m_bus = connection;
    return true;
}

QString StatusPublisher::agentLink() const
{
    return linkText(m_status.ups.agentLink);
}

QString StatusPublisher::upsLink() const
{
    return linkText(m_status.ups.upsLink);
}

QString StatusPublisher::lastEvent() const
{
    return m_status.lastEvent.id < 0 ? QString() : eventText(m_status.lastEvent.id);
}

QVariantMap StatusPublisher::properties() const
{
    QVariantMap values;
    const QMetaObject *meta = metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        values.insert(QString::fromLatin1(meta->property(i).name()), meta->property(i).read(this));
    return values;
}

void StatusPublisher::setStatus(const ServiceStatus &status)
{
    if (status == m_status)
        return;
    const QVariantMap before = properties();
    m_status = status;
    if (!m_bus)
        return;
    QVariantMap changed = properties();
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (changed.value(it.key()) == it.value())
            changed.remove(it.key());
    }
    QDBusMessage signal = QDBusMessage::createSignal(StatusBus::path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << StatusBus::interface << changed << QStringList();
    m_bus->send(signal);
}

void StatusPublisher::eventLogged(const LogEvent &event)
{
    emit EventLogged(event.time, event.id, eventText(event.id));
}
