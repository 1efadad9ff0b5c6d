#!/usr/bin/env bash
# Runs the Windows test host under Wine in a fresh, throw-away prefix: makes
# the prefix, registers the simulated component with regsvr32 (its
# DllRegisterServer writes HKCR\CLSID\{...}\InprocServer32), runs
# wine_host.exe, and removes the prefix again.
#
# Usage: run-wine-tests.sh <folder of wine_host.exe and the DLLs>
set -euo pipefail

dir=$(cd "${1:?usage: run-wine-tests.sh <folder of wine_host.exe and the DLLs>}" && pwd)
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
  wineserver -w 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT

# Wine sees the host's file system as drive Z:.
windows_dir="Z:${dir//\//\\}"

echo "Wine prefix $prefix (the first program in a new prefix takes some seconds)"
if ! "$wine" regsvr32 /s "$windows_dir\\ScanMonturaSim.dll" </dev/null; then
  echo "FAIL regsvr32 ScanMonturaSim.dll"
  exit 1
fi
echo "ok   regsvr32 ScanMonturaSim.dll"
"$wine" "$dir/wine_host.exe" "$windows_dir" </dev/null | tr -d '\r'
