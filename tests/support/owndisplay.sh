#!/usr/bin/env bash
# Runs one test on an Xvfb display of its own, so that tests can run side by side.
set -euo pipefail
fdfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fdfile" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; rm -f "$fdfile"' EXIT
for _ in $(seq 100); do [ -s "$fdfile" ] && break || sleep 0.1; done
DISPLAY=:$(tr -d '\n' <"$fdfile") "$@"
