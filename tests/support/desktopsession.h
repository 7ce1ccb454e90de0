#pragma once

#include "xsession.h"

#include <QTemporaryDir>
#include <QTest>
#include <list>
#include <optional>

// A private X11 desktop: an XSession with openbox, a session bus and the AT-SPI bus, each waited
// for; programs launched with their own home, each in a process group ended with it.
class DesktopSession
{
public:
    ~DesktopSession() { stop(); }

    // Also points this process's DISPLAY and session bus here (call it before any use of the session bus).
    bool start(QString *error, bool accessibilityOn = true);
    // org.a11y.Status IsEnabled; none when it cannot be read.
    std::optional<bool> accessibilityEnabled() const;
    void stop();

    QProcessEnvironment environment() const { return m_environment; }
    qint64 launch(const QString &program, const QStringList &arguments = {}); // 0: did not start
    bool hasEnded(qint64 pid);
    // Types the text into the process's focused document once its window is shown.
    bool typeIntoDocument(qint64 pid, const QString &text, int timeoutMs = 15000);
    template <typename F> static bool waitFor(F condition, int ms) { return QTest::qWaitFor(condition, ms); }

private:
    QProcess *start(const QString &program, const QStringList &arguments);

    QTemporaryDir m_dir;
    QProcessEnvironment m_environment;
    std::unique_ptr<XSession> m_x;
    std::list<QProcess> m_processes;
    QList<qint64> m_groups; // ended newest first
};
