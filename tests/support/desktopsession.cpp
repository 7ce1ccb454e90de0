#include "desktopsession.h"
#include "platform/atspiclient.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <csignal>

namespace {
const QString a11yConnection = QStringLiteral("desktopsession-a11y");

QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> list;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/children")));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &child : file.readAll().split(' ')) {
            if (const qint64 id = child.trimmed().toLongLong(); id > 0)
                list.append(id);
        }
    }
    return list;
}

// The process and all its descendants, descendants first.
QList<qint64> treeOf(qint64 pid)
{
    QList<qint64> list;
    for (qint64 child : childrenOf(pid))
        list.append(treeOf(child));
    list.append(pid);
    return list;
}

bool alive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // A zombie has ended; only its parent's reaping is left.
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) != "Z";
}

QDBusMessage atspiCall(const QString &service, const QString &path, const QString &interface, const QString &method,
                       const QVariantList &args = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    return QDBusConnection(a11yConnection).call(message, QDBus::Block, 2000);
}

QList<std::pair<QString, QString>> atspiChildren(const QString &service, const QString &path)
{
    return atspiReferences(
        atspiCall(service, path, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetChildren")));
}

quint64 atspiStates(const QString &service, const QString &path)
{
    const QDBusMessage reply =
        atspiCall(service, path, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetState"));
    if (reply.type() != QDBusMessage::ReplyMessage)
        return 0;
    QList<quint32> words;
    reply.arguments().constFirst().value<QDBusArgument>() >> words;
    return words.size() < 2 ? 0 : (quint64(words.at(1)) << 32 | words.at(0));
}

// The first showing, editable, multi-line text below the node.
bool findDocument(const QString &service, const QString &path, int depth, std::pair<QString, QString> *found)
{
    constexpr int editable = 7, multiLine = 17, showing = 25;
    for (const auto &child : atspiChildren(service, path)) {
        const quint64 states = atspiStates(child.first, child.second);
        if (!((states >> showing) & 1))
            continue;
        if (((states >> editable) & 1) && ((states >> multiLine) & 1)) {
            *found = child;
            return true;
        }
        if (depth < 30 && findDocument(child.first, child.second, depth + 1, found))
            return true;
    }
    return false;
}
} // namespace

DesktopSession::DesktopSession() = default;

DesktopSession::~DesktopSession()
{
    stop();
}

bool DesktopSession::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

QProcess *DesktopSession::startService(const QString &program, const QStringList &arguments, const QString &logName)
{
    QProcess &process = m_services.emplace_back();
    process.setProcessEnvironment(m_environment);
    process.setStandardErrorFile(m_dir.filePath(logName));
    process.start(program, arguments);
    return process.waitForStarted(5000) ? &process : nullptr;
}

QString DesktopSession::rootProperty(const QString &name) const
{
    QProcess xprop;
    xprop.setProcessEnvironment(m_environment);
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("-notype"), name});
    if (!xprop.waitForFinished(3000))
        return {};
    // "NAME = value", "NAME = \"text\"" or "NAME: window id # 0x...".
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^%1(?: = |:[^#]*# )\"?([^\"]*)\"?$").arg(name)).match(out);
    return m.hasMatch() ? m.captured(1).trimmed() : QString();
}

bool DesktopSession::start(QString *error, bool accessibilityOn)
{
    auto fail = [&](const QString &what) {
        *error = what + QStringLiteral(" (logs in ") + m_dir.path() + QLatin1Char(')');
        m_dir.setAutoRemove(false);
        stop();
        return false;
    };
    for (const char *sub : {"home", "home/.config", "home/.local/share", "home/.cache", "run"})
        QDir().mkpath(m_dir.filePath(QString::fromLatin1(sub)));
    QFile::setPermissions(m_dir.filePath(QStringLiteral("run")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    m_environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "NO_AT_BRIDGE", "WAYLAND_DISPLAY", "XAUTHORITY", "SESSION_MANAGER",
                             "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "XDG_CURRENT_DESKTOP"})
        m_environment.remove(QString::fromLatin1(name));
    m_environment.insert(QStringLiteral("HOME"), home());
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("home/.config")));
    m_environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("home/.local/share")));
    m_environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral("home/.cache")));
    m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("run")));
    m_environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    m_environment.insert(QStringLiteral("GTK_USE_PORTAL"), QStringLiteral("0"));
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    m_environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));

    // Xvfb picks a free display and writes its number when it accepts clients.
    QProcess *xvfb = startService(QStringLiteral("Xvfb"),
                                  {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                   QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                   QStringLiteral("tcp"), QStringLiteral("-noreset")},
                                  QStringLiteral("xvfb.log"));
    if (!xvfb)
        return fail(QStringLiteral("Xvfb did not start"));
    QByteArray number;
    const QDeadlineTimer xDeadline(10000);
    while (!number.contains('\n') && !xDeadline.hasExpired()) {
        xvfb->waitForReadyRead(200);
        number += xvfb->readAllStandardOutput();
    }
    if (!number.contains('\n'))
        return fail(QStringLiteral("Xvfb gave no display"));
    m_environment.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(number.trimmed()));

    const QString busPath = m_dir.filePath(QStringLiteral("run/bus"));
    QProcess *bus =
        startService(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                      QStringLiteral("--print-address=1"), QStringLiteral("--address=unix:path=") + busPath},
                     QStringLiteral("session-bus.log"));
    if (!bus || !bus->waitForReadyRead(10000))
        return fail(QStringLiteral("the session bus did not start"));
    m_environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                         QString::fromUtf8(bus->readAllStandardOutput().trimmed()));

    // The same desktop for this process: the pass under test runs here.
    qputenv("DISPLAY", m_environment.value(QStringLiteral("DISPLAY")).toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_environment.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")).toUtf8());

    if (!startService(QStringLiteral("/usr/libexec/at-spi-bus-launcher"),
                      {QStringLiteral("--launch-immediately"),
                       accessibilityOn ? QStringLiteral("--a11y=1") : QStringLiteral("--a11y=0")},
                      QStringLiteral("at-spi-bus-launcher.log")) ||
        !waitFor([&] { return rootProperty(QStringLiteral("AT_SPI_BUS")).startsWith(QLatin1String("unix:")); }, 10000))
        return fail(QStringLiteral("the accessibility bus did not come up"));
    if (!startService(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")}, QStringLiteral("openbox.log")) ||
        !waitFor([&] { return !rootProperty(QStringLiteral("_NET_SUPPORTING_WM_CHECK")).isEmpty(); }, 10000))
        return fail(QStringLiteral("openbox did not come up"));

    QDBusConnection::connectToBus(rootProperty(QStringLiteral("AT_SPI_BUS")), a11yConnection);
    m_running = true;
    return true;
}

std::optional<bool> DesktopSession::accessibilityEnabled() const
{
    // A connection of its own: this process's session bus is that of the first
    // session it used.
    const QString name = QStringLiteral("desktopsession-session");
    QDBusConnection bus =
        QDBusConnection::connectToBus(m_environment.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")), name);
    QDBusMessage get =
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
    QDBusConnection::disconnectFromBus(name);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

qint64 DesktopSession::launch(const QString &program, const QStringList &arguments)
{
    QProcess &process = m_launched.emplace_back();
    process.setProcessEnvironment(m_environment);
    const QString log = m_dir.filePath(QStringLiteral("app-%1.log").arg(m_launched.size()));
    process.setStandardOutputFile(log);
    process.setStandardErrorFile(log, QIODevice::Append);
    process.start(program, arguments);
    return process.waitForStarted(5000) ? process.processId() : 0;
}

bool DesktopSession::hasEnded(qint64 pid)
{
    for (QProcess &process : m_launched)
        process.waitForFinished(0);
    return !alive(pid);
}

QList<qint64> DesktopSession::runningLaunched()
{
    QList<qint64> list;
    for (QProcess &process : m_launched) {
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(0)) {
            for (qint64 pid : treeOf(process.processId())) {
                if (alive(pid))
                    list.append(pid);
            }
        }
    }
    return list;
}

bool DesktopSession::typeIntoDocument(qint64 pid, const QString &text, int timeoutMs)
{
    std::pair<QString, QString> document;
    const bool found = waitFor(
        [&] {
            const auto apps = atspiChildren(QStringLiteral("org.a11y.atspi.Registry"),
                                            QStringLiteral("/org/a11y/atspi/accessible/root"));
            for (const auto &app : apps) {
                const QDBusMessage reply = atspiCall(
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"), {app.first});
                if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().constFirst().toLongLong() == pid &&
                    findDocument(app.first, app.second, 0, &document))
                    return true;
            }
            return false;
        },
        timeoutMs);
    if (!found)
        return false;
    const QDBusMessage reply =
        atspiCall(document.first, document.second, QStringLiteral("org.a11y.atspi.EditableText"),
                  QStringLiteral("InsertText"), {0, text, static_cast<int>(text.toUcs4().size())});
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().constFirst().toBool();
}

void DesktopSession::endTree(qint64 pid)
{
    const QList<qint64> tree = treeOf(pid);
    for (qint64 id : tree)
        ::kill(static_cast<pid_t>(id), SIGTERM);
    if (!waitFor([&] { return std::none_of(tree.begin(), tree.end(), alive); }, 2000)) {
        for (qint64 id : tree) {
            if (alive(id))
                ::kill(static_cast<pid_t>(id), SIGKILL);
        }
    }
}

void DesktopSession::stop()
{
    if (!m_running && m_services.empty() && m_launched.empty())
        return;
    QDBusConnection::disconnectFromBus(a11yConnection);
    for (auto *list : {&m_launched, &m_services}) {
        for (auto it = list->rbegin(); it != list->rend(); ++it) {
            if (it->state() != QProcess::NotRunning) {
                endTree(it->processId());
                it->waitForFinished(3000);
            }
        }
        list->clear();
    }
    m_running = false;
}
