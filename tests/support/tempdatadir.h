#pragma once

#include <QtCore>

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

int freeUdpPort();

bool writeMarkerScript(const QString &script, const QString &marker);

bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray fileBytes(const QString &path);
// Runs the statements on an SQLite file in one transaction, read-only when they only select (no file is made);
// the rows selected, columns joined by '|'.
QStringList sqlRows(const QString &path, const QStringList &statements);
