#include "xsession.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QThread>

XSession::XSession(bool withWindowManager, const QString &screen)
{
    m_xvfb.setProcessChannelMode(QProcess::SeparateChannels);
    m_xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"});
    if (!m_xvfb.waitForStarted(5000))
        return;
    QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired()) {
        m_xvfb.waitForReadyRead(200);
        out += m_xvfb.readAllStandardOutput();
    }
    const QByteArray number = out.trimmed();
    if (number.isEmpty())
        return;
    m_display = QLatin1Char(':') + QString::fromLatin1(number);
    if (withWindowManager) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", m_display);
        m_wm.setProcessEnvironment(env);
        m_wm.start("openbox", {});
        m_wm.waitForStarted(5000);
        QThread::msleep(500);
    }
}

XSession::~XSession()
{
    for (QProcess *p : {&m_wm, &m_xvfb}) {
        if (p->state() == QProcess::NotRunning)
            continue;
        p->terminate();
        if (!p->waitForFinished(3000)) {
            p->kill();
            p->waitForFinished(3000);
        }
    }
}

QString XSession::run(const QString &program, const QStringList &args, int timeoutMs) const
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_display);
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(timeoutMs);
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

bool XSession::waitForWindow(const QString &title, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QStringList lines = run("wmctrl", {"-l"}).split('\n');
        for (const QString &line : lines) {
            if (line.section(' ', 4).trimmed() == title || line.endsWith(' ' + title))
                return true;
        }
        QThread::msleep(100);
    }
    return false;
}
