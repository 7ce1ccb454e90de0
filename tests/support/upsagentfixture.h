#pragma once

#include <QStringList>
#include <QTemporaryDir>

struct UsmUser;

// tools/upsagent (snmpd on 127.0.0.1) in a private state directory, stopped by its PID at the end.
class UpsAgentFixture
{
public:
    ~UpsAgentFixture() { stop(); }
    // On its previous port when it ran before.
    bool start(const QStringList &extra = {});
    bool stop();
    int port() const { return m_port; }
    qint64 pid() const { return m_pid; }
    QString dir() const { return m_dir.path(); }
    // Alarms: comms-lost, utility, battery, upsfail; args may add e.g. {"--trap", "v2c", ...}.
    bool raise(const QString &alarm, const QStringList &args = {}) { return run("raise", {alarm}, args) == 0; }
    bool clear(const QString &alarm, const QStringList &args = {}) { return run("clear", {alarm}, args) == 0; }
    bool reset() { return run("reset") == 0; }
    // Any upsagent command with --dir added; its exit code (-1: did not run).
    int run(const QString &command, const QStringList &args = {}, const QStringList &more = {},
            QString *output = nullptr) const;
    static QList<UsmUser> agentUsers();

private:
    QTemporaryDir m_dir;
    int m_port = 0;
    qint64 m_pid = 0;
};
