#include "service.h"

#include "config/datadir.h"
#include "config/params.h"
#include "eventlog/logstore.h"
#include "model/upsstatus.h"
#include "platform/journal.h"
#include "platform/poweroff.h"
#include "platform/sdnotify.h"
#include "platform/shutdowninhibitor.h"
#include "platform/signalwatcher.h"
#include "shutdown/shutdownsequence.h"
#include "snmp/snmpengine.h"
#include "snmp/snmpthread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {
constexpr QFile::Permissions writableByOthers = QFile::WriteGroup | QFile::WriteOther;
constexpr QFile::Permissions readableByOthers = QFile::ReadGroup | QFile::ReadOther;

// How long the end waits for a log.db that another process holds: within logind's
// default InhibitDelayMaxSec.
constexpr int finalFlushMs = 4000;

JournalPriority eventPriority(int id)
{
    if (id == ShutdownFailed)
        return JournalPriority::Err;
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

void MonitorService::onSignal(int signalNumber)
{
    if (signalNumber == SIGHUP) {
        reload();
        return;
    }
    journal(JournalPriority::Info, QStringLiteral("ending on %1").arg(QLatin1String(strsignal(signalNumber))));
    stop();
    QCoreApplication::exit(0);
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
    // usm_users.bin beside the log: /etc stays read-only for the service.
    setDataLocations(DataLocations::portable(m_stateDir));
    {
        QWriteLocker locker(&snmpParamLock);
        readConfig();
    }
    // From here on a signal ends the service cleanly; SIGHUP reads the settings again.
    auto *watcher = new SignalWatcher({SIGTERM, SIGINT, SIGHUP}, this);
    connect(watcher, &SignalWatcher::received, this, &MonitorService::onSignal);
    m_shutdown = std::make_unique<ShutdownSequence>(createPowerOff());
    m_inhibitor = new ShutdownInhibitor(QStringLiteral("voltiguard-service"),
                                        QStringLiteral("Writing the UPS event log before the machine goes down"), this);
    connect(m_inhibitor, &ShutdownInhibitor::prepareForShutdown, this, [this] {
        flushEvents();
        m_inhibitor->release();
    });
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
    Params loaded;
    QStringList taken;
    const QList<ParamProblem> problems = readParamFile(m_configPath, loaded, &taken);
    for (const ParamProblem &problem : problems)
        journal(JournalPriority::Warning, describeParamProblem(m_configPath, problem));
    if (!file.exists())
        journal(JournalPriority::Warning, QStringLiteral("%1 does not exist: the service starts with the defaults, "
                                                         "which watch no agent and never shut down")
                                              .arg(m_configPath));
    m_agentConfigured = taken.contains(QStringLiteral("ip"));
    if (!m_agentConfigured)
        journal(JournalPriority::Warning,
                QStringLiteral("no agent configured (%1 names no usable \"ip\"): the service idles until it does "
                               "and is reloaded")
                    .arg(m_configPath));
    if (file.isFile() && (file.permissions() & readableByOthers))
        journal(JournalPriority::Warning,
                QStringLiteral("%1 can be read by other users and holds the SNMP credentials: chmod 600 it")
                    .arg(m_configPath));
    if (loaded.exte_flag && geteuid() == 0 && !onlyRootCanChange(file)) {
        loaded.exte_flag = false;
        journal(JournalPriority::Err,
                QStringLiteral("%1 or its directory can be changed by users other than root: the external program "
                               "it names is not run")
                    .arg(m_configPath));
    }
    params = loaded;
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
    const QDeadlineTimer deadline(finalFlushMs);
    while (!flushEvents() && !deadline.hasExpired())
        QThread::msleep(200);
    if (m_logFailing)
        journal(JournalPriority::Err,
                QStringLiteral("ending with events that could not be written to %1").arg(logDatabasePath()));
    closeSnmpSession();
}

void MonitorService::tick()
{
    flushEvents();
    CountdownTick countdown = m_countdown.evaluateConditions(upsStatus.snapshot(), params);
    journalCountdown(countdown);
    if (countdown.requestShutdown)
        requestPowerOff(countdown);
    if (countdown.startExternalProgram)
        startExternalProgram();
    publish(countdown);
}

void MonitorService::requestPowerOff(CountdownTick &tick)
{
    journal(JournalPriority::Warning, QStringLiteral("asking logind to power the machine off"));
    const ShutdownResult result = m_shutdown->shutdownSystem(tick.runPass);
    m_countdown.powerOffAnswered(result.powerOff.accepted, tick);
    journalFlushed(result.flushed, result.powerOff.reason);
}

void MonitorService::startExternalProgram()
{
    const QString program = params.exte_param;
    if (QProcess::startDetached(program, {}))
        journal(JournalPriority::Info, QStringLiteral("started the external program %1").arg(program));
    else
        journal(JournalPriority::Err, QStringLiteral("cannot start the external program \"%1\"").arg(program));
}

void MonitorService::statusChanged()
{
    flushEvents();
    publish(m_countdown.preview(upsStatus.snapshot(), params));
}

bool MonitorService::flushEvents()
{
    QString ip;
    {
        QReadLocker locker(&snmpParamLock);
        ip = params.ip;
    }
    return journalFlushed(writePendingEvents(ip, 0));
}

bool MonitorService::journalFlushed(const std::optional<FlushResult> &flushed, const QString &reason)
{
    if (!flushed)
        return true;
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
        QString line = eventText(event.id);
        if (event.id == ShutdownFailed)
            line += QStringLiteral(": %1; asking again in %2 s").arg(reason).arg(Countdown::retryTicks);
        journal(eventPriority(event.id), line);
        m_publisher.eventLogged(event);
        m_lastEvent = event;
    }
    return flushed->written;
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
