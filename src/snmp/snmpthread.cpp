#include "snmpthread.h"

#include "config/params.h"
#include "model/upsstatus.h"
#include "platform/journal.h"
#include "snmpengine.h"

#include <QDeadlineTimer>
#include <limits>

// One poll: the alarm count, then the alarm table walked up to that count. Everything
// in it is guarded by the thread's target mutex.
struct snmp_thread::Cycle
{
    SnmpTarget target;
    enum Phase
    {
        Counting,
        Walking,
        Done
    } phase = Counting;
    // Count requests sent and not yet called back.
    int countsPending = 0;
    // Started for a trap; a later trap lets it finish and polls again after it.
    bool byTrap = false;
    bool pollAfter = false;
    // Its answers may predate a trap or a settings change: they only show that the
    // agent answers, nothing of them is applied.
    bool abandoned = false;
    int limit = 0;
    int rows = 0;
    QString lastOid;
    int mask = 0;
};

namespace {
bool inColumn(const QString &oid, const QString &column)
{
    return oid.size() > column.size() && oid.startsWith(column) && oid.at(column.size()) == QLatin1Char('.');
}

// Numeric order of two dotted identifiers.
bool oidAfter(const QString &a, const QString &b)
{
    const QStringList pa = a.split(QLatin1Char('.'));
    const QStringList pb = b.split(QLatin1Char('.'));
    for (int i = 0; i < qMin(pa.size(), pb.size()); ++i) {
        const qulonglong x = pa[i].toULongLong();
        const qulonglong y = pb[i].toULongLong();
        if (x != y)
            return x > y;
    }
    return pa.size() > pb.size();
}
} // namespace

snmp_thread::snmp_thread(QObject *parent)
    : QThread(parent), m_alarmOids(alarmIdentifiers()), m_alive(std::make_shared<std::atomic<bool>>(true))
{
}

snmp_thread::~snmp_thread()
{
    m_alive->store(false);
    stop();
    wait();
}

void snmp_thread::stop()
{
    m_stopRequested = true;
    m_wake.release();
}

void snmp_thread::run()
{
    takeUpInitialSettings();
    if (snmpSession)
        snmpSession->startEventThread();
    QDeadlineTimer nextPoll(0);
    while (!m_stopRequested.load()) {
        if (nextPoll.hasExpired()) {
            nextPoll.setRemainingTime(1000);
            pollCycle();
        } else {
            if (m_pollNow.exchange(false))
                pollAgent(true);
            detectAndNotify();
        }
        m_wake.tryAcquire(1, int(nextPoll.remainingTime()));
    }
    m_stopRequested = false;
    m_wake.tryAcquire(m_wake.available());
    if (snmpSession) {
        snmpSession->stopEventThread();
        snmpSession->stopListening();
    }
    m_registeredTrapPort = 0;
}

void snmp_thread::takeUpInitialSettings()
{
    {
        QReadLocker locker(&snmpParamLock);
        QMutexLocker target(&m_targetMutex);
        m_ip = params.ip;
        m_pollPort = params.snmp_port_poll;
        copySettings();
        if (snmpSession)
            snmpSession->setNotificationSender(m_ip);
    }
    registerTraps();
}

void snmp_thread::pollCycle()
{
    takeUpChangedSettings();
    pollAgent(m_pollNow.exchange(false));
    detectAndNotify();
}

void snmp_thread::detectAndNotify()
{
    const bool logged = !m_detector.detectStatusChanges().isEmpty();
    const UpsStatusSnapshot now = upsStatus.snapshot();
    if (logged || !(now == m_notified)) {
        m_notified = now;
        emit statusChanged();
    }
}

void snmp_thread::copySettings()
{
    m_retries = params.retries;
    m_timeout = params.timeout * 100;
    m_version = params.msgVersion;
    if (m_version == 3) {
        m_securityName = params.securityName;
        m_securityLevel = params.securityLevel;
        m_contextName = params.contexName;
        m_contextEngineId = params.contexEngineID;
    } else {
        m_community = params.snmp_community;
    }
    m_trapPort = params.snmp_port_trace;
}

void snmp_thread::takeUpChangedSettings()
{
    QWriteLocker locker(&snmpParamLock);
    if (!snmpParamsChanged)
        return;
    {
        QMutexLocker target(&m_targetMutex);
        if (params.ip != m_ip || params.snmp_port_poll != m_pollPort) {
            upsStatus.markUnknown();
            m_detector.forgetLinks();
            m_ip = params.ip;
            m_pollPort = params.snmp_port_poll;
            if (snmpSession)
                snmpSession->setNotificationSender(m_ip);
        }
        // A cycle of the old settings is of no use any more.
        if (m_cycle)
            m_cycle->abandoned = true;
        m_cycle.reset();
        copySettings();
    }
    if (m_trapPort != m_registeredTrapPort)
        registerTraps();
    snmpParamsChanged = false;
}

