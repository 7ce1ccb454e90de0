#include "xsession.h"
#include "binaryrun.h"

#include <QRegularExpression>
#include <QTest>
#include <X11/Xlib.h>

namespace {
// xwininfo -tree lines: 0x600006 "name": ("instance" "Class")  22x30+0+0  +1+1
const QRegularExpression treeLine(R"re(\("([^"]*)" "[^"]*"\)\s+(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+(-?\d+)\+(-?\d+))re");

QRect geometry(const QRegularExpressionMatch &m)
{
    return QRect(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}
} // namespace

XSession::XSession()
{
    // -displayfd: the server picks a free display and writes its number once it accepts clients.
    QProcess &server = *m_processes.emplace_back(std::make_unique<QProcess>());
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start("Xvfb", QString("-displayfd 1 -screen 0 1280x1024x24 -nolisten tcp -noreset").split(' '));
    QByteArray out;
    while (!out.contains('\n') && server.waitForReadyRead(10000))
        out += server.readAllStandardOutput();
    if (out.contains('\n'))
        m_display = ':' + QString::fromLatin1(out.trimmed());
}

XSession::~XSession()
{
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it)
        BinaryRun::endProcess(**it);
}

QProcessEnvironment XSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_display);
    return env;
}

QProcess *XSession::startClient(const QString &program, const QStringList &arguments)
{
    if (m_display.isEmpty())
        return nullptr;
    auto &p = m_processes.emplace_back(std::make_unique<QProcess>());
    p->setProcessEnvironment(environment());
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setStandardErrorFile(QProcess::nullDevice());
    p->start(program, arguments);
    return p->waitForStarted(5000) ? p.get() : nullptr;
}

bool XSession::startWindowManager()
{
    // openbox announces itself through _NET_SUPPORTING_WM_CHECK on the root window.
    const auto up = [this] { return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"); };
    return startClient("openbox", {"--sm-disable"}) && QTest::qWaitFor(up, 10000);
}

bool XSession::startTrayHost()
{
    m_tray = startClient(
        "trayer", QString("--edge top --align left --widthtype request --height 32 --SetDockType true").split(' '));
    return m_tray && QTest::qWaitFor([this] { return trayAvailable(); }, 10000);
}

void XSession::stopTrayHost()
{
    if (m_tray)
        BinaryRun::endProcess(*std::exchange(m_tray, nullptr));
    (void)QTest::qWaitFor([this] { return !trayAvailable(); }, 10000);
}

bool XSession::trayAvailable() const
{
    Display *dpy = XOpenDisplay(m_display.toLocal8Bit().constData());
    const bool owned = dpy && XGetSelectionOwner(dpy, XInternAtom(dpy, "_NET_SYSTEM_TRAY_S0", False)) != None;
    if (dpy)
        XCloseDisplay(dpy);
    return owned;
}

QString XSession::run(const QString &program, const QStringList &arguments) const
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(program, arguments);
    if (!p.waitForFinished(10000))
        BinaryRun::endProcess(p);
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

QList<QRect> XSession::windows(const QString &className) const
{
    QList<QRect> found;
    for (const QString &line : run("xwininfo", {"-root", "-tree"}).split('\n')) {
        if (const auto m = treeLine.match(line); m.hasMatch() && m.captured(1) == className)
            found.append(geometry(m));
    }
    return found;
}

QRect XSession::trayIcon(const QString &className) const
{
    int panelIndent = -1;
    for (const QString &line : run("xwininfo", {"-root", "-tree"}).split('\n')) {
        const int indent = int(line.indexOf(QRegularExpression("\\S")));
        const auto m = treeLine.match(line);
        if (panelIndent >= 0 && indent <= panelIndent)
            panelIndent = -1;
        if (m.hasMatch() && m.captured(1) == "panel" && line.contains("\"trayer\")"))
            panelIndent = indent;
        else if (panelIndent >= 0 && m.hasMatch() && m.captured(1) == className && geometry(m).width() > 1 &&
                 run("xwininfo", {"-id", line.trimmed().section(' ', 0, 0)}).contains("IsViewable"))
            return geometry(m); // listed from the moment trayer reparents it, clickable only once mapped
    }
    return {};
}
