#!/bin/bash
# Self-test of upsagent against the real net-snmp tools, on 127.0.0.1/127.0.0.2 only.
# Exit 0: all checks passed; 1: a check failed; 77: a needed net-snmp program is missing (skip).
set -u

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
UA="$HERE/upsagent"
UPS=1.3.6.1.2.1.33
DESCR=$UPS.1.6.2.1.2
ENGINE=0x80001f88047570736167656e74
TAB=$'\t'

for tool in snmpd snmpget snmpgetnext snmpwalk snmpbulkwalk snmptrapd; do
    if ! PATH=/usr/sbin:/usr/bin:$PATH command -v "$tool" >/dev/null; then
        echo "SKIP: $tool missing (apt-get install -y snmpd snmp snmptrapd)"
        exit 77
    fi
done
SNMPTRAPD=$(PATH=/usr/sbin:/usr/bin:$PATH command -v snmptrapd)

WORK=$(mktemp -d /tmp/upsagent-selftest.XXXXXX)
AGENT=$WORK/agent
TRAPD=$WORK/trapd
TRAPD_PID=
NOBODY_DIR=

# The tools run by this script read nothing system-wide either.
mkdir -p "$WORK/cli/cert_indexes"  # else the first tool announces that it made it
export SNMPCONFPATH=$WORK/cli SNMP_PERSISTENT_DIR=$WORK/cli MIBS='' MIBDIRS=/dev/null HOME=$WORK/cli

cleanup() {
    "$UA" stop --dir "$AGENT" >/dev/null 2>&1
    [ -n "$NOBODY_DIR" ] && "$UA" stop --dir "$NOBODY_DIR" >/dev/null 2>&1
    if [ -n "$TRAPD_PID" ] && kill -0 "$TRAPD_PID" 2>/dev/null; then
        kill "$TRAPD_PID"
        wait "$TRAPD_PID" 2>/dev/null
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

failures=0
pass() { echo "ok   $1"; }
failed() {
    echo "FAIL $1"
    shift
    [ $# -gt 0 ] && printf '     %s\n' "$@"
    failures=$((failures + 1))
}

# expect NAME EXPECTED-TEXT ACTUAL-TEXT
expect() {
    if [ "$2" == "$3" ]; then pass "$1"; else failed "$1" "expected: ${2//$'\n'/ | }" "got:      ${3//$'\n'/ | }"; fi
}

refused() { if "$@" >/dev/null 2>&1; then echo answered; else echo refused; fi; }

freeport() { /usr/bin/python3 -c 'import socket;s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM);s.bind(("127.0.0.1",0));print(s.getsockname()[1])'; }

V2="-v2c -c public -On -t 1 -r 1"
v3args() {
    case $1 in
        noauth) echo "-v3 -u noauth -l noAuthNoPriv" ;;
        md5auth) echo "-v3 -u md5auth -l authNoPriv -a MD5 -A md5authpass" ;;
        md5des) echo "-v3 -u md5des -l authPriv -a MD5 -A md5despass -x DES -X md5despriv" ;;
        shaaes) echo "-v3 -u shaaes -l authPriv -a SHA -A shaaespass -x AES -X shaaespriv" ;;
        sha256aes256) echo "-v3 -u sha256aes256 -l authPriv -a SHA-256 -A sha256aes256pass -x AES-256 -X sha256aes256priv" ;;
        sha512aes192) echo "-v3 -u sha512aes192 -l authPriv -a SHA-512 -A sha512aes192pass -x AES-192 -X sha512aes192priv" ;;
    esac
}

# ---------------------------------------------------------------- start

out=$("$UA" start --dir "$AGENT" 2>&1)
if [[ $out =~ ^PORT=([0-9]+)\ PID=([0-9]+)$ ]]; then
    PORT=${BASH_REMATCH[1]}
    PID=${BASH_REMATCH[2]}
    pass "start prints PORT and PID"
else
    failed "start prints PORT and PID" "$out"
    exit 1
fi
A=127.0.0.1:$PORT
expect "pidfile holds the printed PID" "$PID" "$(cat "$AGENT/snmpd.pid" 2>/dev/null)"
expect "second start refuses" "1" "$("$UA" start --dir "$AGENT" >/dev/null 2>&1; echo $?)"

