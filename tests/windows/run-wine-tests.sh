#!/usr/bin/env bash
# Runs the Windows test host under Wine in a fresh, throw-away prefix: makes
# the prefix, registers the simulated component with regsvr32 (its
# DllRegisterServer writes HKCR\CLSID\{...}\InprocServer32 with the threading
# model asked for, and registers its type library), runs wine_host.exe, and
# removes the prefix again.
#
# Usage: run-wine-tests.sh <folder of wine_host.exe and the DLLs> [Both|Apartment] [high]
#   Both (the default): the component lives in its callers' apartment;
#   Apartment: COM hosts it in a single-threaded apartment of its own, and
#   every call and event crosses apartments.
#   high (64-bit build, with Both): the host first takes the address space
#   below 4 GiB, so that everything the run makes lies above (high_addresses.h).
# Environment: WINE, the loader to run the programs with (default wine; the
# 64-bit build names /usr/lib/wine/wine64, whose regsvr32 is then the 64-bit
# one); WINESERVER, the server that goes with it (default wineserver).
set -euo pipefail

usage="usage: run-wine-tests.sh <folder of wine_host.exe and the DLLs> [Both|Apartment] [high]"
dir=$(cd "${1:?$usage}" && pwd)
model=${2:-Both}
case "$model" in
  Both | Apartment) ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
high=${3:-}
case "$high" in
  "" | high) ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
wine=${WINE:-wine}
for f in wine_host.exe JTrazelo.dll EZJcomLib18.dll ScanMonturaSim.dll; do
  [ -f "$dir/$f" ] || { echo "FAIL $dir/$f does not exist"; exit 1; }
done

prefix=$(mktemp -d "${TMPDIR:-/tmp}/jtz-wine.XXXXXX")
export WINEPREFIX=$prefix WINEDEBUG=-all
# No Mono or Gecko installation in the new prefix: console programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  # The prefix's wineserver ends by itself shortly after its last program.
  "${WINESERVER:-wineserver}" -w 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT

# Wine sees the host's file system as drive Z:.
windows_dir="Z:${dir//\//\\}"

echo "Wine prefix $prefix (the first program in a new prefix takes some seconds)"
# Wine hands the environment to the Windows programs it runs: DllRegisterServer reads it.
if ! SCANMONTURA_SIM_THREADING=$model "$wine" regsvr32 /s "$windows_dir\\ScanMonturaSim.dll" \
    </dev/null; then
  echo "FAIL regsvr32 ScanMonturaSim.dll (ThreadingModel $model)"
  exit 1
fi
echo "ok   regsvr32 ScanMonturaSim.dll (ThreadingModel $model)"
# Wine may exit 0 without running anything (a program it cannot start): the
# suite passes only on the host's own last line, "N passed, 0 failed" with N > 0.
out="$prefix/host.out"
status=0
"$wine" "$dir/wine_host.exe" "$windows_dir" "$model" $high </dev/null >"$out" || status=$?
tr -d '\r' <"$out"
last=$(tr -d '\r' <"$out" | sed '/^[[:space:]]*$/d' | tail -n 1)
if [ "$status" -ne 0 ]; then
  echo "FAIL wine_host.exe exited with status $status"
  exit 1
fi
if ! [[ "$last" =~ ^([0-9]+)\ passed,\ 0\ failed$ ]] || [ "${BASH_REMATCH[1]}" -eq 0 ]; then
  echo "FAIL wine_host.exe did not report its checks as passed (last line: \"${last:-none}\")"
  exit 1
fi
