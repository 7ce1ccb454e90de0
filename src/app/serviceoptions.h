#pragma once

#include <QString>
#include <QStringList>

// The command line of voltiguard-service.
struct ServiceOptions
{
    enum class Command
    {
        Run,
        Help,
        Version,
        Status,
        CheckConfig,
        Invalid
    };

    Command command = Command::Run;
    QString configPath; // --config, or the file --check-config checks
    QString error;      // Invalid: what was wrong
};

inline const QString defaultServiceConfig = QStringLiteral("/etc/voltiguard/param.ini");
inline const QString defaultServiceStateDir = QStringLiteral("/var/lib/voltiguard");

ServiceOptions parseServiceOptions(const QStringList &arguments);
QString serviceHelpText();
// $STATE_DIRECTORY (its first entry) when systemd set it, else /var/lib/voltiguard.
QString serviceStateDir();
