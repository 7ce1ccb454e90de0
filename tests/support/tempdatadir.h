#pragma once

#include <QtCore>

// A fresh data directory for one test.
class TempDataDir
{
public:
    TempDataDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    // param.ini naming agent 127.0.0.1 on a silent port unless values say otherwise; never another host.
    void writeParams(const QVariantMap &values = {}) const;

private:
    QTemporaryDir m_dir;
};

// A UDP port on 127.0.0.1 on which nothing listens right now.
int freeUdpPort();

// An executable shell script that appends a line to marker each time it runs.
bool writeMarkerScript(const QString &script, const QString &marker);

bool writeFile(const QString &path, const QByteArray &bytes);
// Empty when the file cannot be read.
QByteArray fileBytes(const QString &path);
