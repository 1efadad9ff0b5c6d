#!/usr/bin/env bash
# Member calls through real COM under Wine (wine_bench.exe, 32-bit or 64-bit): getBoxH and setText
# through the bridge's natives against IDispatch::Invoke on the same component (Both: direct;
# Apartment: through COM's proxy; OutOfProcess: the proxy of the 64-bit component in COM's DLL
# surrogate, set up with dist/jtrazelo-surrogate.cmd), from an MTA thread and an STA thread.
# Wall-clock ns per call, medians over rounds that take the cases in turn; ratios per round. Builds
# wine_bench (windows-x86 or windows-x64 preset), makes a fresh Wine prefix, registers the simulator
# for each model in turn and prints one table each.
# Usage: bench/wine/run.sh [x86|x64] [Both|Apartment|all|OutOfProcess [rounds (11) [ms per case and round (100)]]]
# x64 measures the 64-bit build instead (windows-x64 preset, /usr/lib/wine/wine64), where com-id
# fields hold handles; x86 (the default) the 32-bit one. OutOfProcess always measures x64.
set -euo pipefail
cd "$(dirname "$0")/../.."

bits=x86
case "${1:-}" in
  x86 | x64) bits=$1; shift ;;
esac

models=${1:-all}
rounds=${2:-11}
target_ms=${3:-100}
case "$models" in
  all) models="Both Apartment" ;;
  Both | Apartment) ;;
  OutOfProcess) bits=x64 ;;
  *) echo "usage: bench/wine/run.sh [x86|x64] [Both|Apartment|all|OutOfProcess [rounds [target-ms]]]" >&2; exit 2 ;;
esac
wine=${WINE:-wine}
wineserver=${WINESERVER:-wineserver}
if [ "$bits" = x64 ]; then
  # /usr/bin/wine starts the 32-bit loader whenever 32-bit Wine is installed as well.
  wine=${WINE:-/usr/lib/wine/wine64}
  wineserver=${WINESERVER:-/usr/lib/wine/wineserver64}
fi

build=${JTZ_BUILD_DIR:-build/windows-$bits}
if [ -z "${JTZ_BUILD_DIR:-}" ]; then
  cmake --preset "windows-$bits" >/dev/null
fi
cmake --build "$build" -j2 --target wine_bench >/dev/null
dir=$(cd "$build" && pwd)
for f in bench/wine/wine_bench.exe JTrazelo.dll EZJcomLib18.dll ScanMonturaSim.dll; do
  [ -f "$dir/$f" ] || { echo "FAIL $dir/$f does not exist"; exit 1; }
done

prefix=$(mktemp -d "${TMPDIR:-/tmp}/jtz-wine-bench.XXXXXX")
export WINEPREFIX=$prefix WINEDEBUG=-all
# No Mono or Gecko installation in the new prefix: console programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  # The surrogate of OutOfProcess does not end by itself under Wine.
  if [ "$models" = OutOfProcess ]; then "$wineserver" -k 2>/dev/null || true; fi
  "$wineserver" -w 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT
# Wine sees the host's file system as drive Z:.
windows_dir="Z:${dir//\//\\}"

echo "== machine"
echo "cpu:    $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores"
echo "kernel: $(uname -sr)"
echo "wine:   $("$wine" --version 2>/dev/null), $bits build ($build)"
echo "load:   $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the start"
echo "runs:   $rounds rounds a model, each case about $target_ms ms a round"
status=0
for model in $models; do
  # DllRegisterServer reads the model from the environment, which Wine hands to it.
  threading=$model
  [ "$model" = OutOfProcess ] && threading=Both
  if ! SCANMONTURA_SIM_THREADING=$threading "$wine" regsvr32 /s "$windows_dir\\ScanMonturaSim.dll" \
      </dev/null >/dev/null 2>&1; then
    echo "FAIL regsvr32 ScanMonturaSim.dll (ThreadingModel $threading)"
    exit 1
  fi
  if [ "$model" = OutOfProcess ] &&
    ! "$wine" cmd /c "Z:$(pwd | sed 's#/#\\#g')\\dist\\jtrazelo-surrogate.cmd" register /64 \
      </dev/null >/dev/null 2>&1; then
    echo "FAIL jtrazelo-surrogate.cmd register /64"
    exit 1
  fi
  "$wine" "$dir/bench/wine/wine_bench.exe" "$windows_dir" "$model" "$rounds" "$target_ms" \
    </dev/null | tr -d '\r' || status=$?
done
echo
echo "load:   $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
exit "$status"
