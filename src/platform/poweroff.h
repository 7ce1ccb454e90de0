#pragma once

#include <memory>

// A forced power-off of the machine: one request, one success/failure answer.
class PowerOff
{
public:
    virtual ~PowerOff() = default;
    // True when the system accepted the request; false, silently, on any failure.
    virtual bool requestPowerOff() = 0;
};

// systemd-logind on the D-Bus system bus (DBUS_SYSTEM_BUS_ADDRESS when set): the
// request is made only when CanPowerOff answers "yes", and is PowerOff(false), so
// logind neither asks for a password nor waits for inhibitors held by others.
class LogindPowerOff : public PowerOff
{
public:
    explicit LogindPowerOff(int callTimeoutMs = 10000) : m_callTimeoutMs(callTimeoutMs) {}
    bool requestPowerOff() override;

private:
    int m_callTimeoutMs;
};

std::unique_ptr<PowerOff> createPowerOff();
