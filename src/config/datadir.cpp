#include "datadir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

namespace {
QMutex dirMutex;
QString chosenDir;
} // namespace

QString chooseDataDir(const QString &appDir)
{
    const QFileInfo info(appDir);
    if (info.isDir() && info.isWritable())
        return QDir::cleanPath(appDir);
    const QString fallback = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(fallback);
    return QDir::cleanPath(fallback);
}

QString dataDir()
{
    QMutexLocker locker(&dirMutex);
    if (chosenDir.isEmpty())
        chosenDir = chooseDataDir(QCoreApplication::applicationDirPath());
    return chosenDir;
}

QString dataFilePath(const QString &name)
{
    return dataDir() + QLatin1Char('/') + name;
}

void setDataDir(const QString &dir)
{
    QMutexLocker locker(&dirMutex);
    chosenDir = QDir::cleanPath(dir);
}
