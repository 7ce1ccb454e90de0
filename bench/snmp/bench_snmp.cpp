// Figures of the monitoring core: trap and poll latency, idle wake-ups, CPU time,
// resident memory and the SNMPv3 user file's load time. Usage:
//   bench_snmp [traps|polls|idle|monitor|users|process [minutes]|latency [trials]]
// (no argument: everything but "process" and "latency"). "process" and "latency" run
// the real binary and need a display (xvfb-run).

#include "berpacket.h"
#include "binaryrun.h"
#include "config/params.h"
#include "logindmock.h"
#include "model/upsstatus.h"
#include "procstat.h"
#include "snmp/snmpengine.h"
#include "snmp/snmpthread.h"
#include "snmp/usmusers.h"
#include "tempdatadir.h"
#include "upsagentfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QUdpSocket>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
struct Core
{
    TempDataDir data;
    std::unique_ptr<snmp_thread> thread;

    explicit Core(int agentPort, int trapPort)
    {
        QWriteLocker locker(&snmpParamLock);
        params = Params();
        params.ip = QStringLiteral("127.0.0.1");
        params.snmp_port_poll = agentPort;
        params.snmp_port_trace = trapPort;
        params.retries = 0;
        params.timeout = 1;
        locker.unlock();
        upsStatus.reset();
        openSnmpSession();
        thread = std::make_unique<snmp_thread>();
    }
    ~Core()
    {
        thread.reset();
        closeSnmpSession();
    }
    void waitIdle() const
    {
        while (thread->outstandingRequests() > 0)
            QThread::usleep(50);
    }
};

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void printLatency(const char *what, const std::vector<double> &us)
{
    std::printf("%-44s n=%zu  p50 %.3f ms  p99 %.3f ms  max %.3f ms\n", what, us.size(), percentile(us, 0.5) / 1000,
                percentile(us, 0.99) / 1000, *std::max_element(us.begin(), us.end()) / 1000);
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Spins (yielding) until the condition holds; returns the elapsed microseconds.
template <typename F> double waitFor(const QElapsedTimer &t, F condition)
{
    while (!condition())
        QThread::yieldCurrentThread();
    return double(t.nsecsElapsed()) / 1000.0;
}

void benchTraps()
{
    const int trapPort = freeUdpPort();
    Core core(freeUdpPort(), trapPort);
    core.thread->takeUpInitialSettings();
    snmpSession->startEventThread();
    QUdpSocket sender;
    const QString descr = UpsMib::alarmDescrColumn + QStringLiteral(".1");
    std::vector<double> samples;
    for (int i = 0; i < 1000; ++i) {
        const bool added = i % 2 == 0;
        const QByteArray trap = Ber::v2cTrap("public", added ? "1.3.6.1.2.1.33.2.3" : "1.3.6.1.2.1.33.2.4",
                                             {{descr, Ber::oid("1.3.6.1.2.1.33.1.6.3.6")}}, i + 1);
        QElapsedTimer t;
        t.start();
        sender.writeDatagram(trap, QHostAddress::LocalHost, quint16(trapPort));
        samples.push_back(waitFor(t, [&] { return upsStatus.snapshot().utilityFail == added; }));
    }
    printLatency("trap datagram sent -> UpsStatus changed", samples);
}

void benchPolls()
{
    UpsAgentFixture agent;
    if (!agent.start()) {
        std::printf("polls: upsagent did not start\n");
        return;
    }
    Core core(agent.port(), freeUdpPort());
    core.thread->takeUpInitialSettings();
    snmpSession->startEventThread();
    core.thread->pollCycle();
    core.waitIdle();
    std::vector<double> raised, cleared;
    for (int i = 0; i < 50; ++i) {
        agent.raise(QStringLiteral("utility"));
        core.thread->pollCycle(); // learns the count
        core.waitIdle();
        QElapsedTimer t;
        t.start();
        core.thread->pollCycle(); // count + table walk
        raised.push_back(waitFor(t, [] { return upsStatus.snapshot().utilityFail; }));
        core.waitIdle();
        agent.clear(QStringLiteral("utility"));
        t.restart();
        core.thread->pollCycle();
        cleared.push_back(waitFor(t, [] { return !upsStatus.snapshot().utilityFail; }));
        core.waitIdle();
    }
    printLatency("poll sent -> alarm set (count + walk, v2c)", raised);
    printLatency("poll sent -> alarm cleared (count 0, v2c)", cleared);
}

void benchIdle()
{
    Core core(freeUdpPort(), freeUdpPort());
    core.thread->takeUpInitialSettings();
    snmpSession->startEventThread();
    QThread::msleep(200);
    const quint64 before = snmpSession->eventThreadWakeups();
    const double cpu = cpuSeconds();
    QThread::sleep(10);
    std::printf("event thread, listening, nothing sent: %.2f wake-ups/s over 10 s, CPU %.1f ms\n",
                double(snmpSession->eventThreadWakeups() - before) / 10.0, (cpuSeconds() - cpu) * 1000);
}

void benchMonitor()
{
    UpsAgentFixture agent;
    if (!agent.start()) {
        std::printf("monitor: upsagent did not start\n");
        return;
    }
    Core core(agent.port(), freeUdpPort());
    core.thread->start();
    QThread::sleep(3);
    const quint64 wakeups = snmpSession->eventThreadWakeups();
    const double cpu = cpuSeconds();
    QThread::sleep(60);
    const double used = cpuSeconds() - cpu;
    std::printf("in-process core polling a quiet agent (v2c, 1 Hz) for 60 s: CPU %.1f ms (%.4f %% of a core), "
                "event thread %.2f wake-ups/s\n",
                used * 1000, used / 60 * 100, double(snmpSession->eventThreadWakeups() - wakeups) / 60.0);
}

void benchUsers()
{
    TempDataDir data;
    QList<UsmUser> users;
    for (int i = 0; i < 100000; ++i) {
        users.append({QStringLiteral("user%1").arg(i), UsmAuthProtocol::HmacSha, QStringLiteral("authpass%1").arg(i),
                      UsmPrivProtocol::Aes128, QStringLiteral("privpass%1").arg(i)});
    }
    QFile file(usmUsersFilePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(UsmUserTable::encode(users)) < 0) {
        std::printf("users: cannot write %s\n", qPrintable(file.fileName()));
        return;
    }
    file.close();
    QElapsedTimer t;
    t.start();
    UsmUserTable table;
    table.load(file.fileName());
    std::printf("usm_users.bin with %d users (%lld kB): UsmUserTable::load %lld ms\n", table.count(),
                file.size() / 1024, t.elapsed());
    // As the main window does it: the session drops the keys of every user loaded.
    t.restart();
    openSnmpSession();
    const int loaded = snmpV3 ? snmpV3->usm().count() : 0;
    std::printf("openSnmpSession with those %d users: %lld ms\n", loaded, t.elapsed());
    closeSnmpSession();
}

void benchProcess(int minutes)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("process: needs a display (run under xvfb-run)\n");
        return;
    }
    UpsAgentFixture agent;
    if (!agent.start()) {
        std::printf("process: upsagent did not start\n");
        return;
    }
    BinaryRun run;
    run.dataDir().writeParams({{"snmp_port_poll", agent.port()}, {"retries", 1}});
    run.environment().insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/voltiguard-bench");
    run.environment().insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/voltiguard-bench");
    if (!run.start()) {
        std::printf("process: the binary did not start\n");
        return;
    }
    const qint64 pid = run.process().processId();
    QThread::sleep(5);
    const ProcStat start = procStat(pid);
    QThread::sleep(60);
    const ProcStat oneMinute = procStat(pid);
    std::printf("voltiguard process monitoring a quiet agent for 60 s: CPU %.0f ms (%.3f %% of a core)\n",
                (oneMinute.cpu - start.cpu) * 1000, (oneMinute.cpu - start.cpu) / 60 * 100);
    std::printf("resident memory after 1 min: %ld kB\n", oneMinute.rssKb);
    std::printf("CPU by thread since the start:");
    for (const QString &task :
         QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/%1/task/%2/comm").arg(pid).arg(task));
        QFile stat(QStringLiteral("/proc/%1/task/%2/stat").arg(pid).arg(task));
        if (!comm.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        const double ms = (f.value(11).toDouble() + f.value(12).toDouble()) * 1000 / double(sysconf(_SC_CLK_TCK));
        if (ms > 0)
            std::printf("  %s %.0f ms", comm.readAll().trimmed().constData(), ms);
    }
    std::printf("\n");
    for (int m = 2; m <= minutes; ++m) {
        QThread::sleep(60);
        const ProcStat s = procStat(pid);
        std::printf("resident memory after %d min: %ld kB (CPU so far %.2f s)\n", m, s.rssKb, s.cpu);
        std::fflush(stdout);
    }
    run.stop();
}
qint64 nowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// When a file was last replaced, on the same clock as nowUs().
qint64 modifiedUs(const QString &path)
{
    struct stat st
    {
    };
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return qint64(st.st_mtim.tv_sec) * 1000000 + st.st_mtim.tv_nsec / 1000;
}