void snmp_thread::registerTraps()
{
    m_registeredTrapPort = quint16(m_trapPort);
    // A session that could not be opened was reported already.
    if (!snmpSession || !snmpSession->isValid())
        return;
    snmpSession->stopListening();
    QString error;
    const bool portInRange = m_trapPort > 0 && m_trapPort <= 65535;
    if (!portInRange)
        error = QStringLiteral("not a UDP port");
    std::shared_ptr<std::atomic<bool>> alive = m_alive;
    const SnmpCallback onTrap = [this, alive](const SnmpEvent &event) {
        if (alive->load())
            handleSnmpEvent(event);
    };
    if (!portInRange || !snmpSession->listen(quint16(m_trapPort), onTrap, &error)) {
        journal(
            JournalPriority::Warning,
            QStringLiteral("cannot receive SNMP traps on UDP port %1 (%2); polling goes on. Choose a trap port of "
                           "1024 or above in the settings, or allow the low port (setcap "
                           "cap_net_bind_service=+ep on the binary, or sysctl net.ipv4.ip_unprivileged_port_start).")
                .arg(m_trapPort)
                .arg(error));
    }
}

SnmpTarget snmp_thread::target() const
{
    SnmpTarget t;
    t.port = quint16(m_pollPort);
    t.retries = m_retries;
    t.timeoutMs = m_timeout * 10;
    if (m_version == 3) {
        t.version = SnmpVersion::V3;
        t.securityName = m_securityName;
        t.securityLevel = m_securityLevel == 0   ? SnmpSecurityLevel::NoAuthNoPriv
                          : m_securityLevel == 1 ? SnmpSecurityLevel::AuthNoPriv
                                                 : SnmpSecurityLevel::AuthPriv;
        t.contextName = m_contextName.toLocal8Bit();
        t.contextEngineId = m_contextEngineId.toLocal8Bit();
    } else {
        t.version = m_version == 2 ? SnmpVersion::V2c : SnmpVersion::V1;
        t.community = m_community.toLocal8Bit();
    }
    return t;
}

bool snmp_thread::send(const std::shared_ptr<Cycle> &cycle, Request request)
{
    std::shared_ptr<std::atomic<bool>> alive = m_alive;
    SnmpCallback callback = [this, alive, cycle, request](const SnmpEvent &event) {
        if (!alive->load())
            return;
        handleSnmpEvent(event, cycle, request);
        m_outstanding.fetch_sub(1);
    };
    m_outstanding.fetch_add(1);
    const SnmpTarget &t = cycle->target;
    bool sent = false;
    if (request == Request::Count) {
        sent = snmpSession->get(t, {UpsMib::alarmsPresent}, std::move(callback));
        if (sent)
            ++cycle->countsPending;
    } else {
        const QString from = cycle->lastOid.isEmpty() ? UpsMib::alarmDescrColumn : cycle->lastOid;
        sent = t.version == SnmpVersion::V1
                   ? snmpSession->getNext(t, {from}, std::move(callback))
                   : snmpSession->getBulk(t, {from}, 0, cycle->limit - cycle->rows, std::move(callback));
    }
    if (!sent)
        m_outstanding.fetch_sub(1);
    return sent;
}

void snmp_thread::pollAgent(bool atOnce)
{
    if (!snmpSession)
        return;
    QMutexLocker locker(&m_targetMutex);
    SnmpTarget t = target();
    t.address = m_ip;
    if (m_pollPort <= 0 || m_pollPort > 65535 || !SnmpSession::isValidAddress(t.address))
        return;
    if (m_cycle && m_cycle->phase != Cycle::Done) {
        if (!atOnce) {
            if (m_cycle->phase == Cycle::Counting)
                send(m_cycle, Request::Count);
            return;
        }
        if (m_cycle->byTrap) {
            m_cycle->pollAfter = true;
            return;
        }
        m_cycle->abandoned = true;
    }
    m_cycle = std::make_shared<Cycle>();
    m_cycle->target = t;
    m_cycle->byTrap = atOnce;
    if (!send(m_cycle, Request::Count))
        m_cycle->phase = Cycle::Done;
}

void snmp_thread::endCycle(Cycle &cycle)
{
    if (cycle.phase == Cycle::Done)
        return;
    cycle.phase = Cycle::Done;
    if (cycle.pollAfter)
        m_pollNow = true;
}

int snmp_thread::failCount() const
{
    QMutexLocker locker(&m_targetMutex);
    return m_failCount;
}

int snmp_thread::alarmCount() const
{
    QMutexLocker locker(&m_targetMutex);
    return m_alarmCount;
}

void snmp_thread::answered()
{
    upsStatus.agentAnswered();
    m_failCount = 0;
}

