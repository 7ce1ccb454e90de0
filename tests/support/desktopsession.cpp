#include "desktopsession.h"
#include "platform/atspiclient.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QDir>
#include <csignal>
#include <unistd.h>

namespace {
using Node = std::pair<QString, QString>; // service, object path
const QString a11yConnection = "desktopsession-a11y";

QDBusMessage call(const Node &node, const QString &interface, const QString &method, const QVariantList &args = {},
                  const QString &connection = a11yConnection)
{
    QDBusMessage message = QDBusMessage::createMethodCall(node.first, node.second, interface, method);
    message.setArguments(args);
    return QDBusConnection(connection).call(message, QDBus::Block, 2000);
}

QList<Node> children(const Node &node)
{
    return atspiReferences(call(node, "org.a11y.atspi.Accessible", "GetChildren"));
}

// Depth first below the applications of a process, while visit says to go on.
bool walk(qint64 pid, const std::function<bool(const Node &)> &visit)
{
    std::function<bool(const Node &, int)> descend = [&](const Node &node, int depth) {
        const QList<Node> nodes = children(node);
        return std::all_of(nodes.begin(), nodes.end(),
                           [&](const Node &n) { return visit(n) && (depth > 30 || descend(n, depth + 1)); });
    };
    const QList<Node> apps = children({"org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"});
    return std::all_of(apps.begin(), apps.end(), [&](const Node &app) {
        const QDBusMessage owner = call({"org.freedesktop.DBus", "/org/freedesktop/DBus"}, "org.freedesktop.DBus",
                                        "GetConnectionUnixProcessID", {app.first});
        return owner.arguments().value(0).toLongLong() != pid || descend(app, 0);
    });
}
} // namespace

QProcess *DesktopSession::start(const QString &program, const QStringList &arguments)
{
    QProcess &process = m_processes.emplace_back();
    process.setProcessEnvironment(m_environment);
    process.setStandardErrorFile(m_dir.filePath(QString("%1.log").arg(m_processes.size())));
    process.setChildProcessModifier([] { setpgid(0, 0); });
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return nullptr;
    m_groups << process.processId();
    return &process;
}

bool DesktopSession::start(QString *error, bool accessibilityOn)
{
    m_x = std::make_unique<XSession>();
    m_environment = m_x->environment();
    for (const char *name : {"QT_QPA_PLATFORM", "NO_AT_BRIDGE", "WAYLAND_DISPLAY", "XAUTHORITY", "SESSION_MANAGER",
                             "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "XDG_CURRENT_DESKTOP"})
        m_environment.remove(name);
    const QString home = m_dir.filePath("home");
    for (const QString &variable : QString("HOME=%1 XDG_CONFIG_HOME=%1/.config XDG_DATA_HOME=%1/.local/share "
                                           "XDG_CACHE_HOME=%1/.cache XDG_RUNTIME_DIR=%1/run GTK_USE_PORTAL=0 "
                                           "GSETTINGS_BACKEND=memory QT_QPA_PLATFORM=xcb")
                                       .arg(home)
                                       .split(' ')) {
        m_environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        QDir().mkpath(variable.section('=', 1).startsWith('/') ? variable.section('=', 1) : home);
    }
    QFile::setPermissions(home + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess *bus =
        start("dbus-daemon", {"--session", "--nofork", "--print-address=1", "--address=unix:path=" + home + "/bus"});
    if (m_x->display().isEmpty() || !bus || !bus->waitForReadyRead(10000)) {
        *error = "Xvfb or the session bus did not start";
        return false;
    }
    m_environment.insert("DBUS_SESSION_BUS_ADDRESS", bus->readAllStandardOutput().trimmed());
    // The same desktop for this process: the pass under test runs here.
    for (const char *name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
        qputenv(name, m_environment.value(name).toUtf8());
    start("/usr/libexec/at-spi-bus-launcher", {"--launch-immediately", accessibilityOn ? "--a11y=1" : "--a11y=0"});
    QString a11yBus;
    const auto a11yUp = [&] {
        return !(a11yBus = m_x->run("xprop", {"-root", "AT_SPI_BUS"}).section('"', 1, 1)).isEmpty();
    };
    if (!waitFor(a11yUp, 10000) || !m_x->startWindowManager()) {
        *error = "the accessibility bus or openbox did not come up, logs in " + m_dir.path();
        m_dir.setAutoRemove(false);
        return false;
    }
    QDBusConnection::connectToBus(a11yBus, a11yConnection);
    return true;
}

std::optional<bool> DesktopSession::accessibilityEnabled() const
{
    // A connection of its own: this process's session bus is that of the first session it used.
    QDBusConnection::connectToBus(m_environment.value("DBUS_SESSION_BUS_ADDRESS"), "a11y-status");
    const QDBusMessage reply = call({"org.a11y.Bus", "/org/a11y/bus"}, "org.freedesktop.DBus.Properties", "Get",
                                    {"org.a11y.Status", "IsEnabled"}, "a11y-status");
    QDBusConnection::disconnectFromBus("a11y-status");
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

qint64 DesktopSession::launch(const QString &program, const QStringList &arguments)
{
    const QProcess *process = start(program, arguments);
    return process ? process->processId() : 0;
}

bool DesktopSession::hasEnded(qint64 pid)
{
    for (QProcess &process : m_processes)
        process.waitForFinished(0);
    return ::kill(pid_t(pid), 0) != 0;
}

bool DesktopSession::typeIntoDocument(qint64 pid, const QString &text, int timeoutMs)
{
    constexpr quint64 document = 1ull << 7 | 1ull << 17 | 1ull << 25; // editable, multi-line, showing
    Node found;
    const auto notFound = [&](const Node &node) {
        QList<quint32> words{0, 0};
        const QDBusMessage reply = call(node, "org.a11y.atspi.Accessible", "GetState");
        if (reply.type() == QDBusMessage::ReplyMessage)
            reply.arguments().constFirst().value<QDBusArgument>() >> words;
        if (((quint64(words.value(1)) << 32 | words.value(0)) & document) == document)
            found = node;
        return found.first.isEmpty();
    };
    if (!waitFor([&] { return !walk(pid, notFound); }, timeoutMs))
        return false;
    const QDBusMessage reply =
        call(found, "org.a11y.atspi.EditableText", "InsertText", {0, text, int(text.toUcs4().size())});
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().constFirst().toBool();
}

void DesktopSession::stop()
{
    QDBusConnection::disconnectFromBus(a11yConnection);
    while (!m_groups.isEmpty()) {
        const auto group = pid_t(m_groups.takeLast());
        ::kill(-group, SIGTERM);
        if (!waitFor([&] { return hasEnded(group) && ::kill(-group, 0) != 0; }, 2000))
            ::kill(-group, SIGKILL);
    }
    for (QProcess &process : m_processes)
        process.waitForFinished(3000);
    m_processes.clear();
    m_x.reset();
}