// Rows of the binary's log.db, read as another process would while it runs.
class LogWatch
{
public:
    explicit LogWatch(const QString &path)
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
        m_db.setDatabaseName(path);
        m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=50"));
    }
    ~LogWatch()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("bench"));
    }
    qint64 lastRow()
    {
        if (!m_db.isOpen() && !m_db.open())
            return 0;
        QSqlQuery q(m_db);
        return q.exec(QStringLiteral("select max(rowid) from log")) && q.next() ? q.value(0).toLongLong() : 0;
    }
    bool has(qint64 after, int id)
    {
        if (!m_db.isOpen() && !m_db.open())
            return false;
        QSqlQuery q(m_db);
        q.prepare(QStringLiteral("select 1 from log where rowid > ? and id = ? limit 1"));
        q.addBindValue(after);
        q.addBindValue(id);
        return q.exec() && q.next();
    }
    // Waits for a row with that event id after the given row; returns the wall-clock
    // time at which it was seen (polled every millisecond), or 0.
    qint64 waitFor(qint64 after, int id, int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (has(after, id))
                return nowUs();
            QThread::usleep(1000);
        }
        return 0;
    }

private:
    QSqlDatabase m_db;
};

void printMs(const char *what, std::vector<double> ms)
{
    if (ms.empty()) {
        std::printf("%-52s no sample\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-52s n=%zu  median %.0f ms  max %.0f ms  (min %.0f ms)\n", what, ms.size(), ms[ms.size() / 2],
                ms.back(), ms.front());
}

// The real binary under Xvfb against snmpd, timed from the outside by its log.db rows:
// trap -> row, poll-only change -> row, agent silenced -> "Agent Unconnected", and,
// with Utility_time 0, a utility failure in the agent's table -> PowerOff on the
// logind mock (which only records it).
void benchLatency(int trials)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("latency: needs a display (run under xvfb-run)\n");
        return;
    }
    LogindMock logind;
    if (!logind.start()) {
        std::printf("latency: logind mock: %s\n", qPrintable(logind.error()));
        return;
    }
    UpsAgentFixture agent;
    if (!agent.start()) {
        std::printf("latency: upsagent did not start\n");
        return;
    }
    const int trapPort = freeUdpPort();
    BinaryRun run;
    // Default time-out and retries, as a new user has them.
    run.dataDir().writeParams({{"snmp_port_poll", agent.port()},
                               {"snmp_port_trace", trapPort},
                               {"retries", 1},
                               {"timeout", 1},
                               {"shutdown", true},
                               {"Utility_para", true},
                               {"Utility_time", 0}});
    run.environment().insert("DBUS_SYSTEM_BUS_ADDRESS", logind.address());
    run.environment().insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/voltiguard-bench");
    if (!run.start()) {
        std::printf("latency: the binary did not start\n");
        return;
    }
    LogWatch log(run.dataDir().file(QStringLiteral("log.db")));
    if (!log.waitFor(0, 9, 20000)) {
        std::printf("latency: the binary never logged \"UPS Connected\"\n");
        return;
    }
    const QString state = agent.dir() + QStringLiteral("/state.json");
    QUdpSocket sender;
    const QByteArray inputBad = Ber::oid(QStringLiteral("1.3.6.1.2.1.33.1.6.3.6"));
    auto trap = [&](bool added, int id) {
        sender.writeDatagram(Ber::v2cTrap("public", added ? "1.3.6.1.2.1.33.2.3" : "1.3.6.1.2.1.33.2.4",
                                          {{"1.3.6.1.2.1.33.1.6.2.1.2.1", inputBad}}, id),
                             QHostAddress::LocalHost, quint16(trapPort));
    };
    // Lets the binary settle so that every trial starts from a random point of its second.
    auto pause = [] { QThread::msleep(700 + QRandomGenerator::global()->bounded(600)); };

    std::vector<double> trapMs, pollMs, powerOffMs, silentMs;
    int beaten = 0;
    for (int i = 0; i < trials; ++i) {
        for (bool added : {true, false}) {
            pause();
            // The table changes first, as on a real agent, then the trap goes out.
            const int id = added ? 0 : 3;
            const qint64 before = log.lastRow();
            added ? agent.raise(QStringLiteral("utility")) : agent.clear(QStringLiteral("utility"));
            // A poll may have read the table before the trap goes out: no trap sample.
            if (log.has(before, id)) {
                ++beaten;
                continue;
            }
            const qint64 sent = nowUs();
            trap(added, 1000 + i);
            if (const qint64 seen = log.waitFor(before, id, 5000))
                trapMs.push_back(double(seen - sent) / 1000);
        }
    }
    for (int i = 0; i < trials; ++i) {
        for (bool added : {true, false}) {
            pause();
            const qint64 before = log.lastRow();
            const int calls = added ? logind.calls(QStringLiteral("PowerOff")).size() : 0;
            added ? agent.raise(QStringLiteral("utility")) : agent.clear(QStringLiteral("utility"));
            const qint64 changed = modifiedUs(state);
            const qint64 seen = log.waitFor(before, added ? 0 : 3, 5000);
            if (seen)
                pollMs.push_back(double(seen - changed) / 1000);
            if (!added)
                continue;
            QElapsedTimer t;
            t.start();
            while (logind.calls(QStringLiteral("PowerOff")).size() == calls && t.elapsed() < 5000)
                QThread::msleep(5);
            if (logind.calls(QStringLiteral("PowerOff")).size() > calls)
                powerOffMs.push_back(double(nowUs() - changed) / 1000);
        }
    }
    for (int i = 0; i < trials; ++i) {
        pause();
        const qint64 before = log.lastRow();
        ::kill(pid_t(agent.pid()), SIGSTOP);
        const qint64 stopped = nowUs();
        const qint64 seen = log.waitFor(before, 6, 30000);
        if (seen)
            silentMs.push_back(double(seen - stopped) / 1000);
        const qint64 back = log.lastRow();
        ::kill(pid_t(agent.pid()), SIGCONT);
        log.waitFor(back, 7, 30000);
    }
    run.stop();
    std::printf("voltiguard binary, v2c, timeout 1 s, retries 1, %d trials of each change:\n", trials);
    printMs("trap sent -> row in log.db", trapMs);
    printMs("table changed, no trap -> row in log.db", pollMs);
    printMs("utility failure in the table -> PowerOff (Utility_time 0)", powerOffMs);
    printMs("agent silenced -> \"Agent Unconnected\" row", silentMs);
    if (beaten)
        std::printf("(%d trap trials dropped: a poll read the table before the trap was sent)\n", beaten);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qputenv("VOLTIGUARD_BINARY", VOLTIGUARD_BINARY);
    if (qEnvironmentVariableIsEmpty("VOLTIGUARD_SOURCE_DIR"))
        qputenv("VOLTIGUARD_SOURCE_DIR", VOLTIGUARD_SOURCE_DIR);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (mode.isEmpty() || mode == "traps")
        benchTraps();
    if (mode.isEmpty() || mode == "polls")
        benchPolls();
    if (mode.isEmpty() || mode == "idle")
        benchIdle();
    if (mode.isEmpty() || mode == "monitor")
        benchMonitor();
    if (mode.isEmpty() || mode == "users")
        benchUsers();
    if (mode == "process")
        benchProcess(argc > 2 ? atoi(argv[2]) : 10);
    if (mode == "latency")
        benchLatency(argc > 2 ? qMax(10, atoi(argv[2])) : 10);
    return 0;
}
