#pragma once

#include "config/params.h"
#include "model/logevent.h"
#include "snmp/snmpengine.h"
#include "snmp/snmpthread.h"
#include "tempdatadir.h"
#include "upsagentfixture.h"

#include <QTest>

inline const QStringList alarmNames{"comms-lost", "utility", "battery", "upsfail"};

inline bool alarmOn(const UpsStatusSnapshot &s, int alarm)
{
    return QList<bool>{s.upsLink == LinkLost, s.utilityFail, s.batteryLow, s.upsFail}.at(alarm);
}

// upsagent's arguments for a notification of the given kind to port.
inline QStringList trap(const QString &kind, int port)
{
    return {"--trap", kind, "--trap-port", QString::number(port)};
}

// The monitoring core in-process: the global session and a polling thread that the test
// steps by hand (or starts).
class SnmpHarness
{
public:
    // version: "v1", "v2c" or the SNMPv3 user to poll as.
    explicit SnmpHarness(int agentPort, const QString &version = "v2c", int trapPort = 0)
    {
        changeParams([&](Params &p) {
            p = Params();
            p.ip = "127.0.0.1";
            p.snmp_port_poll = agentPort;
            p.snmp_port_trace = trapPort ? trapPort : freeUdpPort();
            p.retries = 0;
            p.msgVersion = version == "v1" ? 1 : version == "v2c" ? 2 : 3;
            p.securityName = version;
            p.securityLevel = 2;
        });
        upsStatus.reset();
        takeEvents();
        if (openSnmpSession()) {
            for (const UsmUser &u : UpsAgentFixture::agentUsers())
                snmpV3->usm().addUser(u);
        }
        thread->takeUpInitialSettings();
        if (snmpSession)
            snmpSession->startEventThread();
    }
    ~SnmpHarness()
    {
        // No callback may be running into the thread object while it goes.
        if (snmpSession)
            snmpSession->stopEventThread();
        thread.reset();
        closeSnmpSession();
    }

    int trapPort() const { return params.snmp_port_trace; }
    // One pass of the loop, its answers and the change detection; returns the events logged.
    QList<int> cycle()
    {
        thread->pollCycle();
        (void)QTest::qWaitFor([&] { return thread->outstandingRequests() == 0; }, 5000);
        thread->detector().detectStatusChanges();
        return takeEvents();
    }
    bool connect() { return snmpV3 && cycle() == QList<int>{AgentConnected, UpsConnected}; }
    // Waits until the thread has handled `count` more events than `since`.
    bool waitHandled(quint64 since, int count = 1, int ms = 5000)
    {
        return QTest::qWaitFor([&] { return thread->handledEvents() >= since + quint64(count); }, ms);
    }

    static QList<int> takeEvents()
    {
        QWriteLocker locker(&pendingEventsLock);
        QList<int> ids;
        for (const LogEvent &e : std::exchange(pendingEvents, {}))
            ids.append(e.id);
        return ids;
    }
    static void changeParams(const std::function<void(Params &)> &edit)
    {
        QWriteLocker locker(&snmpParamLock);
        edit(params);
        snmpParamsChanged = true;
    }

    std::unique_ptr<snmp_thread> thread = std::make_unique<snmp_thread>();

private:
    TempDataDir m_data;
};
