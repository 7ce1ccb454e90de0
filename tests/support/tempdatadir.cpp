#include "tempdatadir.h"

#include "config/datadir.h"

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
