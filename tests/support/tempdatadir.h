#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QVariantMap>

// A fresh data directory for one test, with a param.ini that only ever names
// loopback agents.
class TempDataDir
{
public:
    TempDataDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    // Writes param.ini: agent 127.0.0.1 on a silent port unless values say otherwise.
    void writeParams(const QVariantMap &values = {}) const;

private:
    QTemporaryDir m_dir;
};

// A UDP port on 127.0.0.1 on which nothing listens right now.
int freeUdpPort();

// An executable shell script that appends a line to marker each time it runs.
bool writeMarkerScript(const QString &script, const QString &marker);
