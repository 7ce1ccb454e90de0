#pragma once

#include "model/statuschanges.h"
#include "snmpsession.h"

#include <QMutex>
#include <QSemaphore>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <memory>

// The polling thread: once a second it takes up changed settings and asks the agent
// for its alarms, and whenever an answer, a failure or a trap has changed UpsStatus it
// turns the change into events and tells the GUI. Answers and traps are handled on the
// SNMP event thread by handleSnmpEvent.
class snmp_thread : public QThread
{
    Q_OBJECT
public:
    // Rows of the alarm table read per poll, whatever count the agent reports.
    static constexpr int maxAlarmRows = 64;

    explicit snmp_thread(QObject *parent = nullptr);
    ~snmp_thread() override;

    // Sets the stop flag and returns at once; the loop ends after its current pass.
    void stop();

    // One pass of the loop without the pause: settings, poll, change detection.
    // run() repeats it; tests call it to step the thread by hand.
    void pollCycle();
    // The settings copy of the start, and the trap registration that goes with it.
    void takeUpInitialSettings();
    // Starts a poll cycle: the alarm count, then, once it is known, the alarm table.
    // A cycle still in flight is finished first; one still waiting for its count asks
    // again, so that a silent agent costs one failed exchange a second. atOnce: a trap
    // came, and a cycle that may have read the agent before it is abandoned.
    void pollAgent(bool atOnce = false);

    int failCount() const;
    int alarmCount() const;
    quint16 registeredTrapPort() const { return m_registeredTrapPort; }
    // Events handled so far (answers, time-outs, traps), for waiting on them.
    quint64 handledEvents() const { return m_handled.load(); }
    // Requests sent and not yet answered, timed out or failed.
    int outstandingRequests() const { return m_outstanding.load(); }
    StatusChangeDetector &detector() { return m_detector; }

signals:
    // UpsStatus changed or events were queued; emitted on this thread, so connections
    // from the GUI thread are queued.
    void statusChanged();

protected:
    void run() override;

private:
    struct Cycle;
    enum class Request
    {
        Count,
        Walk
    };
    void handleSnmpEvent(const SnmpEvent &event, const std::shared_ptr<Cycle> &cycle = {},
                         Request request = Request::Count);
    void copySettings();
    void takeUpChangedSettings();
    void registerTraps();
    void detectAndNotify();
    void endCycle(Cycle &cycle);
    SnmpTarget target() const;
    bool send(const std::shared_ptr<Cycle> &cycle, Request request);
    void countAnswered(const SnmpEvent &event, const std::shared_ptr<Cycle> &cycle);
    void walkAnswered(const SnmpEvent &event, const std::shared_ptr<Cycle> &cycle);
    void handleTrap(const SnmpEvent &event);
    void answered();
    void countFailure();
    void applyTrapVariable(const QString &oid, const QString &value, const QString &trapOid, bool authenticated);

    // Settings, polling thread only.
    int m_pollPort = 161;
    int m_retries = 1;
    int m_timeout = 100; // 10 ms units
    int m_version = 2;
    QString m_securityName;
    int m_securityLevel = 0;
    QString m_contextName;
    QString m_contextEngineId;
    QString m_community;
    int m_trapPort = 162;
    quint16 m_registeredTrapPort = 0;

    // Guards the agent address, the cycle in flight and the agent view below. The
    // callback holds it for its whole work, so that an address change and its
    // markUnknown never interleave with an answer from the old agent.
    mutable QMutex m_targetMutex;
    QString m_ip;
    std::shared_ptr<Cycle> m_cycle;
    int m_alarmCount = 0;
    int m_failCount = 0;

    const QStringList m_alarmOids;
    StatusChangeDetector m_detector;
    UpsStatusSnapshot m_notified;
    std::atomic<bool> m_stopRequested{false};
    // A trap came: poll at once, its answers may show more than the trap said.
    std::atomic<bool> m_pollNow{false};
    QSemaphore m_wake;
    std::atomic<quint64> m_handled{0};
    std::atomic<int> m_outstanding{0};
    // Deliveries still queued in the session when this object is gone are dropped.
    std::shared_ptr<std::atomic<bool>> m_alive;
};
