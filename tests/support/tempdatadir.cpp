#include "tempdatadir.h"

#include "config/datadir.h"

#include <QFile>
#include <QSettings>
#include <QTest>
#include <QUdpSocket>

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
    for (auto it = values.begin(); it != values.end(); ++it)
        all[it.key()] = it.value();
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
    QFile f(script);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QStringLiteral("#!/bin/sh\necho started >> '%1'\n").arg(marker).toUtf8());
    f.close();
    return f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
