"""snmpd pass_persist handler serving the simulated UPS-MIB objects.

Started by snmpd as: /usr/bin/python3 passpersist.py STATE_DIR
The state file is read again for every request, so a change made by `upsagent` shows on the next query.
"""

import bisect
import os
import sys

import upsstate


def currentObjects(stateFile):
    try:
        return upsstate.mibObjects(upsstate.loadStateFile(stateFile))
    except upsstate.StateError as e:
        # A broken state file makes the agent look empty rather than killing the handler, which snmpd would restart.
        print("upsagent pass_persist: %s" % e, file=sys.stderr, flush=True)
        return []


def answer(objects, command, oidText):
    try:
        requested = upsstate.parseOid(oidText)
    except upsstate.StateError:
        return None
    keys = [o[0] for o in objects]
    if command == "get":
        i = bisect.bisect_left(keys, requested)
        found = i < len(keys) and keys[i] == requested
    else:
        i = bisect.bisect_right(keys, requested)
        found = i < len(keys)
    return objects[i] if found else None


def serve(stateFile, instream, outstream):
    while True:
        line = instream.readline()
        if not line:
            return
        command = line.strip().lower()
        if command == "ping":
            outstream.write("PONG\n")
        elif command in ("get", "getnext"):
            oidText = instream.readline()
            if not oidText:
                return
            found = answer(currentObjects(stateFile), command, oidText)
            if found is None:
                outstream.write("NONE\n")
            else:
                oid, kind, value = found
                outstream.write(".%s\n%s\n%s\n" % (upsstate.formatOid(oid), kind, value))
        elif command == "set":
            instream.readline()
            instream.readline()
            outstream.write("not-writable\n")
        elif command:
            outstream.write("NONE\n")
        outstream.flush()


def main():
    if len(sys.argv) != 2:
        print("usage: passpersist.py STATE_DIR", file=sys.stderr)
        return 2
    stateDir = upsstate.StateDir(sys.argv[1])
    pidFile = stateDir.file("passpersist.pid")
    with open(pidFile, "w") as f:
        f.write("%d\n" % os.getpid())
    try:
        serve(stateDir.stateFile, sys.stdin, sys.stdout)
    except (BrokenPipeError, KeyboardInterrupt):
        pass
    finally:
        try:
            with open(pidFile) as f:
                if f.read().strip() == str(os.getpid()):
                    os.unlink(pidFile)
        except OSError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
