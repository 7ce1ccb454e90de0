"""State of the simulated UPS agent, shared by the command line and the pass_persist handler.

The state directory holds:
  state.json        alarms, instance form and count override (read by the handler on every request)
  agent.json        how the running snmpd was started (port, pid, community, engine ID, start time)
  state.lock        serialises read-modify-write of state.json between concurrent commands
  snmpd.conf        generated on every start
  snmpd.pid, snmpd.log, passpersist.pid
  persist/          snmpd's persistent directory (engine boots, users)
  client/           SNMPCONFPATH and persistent directory of the net-snmp tools run by upsagent
"""

import contextlib
import fcntl
import json
import os
import tempfile
import time

UPS_MIB = "1.3.6.1.2.1.33"
IDENT = UPS_MIB + ".1.1"
ALARMS_PRESENT = UPS_MIB + ".1.6.1.0"
ALARM_ENTRY = UPS_MIB + ".1.6.2.1"
ALARM_ID_COLUMN = ALARM_ENTRY + ".1"
ALARM_DESCR_COLUMN = ALARM_ENTRY + ".2"
ALARM_TIME_COLUMN = ALARM_ENTRY + ".3"
WELL_KNOWN_ALARMS = UPS_MIB + ".1.6.3"
TRAPS = UPS_MIB + ".2"
TRAP_ALARM_ADDED = TRAPS + ".3"
TRAP_ALARM_REMOVED = TRAPS + ".4"

DEFAULT_ENGINE_ID = "0x80001f88047570736167656e74"  # net-snmp enterprise, text format, "upsagent"

# Short names used by the tests; every RFC 1628 well-known alarm is also accepted by its MIB name.
SHORT_ALARM_NAMES = {
    "comms-lost": "upsAlarmCommunicationsLost",
    "utility": "upsAlarmInputBad",
    "battery": "upsAlarmLowBattery",
    "upsfail": "upsAlarmGeneralFault",
}

WELL_KNOWN_ALARM_NAMES = [
    "upsAlarmBatteryBad",
    "upsAlarmOnBattery",
    "upsAlarmLowBattery",
    "upsAlarmDepletedBattery",
    "upsAlarmTempBad",
    "upsAlarmInputBad",
    "upsAlarmOutputBad",
    "upsAlarmOutputOverload",
    "upsAlarmOnBypass",
    "upsAlarmBypassBad",
    "upsAlarmOutputOffAsRequested",
    "upsAlarmUpsOffAsRequested",
    "upsAlarmChargerFailed",
    "upsAlarmUpsOutputOff",
    "upsAlarmUpsSystemOff",
    "upsAlarmFanFailure",
    "upsAlarmFuseFailure",
    "upsAlarmGeneralFault",
    "upsAlarmDiagnosticTestFailed",
    "upsAlarmCommunicationsLost",
    "upsAlarmAwaitingPower",
    "upsAlarmShutdownPending",
    "upsAlarmShutdownImminent",
    "upsAlarmTestInProgress",
]

ALARM_OID_BY_NAME = {name: "%s.%d" % (WELL_KNOWN_ALARMS, i + 1) for i, name in enumerate(WELL_KNOWN_ALARM_NAMES)}
ALARM_NAME_BY_OID = {oid: name for name, oid in ALARM_OID_BY_NAME.items()}

DEFAULT_IDENT = {
    "manufacturer": "Voltiguard Test Power",
    "model": "SIM-1500",
    "upsSoftwareVersion": "SIM-1500 firmware 2.4",
    "agentSoftwareVersion": "upsagent 1.0 (net-snmp snmpd)",
    "name": "Voltiguard simulated UPS",
}
IDENT_FIELDS = ["manufacturer", "model", "upsSoftwareVersion", "agentSoftwareVersion", "name"]

INSTANCE_FORMS = ("std", "dot0")
COUNT_TYPES = ("gauge", "integer", "string")


class StateError(Exception):
    pass


def parseOid(text):
    """Dotted text (leading dot optional) to a tuple of ints; raises StateError when malformed."""
    stripped = text.strip()
    if stripped.startswith("."):
        stripped = stripped[1:]
    try:
        parts = tuple(int(p) for p in stripped.split("."))
    except ValueError:
        raise StateError("not a numeric object identifier: %r" % text) from None
    if len(parts) < 2 or any(p < 0 or p > 0xFFFFFFFF for p in parts):
        raise StateError("not a valid object identifier: %r" % text)
    return parts


def formatOid(parts):
    return ".".join(str(p) for p in parts)


def resolveAlarm(text):
    """A short name, an RFC 1628 alarm name or a dotted OID to the alarm's dotted OID."""
    if text in SHORT_ALARM_NAMES:
        return ALARM_OID_BY_NAME[SHORT_ALARM_NAMES[text]]
    if text in ALARM_OID_BY_NAME:
        return ALARM_OID_BY_NAME[text]
    return formatOid(parseOid(text))


