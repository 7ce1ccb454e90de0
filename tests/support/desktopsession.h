#pragma once

#include "xsession.h"

#include <QTemporaryDir>
#include <QTest>
#include <list>
#include <optional>

// A private X11 desktop for one test: an XSession with openbox, a session bus and
// the AT-SPI bus launcher, each waited for until it answers. Programs are launched
// into it with their own home, each in a process group of its own that ends with it.
class DesktopSession
{
public:
    ~DesktopSession() { stop(); }

    // Starts the desktop and points this process's DISPLAY and session bus at it
    // (before anything in this process has used the session bus). Without
    // accessibilityOn the accessibility bus runs but says it is off (IsEnabled).
    bool start(QString *error, bool accessibilityOn = true);
    // org.a11y.Status IsEnabled as the session's bus reports it; none when it cannot be read.
    std::optional<bool> accessibilityEnabled() const;
    void stop();

    QProcessEnvironment environment() const { return m_environment; }
    // The process id, 0 when the program could not be started.
    qint64 launch(const QString &program, const QStringList &arguments = {});
    bool hasEnded(qint64 pid);
    // Waits until the process shows an editable multi-line text (its document) on
    // the accessibility bus, then inserts the text there, as typing would.
    bool typeIntoDocument(qint64 pid, const QString &text, int timeoutMs = 15000);

    template <typename Condition> static bool waitFor(Condition condition, int timeoutMs)
    {
        return QTest::qWaitFor(condition, timeoutMs);
    }

private:
    QProcess *start(const QString &program, const QStringList &arguments);

    QTemporaryDir m_dir;
    QProcessEnvironment m_environment;
    std::unique_ptr<XSession> m_x;
    std::list<QProcess> m_processes;
    QList<qint64> m_groups; // ended newest first
};
