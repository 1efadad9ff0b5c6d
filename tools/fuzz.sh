#!/usr/bin/env bash
# Runs the fuzzing targets (libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer; the DCS
# reader's is a Java mutation fuzzer), keeping each target's corpus in tests/fuzz/corpus/<target>/.
#
#   tools/fuzz.sh TARGET [SECONDS]    one target (default 60 s): platform, dcs, events, members
#   tools/fuzz.sh all SECONDS         each target in turn, SECONDS each
#   tools/fuzz.sh --runs N TARGET     stop after N executions instead of after a time
#
# The fuzz preset is configured and built first (build/fuzz). New inputs that reach new code go
# into the corpus folder; a crash, a leak or a broken property stops the run and leaves the input
# that caused it as build/fuzz/artifacts/<target>-crash-*, to be kept in the corpus once fixed.
# After a run the corpus is reduced to the inputs that still add coverage (libFuzzer's merge).
#
# Used by the tests with --build DIR --check TARGET SECONDS: the corpus is read, never written
# (new inputs go to a temporary folder), and nothing is built.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

build=""
check=0
runs=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --check) check=1; shift ;;
    --runs) runs="$2"; shift 2 ;;
    *) break ;;
  esac
done
target=${1:-}
seconds=${2:-60}
targets=(platform dcs events members)
usage() { echo "usage: tools/fuzz.sh [--runs N] {${targets[*]}|all} [SECONDS]" >&2; exit 2; }
[ -n "$target" ] || usage
if [ "$target" = all ]; then
  status=0
  for t in "${targets[@]}"; do
    "$0" ${build:+--build "$build"} ${runs:+--runs "$runs"} $([ $check = 1 ] && echo --check) \
      "$t" "$seconds" || status=1
  done
  exit $status
fi
[[ " ${targets[*]} " == *" $target "* ]] || usage

if [ -z "$build" ]; then
  build="$root/build/fuzz"
  (cd "$root" && cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j"${JTZ_JOBS:-2}") \
    || { echo "fuzz: the fuzz preset did not build" >&2; exit 1; }
fi

corpus="$root/tests/fuzz/corpus/$target"
mkdir -p "$corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ((check)); then
  fresh="$work/new"
  artifacts="$work/"
else
  fresh="$corpus"
  mkdir -p "$build/artifacts"
  artifacts="$build/artifacts/$target-"
fi
mkdir -p "$fresh"

if [ "$target" = dcs ]; then
  java=$(sed -n 's/^JTZ_JAVA:[A-Z]*=//p' "$build/CMakeCache.txt")
  [ -n "$java" ] || java=java
  args=(--corpus "$fresh" --seeds "$root/tests/dcs-samples" --artifacts "$artifacts"
        --seconds "$seconds")
  ((check)) && args+=(--seeds "$corpus")
  [ -n "$runs" ] && args+=(--runs "$runs")
  classes="$build/jtrazelo.jar:$build/fuzz/jtzfuzz.jar"
  # A small heap: lines of megabytes (its long-line seeds and stretched lines) that the reader
  # would hold or split end in OutOfMemoryError, a finding.
  fuzzer=("$java" -Xmx64m -cp "$classes" jtzfuzz.DcsFuzz)
  ((check)) && exec "${fuzzer[@]}" "${args[@]}"
  "${fuzzer[@]}" "${args[@]}"
  status=$?
  # Keep only the inputs that show a feature no smaller one shows.
  [ $status -eq 0 ] && "${fuzzer[@]}" --reduce "$corpus"
  exit $status
fi

options=(-max_total_time="$seconds" -artifact_prefix="$artifacts" -print_final_stats=1)
[ -n "$runs" ] && options=(-runs="$runs" -artifact_prefix="$artifacts" -print_final_stats=1)
case "$target" in
  events|members)
    # The JVM handles SIGSEGV (and more) itself, keeps memory until exit and its RSS is large;
    # references and BSTRs are counted by the targets instead of leak detection.
    export ASAN_OPTIONS=handle_segv=0:allow_user_segv_handler=1:detect_leaks=0:${ASAN_OPTIONS:-}
    options+=(-handle_segv=0 -handle_bus=0 -handle_ill=0 -handle_fpe=0 -detect_leaks=0
              -rss_limit_mb=6144 -timeout=120)
    ;;
  *)
    options+=(-timeout=10)
    ;;
esac
export JTZ_FUZZ_ARTIFACTS="$artifacts"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}

binary="$build/fuzz/$target"
[ -x "$binary" ] || { echo "fuzz: $binary is missing (build the fuzz preset)" >&2; exit 1; }
if ((check)); then
  "$binary" "${options[@]}" "$fresh" "$corpus"
  exit $?
fi
"$binary" "${options[@]}" "$corpus"
status=$?
# Keep only the inputs that add coverage.
if [ $status -eq 0 ]; then
  mkdir -p "$work/merged"
  merge_options=()
  for o in "${options[@]}"; do
    case "$o" in -max_total_time=*|-runs=*|-print_final_stats=*) ;; *) merge_options+=("$o") ;; esac
  done
  if "$binary" "${merge_options[@]}" -merge=1 "$work/merged" "$corpus" >"$work/merge.log" 2>&1; then
    find "$corpus" -type f ! -name 'crash-*' ! -name 'leak-*' ! -name 'regression-*' -delete
    cp "$work/merged"/* "$corpus"/ 2>/dev/null
    echo "fuzz: $target corpus: $(find "$corpus" -type f | wc -l) inputs"
  else
    echo "fuzz: merging the corpus failed (see below); it is left as it is" >&2
    tail -n 20 "$work/merge.log" >&2
  fi
fi
exit $status