# ---------------------------------------------------------------- reading

expect "v1 get of the ident objects" \
    ".1.3.6.1.2.1.33.1.1.1.0 = STRING: \"Voltiguard Test Power\"
.1.3.6.1.2.1.33.1.1.2.0 = STRING: \"SIM-1500\"" \
    "$(snmpget -v1 -c public -On "$A" $UPS.1.1.1.0 $UPS.1.1.2.0 2>&1)"
expect "no alarms at start" ".1.3.6.1.2.1.33.1.6.1.0 = Gauge32: 0" "$(snmpget $V2 "$A" $UPS.1.6.1.0 2>&1)"
expect "wrong community gets no answer" refused "$(refused snmpget -v2c -c private -t 0.3 -r 0 "$A" $UPS.1.6.1.0)"

"$UA" raise --dir "$AGENT" utility >/dev/null
"$UA" raise --dir "$AGENT" battery >/dev/null
expect "raise twice keeps one row" "ALARM=1.3.6.1.2.1.33.1.6.3.3 ROW=2 already present" "$("$UA" raise --dir "$AGENT" battery)"
"$UA" add-other --dir "$AGENT" 1.3.6.1.2.1.33.1.6.3.9 >/dev/null

table=$(snmpbulkwalk $V2 "$A" $UPS.1.6 2>&1 | sed 's/Timeticks: .*/Timeticks: T/')
expect "v2c bulk walk of the alarm group, standard instances" \
    ".1.3.6.1.2.1.33.1.6.1.0 = Gauge32: 3
.1.3.6.1.2.1.33.1.6.2.1.1.1 = INTEGER: 1
.1.3.6.1.2.1.33.1.6.2.1.1.2 = INTEGER: 2
.1.3.6.1.2.1.33.1.6.2.1.1.3 = INTEGER: 3
.1.3.6.1.2.1.33.1.6.2.1.2.1 = OID: .1.3.6.1.2.1.33.1.6.3.6
.1.3.6.1.2.1.33.1.6.2.1.2.2 = OID: .1.3.6.1.2.1.33.1.6.3.3
.1.3.6.1.2.1.33.1.6.2.1.2.3 = OID: .1.3.6.1.2.1.33.1.6.3.9
.1.3.6.1.2.1.33.1.6.2.1.3.1 = Timeticks: T
.1.3.6.1.2.1.33.1.6.2.1.3.2 = Timeticks: T
.1.3.6.1.2.1.33.1.6.2.1.3.3 = Timeticks: T" "$table"

descrWalk=$(snmpwalk $V2 "$A" $DESCR 2>&1)
expect "v1 walk equals v2c walk" "$descrWalk" "$(snmpwalk -v1 -c public -On "$A" $DESCR 2>&1)"
for user in md5des shaaes sha256aes256 sha512aes192 md5auth noauth; do
    expect "v3 $user bulk walk" "$descrWalk" "$(snmpbulkwalk $(v3args $user) -On "$A" $DESCR 2>&1)"
done
expect "v3 wrong auth password refused" refused \
    "$(refused snmpget -v3 -u shaaes -l authPriv -a SHA -A wrongpassword -x AES -X shaaespriv -t 0.3 -r 0 "$A" $UPS.1.6.1.0)"
expect "v3 priv user at authNoPriv refused" refused \
    "$(refused snmpget -v3 -u md5des -l authNoPriv -a MD5 -A md5despass -t 0.3 -r 0 "$A" $UPS.1.6.1.0)"
expect "v3 AES-256 user refused with AES-128" refused \
    "$(refused snmpget -v3 -u sha256aes256 -l authPriv -a SHA-256 -A sha256aes256pass -x AES -X sha256aes256priv -t 0.3 -r 0 "$A" $UPS.1.6.1.0)"
expect "agent engine ID" ".1.3.6.1.6.3.10.2.1.1.0 = Hex-STRING: 80 00 1F 88 04 75 70 73 61 67 65 6E 74 " \
    "$(snmpget $V2 "$A" 1.3.6.1.6.3.10.2.1.1.0 2>&1)"

