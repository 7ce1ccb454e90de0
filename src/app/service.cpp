#include "service.h"

#include "config/datadir.h"
#include "config/params.h"
#include "eventlog/logstore.h"
#include "model/upsstatus.h"
#include "platform/journal.h"
#include "platform/sdnotify.h"
#include "snmp/snmpengine.h"
#include "snmp/snmpthread.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <unistd.h>

namespace {
constexpr QFile::Permissions writableByOthers = QFile::WriteGroup | QFile::WriteOther;
constexpr QFile::Permissions readableByOthers = QFile::ReadGroup | QFile::ReadOther;

JournalPriority eventPriority(int id)
{
    return eventIsCritical(id) ? JournalPriority::Warning : JournalPriority::Info;
}

// Run as root, the service starts the program the file names: only root may be
// able to change which one.
bool onlyRootCanChange(const QFileInfo &file)
{
    for (const QFileInfo &f : {file, QFileInfo(file.absolutePath())}) {
        if (f.ownerId() != 0 || (f.permissions() & writableByOthers))
            return false;
    }
    return true;
}
} // namespace

MonitorService::MonitorService(const QString &configPath, const QString &stateDir, QObject *parent)
    : QObject(parent), m_configPath(configPath), m_stateDir(stateDir)
{
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &MonitorService::tick);
}

MonitorService::~MonitorService()
{
    stop();
}

