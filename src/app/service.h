#pragma once

#include "app/countdown.h"
#include "model/logevent.h"
#include "platform/statusbus.h"

#include <QLockFile>
#include <QObject>
#include <QTimer>
#include <memory>

class snmp_thread;

// voltiguard-service's controller: the desktop application's monitoring and
// shutdown without a window. It reads param.ini from a path of its own, keeps its
// files in the state directory, writes every event to log.db and the journal, and
// publishes its state on the system bus.
class MonitorService : public QObject
{
    Q_OBJECT
public:
    MonitorService(const QString &configPath, const QString &stateDir, QObject *parent = nullptr);
    ~MonitorService() override;

    // Reads the settings and starts polling, or idles when no agent is configured.
    // False when another service works with the same state directory.
    bool start();
    // Reads the settings again (SIGHUP); a new agent, port or trap port is taken up
    // by the next poll.
    void reload();
    // Stops polling and writes what is still queued.
    void stop();

private:
    void tick();
    // A poll answer or a trap changed the state: log and publish it now, not at the tick.
    void statusChanged();
    void readConfig();
    void startPolling();
    void stopPolling();
    void flushEvents();
    void journalCountdown(const CountdownTick &tick);
    void publish(const CountdownTick &tick);

    QString m_configPath;
    QString m_stateDir;
    std::unique_ptr<QLockFile> m_lock;
    QTimer m_tick;
    std::unique_ptr<snmp_thread> m_poller;
    Countdown m_countdown;
    StatusPublisher m_publisher;
    bool m_agentConfigured = false;
    // Events at the head of the queue that the journal has had but log.db not yet.
    int m_journaledUnwritten = 0;
    bool m_logFailing = false;
    LogEvent m_lastEvent{QString(), -1};
    CountdownDisplay m_lastDisplay = CountdownDisplay::Hidden;
    QString m_managerStatus;
};