expect "getnext from the column name" ".1.3.6.1.2.1.33.1.6.2.1.2.1 = OID: .1.3.6.1.2.1.33.1.6.3.6" "$(snmpgetnext $V2 "$A" $DESCR 2>&1)"
expect "getnext from the last description leaves the column" ".1.3.6.1.2.1.33.1.6.2.1.3.1" \
    "$(snmpgetnext $V2 "$A" $DESCR.3 2>&1 | cut -d' ' -f1)"

# ---------------------------------------------------------------- changes at run time

"$UA" set-form --dir "$AGENT" dot0 >/dev/null
expect "dot0 form: rows end in .N.0" \
    ".1.3.6.1.2.1.33.1.6.2.1.2.1.0 = OID: .1.3.6.1.2.1.33.1.6.3.6
.1.3.6.1.2.1.33.1.6.2.1.2.2.0 = OID: .1.3.6.1.2.1.33.1.6.3.3
.1.3.6.1.2.1.33.1.6.2.1.2.3.0 = OID: .1.3.6.1.2.1.33.1.6.3.9" "$(snmpbulkwalk $V2 "$A" $DESCR 2>&1)"
expect "dot0 form: the original request objects answer" \
    ".1.3.6.1.2.1.33.1.6.2.1.2.1.0 = OID: .1.3.6.1.2.1.33.1.6.3.6
.1.3.6.1.2.1.33.1.6.2.1.2.2.0 = OID: .1.3.6.1.2.1.33.1.6.3.3
.1.3.6.1.2.1.33.1.6.2.1.3.1.0" "$(snmpget $V2 "$A" $DESCR.1.0 $DESCR.2.0 $UPS.1.6.2.1.3.1.0 2>&1 | sed 's/ = Timeticks.*//')"
expect "dot0 form: the standard instance is absent" ".1.3.6.1.2.1.33.1.6.2.1.2.1 = No Such Instance currently exists at this OID" \
    "$(snmpget $V2 "$A" $DESCR.1 2>&1)"
"$UA" set-form --dir "$AGENT" std >/dev/null
expect "std form again" ".1.3.6.1.2.1.33.1.6.2.1.2.1 = OID: .1.3.6.1.2.1.33.1.6.3.6" "$(snmpget $V2 "$A" $DESCR.1 2>&1)"

"$UA" clear --dir "$AGENT" battery >/dev/null
for _ in $(seq 8); do "$UA" raise --dir "$AGENT" upsfail --duplicate >/dev/null; done
expect "row numbers in numeric order (3 < 4 < 10 < 11)" "1 3 4 5 6 7 8 9 10 11" \
    "$(snmpbulkwalk $V2 "$A" $DESCR 2>&1 | sed 's/^.*\.\([0-9]*\) = .*$/\1/' | tr '\n' ' ' | sed 's/ $//')"
"$UA" clear --dir "$AGENT" upsfail >/dev/null
expect "clear removes every row of the alarm" "2" "$(snmpget $V2 -Oqv "$A" $UPS.1.6.1.0 2>&1)"

"$UA" set-count --dir "$AGENT" 100000 >/dev/null
expect "fixed alarm count" ".1.3.6.1.2.1.33.1.6.1.0 = Gauge32: 100000" "$(snmpget $V2 "$A" $UPS.1.6.1.0 2>&1)"
expect "fixed count leaves the table alone" "2" "$(snmpwalk $V2 "$A" $DESCR 2>&1 | wc -l)"
"$UA" set-count --dir "$AGENT" auto >/dev/null
expect "count follows the table again" ".1.3.6.1.2.1.33.1.6.1.0 = Gauge32: 2" "$(snmpget $V2 "$A" $UPS.1.6.1.0 2>&1)"
"$UA" reset --dir "$AGENT" >/dev/null
expect "reset: no alarm counted" ".1.3.6.1.2.1.33.1.6.1.0 = Gauge32: 0" "$(snmpget $V2 "$A" $UPS.1.6.1.0 2>&1)"
expect "reset: no description row" "0" "$(snmpwalk $V2 "$A" $DESCR 2>&1 | grep -c "= OID:")"
expect "status reports the agent" "RUNNING=yes PORT=$PORT ALARMS_PRESENT=0" \
    "$("$UA" status --dir "$AGENT" | grep -E '^(RUNNING|PORT|ALARMS_PRESENT)=' | tr '\n' ' ' | sed 's/ $//')"

