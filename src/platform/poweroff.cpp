#include "poweroff.h"

#include <QAtomicInt>
#include <QDBusConnection>
#include <QDBusMessage>

namespace {
const QString service = QStringLiteral("org.freedesktop.login1");
const QString path = QStringLiteral("/org/freedesktop/login1");
const QString manager = QStringLiteral("org.freedesktop.login1.Manager");

// A connection of its own for each request, taken from the environment at that
// moment: QDBusConnection::systemBus() would keep the first address for the whole
// process.
class SystemBus
{
public:
    SystemBus()
    {
        static QAtomicInt serial;
        m_name = QStringLiteral("voltiguard-poweroff-%1").arg(serial.fetchAndAddRelaxed(1));
        const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
        m_connection = address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, m_name)
                                         : QDBusConnection::connectToBus(address, m_name);
    }
    ~SystemBus() { QDBusConnection::disconnectFromBus(m_name); }
    QDBusConnection &connection() { return m_connection; }

private:
    QString m_name;
    QDBusConnection m_connection{QString()};
};
} // namespace

bool LogindPowerOff::requestPowerOff()
{
    SystemBus bus;
    if (!bus.connection().isConnected())
        return false;
    const QDBusMessage can =
        bus.connection().call(QDBusMessage::createMethodCall(service, path, manager, QStringLiteral("CanPowerOff")),
                              QDBus::Block, m_callTimeoutMs);
    if (can.type() != QDBusMessage::ReplyMessage || can.arguments().size() != 1 ||
        can.arguments().constFirst().toString() != QLatin1String("yes"))
        return false;
    QDBusMessage powerOff = QDBusMessage::createMethodCall(service, path, manager, QStringLiteral("PowerOff"));
    powerOff << false;
    const QDBusMessage reply = bus.connection().call(powerOff, QDBus::Block, m_callTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

std::unique_ptr<PowerOff> createPowerOff()
{
    return std::make_unique<LogindPowerOff>();
}
