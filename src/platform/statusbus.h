#pragma once

#include "model/logevent.h"
#include "model/upsstatus.h"

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>
#include <optional>

// The service's state as it publishes it.
struct ServiceStatus
{
    QString agent; // the configured agent address; empty while none is configured
    UpsStatusSnapshot ups;
    int countdownSeconds = -1; // seconds left of the shortest countdown; -1: nothing counts
    LogEvent lastEvent{QString(), -1};

    bool operator==(const ServiceStatus &o) const
    {
        return agent == o.agent && ups == o.ups && countdownSeconds == o.countdownSeconds && lastEvent == o.lastEvent;
    }
    bool operator!=(const ServiceStatus &o) const { return !(*this == o); }

    // For monitoring systems: 0 agent and UPS connected and no condition present,
    // 1 a condition is present, 2 the agent or the UPS is lost or no agent is
    // configured (3, no service, is the caller's).
    int exitCode() const;
    // One line: the verdict and why.
    QString summary() const;
    // The lines of voltiguard-service --status after the summary.
    QStringList details() const;
    // Back from the properties that StatusPublisher publishes.
    static ServiceStatus fromProperties(const QVariantMap &properties);
};

// Where the status lives on the system bus.
namespace StatusBus {
inline const QString service = QStringLiteral("org.voltiguard.Voltiguard1");
inline const QString path = QStringLiteral("/org/voltiguard/Voltiguard1");
inline const QString interface = QStringLiteral("org.voltiguard.Voltiguard1.Monitor");
} // namespace StatusBus

// Publishes a ServiceStatus as read-only D-Bus properties; every change is sent as
// org.freedesktop.DBus.Properties.PropertiesChanged, and every event written to the
// log as the signal EventLogged.
class StatusPublisher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.voltiguard.Voltiguard1.Monitor")
    Q_PROPERTY(QString Agent READ agent)
    Q_PROPERTY(QString AgentLink READ agentLink)
    Q_PROPERTY(QString UpsLink READ upsLink)
    Q_PROPERTY(bool UtilityFailure READ utilityFailure)
    Q_PROPERTY(bool BatteryLow READ batteryLow)
    Q_PROPERTY(bool UpsFailure READ upsFailure)
    Q_PROPERTY(int CountdownSeconds READ countdownSeconds)
    Q_PROPERTY(int LastEventId READ lastEventId)
    Q_PROPERTY(QString LastEvent READ lastEvent)
    Q_PROPERTY(QString LastEventTime READ lastEventTime)

public:
    explicit StatusPublisher(QObject *parent = nullptr);
    ~StatusPublisher() override;

    // Takes the bus name and registers the object; false with the reason otherwise.
    bool publish(const QDBusConnection &bus, QString *error);
    void setStatus(const ServiceStatus &status);
    void eventLogged(const LogEvent &event);

    QString agent() const { return m_status.agent; }
    QString agentLink() const;
    QString upsLink() const;
    bool utilityFailure() const { return m_status.ups.utilityFail; }
    bool batteryLow() const { return m_status.ups.batteryLow; }
    bool upsFailure() const { return m_status.ups.upsFail; }
    int countdownSeconds() const { return m_status.countdownSeconds; }
    int lastEventId() const { return m_status.lastEvent.id; }
    QString lastEvent() const;
    QString lastEventTime() const { return m_status.lastEvent.time; }

signals:
    void EventLogged(const QString &time, int id, const QString &text);

private:
    QVariantMap properties() const;

    ServiceStatus m_status;
    std::optional<QDBusConnection> m_bus;
};

// The text of a link value on the bus: "connected", "lost" or "unknown".
QString linkText(int link);