bool MonitorService::start()
{
    buildEventTexts();
    if (!QFileInfo(m_stateDir).isDir()) {
        if (QDir().mkpath(m_stateDir))
            QFile::setPermissions(m_stateDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QFileInfo state(m_stateDir);
    if (!state.isDir() || !state.isWritable()) {
        journal(JournalPriority::Err, QStringLiteral("the state directory %1 cannot be written: events stay queued in "
                                                     "memory and the SNMPv3 boot count is not kept")
                                          .arg(m_stateDir));
    } else {
        // Two services on one state directory would log every event twice and both
        // power the machine off.
        m_lock = std::make_unique<QLockFile>(m_stateDir + QStringLiteral("/voltiguard-service.lock"));
        if (!m_lock->tryLock()) {
            journal(JournalPriority::Err, QStringLiteral("another voltiguard-service already runs with the state "
                                                         "directory %1")
                                              .arg(m_stateDir));
            return false;
        }
    }
    setDataLocations(
        DataLocations{QFileInfo(m_configPath).absolutePath(), m_stateDir, m_stateDir + QStringLiteral("/Temp")});
    {
        QWriteLocker locker(&snmpParamLock);
        readConfig();
    }
    if (!openSnmpSession())
        journal(JournalPriority::Err, QStringLiteral("cannot open an SNMP session (no UDP socket): nothing is polled"));

    QString error;
    if (!m_publisher.publish(QDBusConnection::systemBus(), &error))
        journal(
            JournalPriority::Warning,
            QStringLiteral("the state is not published on the system bus (%1): --status cannot read it").arg(error));

    if (m_agentConfigured)
        startPolling();
    m_tick.start();
    tick();
    notifyServiceManager("READY=1");
    return true;
}

void MonitorService::readConfig()
{
    const QFileInfo file(m_configPath);
    QString problem;
    if (!file.exists())
        problem = QStringLiteral("%1 does not exist").arg(m_configPath);
    else if (!file.isFile() || !file.isReadable())
        problem = QStringLiteral("%1 cannot be read").arg(m_configPath);
    params = Params();
    if (problem.isEmpty())
        loadParams();
    else
        journal(JournalPriority::Warning,
                problem + QStringLiteral(": the service starts with the defaults, which watch no agent and never "
                                         "shut down"));

    const bool named =
        problem.isEmpty() && QSettings(m_configPath, QSettings::IniFormat).contains(QStringLiteral("ip"));
    m_agentConfigured = named && SnmpSession::isValidAddress(params.ip);
    if (!m_agentConfigured)
        journal(JournalPriority::Warning,
                QStringLiteral("no agent configured (%1 names no valid \"ip\"): the service idles until it does and is "
                               "reloaded")
                    .arg(m_configPath));
    if (problem.isEmpty() && (file.permissions() & readableByOthers))
        journal(JournalPriority::Warning,
                QStringLiteral("%1 can be read by other users and holds the SNMP credentials: chmod 600 it")
                    .arg(m_configPath));
    if (params.exte_flag && geteuid() == 0 && !onlyRootCanChange(file)) {
        params.exte_flag = false;
        journal(JournalPriority::Err,
                QStringLiteral("%1 or its directory can be changed by users other than root: the external program "
                               "it names is not run")
                    .arg(m_configPath));
    }
}

void MonitorService::reload()
{
    notifyServiceManager("RELOADING=1");
    journal(JournalPriority::Info, QStringLiteral("reading %1 again").arg(m_configPath));
    {
        QWriteLocker locker(&snmpParamLock);
        readConfig();
        snmpParamsChanged = true;
    }
    if (m_agentConfigured && !m_poller) {
        startPolling();
    } else if (!m_agentConfigured && m_poller) {
        stopPolling();
        upsStatus.reset();
    }
    tick();
    notifyServiceManager("READY=1");
}

void MonitorService::startPolling()
{
    upsStatus.reset();
    m_poller = std::make_unique<snmp_thread>();
    connect(m_poller.get(), &snmp_thread::statusChanged, this, &MonitorService::statusChanged);
    {
        QReadLocker locker(&snmpParamLock);
        journal(JournalPriority::Info,
                QStringLiteral("watching the agent %1 (port %2, SNMP version %3); traps on port %4")
                    .arg(params.ip)
                    .arg(params.snmp_port_poll)
                    .arg(params.msgVersion == 3   ? QStringLiteral("3")
                         : params.msgVersion == 2 ? QStringLiteral("2c")
                                                  : QStringLiteral("1"))
                    .arg(params.snmp_port_trace));
    }
    m_poller->start();
}

void MonitorService::stopPolling()
{
    if (!m_poller)
        return;
    m_poller->stop();
    m_poller->wait();
    m_poller.reset();
}

void MonitorService::stop()
{
    if (!m_tick.isActive())
        return;
    notifyServiceManager("STOPPING=1");
    m_tick.stop();
    stopPolling();
    flushEvents();
    closeSnmpSession();
}

void MonitorService::tick()
{
    flushEvents();
    const CountdownTick countdown = m_countdown.evaluateConditions(upsStatus.snapshot(), params);
    journalCountdown(countdown);
    publish(countdown);
}

void MonitorService::statusChanged()
{
    flushEvents();
    publish(m_countdown.preview(upsStatus.snapshot(), params));
}

void MonitorService::flushEvents()
{
    QString ip;
    {
        QReadLocker locker(&snmpParamLock);
        ip = params.ip;
    }
    const std::optional<FlushResult> flushed = writePendingEvents(ip, 0);
    if (!flushed)
        return;
    QList<LogEvent> fresh;
    if (flushed->written) {
        // The events written start with those the journal already had.
        fresh = flushed->events.mid(m_journaledUnwritten);
        m_journaledUnwritten = 0;
        if (m_logFailing)
            journal(JournalPriority::Info, QStringLiteral("the event log %1 is written again").arg(logDatabasePath()));
        m_logFailing = false;
    } else {
        QList<LogEvent> queued;
        {
            QReadLocker locker(&pendingEventsLock);
            queued = pendingEvents;
        }
        fresh = queued.mid(m_journaledUnwritten);
        m_journaledUnwritten = int(queued.size());
        if (!m_logFailing)
            journal(JournalPriority::Err, QStringLiteral("cannot write the event log %1 (%2): the events stay queued "
                                                         "in memory and are written as soon as it can be")
                                              .arg(logDatabasePath(), flushed->error));
        m_logFailing = true;
    }
    for (const LogEvent &event : fresh) {
        journal(eventPriority(event.id), eventText(event.id));
        m_publisher.eventLogged(event);
        m_lastEvent = event;
    }
}

void MonitorService::journalCountdown(const CountdownTick &tick)
{
    const bool counting = tick.display == CountdownDisplay::Counting;
    const QString left = tick.timeLeft().toString(QStringLiteral("hh:mm:ss"));
    for (const QString &condition : tick.countdownsStarted)
        journal(JournalPriority::Warning, QStringLiteral("%1: power-off in %2 unless it ends").arg(condition, left));
    if (counting && tick.countdownsStarted.isEmpty() && tick.countdownSecs > 0 && tick.countdownSecs % 60 == 0)
        journal(JournalPriority::Warning, QStringLiteral("power-off in %1").arg(left));
    if (!counting && m_lastDisplay == CountdownDisplay::Counting)
        journal(JournalPriority::Info, QStringLiteral("countdown ended: no condition lasts any more"));
    m_lastDisplay = tick.display;
}

void MonitorService::publish(const CountdownTick &tick)
{
    ServiceStatus status;
    if (m_agentConfigured) {
        QReadLocker locker(&snmpParamLock);
        status.agent = params.ip;
    }
    status.ups = upsStatus.snapshot();
    status.countdownSeconds = tick.display == CountdownDisplay::Counting ? tick.countdownSecs : -1;
    status.lastEvent = m_lastEvent;
    m_publisher.setStatus(status);
    const QString summary = status.summary();
    if (summary != m_managerStatus) {
        m_managerStatus = summary;
        notifyServiceManager("STATUS=" + summary.toUtf8());
    }
}
