#include "singleinstance.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

SingleInstance::SingleInstance(const QString &lockPath) : m_lock(std::make_unique<QLockFile>(lockPath))
{
    QDir().mkpath(QFileInfo(lockPath).absolutePath());
    // Never stale by age: only a lock whose owner process is gone is taken over.
    m_lock->setStaleLockTime(0);
    m_acquired = m_lock->tryLock(0);
}

QString SingleInstance::defaultLockPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/Voltiguard.lock");
}
