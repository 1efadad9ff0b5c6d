#!/usr/bin/env bash
# Checks that what ships carries no test hooks:
#   - the shipped runtime library exports none of the hooks' functions (ezjcomTest*) and none of
#     the natives of ezjcom.RuntimeTesting, and holds no code of the hooks (journal, forced
#     outcomes, the server-side record), not even as an unresolved reference;
#   - the test variant of the same library does export them (so the names checked are the right
#     ones);
#   - the shipped jar holds no test class (ezjcom.RuntimeTesting, the tests' and benchmarks'
#     packages).
# Works on an ELF shared library (nm -D) and on a Windows DLL (objdump -p).
# One line per check, then "N passed, N failed"; exit status 0 only if all pass.
#
# Usage: tools/check-shipped.sh <shipped library> <test variant library> <shipped jar> <jar tool>
#                               <nm> [objdump]
set -euo pipefail

usage="usage: check-shipped.sh <shipped library> <test library> <jar> <jar tool> <nm> [objdump]"
shipped=${1:?$usage}
testing=${2:?$usage}
jar=${3:?$usage}
jartool=${4:?$usage}
nm=${5:?$usage}
objdump=${6:-objdump}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# check, checks_end, exports_of
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"


hook_exports='ezjcomTest|RuntimeTesting'
# Functions and data of the hooks (runtime/src/hooks.cpp, testing.cpp), demangled.
hook_code='ezjcom::(journal_add|take_forced|fatal_countdown|hooks_[a-z_]+|record_server_side|server_side_record_[a-z]+|Line::|g_hooks)'

none_of() {  # none_of <pattern> <file>
  local found
  found=$(grep -E "$1" "$2" || true)
  [ -z "$found" ] || { echo "found:"; echo "$found"; return 1; }
}

some_of() {  # some_of <pattern> <file>
  grep -qE "$1" "$2" || { echo "none of $1"; return 1; }
}

for f in "$shipped" "$testing" "$jar"; do
  [ -f "$f" ] || { echo "FAIL $f does not exist"; echo "0 passed, 1 failed"; exit 1; }
done

exports_of "$shipped" >"$work/shipped-exports"
exports_of "$testing" >"$work/testing-exports"
"$nm" -C "$shipped" >"$work/shipped-symbols" 2>&1 || true
"$jartool" tf "$jar" >"$work/jar"

name=$(basename "$shipped")
check "$name exports functions at all" some_of '^(_)?ezjcomInvokeHelper' "$work/shipped-exports"
check "$name (shipped) exports no test hook" none_of "$hook_exports" "$work/shipped-exports"
check "$name (shipped) has a symbol table to look in" some_of 'ezjcom::' "$work/shipped-symbols"
check "$name (shipped) holds no code of the hooks, nor a reference to it" \
  none_of "$hook_code" "$work/shipped-symbols"
check "$name (test variant) exports the hooks" some_of '^(_)?ezjcomTestReset$' "$work/testing-exports"
check "$name (test variant) exports the natives of ezjcom.RuntimeTesting" \
  some_of 'Java_ezjcom_RuntimeTesting_journal' "$work/testing-exports"
check "$(basename "$jar") holds the runtime's classes" some_of '^ezjcom/JComObject\.class$' "$work/jar"
check "$(basename "$jar") holds no test class" \
  none_of '^ezjcom/RuntimeTesting|^(jtztest|jtztests|rtest|jtzbench)/' "$work/jar"

checks_end