void snmp_thread::countFailure()
{
    if (++m_failCount > 2) {
        m_failCount = 3;
        upsStatus.agentLost();
    }
}

void snmp_thread::handleSnmpEvent(const SnmpEvent &event, const std::shared_ptr<Cycle> &cycle, Request request)
{
    struct Counted
    {
        std::atomic<quint64> &n;
        ~Counted() { n.fetch_add(1); }
    } counted{m_handled};

    {
        QMutexLocker locker(&m_targetMutex);
        if (event.sender != m_ip)
            return;
        if (event.kind == SnmpEventKind::Notification)
            handleTrap(event);
        else if (cycle && request == Request::Count)
            countAnswered(event, cycle);
        else if (cycle)
            walkAnswered(event, cycle);
    }
    // The polling thread logs the change and tells the GUI at once.
    m_wake.release();
}

void snmp_thread::countAnswered(const SnmpEvent &event, const std::shared_ptr<Cycle> &cycle)
{
    --cycle->countsPending;
    // A count is a non-negative integer; anything else is a bad answer that changes no alarm.
    qint64 count = -1;
    if (event.kind == SnmpEventKind::Response && event.errorStatus == 0) {
        for (const SnmpVarBind &b : event.bindings) {
            if (b.oid != UpsMib::alarmsPresent || !b.isInteger())
                continue;
            bool ok = false;
            const qint64 value = b.value.toLongLong(&ok);
            count = ok ? value : -1;
        }
    }
    if (count < 0) {
        countFailure();
        if (cycle->phase == Cycle::Counting && cycle->countsPending == 0)
            endCycle(*cycle);
        return;
    }
    answered();
    m_alarmCount = int(qMin<qint64>(count, std::numeric_limits<int>::max()));
    if (cycle->abandoned || cycle->phase != Cycle::Counting)
        return;
    if (count == 0) {
        upsStatus.clearAlarms();
        endCycle(*cycle);
        return;
    }
    // The table is read in the same cycle as its count, so the walk covers every row
    // that the count announced.
    cycle->phase = Cycle::Walking;
    cycle->limit = qMin(m_alarmCount, maxAlarmRows);
    if (!send(cycle, Request::Walk))
        endCycle(*cycle);
}

void snmp_thread::walkAnswered(const SnmpEvent &event, const std::shared_ptr<Cycle> &cycle)
{
    bool usable = false;
    if (event.kind == SnmpEventKind::Response && event.errorStatus == 0) {
        for (const SnmpVarBind &b : event.bindings)
            usable |= !b.isEmpty();
    }
    if (!usable) {
        // The cycle is given up as a whole: a part of the table is no alarm set.
        countFailure();
        endCycle(*cycle);
        return;
    }
    answered();
    if (cycle->abandoned) {
        endCycle(*cycle);
        return;
    }
    bool walkEnded = false;
    for (const SnmpVarBind &b : event.bindings) {
        if (walkEnded)
            break;
        // endOfMibView ends a walk.
        if (b.isEmpty() || !inColumn(b.oid, UpsMib::alarmDescrColumn) || !oidAfter(b.oid, cycle->lastOid)) {
            walkEnded = true;
            break;
        }
        const int i = m_alarmOids.indexOf(b.value);
        if (i >= 0)
            cycle->mask |= 1 << i;
        cycle->lastOid = b.oid;
        walkEnded = ++cycle->rows >= cycle->limit;
    }
    if (walkEnded) {
        upsStatus.applyAlarmMask(cycle->mask);
        endCycle(*cycle);
    } else if (!send(cycle, Request::Walk)) {
        endCycle(*cycle);
    }
}

void snmp_thread::handleTrap(const SnmpEvent &event)
{
    // A trap may tell only part of the story: the poll it wakes reads the rest. Only
    // poll exchanges count toward the agent-lost rule.
    m_pollNow = true;
    if (event.errorStatus != 0)
        return;
    bool used = false;
    for (const SnmpVarBind &b : event.bindings) {
        if (b.isEmpty())
            continue;
        used = true;
        applyTrapVariable(b.oid, b.value, event.trapOid, event.authenticated);
    }
    if (used)
        upsStatus.agentAnswered();
}

void snmp_thread::applyTrapVariable(const QString &oid, const QString &value, const QString &trapOid,
                                    bool authenticated)
{
    // Standard agents send upsAlarmDescr with the row as instance suffix.
    if (oid != UpsMib::alarmDescrColumn && !inColumn(oid, UpsMib::alarmDescrColumn))
        return;
    const bool present = trapOid.endsWith(QLatin1Char('3'));
    for (int i = 0; i < m_alarmOids.size(); ++i) {
        if (value == m_alarmOids[i])
            upsStatus.setAlarm(i, present, authenticated);
    }
}
