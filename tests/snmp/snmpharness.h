#pragma once

#include "config/params.h"
#include "model/logevent.h"
#include "model/upsstatus.h"
#include "snmp/snmpengine.h"
#include "snmp/snmpthread.h"
#include "tempdatadir.h"
#include "upsagentfixture.h"

#include <QTest>
#include <functional>
#include <memory>

inline const QStringList alarmNames{"comms-lost", "utility", "battery", "upsfail"};

inline bool alarmOn(const UpsStatusSnapshot &s, int alarm)
{
    const bool on[] = {s.upsLink == LinkLost, s.utilityFail, s.batteryLow, s.upsFail};
    return on[alarm];
}

// The monitoring core in-process: the global session, a polling thread that the test
// steps by hand (or starts), and the event queue drained after each step.
class SnmpHarness
{
public:
    // version: "v1", "v2c" or the SNMPv3 user to poll as.
    explicit SnmpHarness(int agentPort, const QString &version = "v2c", int trapPort = 0)
    {
        {
            QWriteLocker locker(&snmpParamLock);
            params = Params();
            params.ip = "127.0.0.1";
            params.snmp_port_poll = agentPort;
            params.snmp_port_trace = trapPort ? trapPort : freeUdpPort();
            params.retries = 0;
            params.timeout = 1;
            params.msgVersion = version == "v1" ? 1 : version == "v2c" ? 2 : 3;
            params.snmp_community = "public";
            params.securityName = version;
            params.securityLevel = 2;
            snmpParamsChanged = false;
        }
        upsStatus.reset();
        takeEvents();
        m_opened = openSnmpSession();
        if (m_opened) {
            for (const UsmUser &u : UpsAgentFixture::agentUsers())
                snmpV3->usm().addUser(u);
        }
        thread = std::make_unique<snmp_thread>();
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
        takeEvents();
    }

    int trapPort() const { return params.snmp_port_trace; }

    // One pass of the loop, then its answers and the change detection that the next
    // pass would start with; returns the events it logged.
    QList<int> cycle()
    {
        thread->pollCycle();
        QTest::qWaitFor([&] { return thread->outstandingRequests() == 0; }, 5000);
        thread->detector().detectStatusChanges();
        return takeEvents();
    }
    // The first exchange with the agent: both links come up.
    bool connect() { return m_opened && cycle() == QList<int>{AgentConnected, UpsConnected}; }

    // Waits until the thread has handled `count` more events than `since`.
    bool waitHandled(quint64 since, int count = 1, int ms = 5000)
    {
        return QTest::qWaitFor([&] { return thread->handledEvents() >= since + quint64(count); }, ms);
    }

    static QList<int> takeEvents()
    {
        QWriteLocker locker(&pendingEventsLock);
        QList<int> ids;
        for (const LogEvent &e : pendingEvents)
            ids.append(e.id);
        pendingEvents.clear();
        return ids;
    }

    static void changeParams(const std::function<void(Params &)> &edit)
    {
        QWriteLocker locker(&snmpParamLock);
        edit(params);
        snmpParamsChanged = true;
    }

    std::unique_ptr<snmp_thread> thread;

private:
    TempDataDir m_data;
    bool m_opened = false;
};
