#pragma once

#include "model/statuschanges.h"
#include "snmpsession.h"

#include <QMutex>
#include <QSemaphore>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

// The polling thread: once a second it takes up changed settings, asks the agent for
// its alarms and turns the changes of UpsStatus into events. Answers and traps are
// handled on the SNMP event thread by handleSnmpEvent.
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
    void pollAgent();

    struct AlarmWalk;
    void handleSnmpEvent(const SnmpEvent &event, const std::shared_ptr<AlarmWalk> &walk = {});
    void applyPollVariable(const QString &oid, const QString &value);
    void applyTrapVariable(const QString &oid, const QString &value, const QString &trapOid);

    int failCount() const { return m_failCount; }
    int alarmCount() const { return m_alarmCount; }
    quint16 registeredTrapPort() const { return m_registeredTrapPort; }
    // Events handled so far (answers, time-outs, traps), for waiting on them.
    quint64 handledEvents() const { return m_handled.load(); }
    // Requests sent and not yet answered, timed out or failed.
    int outstandingRequests() const { return m_outstanding.load(); }
    StatusChangeDetector &detector() { return m_detector; }

protected:
    void run() override;

private:
    void copySettings();
    void takeUpChangedSettings();
    void registerTraps();
    SnmpTarget target() const;
    SnmpCallback callback(const std::shared_ptr<AlarmWalk> &walk);
    SnmpCallback trapCallback();
    bool sendCounted(const std::function<bool(SnmpCallback)> &send, const std::shared_ptr<AlarmWalk> &walk);
    void sendWalkStep(const std::shared_ptr<AlarmWalk> &walk);
    void countFailure();

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

    // The agent address is compared by the callback while the run loop may replace it;
    // the callback holds this lock for its whole work so that an address change and
    // its markUnknown never interleave with an answer from the old agent.
    QMutex m_targetMutex;
    QString m_ip;

    std::atomic<int> m_alarmCount{0};
    // Event thread only.
    int m_alarmMask = 0;
    int m_failCount = 0;

    const QStringList m_alarmOids;
    StatusChangeDetector m_detector;
    std::atomic<bool> m_stopRequested{false};
    QSemaphore m_wake;
    std::atomic<quint64> m_handled{0};
    std::atomic<int> m_outstanding{0};
    // Deliveries still queued in the session when this object is gone are dropped.
    std::shared_ptr<std::atomic<bool>> m_alive;
};
