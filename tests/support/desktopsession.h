#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <list>
#include <optional>

// A private X11 desktop for one test: Xvfb (-noreset, or the accessibility bus
// address vanishes from the root window), a session bus, the AT-SPI bus launcher
// and openbox, each waited for until it answers. Applications are launched into
// it with their own home. Everything started here, and what it started, is ended
// by process id when the session stops.
class DesktopSession
{
public:
    DesktopSession();
    ~DesktopSession();
    DesktopSession(const DesktopSession &) = delete;
    DesktopSession &operator=(const DesktopSession &) = delete;

    // Starts the desktop and points this process's DISPLAY and session bus at it
    // (before anything in this process has used the session bus). Without
    // accessibilityOn the accessibility bus runs but says it is off (IsEnabled).
    bool start(QString *error, bool accessibilityOn = true);
    // org.a11y.Status IsEnabled as the session's bus reports it; none when it
    // cannot be read.
    std::optional<bool> accessibilityEnabled() const;
    void stop();

    QProcessEnvironment environment() const { return m_environment; }
    QString home() const { return m_dir.filePath(QStringLiteral("home")); }
    // Starts a program on the desktop; 0 when it could not be started.
    qint64 launch(const QString &program, const QStringList &arguments = {});
    // Whether a program launched here has ended (and is reaped).
    bool hasEnded(qint64 pid);
    // Process ids of what is still running among the launched programs and their
    // descendants.
    QList<qint64> runningLaunched();

    // The accessibility tree of a process: waits until it exposes an editable
    // multi-line text (its document), then inserts the text there, as typing would.
    bool typeIntoDocument(qint64 pid, const QString &text, int timeoutMs = 15000);

    static bool waitFor(const std::function<bool()> &condition, int timeoutMs);

private:
    QProcess *startService(const QString &program, const QStringList &arguments, const QString &logName);
    QString rootProperty(const QString &name) const;
    void endTree(qint64 pid);

    QTemporaryDir m_dir;
    QProcessEnvironment m_environment;
    std::list<QProcess> m_services; // started first, ended last
    std::list<QProcess> m_launched;
    bool m_running = false;
};
