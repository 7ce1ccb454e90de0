#pragma once

#include "config/params.h"
#include "model/logevent.h"
#include "model/upsstatus.h"
#include "snmp/snmpengine.h"
#include "snmp/snmpthread.h"
#include "tempdatadir.h"
#include "upsagentfixture.h"

#include <QElapsedTimer>
#include <QTest>
#include <functional>
#include <memory>

// The monitoring core in-process: the global session, a polling thread that the test
// steps by hand, and the event queue drained after each step.
class SnmpHarness
{
public:
    static void addVersionColumns()
    {
        QTest::addColumn<int>("msgVersion");
        QTest::addColumn<QString>("user");
    }
    static void addVersionRows(const char *suffix = "")
    {
        const struct
        {
            const char *name;
            int version;
            const char *user;
        } rows[] = {
            {"v1", 1, ""},
            {"v2c", 2, ""},
            {"v3 MD5/DES", 3, "md5des"},
            {"v3 SHA/AES128", 3, "shaaes"},
            {"v3 SHA-256/AES256", 3, "sha256aes256"},
        };
        for (const auto &r : rows)
            QTest::addRow("%s%s", r.name, suffix) << r.version << QString::fromLatin1(r.user);
    }

    // user: the SNMPv3 security name.
    explicit SnmpHarness(int agentPort, int msgVersion = 2, const QString &user = {}, int trapPort = 0)
    {
        {
            QWriteLocker locker(&snmpParamLock);
            params = Params();
            params.ip = QStringLiteral("127.0.0.1");
            params.snmp_port_poll = agentPort;
            params.snmp_port_trace = trapPort ? trapPort : freeUdpPort();
            params.retries = 0;
            params.timeout = 1;
            params.msgVersion = msgVersion;
            params.snmp_community = QStringLiteral("public");
            params.securityName = user;
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

    bool opened() const { return m_opened; }
    int trapPort() const
    {
        QReadLocker locker(&snmpParamLock);
        return params.snmp_port_trace;
    }

    // One pass of the loop, then waits for its answers and runs the change detection
    // that the next pass would start with.
    void cycle()
    {
        thread->pollCycle();
        waitIdle();
        thread->detector().detectStatusChanges();
    }

    bool waitIdle(int ms = 5000)
    {
        return QTest::qWaitFor([&] { return thread->outstandingRequests() == 0; }, ms);
    }

    // Waits until the thread has handled `count` more events than `since`.
    bool waitHandled(quint64 since, int count = 1, int ms = 3000)
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
