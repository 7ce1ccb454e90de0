#include "logindmock.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

namespace {
const QString logindService = QStringLiteral("org.freedesktop.login1");
const QString logindPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString mockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

QProcessEnvironment cleanEnvironment(const QString &busAddress)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DBUS_STARTER_ADDRESS"));
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    return env;
}

void endProcess(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}
} // namespace

LogindMock::LogindMock()
{
    static int instances = 0;
    m_controlName = QStringLiteral("logindmock-control-%1").arg(++instances);
}

LogindMock::~LogindMock()
{
    stop();
}

bool LogindMock::start(const QString &canPowerOff)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS")) {
        m_error = QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS is unset; run the tests through scripts/run-tests "
                                 "or with it set to a path that does not exist");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return false;
    }

    // A bus of type "system" that only this test can reach, with a policy that lets
    // the mock own the logind name.
    const QString socket = m_dir.filePath(QStringLiteral("system_bus_socket"));
    const QString config = m_dir.filePath(QStringLiteral("system.conf"));
    QFile conf(config);
    if (!conf.open(QIODevice::WriteOnly))
        return false;
    conf.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                              "<busconfig>\n"
                              "  <type>system</type>\n"
                              "  <listen>unix:path=%1</listen>\n"
                              "  <auth>EXTERNAL</auth>\n"
                              "  <policy context=\"default\">\n"
                              "    <allow user=\"*\"/>\n"
                              "    <allow own=\"*\"/>\n"
                              "    <allow send_destination=\"*\"/>\n"
                              "    <allow receive_sender=\"*\"/>\n"
                              "  </policy>\n"
                              "</busconfig>\n")
                   .arg(socket)
                   .toUtf8());
    conf.close();

    m_daemon.setProcessEnvironment(cleanEnvironment(QStringLiteral("unix:path=/nonexistent")));
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
                    QStringLiteral("--nofork"), QStringLiteral("--nopidfile")});
    if (!m_daemon.waitForStarted(5000)) {
        m_error = QStringLiteral("dbus-daemon did not start");
        return false;
    }
    QDeadlineTimer deadline(10000);
    while (!m_daemon.canReadLine() && !deadline.hasExpired())
        m_daemon.waitForReadyRead(100);
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    if (!m_address.startsWith(QLatin1String("unix:path=") + socket)) {
        m_error = QStringLiteral("dbus-daemon printed no address of its own: ") + m_address;
        stop();
        return false;
    }

    const QJsonObject parameters{{QStringLiteral("CanPowerOff"), canPowerOff}};
    m_mock.setProcessEnvironment(cleanEnvironment(m_address));
    m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_mock.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                  QStringLiteral("--template"), QStringLiteral("logind"), QStringLiteral("-p"),
                  QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))});
    if (!m_mock.waitForStarted(5000)) {
        m_error = QStringLiteral("python3 -m dbusmock did not start");
        stop();
        return false;
    }

    QDBusConnection control = QDBusConnection::connectToBus(m_address, m_controlName);
    while (!deadline.hasExpired() && m_mock.state() == QProcess::Running &&
           !control.interface()->isServiceRegistered(logindService).value())
        QThread::msleep(50);
    if (!control.interface()->isServiceRegistered(logindService).value()) {
        m_error = QStringLiteral("the logind mock did not appear on the private bus");
        stop();
        return false;
    }

    m_hadPrevious = qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS");
    m_previousAddress = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
    m_envChanged = true;
    return true;
}

void LogindMock::stop()
{
    if (m_envChanged) {
        if (m_hadPrevious)
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_previousAddress);
        else
            qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        m_envChanged = false;
    }
    QDBusConnection::disconnectFromBus(m_controlName);
    endProcess(m_mock);
    endProcess(m_daemon);
}

bool LogindMock::ownsSystemBusVariable() const
{
    return !m_address.isEmpty() && qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS") == m_address &&
           m_daemon.state() == QProcess::Running;
}

bool LogindMock::addMethod(const QString &method, const QString &inSig, const QString &outSig, const QString &code)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(logindService, logindPath, mockInterface, QStringLiteral("AddMethod"));
    call << managerInterface << method << inSig << outSig << code;
    const QDBusMessage reply = QDBusConnection(m_controlName).call(call, QDBus::Block, 5000);
    m_error = reply.errorMessage();
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool LogindMock::failMethod(const QString &method, const QString &errorName)
{
    return addMethod(
        method, method == QLatin1String("PowerOff") ? QStringLiteral("b") : QString(),
        method == QLatin1String("PowerOff") ? QString() : QStringLiteral("s"),
        QStringLiteral("raise dbus.exceptions.DBusException('refused by the test', name='%1')").arg(errorName));
}

bool LogindMock::replaceMethod(const QString &method, const QString &inSig, const QString &outSig, const QString &code)
{
    return addMethod(method, inSig, outSig, code);
}

QList<LogindMock::Call> LogindMock::calls()
{
    const QDBusMessage reply =
        QDBusConnection(m_controlName)
            .call(QDBusMessage::createMethodCall(logindService, logindPath, mockInterface, QStringLiteral("GetCalls")),
                  QDBus::Block, 5000);
    QList<Call> result;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return result;
    // a(tsav): timestamp, method name, arguments
    const QDBusArgument arg = reply.arguments().constFirst().value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        Call call;
        quint64 timestamp = 0;
        arg.beginStructure();
        arg >> timestamp >> call.method;
        arg.beginArray();
        while (!arg.atEnd()) {
            QDBusVariant v;
            arg >> v;
            call.args << v.variant();
        }
        arg.endArray();
        arg.endStructure();
        result << call;
    }
    arg.endArray();
    return result;
}

QList<LogindMock::Call> LogindMock::calls(const QString &method)
{
    QList<Call> matching;
    for (const Call &c : calls()) {
        if (c.method == method)
            matching << c;
    }
    return matching;
}

bool LogindMock::clearCalls()
{
    const QDBusMessage reply = QDBusConnection(m_controlName)
                                   .call(QDBusMessage::createMethodCall(logindService, logindPath, mockInterface,
                                                                        QStringLiteral("ClearCalls")),
                                         QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

QList<QStringList> LogindMock::inhibitors()
{
    const QDBusMessage reply = QDBusConnection(m_controlName)
                                   .call(QDBusMessage::createMethodCall(logindService, logindPath, managerInterface,
                                                                        QStringLiteral("ListInhibitors")),
                                         QDBus::Block, 5000);
    QList<QStringList> result;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return result;
    // a(ssssuu): what, who, why, mode, uid, pid
    const QDBusArgument arg = reply.arguments().constFirst().value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        QString what, who, why, mode;
        uint uid = 0, pid = 0;
        arg.beginStructure();
        arg >> what >> who >> why >> mode >> uid >> pid;
        arg.endStructure();
        result << QStringList{what, who, why, mode};
    }
    arg.endArray();
    return result;
}

bool LogindMock::prepareForShutdown(bool starting)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(logindService, logindPath, mockInterface, QStringLiteral("EmitSignal"));
    call << managerInterface << QStringLiteral("PrepareForShutdown") << QStringLiteral("b")
         << QVariant::fromValue(QVariantList{starting});
    const QDBusMessage reply = QDBusConnection(m_controlName).call(call, QDBus::Block, 5000);
    m_error = reply.errorMessage();
    return reply.type() == QDBusMessage::ReplyMessage;
}
