#include "platform/shutdowninhibitor.h"

#include "platform/systembus.h"

#include <QDBusMessage>

namespace {
const QString service = QStringLiteral("org.freedesktop.login1");
const QString path = QStringLiteral("/org/freedesktop/login1");
const QString manager = QStringLiteral("org.freedesktop.login1.Manager");
} // namespace

ShutdownInhibitor::ShutdownInhibitor(const QString &who, const QString &why, QObject *parent)
    : QObject(parent), m_who(who), m_why(why)
{
    static int serial = 0;
    m_connectionName = QStringLiteral("voltiguard-inhibitor-%1").arg(++serial);
    QDBusConnection bus = connectToSystemBus(m_connectionName);
    if (!bus.isConnected())
        return;
    // QtDBus connects bus signals by slot name only.
    bus.connect(service, path, manager, QStringLiteral("PrepareForShutdown"), this, SLOT(onPrepareForShutdown(bool)));
    take();
}

ShutdownInhibitor::~ShutdownInhibitor()
{
    release();
    QDBusConnection::disconnectFromBus(m_connectionName);
}

void ShutdownInhibitor::take()
{
    QDBusMessage inhibit = QDBusMessage::createMethodCall(service, path, manager, QStringLiteral("Inhibit"));
    inhibit << QStringLiteral("shutdown") << m_who << m_why << QStringLiteral("delay");
    // Bounded: the start must not hang on a bus that does not answer.
    const QDBusMessage reply = QDBusConnection(m_connectionName).call(inhibit, QDBus::Block, 2000);
    if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1)
        m_fd = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
}

void ShutdownInhibitor::release()
{
    // Closing the descriptor is what lets logind go on.
    m_fd = QDBusUnixFileDescriptor();
}

void ShutdownInhibitor::onPrepareForShutdown(bool starting)
{
    if (starting) {
        emit prepareForShutdown();
        return;
    }
    if (!isHeld())
        take();
}
