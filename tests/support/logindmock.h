#pragma once

#include <QtDBus>
#include <optional>

// python-dbusmock's logind template on a private bus, which DBUS_SYSTEM_BUS_ADDRESS names while it runs; start()
// fails when the variable is unset, so that nothing can fall back to the real system bus.
class LogindMock
{
public:
    struct Call
    {
        QString method;
        QVariantList args;
    };

    ~LogindMock() { stop(); }
    bool start(const QString &canPowerOff = QStringLiteral("yes"));
    void stop();
    QString address() const { return m_address; }
    bool ownsSystemBusVariable() const;
    QString error() const { return m_error; }
    bool replaceMethod(const QString &method, const QString &inSig, const QString &outSig, const QString &code);
    QList<Call> calls(const QString &method);
    bool clearCalls();
    QList<QStringList> inhibitors(); // what, who, why, mode
    bool prepareForShutdown(bool starting);

private:
    QDBusMessage call(const QString &interface, const QString &method, const QVariantList &args = {});

    QTemporaryDir m_dir;
    QProcess m_daemon, m_mock;
    QString m_address, m_error, m_connection;
    std::optional<QByteArray> m_previous; // while the variable names this bus
};