# ---------------------------------------------------------------- notifications

mkdir -p "$TRAPD/conf" "$TRAPD/persist"
{
    echo "disableAuthorization yes"
    echo 'format1 TRAP1 %b ent=%N gen=%w spec=%q addr=%A up=%T | %v\n'
    echo 'format2 TRAP2 %b %P | %v\n'
    for user in md5auth md5des shaaes sha256aes256 sha512aes192 noauth; do
        keys=$(v3args $user | sed -e 's/-v3 -u [^ ]* -l [^ ]*//' -e 's/-[aAxX] //g')
        echo "createUser -e $ENGINE $user $keys"  # v3 traps: keys localised to the sender's engine ID
        echo "createUser $user $keys"             # v3 informs: keys localised to the receiver's own engine ID
    done
} >"$TRAPD/conf/snmptrapd.conf"
TRAP_PORT=$(freeport)
# The persistent directory must differ from the configuration's: snmptrapd rewrites <persistent>/snmptrapd.conf.
env -i PATH=/usr/sbin:/usr/bin:/bin HOME="$TRAPD/persist" SNMPCONFPATH="$TRAPD/conf" SNMP_PERSISTENT_DIR="$TRAPD/persist" \
    MIBS= MIBDIRS=/dev/null "$SNMPTRAPD" -f -Lf "$TRAPD/log" -C -c "$TRAPD/conf/snmptrapd.conf" -On -Ot \
    "udp:127.0.0.1:$TRAP_PORT" &
TRAPD_PID=$!
for _ in $(seq 50); do grep -q "NET-SNMP version" "$TRAPD/log" 2>/dev/null && break; sleep 0.1; done

# received UPTIME: the log line of the notification carrying that sysUpTime, waiting up to 3 s
received() {
    local line
    for _ in $(seq 30); do
        line=$(grep -E "(up=$1 |1\.3\.0 = $1${TAB})" "$TRAPD/log" 2>/dev/null)
        [ -n "$line" ] && break
        sleep 0.1
    done
    printf '%s' "$line"
}

sendAndCheck() { # NAME UPTIME EXPECTED-REGEX upsagent-args...
    local name=$1 up=$2 regex=$3
    shift 3
    local result rc
    result=$("$UA" "$@" --trap-port "$TRAP_PORT" --uptime "$up" 2>&1)
    rc=$?
    local line
    line=$(received "$up")
    if [ $rc -eq 0 ] && [[ $line =~ $regex ]]; then pass "$name"; else failed "$name" "upsagent ($rc): $result" "received: $line"; fi
}

ADDED_UTILITY=".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.2.1.33.2.3${TAB}.1.3.6.1.2.1.33.1.6.2.1.1.1 = INTEGER: 1${TAB}.1.3.6.1.2.1.33.1.6.2.1.2.1 = OID: .1.3.6.1.2.1.33.1.6.3.6$"
sendAndCheck "v1 trap entry added" 1001 \
    "^TRAP1 UDP: \[127\.0\.0\.1\]:[0-9]+->.* ent=\.1\.3\.6\.1\.2\.1\.33\.2 gen=6 spec=\.3 addr=127\.0\.0\.1 up=1001 \| \.1\.3\.6\.1\.2\.1\.33\.1\.6\.2\.1\.1\.1 = INTEGER: 1${TAB}\.1\.3\.6\.1\.2\.1\.33\.1\.6\.2\.1\.2\.1 = OID: \.1\.3\.6\.1\.2\.1\.33\.1\.6\.3\.6$" \
    raise --dir "$AGENT" utility --trap v1
sendAndCheck "v2c trap" 1002 "TRAP2, SNMP v2c, community public \| .1.3.6.1.2.1.1.3.0 = 1002${TAB}$ADDED_UTILITY" \
    raise --dir "$AGENT" utility --trap v2c
sendAndCheck "v2c inform" 1003 "INFORM, SNMP v2c, community public \| .1.3.6.1.2.1.1.3.0 = 1003${TAB}$ADDED_UTILITY" \
    raise --dir "$AGENT" utility --trap inform
