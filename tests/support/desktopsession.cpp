#include "desktopsession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <csignal>
#include <unistd.h>

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
    if (m_x->display().isEmpty() || !bus || !bus->waitForReadyRead(10000))
        return (*error = "Xvfb or the session bus did not start", false);
    m_environment.insert("DBUS_SESSION_BUS_ADDRESS", bus->readAllStandardOutput().trimmed());
    // The same desktop for this process: the pass under test runs here.
    for (const char *name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
        qputenv(name, m_environment.value(name).toUtf8());
    start("/usr/libexec/at-spi-bus-launcher", {"--launch-immediately", accessibilityOn ? "--a11y=1" : "--a11y=0"});
    const auto a11yUp = [&] { return m_x->run("xprop", {"-root", "AT_SPI_BUS"}).contains('"'); };
    if (!waitFor(a11yUp, 10000) || !m_x->startWindowManager()) {
        *error = "the accessibility bus or openbox did not come up, logs in " + m_dir.path();
        m_dir.setAutoRemove(false);
        return false;
    }
    return true;
}

std::optional<bool> DesktopSession::accessibilityEnabled() const
{
    QDBusMessage message =
        QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get");
    message.setArguments({"org.a11y.Status", "IsEnabled"});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message, QDBus::Block, 2000);
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
    // Typed as keys into the shown window of the process, its document having the focus.
    QString window;
    const auto shown = [&] {
        window = m_x->run("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid)}).section('\n', 0, 0);
        return !window.isEmpty();
    };
    return waitFor(shown, timeoutMs) &&
           m_x->run("xdotool", {"windowactivate", "--sync", window, "type", "--", text}).isEmpty();
}

void DesktopSession::stop()
{
    while (!m_groups.isEmpty()) {
        const auto group = pid_t(m_groups.takeLast());
        ::kill(-group, SIGTERM);
        if (!waitFor([&] { return hasEnded(group) && ::kill(-group, 0) != 0; }, 2000))
            ::kill(-group, SIGKILL);
    }
    m_processes.clear();
    m_x.reset();
}
