#!/usr/bin/env bash
# Checks the export and import tables of the Windows DLLs against the tables
# they are built from, in the form the JVM of the DLLs' machine looks up
# (objdump -f: pei-i386 or pei-x86-64):
#   - the three DLLs are of the same machine;
#   - JTrazelo.dll exports exactly the natives of members/members.def and
#     bridge/natives.def, each once, and nothing else (93 names): on 32-bit x86
#     under its Microsoft-style __stdcall name _Name@bytes, on x86-64 under its
#     plain name (a 64-bit JVM looks up nothing else);
#   - every name JTrazelo.dll imports from EZJcomLib18.dll is exported there,
#     and EZJcomLib18.dll exports the natives of runtime/EZJcomLib18.def in
#     the same form (__JComAdvise among them); on x86-64 no DLL exports a
#     decorated name;
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

# "pei-i386" or "pei-x86-64".
machine_of() {
  "$objdump" -f "$1" | sed -n 's/.*file format \(pei-[a-z0-9-]*\).*/\1/p'
}

# A native's name as the JVM of this machine looks it up: jvm_name <Name> <bytes>.
jvm_name() {
  if [ "$machine" = pei-i386 ]; then
    echo "_$1@$2"
  else
    echo "$1"
  fi
}

# The names JTrazelo.dll must export, from the two tables.
expected_exports() {
  {
    "$gen" exports | awk '{ print $1, $2 }'
    sed -n 's/^NATIVE( *[A-Za-z]*, *\(Java_[A-Za-z0-9_]*\), *\([0-9][0-9]*\)).*/\1 \2/p' \
      "$src/bridge/natives.def"
  } | while read -r name bytes; do jvm_name "$name" "$bytes"; done
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

all_of_form() {  # all_of_form <extended regex> <description> <file>
  local bad
  bad=$(grep -Ev "$1" "$3" || true)
  [ -z "$bad" ] || { echo "not of the form $2:"; echo "$bad"; return 1; }
}

same_machine() {  # same_machine <dll>...
  local f m bad=""
  for f in "$@"; do
    m=$(machine_of "$f")
    [ "$m" = "$machine" ] || bad="$bad $(basename "$f") ($m)"
  done
  [ -z "$bad" ] || { echo "not $machine:$bad"; return 1; }
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

machine=$(machine_of "$bridge")
case "$machine" in
  pei-i386)
    form='_Java_puente_<Class>_<name>@<bytes>'
    form_re='^_Java_puente_(ScanMontura|IScanMontura|IScanMonturaEvents)_[A-Za-z0-9_]+@[0-9]+$' ;;
  pei-x86-64)
    form='Java_puente_<Class>_<name>'
    form_re='^Java_puente_(ScanMontura|IScanMontura|IScanMonturaEvents)_[A-Za-z0-9_]+$' ;;
  *)
    echo "FAIL $bridge is neither pei-i386 nor pei-x86-64 (${machine:-unknown})"
    echo "0 passed, 1 failed"
    exit 1 ;;
esac
advise=$(jvm_name Java_ezjcom_JComObject__1_1JComAdvise 12)

expected_exports >"$work/expected"
exports_of "$bridge" >"$work/bridge"
exports_of "$runtime" >"$work/runtime"
exports_of "$sim" >"$work/sim"
imports_of "$bridge" | awk '$1 == "EZJcomLib18.dll" { print $2 }' >"$work/bridge-imports"
sed -n 's/^ *\(Java_[A-Za-z0-9_]*\)@\([0-9]*\)$/\1 \2/p' "$src/runtime/EZJcomLib18.def" \
  | while read -r name bytes; do jvm_name "$name" "$bytes"; done >"$work/runtime-natives"
# Every native the runtime exports in mingw's form (its dllexport) needs the
# decorated twin the 32-bit JVM looks up: a native missing from its .def shows here.
sed -n 's/^\(Java_[A-Za-z0-9_]*@[0-9]*\)$/_\1/p' "$work/runtime" >"$work/runtime-twins"
cat "$work/bridge" "$work/runtime" "$work/sim" >"$work/all"
printf '%s\n' DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer >"$work/com"

check "JTrazelo.dll, EZJcomLib18.dll and ScanMonturaSim.dll are all $machine" \
  same_machine "$bridge" "$runtime" "$sim"
check "the tables list 93 natives" count_is 93 "$work/expected"
check "JTrazelo.dll exports 93 names" count_is 93 "$work/bridge"
check "JTrazelo.dll exports each name once" no_duplicates "$work/bridge"
check "JTrazelo.dll exports only $form names" all_of_form "$form_re" "$form" "$work/bridge"
check "JTrazelo.dll exports exactly the natives of the tables" same_list "$work/expected" "$work/bridge"
check "JTrazelo.dll imports only what EZJcomLib18.dll exports" contains_all "$work/bridge-imports" "$work/runtime"
check "EZJcomLib18.dll exports $advise" grep -qx "$advise" "$work/runtime"
check "EZJcomLib18.dll exports every native of its .def as the JVM looks it up" \
  contains_all "$work/runtime-natives" "$work/runtime"
if [ "$machine" = pei-i386 ]; then
  check "EZJcomLib18.dll exports each of its natives under _Name@bytes too" \
    contains_all "$work/runtime-twins" "$work/runtime"
else
  check "no DLL exports a name with a 32-bit decoration (@bytes)" \
    all_of_form '^[^@]+$' 'a name without @bytes' "$work/all"
fi
check "ScanMonturaSim.dll exports the in-process server entry points" same_list "$work/com" "$work/sim"
check "JTrazelo.dll needs only system DLLs and EZJcomLib18.dll" only_system_dlls "$bridge" EZJcomLib18.dll
check "EZJcomLib18.dll needs only system DLLs" only_system_dlls "$runtime"
check "ScanMonturaSim.dll needs only system DLLs" only_system_dlls "$sim"

checks_end