n=1003
for user in shaaes md5des sha256aes256 sha512aes192 md5auth noauth; do
    n=$((n + 1))
    sendAndCheck "v3 trap as $user" $n "TRAP2, SNMP v3, user $user, context  \| .1.3.6.1.2.1.1.3.0 = $n${TAB}$ADDED_UTILITY" \
        raise --dir "$AGENT" utility --trap v3 --user $user
    n=$((n + 1))
    sendAndCheck "v3 inform as $user" $n "INFORM, SNMP v3, user $user, context  \| .1.3.6.1.2.1.1.3.0 = $n${TAB}$ADDED_UTILITY" \
        raise --dir "$AGENT" utility --trap v3inform --user $user
done
sendAndCheck "v1 trap entry removed from 127.0.0.2" 1101 \
    "^TRAP1 UDP: \[127\.0\.0\.2\]:[0-9]+->.* gen=6 spec=\.4 addr=127\.0\.0\.2 up=1101 \| .*\.2\.1 = OID: \.1\.3\.6\.1\.2\.1\.33\.1\.6\.3\.6$" \
    clear --dir "$AGENT" utility --trap v1 --source 127.0.0.2
sendAndCheck "v2c removal of an absent alarm from 127.0.0.2" 1102 \
    "^TRAP2 UDP: \[127\.0\.0\.2\]:.*OID: \.1\.3\.6\.1\.2\.1\.33\.2\.4${TAB}.*\.1\.1\.1 = INTEGER: 1${TAB}.*\.2\.1 = OID: \.1\.3\.6\.1\.2\.1\.33\.1\.6\.3\.6$" \
    clear --dir "$AGENT" utility --trap v2c --source 127.0.0.2
sendAndCheck "v3 trap from 127.0.0.2" 1103 "^TRAP2 UDP: \[127\.0\.0\.2\]:.*SNMP v3, user sha256aes256" \
    raise --dir "$AGENT" comms-lost --trap v3 --user sha256aes256 --source 127.0.0.2
sendAndCheck "binding form dot0" 1104 "\.2\.1\.1\.2\.0 = INTEGER: 2${TAB}\.1\.3\.6\.1\.2\.1\.33\.1\.6\.2\.1\.2\.2\.0 = OID: \.1\.3\.6\.1\.2\.1\.33\.1\.6\.3\.20$" \
    raise --dir "$AGENT" comms-lost --trap v2c --binding-form dot0
sendAndCheck "binding form bare" 1105 "\.1\.3\.6\.1\.2\.1\.33\.1\.6\.2\.1\.1 = INTEGER: 2${TAB}\.1\.3\.6\.1\.2\.1\.33\.1\.6\.2\.1\.2 = OID: \.1\.3\.6\.1\.2\.1\.33\.1\.6\.3\.20$" \
    raise --dir "$AGENT" comms-lost --trap v2c --binding-form bare
sendAndCheck "arbitrary v2c notification" 1106 "OID: \.1\.3\.6\.1\.4\.1\.8072\.9999\.0\.5${TAB}\.1\.3\.6\.1\.2\.1\.33\.1\.6\.2\.1\.2 = OID: \.1\.3\.6\.1\.2\.1\.33\.1\.6\.3\.3$" \
    trap --dir "$AGENT" --trap v2c 1.3.6.1.4.1.8072.9999.0.5 $DESCR o 1.3.6.1.2.1.33.1.6.3.3
sendAndCheck "arbitrary v1 notification, RFC 3584 fields" 1107 "ent=\.1\.3\.6\.1\.4\.1\.8072\.9999 gen=6 spec=\.5 addr=127\.0\.0\.1 up=1107" \
    trap --dir "$AGENT" --trap v1 1.3.6.1.4.1.8072.9999.0.5
sendAndCheck "v1 generic trap" 1108 "gen=3 spec=\.?0 " trap --dir "$AGENT" --trap v1 1.3.6.1.6.3.1.1.5.4