def alarmLabel(oid):
    name = ALARM_NAME_BY_OID.get(oid, "other")
    for short, mibName in SHORT_ALARM_NAMES.items():
        if mibName == name:
            return "%s (%s)" % (short, name)
    return name


class StateDir:
    def __init__(self, path):
        self.path = os.path.abspath(path)

    def file(self, name):
        return os.path.join(self.path, name)

    @property
    def stateFile(self):
        return self.file("state.json")

    @property
    def agentFile(self):
        return self.file("agent.json")

    @property
    def persistDir(self):
        return self.file("persist")

    @property
    def clientDir(self):
        return self.file("client")

    def ensure(self):
        for d in (self.path, self.persistDir, self.clientDir):
            os.makedirs(d, mode=0o700, exist_ok=True)

    @contextlib.contextmanager
    def locked(self):
        self.ensure()
        with open(self.file("state.lock"), "a") as lockFile:
            fcntl.flock(lockFile, fcntl.LOCK_EX)
            try:
                yield
            finally:
                fcntl.flock(lockFile, fcntl.LOCK_UN)

    def loadState(self):
        return loadStateFile(self.stateFile)

    def saveState(self, state):
        writeJsonAtomically(self.stateFile, state)

    def loadAgent(self):
        try:
            with open(self.agentFile) as f:
                return json.load(f)
        except FileNotFoundError:
            return None
        except (OSError, ValueError) as e:
            raise StateError("cannot read %s: %s" % (self.agentFile, e)) from None

    def saveAgent(self, agent):
        writeJsonAtomically(self.agentFile, agent)


def defaultState():
    return {
        "instanceForm": "std",
        "countType": "gauge",
        "countOverride": None,
        "nextId": 1,
        "alarms": [],
        "lastIds": {},
        "ident": dict(DEFAULT_IDENT),
    }


def loadStateFile(path):
    try:
        with open(path) as f:
            loaded = json.load(f)
    except FileNotFoundError:
        return defaultState()
    except (OSError, ValueError) as e:
        raise StateError("cannot read %s: %s" % (path, e)) from None
    state = defaultState()
    state.update(loaded)
    return validateState(state, path)


def validateState(state, path):
    if state["instanceForm"] not in INSTANCE_FORMS:
        raise StateError("%s: instanceForm must be one of %s" % (path, ", ".join(INSTANCE_FORMS)))
    if state["countType"] not in COUNT_TYPES:
        raise StateError("%s: countType must be one of %s" % (path, ", ".join(COUNT_TYPES)))
    for alarm in state["alarms"]:
        if not isinstance(alarm.get("id"), int) or alarm["id"] < 1:
            raise StateError("%s: alarm row without a positive id: %r" % (path, alarm))
        parseOid(alarm.get("descr", ""))
    return state


def writeJsonAtomically(path, data):
    # Readers open the file on every SNMP request, so it is replaced by rename, never rewritten in place.
    directory = os.path.dirname(path)
    fd, tmp = tempfile.mkstemp(prefix=".tmp-", dir=directory)
    try:
        with os.fdopen(fd, "w") as f:
            json.dump(data, f, indent=1, sort_keys=True)
            f.write("\n")
        os.replace(tmp, path)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(tmp)
        raise


def agentUptimeTicks(agent, now=None):
    """sysUpTime of the agent in hundredths of a second, estimated from its recorded start time."""
    if not agent or "startTime" not in agent:
        return 0
    now = time.time() if now is None else now
    return max(0, int((now - agent["startTime"]) * 100))


def reportedCount(state):
    if state["countOverride"] is not None:
        return state["countOverride"]
    return len(state["alarms"])


def mibObjects(state):
    """Every object served, as (oid tuple, pass_persist type, value text), sorted in lexicographic OID order."""
    objects = []
    ident = state["ident"]
    for i, field in enumerate(IDENT_FIELDS):
        objects.append((parseOid("%s.%d.0" % (IDENT, i + 1)), "string", str(ident.get(field, ""))))
    objects.append((parseOid(ALARMS_PRESENT), state["countType"], str(reportedCount(state))))
    suffix = (0,) if state["instanceForm"] == "dot0" else ()
    for alarm in state["alarms"]:
        row = (alarm["id"],) + suffix
        objects.append((parseOid(ALARM_ID_COLUMN) + row, "integer", str(alarm["id"])))
        objects.append((parseOid(ALARM_DESCR_COLUMN) + row, "objectid", "." + alarm["descr"]))
        objects.append((parseOid(ALARM_TIME_COLUMN) + row, "timeticks", str(alarm.get("time", 0))))
    objects.sort(key=lambda o: o[0])
    return objects
