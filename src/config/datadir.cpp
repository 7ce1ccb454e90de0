#include "datadir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>
#include <cstdio>
#include <optional>

namespace {
const QString appDirName = QStringLiteral("voltiguard");
const QString saveDirName = QStringLiteral("Temp");
const QStringList configFiles{QStringLiteral("param.ini"), QStringLiteral("usm_users.bin")};
const QStringList stateFiles{QStringLiteral("log.db"), QStringLiteral("close_file.db"),
                             QStringLiteral("snmpv3_boot_counter")};

QMutex locationsMutex;
std::optional<DataLocations> chosen;

// A param.ini here was written by an older version run as root, not put here by
// someone who wants a portable install.
bool isSystemProgramDir(const QString &dir)
{
    static const QStringList systemDirs{QStringLiteral("/bin"),           QStringLiteral("/sbin"),
                                        QStringLiteral("/usr/bin"),       QStringLiteral("/usr/sbin"),
                                        QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/local/sbin"),
                                        QStringLiteral("/usr/games")};
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    return systemDirs.contains(canonical.isEmpty() ? QDir::cleanPath(dir) : canonical);
}

QString stateHome()
{
    // Qt 6.4 has no state location of its own.
    const QString env = qEnvironmentVariable("XDG_STATE_HOME");
    if (QDir::isAbsolutePath(env))
        return QDir::cleanPath(env);
    return QDir::homePath() + QStringLiteral("/.local/state");
}

bool makePrivateDir(const QString &dir)
{
    if (!QDir().mkpath(dir))
        return false;
    return QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool samePlace(const QString &a, const QString &b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

void moveFile(const QString &from, const QString &to)
{
    if (!QFileInfo(from).isFile() || QFileInfo::exists(to) || samePlace(from, to))
        return;
    // rename() copies across file systems; the copy keeps the permissions.
    if (QFile::rename(from, to))
        std::fprintf(stderr, "voltiguard: moved %s to %s\n", qPrintable(from), qPrintable(to));
    else
        std::fprintf(stderr, "voltiguard: could not move %s to %s; it stays there\n", qPrintable(from), qPrintable(to));
}

// The saved documents, one by one, so that names already present are kept apart.
void moveDirectoryContents(const QString &from, const QString &to)
{
    if (!QFileInfo(from).isDir() || samePlace(from, to))
        return;
    const QDir source(from);
    for (const QFileInfo &entry : source.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() && !entry.isSymLink()) {
            if (QDir().mkpath(target))
                moveDirectoryContents(entry.filePath(), target);
        } else {
            moveFile(entry.filePath(), target);
        }
    }
    source.rmdir(from);
}
} // namespace

DataLocations DataLocations::portable(const QString &dir)
{
    const QString clean = QDir::cleanPath(dir);
    return {clean, clean, clean + QLatin1Char('/') + saveDirName};
}

DataLocations DataLocations::userDirs()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return {config + QLatin1Char('/') + appDirName, stateHome() + QLatin1Char('/') + appDirName,
            data + QLatin1Char('/') + appDirName + QLatin1Char('/') + saveDirName};
}

bool DataLocations::operator==(const DataLocations &other) const
{
    return configDir == other.configDir && stateDir == other.stateDir && saveDir == other.saveDir;
}

DataLocations chooseDataLocations(const QString &appDir, const DataLocations &installed)
{
    if (QFileInfo(appDir + QStringLiteral("/param.ini")).isFile() && !isSystemProgramDir(appDir))
        return DataLocations::portable(appDir);
    return installed;
}

QString legacyDataDir(const QString &appDir)
{
    const QFileInfo info(appDir);
    if (info.isDir() && info.isWritable())
        return QDir::cleanPath(appDir);
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/') + appDirName;
}

void prepareDataLocations(const DataLocations &locations, const QString &legacyDir)
{
    const bool portable = locations.configDir == locations.stateDir;
    // A portable install keeps its directory as the user made it; the others are private.
    if (!portable) {
        makePrivateDir(locations.configDir);
        makePrivateDir(locations.stateDir);
    }
    if (portable || legacyDir.isEmpty() || !QFileInfo(legacyDir).isDir())
        return;
    for (const QString &name : configFiles)
        moveFile(legacyDir + QLatin1Char('/') + name, locations.configDir + QLatin1Char('/') + name);
    for (const QString &name : stateFiles)
        moveFile(legacyDir + QLatin1Char('/') + name, locations.stateDir + QLatin1Char('/') + name);
    const QString legacySave = legacyDir + QLatin1Char('/') + saveDirName;
    if (QFileInfo(legacySave).isDir() && makePrivateDir(locations.saveDir))
        moveDirectoryContents(legacySave, locations.saveDir);
}

DataLocations dataLocations()
{
    QMutexLocker locker(&locationsMutex);
    if (!chosen) {
        const QString appDir = QCoreApplication::applicationDirPath();
        chosen = chooseDataLocations(appDir, DataLocations::userDirs());
        prepareDataLocations(*chosen, legacyDataDir(appDir));
    }
    return *chosen;
}

void setDataLocations(const DataLocations &locations)
{
    QMutexLocker locker(&locationsMutex);
    chosen = locations;
}

void setDataDir(const QString &dir)
{
    setDataLocations(DataLocations::portable(dir));
}

QString configFilePath(const QString &name)
{
    return dataLocations().configDir + QLatin1Char('/') + name;
}

QString stateFilePath(const QString &name)
{
    return dataLocations().stateDir + QLatin1Char('/') + name;
}

QString documentSaveDir()
{
    const QString dir = dataLocations().saveDir;
    if (!QFileInfo(dir).isDir())
        makePrivateDir(dir);
    return dir;
}