# Rejected notifications: nothing may arrive for them.
"$UA" raise --dir "$AGENT" battery --trap v3 --auth-pass wrongpassword --trap-port "$TRAP_PORT" --uptime 1201 >/dev/null 2>&1
"$UA" raise --dir "$AGENT" battery --trap v3 --engine-id 0x8000000001020304 --trap-port "$TRAP_PORT" --uptime 1202 >/dev/null 2>&1
expect "v3 inform with a wrong privacy password is not acknowledged" "3" \
    "$("$UA" raise --dir "$AGENT" battery --trap v3inform --priv-pass wrongpassword --timeout 0.3 --retries 0 --trap-port "$TRAP_PORT" --uptime 1204 >/dev/null 2>&1; echo $?)"
sendAndCheck "a good trap after the rejected ones" 1205 "SNMP v3, user shaaes" raise --dir "$AGENT" battery --trap v3
expect "wrong auth password, unknown engine ID: dropped" "" "$(grep -E "1\.3\.0 = 120[124]${TAB}" "$TRAPD/log")"
expect "receiver logged the authentication failure" "1" "$(grep -c 'Authentication failed for shaaes' "$TRAPD/log")"
expect "traps only to loopback" "1" \
    "$("$UA" trap --dir "$AGENT" --trap v2c --trap-host 192.0.2.1 --trap-port 162 1.3.6.1.4.1.8072.9999.0.5 >/dev/null 2>&1; echo $?)"
expect "inform to a silent port is not acknowledged" "3" \
    "$("$UA" trap --dir "$AGENT" --trap inform --trap-port "$(freeport)" --timeout 0.2 --retries 0 1.3.6.1.4.1.8072.9999.0.5 >/dev/null 2>&1; echo $?)"

# ---------------------------------------------------------------- stop and restart

boots=$(snmpget $V2 -Oqv "$A" 1.3.6.1.6.3.10.2.1.2.0 2>&1)
handler=$(cat "$AGENT/passpersist.pid" 2>/dev/null)
"$UA" stop --dir "$AGENT" >/dev/null
if kill -0 "$PID" 2>/dev/null && [ "$(awk '{print $3}' "/proc/$PID/stat" 2>/dev/null)" != Z ]; then
    failed "stop ends snmpd"
else
    pass "stop ends snmpd"
fi
if [ -n "$handler" ] && kill -0 "$handler" 2>/dev/null && [ "$(awk '{print $3}' "/proc/$handler/stat" 2>/dev/null)" != Z ]; then
    failed "stop ends the pass_persist handler"
else
    pass "stop ends the pass_persist handler"
fi
expect "stopped agent is silent" refused "$(refused snmpget -v2c -c public -t 0.3 -r 0 "$A" $UPS.1.6.1.0)"
expect "stop when stopped" "not running" "$("$UA" stop --dir "$AGENT" 2>&1)"

out=$("$UA" start --dir "$AGENT" --port "$PORT" --instance-form dot0 --community ups-secret 2>&1)
expect "restart on the same port" "PORT=$PORT" "${out%% *}"
expect "engine boots rise by one per start" "$((boots + 1))" \
    "$(snmpget -v2c -c ups-secret -Oqv "$A" 1.3.6.1.6.3.10.2.1.2.0 2>&1)"
expect "state survives the restart" "2" "$(snmpget -v2c -c ups-secret -Oqv "$A" $UPS.1.6.1.0 2>&1)"
expect "--instance-form dot0 at start" ".1.3.6.1.2.1.33.1.6.2.1.2.2.0" \
    "$(snmpgetnext -v2c -c ups-secret -On "$A" $DESCR 2>&1 | cut -d' ' -f1)"
expect "old community refused after restart" refused "$(refused snmpget -v2c -c public -t 0.3 -r 0 "$A" $UPS.1.6.1.0)"
expect "v3 still works after restart" "2" "$(snmpget $(v3args shaaes) -Oqv "$A" $UPS.1.6.1.0 2>&1)"
sendAndCheck "v3 trap with the new agent boots" 1301 "SNMP v3, user shaaes" raise --dir "$AGENT" battery --trap v3
"$UA" raise --dir "$AGENT" battery --trap v3 --boots-time "$boots,99999" --trap-port "$TRAP_PORT" --uptime 1302 >/dev/null 2>&1
received 1302 >/dev/null
expect "v3 trap with the boots of the previous start: dropped" "" "$(grep -E "1\.3\.0 = 1302${TAB}" "$TRAPD/log")"

