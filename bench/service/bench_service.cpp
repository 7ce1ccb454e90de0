// The cost of watching a quiet UPS: CPU time per minute and resident memory of
// voltiguard-service next to the desktop program, both polling the same loopback
// agent once a second. Usage: xvfb-run -a bench_service [minutes] (default 3); the
// desktop program needs the display, the service does not use it.

#include "binaryrun.h"
#include "procstat.h"
#include "tempdatadir.h"
#include "upsagentfixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace {
const char guardBus[] = "unix:path=/nonexistent/voltiguard-bench";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    qputenv("VOLTIGUARD_BINARY", VOLTIGUARD_BINARY);
    if (qEnvironmentVariableIsEmpty("VOLTIGUARD_SOURCE_DIR"))
        qputenv("VOLTIGUARD_SOURCE_DIR", VOLTIGUARD_SOURCE_DIR);
    const int minutes = argc > 1 ? qMax(1, atoi(argv[1])) : 3;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("needs a display for the desktop program (run under xvfb-run)\n");
        return 1;
    }
    UpsAgentFixture agent;
    if (!agent.start()) {
        std::printf("upsagent did not start\n");
        return 1;
    }

    BinaryRun desktop;
    desktop.dataDir().writeParams({{"snmp_port_poll", agent.port()}, {"retries", 1}});
    desktop.environment().insert("DBUS_SYSTEM_BUS_ADDRESS", guardBus);
    desktop.environment().insert("DBUS_SESSION_BUS_ADDRESS", guardBus);

    TempDataDir serviceDir;
    serviceDir.writeParams({{"snmp_port_poll", agent.port()}, {"retries", 1}});
    QProcess service;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", guardBus);
    env.insert("DBUS_SESSION_BUS_ADDRESS", guardBus);
    env.insert("STATE_DIRECTORY", serviceDir.file("state"));
    env.remove("DISPLAY");
    service.setProcessEnvironment(env);
    service.setStandardErrorFile(serviceDir.file("journal"));
    service.start(VOLTIGUARD_SERVICE_BINARY, {"--config", serviceDir.file("param.ini")});
    if (!desktop.start() || !service.waitForStarted(10000)) {
        std::printf("a program did not start\n");
        return 1;
    }
    const struct
    {
        const char *name;
        qint64 pid;
    } programs[] = {{"voltiguard-service", service.processId()}, {"voltiguard (Xvfb)", desktop.process().processId()}};

    QThread::sleep(5);
    ProcStat start[2];
    for (int i = 0; i < 2; ++i)
        start[i] = procStat(programs[i].pid);
    std::printf("monitoring a quiet agent (v2c, 1 Hz, retries 1) for %d min after 5 s:\n", minutes);
    for (int m = 1; m <= minutes; ++m) {
        QThread::sleep(60);
        for (int i = 0; i < 2; ++i) {
            const ProcStat now = procStat(programs[i].pid);
            std::printf("  %-20s minute %d: CPU %.0f ms per minute (%.3f %% of a core), resident %ld kB\n",
                        programs[i].name, m, (now.cpu - start[i].cpu) * 1000 / m,
                        (now.cpu - start[i].cpu) / (60.0 * m) * 100, now.rssKb);
        }
    }
    service.terminate();
    service.waitForFinished(10000);
    desktop.stop();
    return 0;
}
