#include "poweroff.h"

#include "platform/systembus.h"

#include <QAtomicInt>
#include <QDBusMessage>

namespace {
const QString service = QStringLiteral("org.freedesktop.login1");
const QString path = QStringLiteral("/org/freedesktop/login1");
const QString manager = QStringLiteral("org.freedesktop.login1.Manager");

// A connection of its own for each request, so that a bus that came (back) since
// the last one is found.
class SystemBus
{
public:
    SystemBus()
    {
        static QAtomicInt serial;
        m_name = QStringLiteral("voltiguard-poweroff-%1").arg(serial.fetchAndAddRelaxed(1));
        m_connection = connectToSystemBus(m_name);
    }
    ~SystemBus() { QDBusConnection::disconnectFromBus(m_name); }
    QDBusConnection &connection() { return m_connection; }

private:
    QString m_name;
    QDBusConnection m_connection{QString()};
};

QString failure(const QString &method, const QDBusMessage &reply)
{
    if (reply.type() == QDBusMessage::ErrorMessage)
        return QStringLiteral("logind's %1 failed: %2 (%3)").arg(method, reply.errorMessage(), reply.errorName());
    return QStringLiteral("logind's %1 gave an answer of the wrong type").arg(method);
}

QString canPowerOffRefusal(const QString &answer)
{
    if (answer == QLatin1String("challenge"))
        return QStringLiteral("logind answers CanPowerOff with \"challenge\": powering off needs a password here "
                              "(another user is logged in, or polkit asks)");
    if (answer == QLatin1String("no"))
        return QStringLiteral("logind answers CanPowerOff with \"no\": this user may not power off, or a block "
                              "inhibitor is held");
    return QStringLiteral("logind answers CanPowerOff with \"%1\"").arg(answer);
}
} // namespace

PowerOffResult LogindPowerOff::requestPowerOff()
{
    SystemBus bus;
    if (!bus.connection().isConnected())
        return {
            false,
            QStringLiteral("the D-Bus system bus cannot be reached: %1").arg(bus.connection().lastError().message())};
    const QDBusMessage can =
        bus.connection().call(QDBusMessage::createMethodCall(service, path, manager, QStringLiteral("CanPowerOff")),
                              QDBus::Block, m_callTimeoutMs);
    if (can.type() != QDBusMessage::ReplyMessage || can.arguments().size() != 1 ||
        can.arguments().constFirst().typeId() != QMetaType::QString)
        return {false, failure(QStringLiteral("CanPowerOff"), can)};
    const QString answer = can.arguments().constFirst().toString();
    if (answer != QLatin1String("yes"))
        return {false, canPowerOffRefusal(answer)};
    QDBusMessage powerOff = QDBusMessage::createMethodCall(service, path, manager, QStringLiteral("PowerOff"));
    powerOff << false;
    const QDBusMessage reply = bus.connection().call(powerOff, QDBus::Block, m_callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {false, failure(QStringLiteral("PowerOff"), reply)};
    return {true, QString()};
}

std::unique_ptr<PowerOff> createPowerOff()
{
    return std::make_unique<LogindPowerOff>();
}