# The header of a v3 trap is readable without keys: it must carry the agent's engine ID, boots and time.
RAW_PORT=$(freeport)
/usr/bin/python3 - "$RAW_PORT" >"$WORK/raw" <<'PY' &
import socket, sys

def tlv(buf, i):
    tag, length = buf[i], buf[i + 1]
    i += 2
    if length & 0x80:
        n = length & 0x7F
        length = int.from_bytes(buf[i:i + n], "big")
        i += n
    return tag, buf[i:i + length], i + length

s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.settimeout(5)
packet = s.recv(65535)
_, message, _ = tlv(packet, 0)
_, _, i = tlv(message, 0)        # msgVersion
_, _, i = tlv(message, i)        # msgGlobalData
_, security, _ = tlv(message, i)  # msgSecurityParameters
_, usm, _ = tlv(security, 0)
_, engine, i = tlv(usm, 0)
_, boots, i = tlv(usm, i)
_, engineTime, i = tlv(usm, i)
_, user, i = tlv(usm, i)
print("0x%s %d %d %s" % (engine.hex(), int.from_bytes(boots, "big"), int.from_bytes(engineTime, "big"), user.decode()))
PY
RAW_PID=$!
sleep 0.3
"$UA" raise --dir "$AGENT" battery --trap v3 --user sha256aes256 --trap-port "$RAW_PORT" >/dev/null
wait $RAW_PID
read -r rawEngine rawBoots rawTime rawUser <"$WORK/raw"
agentTime=$(snmpget -v2c -c ups-secret -Oqv "$A" 1.3.6.1.6.3.10.2.1.3.0 2>&1)
expect "v3 trap header: engine ID, boots, user" "$ENGINE $((boots + 1)) sha256aes256" "$rawEngine $rawBoots $rawUser"
if [ -n "$rawTime" ] && [ $((agentTime - rawTime)) -ge 0 ] && [ $((agentTime - rawTime)) -le 2 ]; then
    pass "v3 trap header: the agent's engine time"
else
    failed "v3 trap header: the agent's engine time" "trap ${rawTime:-none}, agent $agentTime"
fi
expect "start on a busy port fails" "1" "$("$UA" start --dir "$WORK/other" --port "$PORT" >/dev/null 2>&1; echo $?)"
"$UA" stop --dir "$AGENT" >/dev/null

# ---------------------------------------------------------------- as a normal user

if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null && setpriv --reuid=nobody --regid=nogroup --clear-groups test -x "$UA"; then
    NOBODY_DIR=$WORK/nobody
    mkdir -p "$NOBODY_DIR"
    chown nobody:nogroup "$NOBODY_DIR"
    chmod 755 "$WORK"
    out=$(setpriv --reuid=nobody --regid=nogroup --clear-groups "$UA" start --dir "$NOBODY_DIR" 2>&1)
    if [[ $out =~ ^PORT=([0-9]+)\ PID=([0-9]+)$ ]]; then
        setpriv --reuid=nobody --regid=nogroup --clear-groups "$UA" raise --dir "$NOBODY_DIR" comms-lost >/dev/null
        expect "as nobody: v3 walk" ".1.3.6.1.2.1.33.1.6.2.1.2.1 = OID: .1.3.6.1.2.1.33.1.6.3.20" \
            "$(snmpbulkwalk $(v3args sha256aes256) -On "127.0.0.1:${BASH_REMATCH[1]}" $DESCR 2>&1)"
        expect "as nobody: snmpd runs as nobody" "nobody" "$(ps -o user= -p "${BASH_REMATCH[2]}")"
        setpriv --reuid=nobody --regid=nogroup --clear-groups "$UA" stop --dir "$NOBODY_DIR" >/dev/null
    else
        failed "as nobody: start" "$out"
    fi
else
    echo "skip as-nobody checks (not root, no setpriv, or nobody cannot run $UA)"
fi

if [ $failures -eq 0 ]; then
    echo "all checks passed"
    exit 0
fi
echo "$failures check(s) failed"
exit 1
