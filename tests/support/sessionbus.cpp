#include "sessionbus.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

QString startPrivateSessionBus(QProcess &daemon, const QTemporaryDir &dir)
{
    QFile conf(dir.filePath(QStringLiteral("session.conf")));
    if (!conf.open(QIODevice::WriteOnly))
        return {};
    conf.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                              "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                              "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                              "</policy></busconfig>")
                   .arg(dir.path())
                   .toUtf8());
    conf.close();
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=") + conf.fileName(), QStringLiteral("--print-address"),
                  QStringLiteral("--nofork"), QStringLiteral("--nopidfile")});
    if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000))
        return {};
    return QString::fromUtf8(daemon.readLine().trimmed());
}
