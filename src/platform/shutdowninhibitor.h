#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

// A systemd-logind "delay" inhibitor for shutdown, held while the owner runs: any
// shutdown of the machine, ours or another's, first announces itself
// (PrepareForShutdown) and waits, at most logind's InhibitDelayMaxSec, until the
// owner has written what it must and calls release(). Taken again when a shutdown
// is called off. Without a system bus or logind there is nothing to hold, and
// nothing is reported: the power-off itself reports that.
class ShutdownInhibitor : public QObject
{
    Q_OBJECT
public:
    ShutdownInhibitor(const QString &who, const QString &why, QObject *parent = nullptr);
    ~ShutdownInhibitor() override;

    bool isHeld() const { return m_fd.isValid(); }
    void release();

signals:
    void prepareForShutdown();

private slots:
    void onPrepareForShutdown(bool starting);

private:
    void take();

    QString m_connectionName;
    QString m_who;
    QString m_why;
    QDBusUnixFileDescriptor m_fd;
};
