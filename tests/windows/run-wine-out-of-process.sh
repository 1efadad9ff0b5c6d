#!/usr/bin/env bash
# Runs the Windows test host (64-bit) against the simulated component in COM's
# DLL surrogate, in a fresh, throw-away 64-bit Wine prefix:
#   1. registers the component with regsvr32: the 64-bit one, or the 32-bit one
#      (syswow64's regsvr32, the 32-bit registry view);
#   2. sets the surrogate up with dist/jtrazelo-surrogate.cmd (cmd and reg of
#      Wine) for the component's class and SimControl's, under one AppID;
#   3. runs wine_host.exe OutOfProcess (the 64-bit component, which the host
#      asks for out of process with EZJCOM_SERVER=local) or OutOfProcess32;
#   4. ends the surrogate, which Wine keeps running after the last Release,
#      with wineserver -k (this prefix's only);
#   5. undoes the set-up with the same script and checks that its keys are
#      gone and the registration by regsvr32 is left.
#
# Usage: run-wine-out-of-process.sh <folder of wine_host.exe and the DLLs> 64|32 [32-bit ScanMonturaSim.dll]
# With 32 it exits 77 after a line "skipped: <reason>" where 32-bit programs
# cannot run here (tools/probe-x86.sh) or the 32-bit component is not built.
# Environment: WINE, the 64-bit loader (/usr/lib/wine/wine64); WINESERVER, its server.
set -euo pipefail

usage="usage: run-wine-out-of-process.sh <folder of wine_host.exe and the DLLs> 64|32 [32-bit ScanMonturaSim.dll]"
dir=$(cd "${1:?$usage}" && pwd)
bits=${2:?$usage}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
helper="$source_dir/dist/jtrazelo-surrogate.cmd"
wine=${WINE:-wine64}
wineserver=${WINESERVER:-wineserver}
name=windows_wine_out_of_process
case "$bits" in
  64) server="$dir/ScanMonturaSim.dll" ;;
  32)
    name=windows_wine_out_of_process_x86
    server=${3:-}
    if ! reason=$("$source_dir/tools/probe-x86.sh"); then
      echo "skipped: $name needs 32-bit x86 execution for the 32-bit component: $reason"
      exit 77
    fi
    if [ -z "$server" ] || [ ! -f "$server" ]; then
      echo "skipped: $name needs the 32-bit component, ${server:-ScanMonturaSim.dll} of the" \
        "windows-x86 preset, which is not built (cmake --build --preset windows-x86)"
      exit 77
    fi
    ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
for f in wine_host.exe JTrazelo.dll EZJcomLib18.dll ScanMonturaSim.dll; do
  [ -f "$dir/$f" ] || { echo "FAIL $dir/$f does not exist"; exit 1; }
done

source "$here/wine-host.sh"
new_prefix jtz-wine-oop -k

clsid='{834FBEE5-D957-11D3-9C50-0060972F00DC}'
control='{5C1A0E23-7E4B-4C55-9B0D-3D6A91C2E003}'
failed=0
step() {  # step <what> <command...>: "ok" or "FAIL" with the command's output
  local what=$1 out
  shift
  if out=$("$@" </dev/null 2>&1); then
    echo "ok   $what"
  else
    echo "FAIL $what: $(tr -d '\r' <<<"$out")"
    failed=1
  fi
}

if [ "$bits" = 64 ]; then
  regsvr32=regsvr32
  view=/reg:64
  set_up=(register /64 "$clsid" "$control")
  undo=(unregister /64 "$clsid" "$control")
  suite=OutOfProcess
else
  regsvr32='C:\windows\syswow64\regsvr32.exe'
  view=/reg:32
  set_up=(register "$clsid" "$control")
  undo=(unregister "$clsid" "$control")
  suite=OutOfProcess32
fi
if ! "$wine" "$regsvr32" /s "$(windows_path "$server")" </dev/null; then
  echo "FAIL regsvr32 $server"
  exit 1
fi
echo "ok   regsvr32 $server ($bits-bit)"
step "jtrazelo-surrogate ${set_up[*]}" "$wine" cmd /c "$(windows_path "$helper")" "${set_up[@]}"
step "HKCR\\AppID\\$clsid has DllSurrogate ($view)" \
  "$wine" reg query "HKCR\\AppID\\$clsid" /v DllSurrogate "$view"
step "HKCR\\CLSID\\$control (SimControl) names that AppID ($view)" \
  "$wine" reg query "HKCR\\CLSID\\$control" /v AppID "$view"
[ "$failed" = 0 ] || exit 1

run_host "$dir" "$(windows_path "$dir")" "$suite" || failed=1

# The surrogate stays after the last Release under Wine: end it (and this prefix's server).
"$wineserver" -k 2>/dev/null || true
step "jtrazelo-surrogate ${undo[*]}" "$wine" cmd /c "$(windows_path "$helper")" "${undo[@]}"
step "the AppID key and both AppID values are gone ($view)" bash -c '
  ! "$0" reg query "HKCR\\AppID\\$1" "$3" && ! "$0" reg query "HKCR\\CLSID\\$1" /v AppID "$3" &&
  ! "$0" reg query "HKCR\\CLSID\\$2" /v AppID "$3"' "$wine" "$clsid" "$control" "$view"
step "the registration by regsvr32 is left ($view)" \
  "$wine" reg query "HKCR\\CLSID\\$clsid\\InprocServer32" "$view"
if [ "$failed" != 0 ]; then
  echo "FAIL $name"
  exit 1
fi
echo "ok   $name"
