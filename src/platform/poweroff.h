#pragma once

#include <QString>
#include <memory>

struct PowerOffResult
{
    bool accepted = false;
    // Why the machine is not going down, in a few words for the log and the user;
    // empty when accepted.
    QString reason;
};

// A forced power-off of the machine: one request, one answer.
class PowerOff
{
public:
    virtual ~PowerOff() = default;
    virtual PowerOffResult requestPowerOff() = 0;
};

// systemd-logind on the D-Bus system bus (DBUS_SYSTEM_BUS_ADDRESS when set): the
// request is made only when CanPowerOff answers "yes", and is PowerOff(false), so
// logind neither asks for a password nor waits for inhibitors held by others.
class LogindPowerOff : public PowerOff
{
public:
    explicit LogindPowerOff(int callTimeoutMs = 10000) : m_callTimeoutMs(callTimeoutMs) {}
    PowerOffResult requestPowerOff() override;

private:
    int m_callTimeoutMs;
};

std::unique_ptr<PowerOff> createPowerOff();
