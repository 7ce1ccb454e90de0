#include "tempdatadir.h"

#include "config/datadir.h"

#include <QtNetwork>
#include <QtSql>

TempDataDir::TempDataDir()
{
    setDataDir(m_dir.path());
}

void TempDataDir::writeParams(const QVariantMap &values) const
{
    QVariantMap all{{"ip", "127.0.0.1"},
                    {"snmp_port_poll", freeUdpPort()},
                    {"snmp_port_trace", freeUdpPort()},
                    {"retries", 0},
                    {"timeout", 1}};
    all.insert(values);
    if (!all.value("ip").toString().startsWith(QLatin1String("127.")))
        qFatal("test param.ini must name a loopback agent");
    QSettings s(file("param.ini"), QSettings::IniFormat);
    for (auto it = all.begin(); it != all.end(); ++it)
        s.setValue(it.key(), it.value());
}

int freeUdpPort()
{
    QUdpSocket socket;
    socket.bind(QHostAddress::LocalHost, 0);
    return socket.localPort();
}

bool writeMarkerScript(const QString &script, const QString &marker)
{
    return writeFile(script, QStringLiteral("#!/bin/sh\necho started >> '%1'\n").arg(marker).toUtf8()) &&
           QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList sqlRows(const QString &path, const QStringList &statements)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "sqlRows");
        db.setDatabaseName(path);
        const bool reading =
            std::all_of(statements.begin(), statements.end(), [](const QString &s) { return s.startsWith("select"); });
        db.setConnectOptions(QString(reading ? "QSQLITE_OPEN_READONLY;" : "") + "QSQLITE_BUSY_TIMEOUT=2000");
        db.open();
        db.transaction();
        QSqlQuery q(db);
        for (const QString &s : statements) {
            q.exec(s);
            while (q.next()) {
                QStringList row;
                for (int i = 0; i < q.record().count(); ++i)
                    row << q.value(i).toString();
                rows << row.join('|');
            }
        }
        db.commit();
    }
    QSqlDatabase::removeDatabase("sqlRows");
    return rows;
}
