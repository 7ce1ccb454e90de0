#pragma once

#include "app/countdown.h"
#include "eventlog/logstore.h"
#include "model/logevent.h"
#include "platform/statusbus.h"

#include <QLockFile>
#include <QObject>
#include <QTimer>
#include <memory>

class ShutdownInhibitor;
class ShutdownSequence;
class snmp_thread;

// voltiguard-service's controller: the desktop application's monitoring and
// shutdown without a window, built from the same core (polling thread, countdown,
// shutdown sequence, log store). It reads param.ini from a path of its own, keeps its
// files in the state directory, writes every event to log.db and the journal,
// publishes its state on the system bus, and ends cleanly on SIGTERM and SIGINT.
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
    // Stops polling and writes what is still queued, waiting a few seconds for a log
    // that someone else holds.
    void stop();

private:
    void tick();
    // A poll answer or a trap changed the state: log and publish it now, not at the tick.
    void statusChanged();
    void onSignal(int signalNumber);
    void readConfig();
    void startPolling();
    void stopPolling();
    // False while events stay queued because log.db cannot be written.
    bool flushEvents();
    // Journals what a flush wrote, or, when log.db failed, what is queued; each
    // event once. reason: why a power-off was refused, for "Shutdown Failed".
    bool journalFlushed(const std::optional<FlushResult> &flushed, const QString &reason = {});
    void requestPowerOff(CountdownTick &tick);
    void startExternalProgram();
    void journalCountdown(const CountdownTick &tick);
    void publish(const CountdownTick &tick);

    QString m_configPath;
    QString m_stateDir;
    std::unique_ptr<QLockFile> m_lock;
    QTimer m_tick;
    std::unique_ptr<snmp_thread> m_poller;
    Countdown m_countdown;
    StatusPublisher m_publisher;
    std::unique_ptr<ShutdownSequence> m_shutdown;
    ShutdownInhibitor *m_inhibitor = nullptr;
    bool m_agentConfigured = false;
    // Events at the head of the queue that the journal has had but log.db not yet.
    int m_journaledUnwritten = 0;
    bool m_logFailing = false;
    LogEvent m_lastEvent{QString(), -1};
    CountdownDisplay m_lastDisplay = CountdownDisplay::Hidden;
    QString m_managerStatus;
};
