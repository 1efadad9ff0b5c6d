#!/bin/sh
# kill_scan.sh COMMAND...: runs the main program, sends it SIGTERM once it says it is scanning,
# and exits with its status (143 when the signal ended it). Its output goes to this script's.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$@" >"$log" 2>&1 &
pid=$!
tries=0
until grep -q "^Scanning" "$log"; do
  if ! kill -0 "$pid" 2>/dev/null || [ $tries -ge 600 ]; then
    break  # ended before scanning, or never scanned: the caller sees its status and output
  fi
  tries=$((tries + 1))
  sleep 0.1
done
kill -TERM "$pid" 2>/dev/null
wait "$pid"
status=$?
cat "$log"
exit $status
