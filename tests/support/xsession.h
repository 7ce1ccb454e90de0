#pragma once

#include <QProcess>
#include <QString>

// A private X display (Xvfb) with an optional window manager, for tests that
// need their own screen; both processes are stopped by PID.
class XSession
{
public:
    explicit XSession(bool withWindowManager = true, const QString &screen = QStringLiteral("1280x1024x24"));
    ~XSession();
    bool isRunning() const { return !m_display.isEmpty(); }
    QString display() const { return m_display; }
    // Runs an X client tool on this display and returns its standard output.
    QString run(const QString &program, const QStringList &args, int timeoutMs = 10000) const;
    // Waits until a top-level window with exactly this title is mapped.
    bool waitForWindow(const QString &title, int timeoutMs = 10000) const;

private:
    QProcess m_xvfb;
    QProcess m_wm;
    QString m_display;
};
