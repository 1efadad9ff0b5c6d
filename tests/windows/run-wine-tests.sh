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
wineserver=${WINESERVER:-wineserver}
for f in wine_host.exe JTrazelo.dll EZJcomLib18.dll ScanMonturaSim.dll; do
  [ -f "$dir/$f" ] || { echo "FAIL $dir/$f does not exist"; exit 1; }
done

source "$(dirname "$0")/wine-host.sh"
new_prefix jtz-wine -w
windows_dir=$(windows_path "$dir")

# Wine hands the environment to the Windows programs it runs: DllRegisterServer reads it.
if ! SCANMONTURA_SIM_THREADING=$model "$wine" regsvr32 /s "$windows_dir\\ScanMonturaSim.dll" \
    </dev/null; then
  echo "FAIL regsvr32 ScanMonturaSim.dll (ThreadingModel $model)"
  exit 1
fi
echo "ok   regsvr32 ScanMonturaSim.dll (ThreadingModel $model)"
run_host "$dir" "$windows_dir" "$model" $high
