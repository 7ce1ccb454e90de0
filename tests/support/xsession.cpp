#include "xsession.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <X11/Xlib.h>

namespace {
void stopProcess(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

template <typename Predicate> bool waitUntil(Predicate done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}
} // namespace

XSession::XSession() : m_server(std::make_unique<QProcess>())
{
    // -displayfd lets the server pick a free display and tell us which one.
    m_server->setProcessChannelMode(QProcess::SeparateChannels);
    m_server->setStandardErrorFile(QProcess::nullDevice());
    m_server->start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                     QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                     QStringLiteral("-noreset")});
    if (!m_server->waitForStarted(5000))
        return;
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (!out.contains('\n') && timer.elapsed() < 10000 && m_server->state() == QProcess::Running) {
        m_server->waitForReadyRead(200);
        out += m_server->readAllStandardOutput();
    }
    if (out.contains('\n'))
        m_display = QLatin1Char(':') + QString::fromLatin1(out.trimmed());
}

XSession::~XSession()
{
    for (auto it = m_clients.rbegin(); it != m_clients.rend(); ++it)
        stopProcess(**it);
    stopProcess(*m_server);
}

QProcessEnvironment XSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    return env;
}

QProcess *XSession::startClient(const QString &program, const QStringList &arguments)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(environment());
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setStandardErrorFile(QProcess::nullDevice());
    p->start(program, arguments);
    if (!p->waitForStarted(5000))
        return nullptr;
    m_clients.push_back(std::move(p));
    return m_clients.back().get();
}

bool XSession::startWindowManager()
{
    if (m_display.isEmpty() || !startClient(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")}))
        return false;
    // openbox announces itself through _NET_SUPPORTING_WM_CHECK on the root window.
    return waitUntil(
        [this] {
            return run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                .contains(QLatin1String("window id"));
        },
        10000);
}

bool XSession::startTrayHost()
{
    if (m_display.isEmpty())
        return false;
    m_tray =
        startClient(QStringLiteral("trayer"),
                    {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("left"),
                     QStringLiteral("--widthtype"), QStringLiteral("request"), QStringLiteral("--height"),
                     QStringLiteral("32"), QStringLiteral("--SetDockType"), QStringLiteral("true")});
    return m_tray && waitUntil([this] { return trayAvailable(); }, 10000);
}

void XSession::stopTrayHost()
{
    if (!m_tray)
        return;
    stopProcess(*m_tray);
    waitUntil([this] { return !trayAvailable(); }, 10000);
    m_tray = nullptr;
}

bool XSession::trayAvailable() const
{
    Display *dpy = XOpenDisplay(m_display.toLocal8Bit().constData());
    if (!dpy)
        return false;
    const Atom selection = XInternAtom(dpy, "_NET_SYSTEM_TRAY_S0", False);
    const bool owned = XGetSelectionOwner(dpy, selection) != None;
    XCloseDisplay(dpy);
    return owned;
}

QString XSession::run(const QString &program, const QStringList &arguments) const
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(program, arguments);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(1000);
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

namespace {
// xwininfo -tree lines: 0x600006 "name": ("instance" "Class")  22x30+0+0  +1+1
QRegularExpression treeLine(const QString &className)
{
    return QRegularExpression(QStringLiteral("\\(\"%1\" \"[^\"]*\"\\)\\s+(\\d+)x(\\d+)[+-]-?\\d+[+-]-?\\d+\\s+"
                                             "\\+(-?\\d+)\\+(-?\\d+)")
                                  .arg(QRegularExpression::escape(className)));
}

QRect geometry(const QRegularExpressionMatch &m)
{
    return QRect(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
}

int indentation(const QString &line)
{
    int n = 0;
    while (n < line.size() && line.at(n) == QLatin1Char(' '))
        ++n;
    return n;
}
} // namespace

QList<QRect> XSession::windows(const QString &className) const
{
    const QRegularExpression line = treeLine(className);
    QList<QRect> found;
    const QString tree = run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    for (const QString &l : tree.split(QLatin1Char('\n'))) {
        const auto m = line.match(l);
        if (m.hasMatch())
            found.append(geometry(m));
    }
    return found;
}

QRect XSession::findWindow(const QString &className, int maxSize) const
{
    for (const QRect &r : windows(className)) {
        if (r.width() > 1 && r.height() > 1 && r.width() <= maxSize && r.height() <= maxSize)
            return r;
    }
    return {};
}

QRect XSession::trayIcon(const QString &className) const
{
    const QRegularExpression icon = treeLine(className);
    const QRegularExpression panel = treeLine(QStringLiteral("panel"));
    const QString tree = run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    int panelIndent = -1;
    for (const QString &l : tree.split(QLatin1Char('\n'))) {
        if (panelIndent >= 0 && indentation(l) <= panelIndent)
            panelIndent = -1;
        if (panel.match(l).hasMatch() && l.contains(QLatin1String("\"trayer\")"))) {
            panelIndent = indentation(l);
            continue;
        }
        const auto m = icon.match(l);
        if (panelIndent < 0 || !m.hasMatch() || geometry(m).width() <= 1)
            continue;
        // Listed from the moment trayer reparents it, but clickable only once mapped.
        const QString id = l.trimmed().section(QLatin1Char(' '), 0, 0);
        if (run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id}).contains(QLatin1String("IsViewable")))
            return geometry(m);
    }
    return {};
}
