#include "snmpthread.h"

#include "config/params.h"
#include "model/upsstatus.h"
#include "snmpengine.h"

#include <cstdio>
#include <limits>

struct snmp_thread::AlarmWalk
{
    SnmpTarget target;
    int limit = 0;
    int rows = 0;
    QString lastOid;
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
    while (!m_stopRequested.load()) {
        pollCycle();
        m_wake.tryAcquire(1, 1000);
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
    }
    registerTraps();
}

void snmp_thread::pollCycle()
{
    takeUpChangedSettings();
    pollAgent();
    m_detector.detectStatusChanges();
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
        }
    }
    copySettings();
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
    if (!portInRange || !snmpSession->listen(quint16(m_trapPort), trapCallback(), &error)) {
        const QByteArray line =
            QStringLiteral("voltiguard: cannot receive SNMP traps on UDP port %1 (%2); polling goes on. Choose a trap "
                           "port of 1024 or above in the settings, or allow the low port (setcap "
                           "cap_net_bind_service=+ep on the binary, or sysctl net.ipv4.ip_unprivileged_port_start).\n")
                .arg(m_trapPort)
                .arg(error)
                .toLocal8Bit();
        fputs(line.constData(), stderr);
        fflush(stderr);
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

SnmpCallback snmp_thread::callback(const std::shared_ptr<AlarmWalk> &walk)
{
    std::shared_ptr<std::atomic<bool>> alive = m_alive;
    return [this, alive, walk](const SnmpEvent &event) {
        if (!alive->load())
            return;
        handleSnmpEvent(event, walk);
        m_outstanding.fetch_sub(1);
    };
}

SnmpCallback snmp_thread::trapCallback()
{
    std::shared_ptr<std::atomic<bool>> alive = m_alive;
    return [this, alive](const SnmpEvent &event) {
        if (alive->load())
            handleSnmpEvent(event);
    };
}

bool snmp_thread::sendCounted(const std::function<bool(SnmpCallback)> &send, const std::shared_ptr<AlarmWalk> &walk)
{
    m_outstanding.fetch_add(1);
    if (send(callback(walk)))
        return true;
    m_outstanding.fetch_sub(1);
    return false;
}

void snmp_thread::pollAgent()
{
    if (!snmpSession)
        return;
    SnmpTarget t = target();
    {
        QMutexLocker locker(&m_targetMutex);
        t.address = m_ip;
    }
    if (m_pollPort <= 0 || m_pollPort > 65535 || !SnmpSession::isValidAddress(t.address))
        return;
    sendCounted([&](SnmpCallback cb) { return snmpSession->get(t, {UpsMib::alarmsPresent}, std::move(cb)); }, {});

    const int count = m_alarmCount.load();
    if (count > 0) {
        auto walk = std::make_shared<AlarmWalk>();
        walk->target = t;
        walk->limit = qMin(count, maxAlarmRows);
        sendWalkStep(walk);
    }
}

void snmp_thread::sendWalkStep(const std::shared_ptr<AlarmWalk> &walk)
{
    const QString from = walk->lastOid.isEmpty() ? UpsMib::alarmDescrColumn : walk->lastOid;
    const SnmpTarget &t = walk->target;
    if (t.version == SnmpVersion::V1)
        sendCounted([&](SnmpCallback cb) { return snmpSession->getNext(t, {from}, std::move(cb)); }, walk);
    else
        sendCounted(
            [&](SnmpCallback cb) {
                return snmpSession->getBulk(t, {from}, 0, walk->limit - walk->rows, std::move(cb));
            },
            walk);
}

void snmp_thread::countFailure()
{
    if (++m_failCount > 2) {
        m_failCount = 3;
        upsStatus.agentLost();
    }
}

void snmp_thread::handleSnmpEvent(const SnmpEvent &event, const std::shared_ptr<AlarmWalk> &walk)
{
    struct Counted
    {
        std::atomic<quint64> &n;
        ~Counted() { n.fetch_add(1); }
    } counted{m_handled};

    QMutexLocker locker(&m_targetMutex);
    if (event.sender != m_ip)
        return;
    const bool trap = event.kind == SnmpEventKind::Notification;
    if (!trap && event.kind != SnmpEventKind::Response) {
        countFailure();
        return;
    }
    if (event.errorStatus != 0 || event.bindings.isEmpty()) {
        countFailure();
        return;
    }
    int used = 0;
    bool walkEnded = false;
    bool maskApplied = false;
    for (const SnmpVarBind &b : event.bindings) {
        if (b.isEmpty()) {
            // endOfMibView ends a walk.
            walkEnded = true;
            continue;
        }
        ++used;
        if (trap) {
            applyTrapVariable(b.oid, b.value, event.trapOid);
        } else if (!walk) {
            applyPollVariable(b.oid, b.value);
        } else if (!walkEnded) {
            if (inColumn(b.oid, UpsMib::alarmDescrColumn) && oidAfter(b.oid, walk->lastOid)) {
                applyPollVariable(b.oid, b.value);
                walk->lastOid = b.oid;
                walkEnded = ++walk->rows >= walk->limit;
            } else {
                // The walk left the description column: the mask is complete.
                walkEnded = true;
                if (inColumn(b.oid, UpsMib::alarmTimeColumn)) {
                    applyPollVariable(b.oid, b.value);
                    maskApplied = true;
                }
            }
        }
    }
    if (used == 0) {
        countFailure();
        return;
    }
    if (walk && walkEnded && !maskApplied)
        upsStatus.applyAlarmMask(m_alarmMask);
    upsStatus.agentAnswered();
    m_failCount = 0;
    if (walk && !walkEnded && snmpSession)
        sendWalkStep(walk);
}

void snmp_thread::applyPollVariable(const QString &oid, const QString &value)
{
    if (oid == UpsMib::alarmsPresent) {
        bool ok = false;
        const qlonglong count = value.toLongLong(&ok);
        m_alarmCount = ok && count > 0 ? int(qMin<qlonglong>(count, std::numeric_limits<int>::max())) : 0;
        m_alarmMask = 0;
        if (m_alarmCount == 0)
            upsStatus.clearAlarms();
    } else if (oid.contains(UpsMib::alarmDescrColumn)) {
        const int i = m_alarmOids.indexOf(value);
        if (i >= 0)
            m_alarmMask |= 1 << i;
    } else if (oid.contains(UpsMib::alarmTimeColumn)) {
        upsStatus.applyAlarmMask(m_alarmMask);
    }
}

void snmp_thread::applyTrapVariable(const QString &oid, const QString &value, const QString &trapOid)
{
    // Standard agents send upsAlarmDescr with the row as instance suffix.
    if (oid != UpsMib::alarmDescrColumn && !inColumn(oid, UpsMib::alarmDescrColumn))
        return;
    const bool present = trapOid.endsWith(QLatin1Char('3'));
    for (int i = 0; i < m_alarmOids.size(); ++i) {
        if (value == m_alarmOids[i])
            upsStatus.setAlarm(i, present);
    }
}
