#!/usr/bin/env bash
# Checks the export and import tables of the Windows DLLs against the tables
# they are built from:
#   - JTrazelo.dll exports exactly the natives of members/members.def and
#     bridge/natives.def, each once, under its Microsoft-style __stdcall name
#     _Name@bytes, and nothing else (93 names);
#   - every name JTrazelo.dll imports from EZJcomLib18.dll is exported there,
#     and EZJcomLib18.dll exports the runtime's natives under the same
#     decoration (__JComAdvise among them);
#   - ScanMonturaSim.dll exports the four in-process server entry points;
#   - the three DLLs import nothing but system DLLs and each other.
# One line per check, then "N passed, N failed"; exit status 0 only if all pass.
#
# Usage: tools/check-exports.sh <dll folder> <gen_members> [objdump]
#   <gen_members>  the member table's generator of the same build (its
#                  "exports" mode lists the member natives with their bytes)
set -euo pipefail

dir=${1:?usage: check-exports.sh <dll folder> <gen_members> [objdump]}
gen=${2:?usage: check-exports.sh <dll folder> <gen_members> [objdump]}
objdump=${3:-i686-w64-mingw32-objdump}
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# check, checks_end, exports_of
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"


# "<dll> <name>" for every name a DLL imports.
imports_of() {
  "$objdump" -p "$1" | awk '
    /^\tDLL Name: / { dll = $3; next }
    /^\tvma:/ { next }
    dll != "" && NF == 0 { dll = ""; next }
    dll != "" && NF >= 3 { print dll, $3 }'
}

# The names JTrazelo.dll must export, from the two tables: _Name@bytes.
expected_exports() {
  "$gen" exports | awk '{ print "_" $1 "@" $2 }'
  sed -n 's/^NATIVE( *[A-Za-z]*, *\(Java_[A-Za-z0-9_]*\), *\([0-9][0-9]*\)).*/_\1@\2/p' \
    "$src/bridge/natives.def"
}

same_list() {  # same_list <expected file> <actual file>
  if ! diff <(sort "$1") <(sort "$2") >"$work/diff"; then
    echo "missing (<) and unexpected (>) names:"
    cat "$work/diff"
    return 1
  fi
}

count_is() {  # count_is <n> <file>
  local n
  n=$(wc -l <"$2")
  [ "$n" -eq "$1" ] || { echo "$n names, expected $1"; return 1; }
}

no_duplicates() {
  local d
  d=$(sort "$1" | uniq -d)
  [ -z "$d" ] || { echo "listed more than once: $d"; return 1; }
}

all_decorated() {
  local bad
  bad=$(grep -Ev '^_Java_puente_(ScanMontura|IScanMontura|IScanMonturaEvents)_[A-Za-z0-9_]+@[0-9]+$' "$1" || true)
  [ -z "$bad" ] || { echo "not of the form _Java_puente_<Class>_<name>@<bytes>:"; echo "$bad"; return 1; }
}

contains_all() {  # contains_all <names file> <file that must hold them>
  local missing
  missing=$(comm -23 <(sort -u "$1") <(sort -u "$2"))
  [ -z "$missing" ] || { echo "not found:"; echo "$missing"; return 1; }
}

only_system_dlls() {  # only_system_dlls <dll> <allowed sibling>...
  local dll=$1
  shift
  local allowed="KERNEL32.dll msvcrt.dll ole32.dll OLEAUT32.dll ADVAPI32.dll USER32.dll $*"
  local bad=""
  for d in $(imports_of "$dll" | cut -d' ' -f1 | sort -u); do
    case " ${allowed^^} " in *" ${d^^} "*) ;; *) bad="$bad $d" ;; esac
  done
  [ -z "$bad" ] || { echo "imports from:$bad"; return 1; }
}

bridge=$dir/JTrazelo.dll
runtime=$dir/EZJcomLib18.dll
sim=$dir/ScanMonturaSim.dll
for f in "$bridge" "$runtime" "$sim"; do
  [ -f "$f" ] || { echo "FAIL $f does not exist"; echo "0 passed, 1 failed"; exit 1; }
done

expected_exports >"$work/expected"
exports_of "$bridge" >"$work/bridge"
exports_of "$runtime" >"$work/runtime"
exports_of "$sim" >"$work/sim"
imports_of "$bridge" | awk '$1 == "EZJcomLib18.dll" { print $2 }' >"$work/bridge-imports"
grep -o '_Java_[A-Za-z0-9_]*@[0-9]*' "$src/runtime/EZJcomLib18.def" >"$work/runtime-natives"
# Every native the runtime exports in mingw's form (its dllexport) needs the
# decorated twin the JVM looks up: a native missing from its .def shows here.
sed -n 's/^\(Java_[A-Za-z0-9_]*@[0-9]*\)$/_\1/p' "$work/runtime" >"$work/runtime-twins"
printf '%s\n' DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer >"$work/com"

check "the tables list 93 natives" count_is 93 "$work/expected"
check "JTrazelo.dll exports 93 names" count_is 93 "$work/bridge"
check "JTrazelo.dll exports each name once" no_duplicates "$work/bridge"
check "JTrazelo.dll exports only _Java_puente_<Class>_<name>@<bytes> names" all_decorated "$work/bridge"
check "JTrazelo.dll exports exactly the natives of the tables" same_list "$work/expected" "$work/bridge"
check "JTrazelo.dll imports only what EZJcomLib18.dll exports" contains_all "$work/bridge-imports" "$work/runtime"
check "EZJcomLib18.dll exports _Java_ezjcom_JComObject__1_1JComAdvise@12" \
  grep -qx '_Java_ezjcom_JComObject__1_1JComAdvise@12' "$work/runtime"
check "EZJcomLib18.dll exports every native of its .def decorated" contains_all "$work/runtime-natives" "$work/runtime"
check "EZJcomLib18.dll exports each of its natives under _Name@bytes too" contains_all "$work/runtime-twins" "$work/runtime"
check "ScanMonturaSim.dll exports the in-process server entry points" same_list "$work/com" "$work/sim"
check "JTrazelo.dll needs only system DLLs and EZJcomLib18.dll" only_system_dlls "$bridge" EZJcomLib18.dll
check "EZJcomLib18.dll needs only system DLLs" only_system_dlls "$runtime"
check "ScanMonturaSim.dll needs only system DLLs" only_system_dlls "$sim"

checks_end
