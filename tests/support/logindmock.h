#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QVariantList>

// A private system-like D-Bus daemon with python-dbusmock's logind template on it.
// While it runs, DBUS_SYSTEM_BUS_ADDRESS of this process names the private bus;
// the previous value comes back when it stops. Everything it starts is ended by
// PID.
class LogindMock
{
public:
    struct Call
    {
        QString method;
        QVariantList args;
    };

    LogindMock();
    ~LogindMock();
    LogindMock(const LogindMock &) = delete;
    LogindMock &operator=(const LogindMock &) = delete;

    // Fails when DBUS_SYSTEM_BUS_ADDRESS is unset at the start: tests must run with
    // the guard value scripts/run-tests sets, so nothing falls back to the real bus.
    // canPowerOff is the template's answer to CanPowerOff.
    bool start(const QString &canPowerOff = QStringLiteral("yes"));
    void stop();

    QString address() const { return m_address; }
    // True when DBUS_SYSTEM_BUS_ADDRESS names this mock's bus and nothing else.
    bool ownsSystemBusVariable() const;
    QString error() const { return m_error; }

    // Replaces a method of the Manager interface by one that fails with the D-Bus
    // error name.
    bool failMethod(const QString &method, const QString &errorName);
    // Replaces a method by one that answers with the given Python expression.
    bool replaceMethod(const QString &method, const QString &inSig, const QString &outSig, const QString &code);
    QList<Call> calls();
    QList<Call> calls(const QString &method);
    bool clearCalls();
    // The inhibitors held, each as what, who, why, mode.
    QList<QStringList> inhibitors();
    // Sends the Manager's PrepareForShutdown signal, as logind does before a shutdown.
    bool prepareForShutdown(bool starting);

private:
    bool addMethod(const QString &method, const QString &inSig, const QString &outSig, const QString &code);

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QProcess m_mock;
    QString m_address;
    QByteArray m_previousAddress;
    bool m_hadPrevious = false;
    bool m_envChanged = false;
    QString m_error;
    QString m_controlName;
};
