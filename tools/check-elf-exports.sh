#!/usr/bin/env bash
# Checks the dynamic symbol table of the Linux bridge library against the tables it is built
# from, without running anything it built (so it runs for 32-bit builds on any machine):
#   - libJTrazelo.so exports exactly the natives of members/members.def and bridge/natives.def,
#     each once, and nothing else (no JNI_OnLoad / JNI_OnUnload);
#   - it links libEZJcomLib18.so, where the runtime's operations come from.
# Usage: tools/check-elf-exports.sh <libJTrazelo.so> <gen_members>
set -euo pipefail
lib=${1:?usage: check-elf-exports.sh <libJTrazelo.so> <gen_members>}
gen=${2:?usage: check-elf-exports.sh <libJTrazelo.so> <gen_members>}
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# check, checks_end, exports_of
source "$src/tools/checks.sh"

{ "$gen" exports | awk '{print $1}'
  sed -nE 's/^NATIVE\([^,]+, *([A-Za-z0-9_]+),.*/\1/p' "$src/bridge/natives.def"; } | sort >"$work/expected"
exports_of "$lib" | sort >"$work/actual"

same_names() {
  diff "$work/expected" "$work/actual" | grep -E '^[<>]' | sed 's/^</missing:   /; s/^>/unexpected:/'
  cmp -s "$work/expected" "$work/actual"
}
name=$(basename "$lib")
check "$name exports exactly the $(wc -l <"$work/expected") natives of the tables" same_names
check "$name exports each name once" test -z "$(uniq -d "$work/actual")"
check "$name links libEZJcomLib18.so" grep -qE 'NEEDED +libEZJcomLib18\.so' <(objdump -p "$lib")
checks_end
