#include "app/service.h"
#include "app/serviceoptions.h"
#include "config/params.h"
#include "platform/journal.h"
#include "platform/statusbus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {
// EX_USAGE of sysexits.h: apart from the exit codes that --status gives.
constexpr int usageExitCode = 64;

void printLine(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
}

int printStatus()
{
    buildEventTexts();
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        printLine(QStringLiteral("UNKNOWN: no system bus (%1)").arg(bus.lastError().message()));
        return 3;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(StatusBus::service, StatusBus::path,
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    call << StatusBus::interface;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        const QString name = reply.errorName();
        if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            printLine(QStringLiteral("UNKNOWN: voltiguard-service is not running"));
        else
            printLine(QStringLiteral("UNKNOWN: the service does not answer (%1)").arg(reply.errorMessage()));
        return 3;
    }
    const ServiceStatus status = ServiceStatus::fromProperties(qdbus_cast<QVariantMap>(reply.arguments().constFirst()));
    printLine(status.summary());
    for (const QString &line : status.details())
        printLine(QStringLiteral("  ") + line);
    return status.exitCode();
}

int checkConfig(const QString &path)
{
    QStringList lines;
    if (!QFileInfo::exists(path)) {
        lines << QStringLiteral("%1: does not exist").arg(path);
    } else {
        Params checked;
        QStringList taken;
        bool ipNamed = false;
        for (const ParamProblem &problem : readParamFile(path, checked, &taken)) {
            lines << describeParamProblem(path, problem);
            ipNamed |= problem.key == QLatin1String("ip");
        }
        if (!ipNamed && !taken.contains(QStringLiteral("ip")))
            lines << QStringLiteral("%1: no \"ip\": the service watches no agent").arg(path);
    }
    for (const QString &line : lines)
        printLine(line);
    return lines.isEmpty() ? 0 : 1;
}

int runService(const QString &configPath)
{
    const QString stateDir = serviceStateDir();
    // A system service has no XDG_RUNTIME_DIR; Qt and the SNMP library keep their
    // few runtime files in the unit's RuntimeDirectory, or else in the state
    // directory, both private to root.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = qEnvironmentVariable("RUNTIME_DIRECTORY").section(QLatin1Char(':'), 0, 0);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.isEmpty() ? stateDir : runtime));
    }
    MonitorService service(configPath, stateDir);
    if (!service.start())
        return 1;
    return QCoreApplication::exec();
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("voltiguard-service"));
    const ServiceOptions options = parseServiceOptions(QCoreApplication::arguments());
    switch (options.command) {
    case ServiceOptions::Command::Help:
        std::fputs(qPrintable(serviceHelpText()), stdout);
        return 0;
    case ServiceOptions::Command::Version:
        std::printf("voltiguard-service %s\n", VOLTIGUARD_VERSION);
        return 0;
    case ServiceOptions::Command::Invalid:
        std::fprintf(stderr, "voltiguard-service: %s\nTry 'voltiguard-service --help' for more information.\n",
                     qPrintable(options.error));
        return usageExitCode;
    case ServiceOptions::Command::Status:
        return printStatus();
    case ServiceOptions::Command::CheckConfig:
        return checkConfig(options.configPath);
    case ServiceOptions::Command::Run:
        break;
    }
    return runService(options.configPath);
}
