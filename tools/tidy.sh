#!/usr/bin/env bash
# clang-tidy (the checks of .clang-tidy) on the bridge and the stand-ins: every source of bridge/,
# members/, events/, platform/, runtime/ and simulator/ in a host build's compile_commands.json
# (the runtime's as its test variant compiles them, so that the hooks are read too), and the
# headers of those folders that they include.
#   tools/tidy.sh [build folder] [source...]     default: build/host, every source
# Prints each finding once, then how many; exit status 0 only when there is none.
# JTZ_JOBS: how many clang-tidy processes run at once (default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/host}
[ $# -gt 0 ] && shift
if [ ! -f "$build/compile_commands.json" ]; then
  echo "no $build/compile_commands.json: configure the host preset first (cmake --preset host)" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -DDB="$build/compile_commands.json" -DROOT="$root" -DOUT="$work" \
  -P "$root/tools/tidy-files.cmake"
if [ $# -gt 0 ]; then
  for f in "$@"; do realpath "$f"; done >"$work/files.txt"
fi

start=$(date +%s)
status=0
xargs -P "${JTZ_JOBS:-2}" -n 1 clang-tidy -p "$work" --quiet <"$work/files.txt" \
  >"$work/out" 2>"$work/err" || status=$?
# A finding in a header comes once per source that includes it: each is printed once.
grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error): ' "$work/out" | sed "s|^$root/||" | sort -u \
  >"$work/findings" || true
findings=$(wc -l <"$work/findings")
cat "$work/findings"
# clang-tidy's own failures (a source it could not compile) come on stderr.
grep -E 'error:|Error while processing' "$work/err" | grep -v 'warnings treated as errors' || true
echo "clang-tidy: $(wc -l <"$work/files.txt") sources, $findings findings, $(( $(date +%s) - start )) s"
[ "$findings" -eq 0 ] && [ "$status" -eq 0 ]
