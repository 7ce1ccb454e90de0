#include "helpfile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString helpFilePath(bool chinese, const QString &appDir)
{
    const QString name = chinese ? QStringLiteral("help_cn.html") : QStringLiteral("help_en.html");
    for (const QString &candidate :
         {appDir + QLatin1Char('/') + name, appDir + QStringLiteral("/../share/voltiguard/") + name}) {
        if (QFileInfo(candidate).isFile())
            return QDir::cleanPath(candidate);
    }
    return QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("voltiguard/") + name);
}
