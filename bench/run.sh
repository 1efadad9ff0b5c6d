#!/usr/bin/env bash
# Builds the benchmark targets of the host preset and runs every benchmark:
#   members      member calls through the bridge against an empty native + the direct Invoke
#   apartments   getBoxH and setText from a thread in no apartment, in the MTA and in an STA
#   events       events per second, direct and server-side delivery, against a raw upcall
#   dcs          the DCS reader and writer on jobs of 1000 and 8000 points a trace
#   runtimes     getBoxH and getText on the runtime library that ships (lib/) against its test
#                variant (testlib/, with the journal and the other test hooks), forks in turn
#   allocations  heap allocations per member call (jtz_bench_alloc)
# Everything else runs on what ships: the jar and the libraries of lib/.
# Usage: bench/run.sh [harness options]      e.g. --forks 5 --iterations 7 --clock wall
#   (options of jtzbench.Bench: --forks --iterations --warmup-ms --target-ms --suite --clock)
# JTZ_BENCH_PRESET=x86 runs the 32-bit build on the 32-bit JVM instead of the host preset.
# JTZ_BENCH_BASELINE=<folder> (with --suite baseline): compares this build's member calls with
#   another build's, the folder holding that build's jtrazelo.jar and lib/ (copied from its build
#   tree), in forks that alternate between the two.
# JTZ_BUILD_DIR=<dir> uses an already configured build tree of that preset's kind instead.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${JTZ_BENCH_PRESET:-host}
case "$preset" in
  host) jdk=/usr/lib/jvm/java-17-openjdk-amd64 ;;
  x86) jdk=/usr/lib/jvm/java-17-openjdk-i386 ;;
  *) echo "JTZ_BENCH_PRESET is host or x86" >&2; exit 2 ;;
esac
if [ -n "${JTZ_BUILD_DIR:-}" ]; then
  build=$JTZ_BUILD_DIR
  cmake --build "$build" -j2 --target jtz_bench >/dev/null
else
  build=build/$preset
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 --target jtz_bench >/dev/null
fi

echo "== machine ($preset preset)"
echo "cpu:    $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores"
echo "kernel: $(uname -sr)"
echo "jvm:    $("$jdk/bin/java" -version 2>&1 | head -n 2 | tail -n 1)"
echo "load:   $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the start"

start=$(date +%s)
# The simulated tracer's frame does not matter here; the caller's choice must not leak in.
unset SCANMONTURA_SIM_FRAME
"$jdk/bin/java" -Djava.library.path="$build/lib" \
  -Djtzbench.testLibraryPath="$build/testlib:$build/lib" \
  ${JTZ_BENCH_BASELINE:+-Djtzbench.baseline="$JTZ_BENCH_BASELINE"} \
  -cp "$build/bench/jtrazelo_bench.jar:$build/jtrazelo.jar" \
  jtzbench.Bench --forks 5 "$@"
"$build/bench/jtz_bench_alloc" 20000
echo
echo "load:   $(cut -d' ' -f1-3 /proc/loadavg) at the end; $(( $(date +%s) - start )) s"
