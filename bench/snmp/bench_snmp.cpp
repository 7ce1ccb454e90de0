// Figures of the monitoring core: trap and poll latency, idle wake-ups, CPU time and
// resident memory. Usage: bench_snmp [traps|polls|idle|monitor|process [minutes]]
// (no argument: everything but "process"). "process" runs the real binary and needs a
// display (xvfb-run).

#include "berpacket.h"
#include "binaryrun.h"
#include "config/params.h"
#include "model/upsstatus.h"
#include "snmp/snmpengine.h"
#include "snmp/snmpthread.h"
#include "tempdatadir.h"
#include "upsagentfixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
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

struct ProcStat
{
    double cpu = 0;
    long rssKb = 0;
};

ProcStat procStat(qint64 pid)
{
    ProcStat s;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        const double tick = double(sysconf(_SC_CLK_TCK));
        s.cpu = (f.value(11).toDouble() + f.value(12).toDouble()) / tick;
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &l : status.readAll().split('\n')) {
            if (l.startsWith("VmRSS:"))
                s.rssKb = l.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return s;
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
    for (int m = 2; m <= minutes; ++m) {
        QThread::sleep(60);
        const ProcStat s = procStat(pid);
        std::printf("resident memory after %d min: %ld kB (CPU so far %.2f s)\n", m, s.rssKb, s.cpu);
        std::fflush(stdout);
    }
    run.stop();
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
    if (mode == "process")
        benchProcess(argc > 2 ? atoi(argv[2]) : 10);
    return 0;
}
