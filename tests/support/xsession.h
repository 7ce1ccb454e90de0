#pragma once

#include <QProcess>
#include <QRect>
#include <memory>
#include <vector>

// A private Xvfb display, on request with openbox and trayer (an XEmbed tray); what it starts
// is ended by PID, newest first.
class XSession
{
public:
    XSession();
    ~XSession();

    QString display() const { return m_display; } // ":N", empty when Xvfb did not start
    QProcessEnvironment environment() const;      // the system's, with DISPLAY pointing here
    bool startWindowManager();
    bool startTrayHost();
    void stopTrayHost();
    // An X client's output.
    QString run(const QString &program, const QStringList &arguments) const;
    // Global geometries of the windows whose WM_CLASS instance is className, in stacking order.
    QList<QRect> windows(const QString &className) const;
    // The icon of className once trayer has embedded it in its panel and mapped it.
    QRect trayIcon(const QString &className) const;

private:
    QProcess *startClient(const QString &program, const QStringList &arguments);
    bool trayAvailable() const;

    std::vector<std::unique_ptr<QProcess>> m_processes; // the server first
    QProcess *m_tray = nullptr;
    QString m_display;
};
