#include "serviceoptions.h"

#include <QDir>

ServiceOptions parseServiceOptions(const QStringList &arguments)
{
    ServiceOptions o;
    o.configPath = defaultServiceConfig;
    auto invalid = [&o](const QString &error) {
        o.command = ServiceOptions::Command::Invalid;
        o.error = error;
        return o;
    };
    bool commandGiven = false;
    auto setCommand = [&](ServiceOptions::Command c) {
        if (commandGiven && o.command != c)
            return false;
        o.command = c;
        commandGiven = true;
        return true;
    };
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        QString value;
        const int eq = a.indexOf(QLatin1Char('='));
        const QString name = a.startsWith(QLatin1String("--")) && eq > 0 ? a.left(eq) : a;
        const bool takesValue =
            name == QLatin1String("--config") || name == QLatin1String("-c") || name == QLatin1String("--check-config");
        if (takesValue) {
            if (eq > 0 && name != a)
                value = a.mid(eq + 1);
            else if (i + 1 < arguments.size())
                value = arguments.at(++i);
            else
                return invalid(QStringLiteral("option %1 needs a file name").arg(name));
            if (value.isEmpty())
                return invalid(QStringLiteral("option %1 needs a file name").arg(name));
        } else if (name != a) {
            return invalid(QStringLiteral("option %1 takes no value").arg(name));
        }

        bool ok = true;
        if (name == QLatin1String("-h") || name == QLatin1String("--help"))
            ok = setCommand(ServiceOptions::Command::Help);
        else if (name == QLatin1String("-v") || name == QLatin1String("--version"))
            ok = setCommand(ServiceOptions::Command::Version);
        else if (name == QLatin1String("--status"))
            ok = setCommand(ServiceOptions::Command::Status);
        else if (name == QLatin1String("--check-config"))
            ok = setCommand(ServiceOptions::Command::CheckConfig);
        else if (name != QLatin1String("-c") && name != QLatin1String("--config"))
            return invalid(QStringLiteral("unknown option %1").arg(a));
        if (!ok)
            return invalid(QStringLiteral("%1 cannot be combined with the other command given").arg(name));
        if (takesValue)
            o.configPath = value;
    }
    return o;
}

QString serviceHelpText()
{
    return QStringLiteral("Usage: voltiguard-service [OPTION]...\n"
                          "Watch a UPS through its SNMP agent (UPS-MIB, SNMP v1, v2c or v3) without a\n"
                          "desktop, and power the machine off through systemd-logind when the mains power\n"
                          "fails, the battery runs low or the UPS reports a fault for longer than the\n"
                          "settings allow. Every event goes to the event log and to the journal; the\n"
                          "state is published on the D-Bus system bus.\n"
                          "\n"
                          "  -c, --config FILE        read the settings from FILE\n"
                          "                           (default /etc/voltiguard/param.ini)\n"
                          "      --check-config FILE  check FILE as a param.ini, print every problem\n"
                          "                           with its key, and exit (0: no problem, 1: problems)\n"
                          "      --status             print the state of the running service and exit:\n"
                          "                           0 agent and UPS connected, no condition present;\n"
                          "                           1 a condition (utility failure, battery low, UPS\n"
                          "                           failure) is present; 2 the agent or the UPS is\n"
                          "                           lost, or no agent is configured; 3 no service runs\n"
                          "  -h, --help               display this help and exit\n"
                          "  -v, --version            output version information and exit\n"
                          "\n"
                          "SIGHUP reads the settings again; SIGTERM and SIGINT write the pending events\n"
                          "and end the service.\n");
}

QString serviceStateDir()
{
    // Several directories are separated by colons; the unit names one.
    const QString fromSystemd = qEnvironmentVariable("STATE_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    return QDir::isAbsolutePath(fromSystemd) ? QDir::cleanPath(fromSystemd) : defaultServiceStateDir;
}
