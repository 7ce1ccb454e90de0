#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

// One instance per user: a lock file in the user's runtime directory, held for the
// life of the process. A lock left by a crashed instance is taken over.
class SingleInstance
{
public:
    explicit SingleInstance(const QString &lockPath = defaultLockPath());
    bool acquired() const { return m_acquired; }
    static QString defaultLockPath();

private:
    std::unique_ptr<QLockFile> m_lock;
    bool m_acquired = false;
};
