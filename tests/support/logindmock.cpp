#include "logindmock.h"
#include "binaryrun.h"

#include <QtDBus>

namespace {
const QString manager = "org.freedesktop.login1.Manager";
const QString mock = "org.freedesktop.DBus.Mock";
} // namespace

bool LogindMock::start(const QString &canPowerOff)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS")) {
        m_error = "DBUS_SYSTEM_BUS_ADDRESS is unset; run the tests through scripts/run-tests";
        return false;
    }
    // A bus that only this test can reach and on which the mock may own the logind name.
    const QString socket = m_dir.filePath("bus");
    m_address = "unix:path=" + socket;
    const QString conf = m_dir.filePath("bus.conf");
    if (!writeFile(conf, "<busconfig><type>system</type><listen>" + m_address.toUtf8() + R"(</listen>
        <auth>EXTERNAL</auth><policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/>
        <allow receive_sender="*"/></policy></busconfig>)"))
        return false;
    m_daemon.start("dbus-daemon", {"--config-file=" + conf, "--nofork", "--nopidfile"});
    QDeadlineTimer deadline(10000);
    while (m_daemon.waitForStarted(5000) && !QFile::exists(socket) && !deadline.hasExpired())
        QThread::msleep(20);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", m_address);
    env.insert("DBUS_SESSION_BUS_ADDRESS", m_address);
    m_mock.setProcessEnvironment(env);
    m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_mock.start("/usr/bin/python3", {"-m", "dbusmock", "--system", "--template", "logind", "-p",
                                      QString("{\"CanPowerOff\": \"%1\"}").arg(canPowerOff)});
    m_connection = QString("logindmock-%1").arg(quintptr(this));
    QDBusConnection bus = QDBusConnection::connectToBus(m_address, m_connection);
    while (!bus.interface() || !bus.interface()->isServiceRegistered("org.freedesktop.login1").value()) {
        if (deadline.hasExpired() || m_mock.state() == QProcess::NotRunning) {
            m_error = "the logind mock did not appear on its private bus";
            stop();
            return false;
        }
        QThread::msleep(50);
    }
    m_previous = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
    return true;
}

void LogindMock::stop()
{
    if (m_previous)
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", *std::exchange(m_previous, std::nullopt));
    QDBusConnection::disconnectFromBus(m_connection);
    BinaryRun::endProcess(m_mock);
    BinaryRun::endProcess(m_daemon);
}

bool LogindMock::ownsSystemBusVariable() const
{
    return m_previous && qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS") == m_address &&
           m_daemon.state() == QProcess::Running;
}

QDBusMessage LogindMock::call(const QString &interface, const QString &method, const QVariantList &args)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1", interface, method);
    message.setArguments(args);
    const QDBusMessage reply = QDBusConnection(m_connection).call(message, QDBus::Block, 5000);
    m_error = reply.errorMessage();
    return reply;
}

bool LogindMock::replaceMethod(const QString &method, const QString &inSig, const QString &outSig, const QString &code)
{
    return call(mock, "AddMethod", {manager, method, inSig, outSig, code}).type() == QDBusMessage::ReplyMessage;
}

QList<LogindMock::Call> LogindMock::calls(const QString &method)
{
    QList<Call> result;
    const auto arg = call(mock, "GetMethodCalls", {method}).arguments().value(0).value<QDBusArgument>();
    arg.beginArray();
    for (qulonglong time; !arg.atEnd(); arg.endStructure()) {
        arg.beginStructure();
        result << Call{method, {}};
        arg >> time >> result.last().args;
    }
    return result;
}

bool LogindMock::clearCalls()
{
    return call(mock, "ClearCalls").type() == QDBusMessage::ReplyMessage;
}

QList<QStringList> LogindMock::inhibitors()
{
    QList<QStringList> result;
    const auto arg = call(manager, "ListInhibitors").arguments().value(0).value<QDBusArgument>();
    arg.beginArray();
    for (QString what, who, why, mode; !arg.atEnd(); arg.endStructure()) {
        arg.beginStructure();
        arg >> what >> who >> why >> mode;
        result << QStringList{what, who, why, mode};
    }
    return result;
}

bool LogindMock::prepareForShutdown(bool starting)
{
    const QVariantList args{manager, "PrepareForShutdown", "b", QVariant::fromValue(QVariantList{starting})};
    return call(mock, "EmitSignal", args).type() == QDBusMessage::ReplyMessage;
}
