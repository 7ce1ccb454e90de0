#pragma once

#include "snmpsession.h"
#include "usmusers.h"

#include <memory>

// The SNMPv3 engine: our engine ID, its boot count and the USM user table.
class SnmpV3Engine
{
public:
    SnmpV3Engine(const QByteArray &engineId, quint32 boots) : m_engineId(engineId), m_boots(boots) {}

    QByteArray engineId() const { return m_engineId; }
    quint32 engineBoots() const { return m_boots; }
    UsmUserTable &usm() { return m_usm; }

private:
    QByteArray m_engineId;
    quint32 m_boots;
    UsmUserTable m_usm;
};

// The one SNMP session and the SNMPv3 engine, alive from the main window's
// initialisation to its destruction; both empty outside that time, and snmpV3 also
// when the session could not be opened.
extern std::unique_ptr<SnmpSession> snmpSession;
extern std::unique_ptr<SnmpV3Engine> snmpV3;

// Raises the boot counter, opens the session and, when it is usable, the engine with
// the users of usm_users.bin. Returns false when the session could not be opened
// (snmpSession then holds the failed session).
bool openSnmpSession();
// Deletes the session, then the engine.
void closeSnmpSession();
