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

{ "$gen" exports | awk '{print $1}'
  sed -nE 's/^NATIVE\([^,]+, *([A-Za-z0-9_]+),.*/\1/p' "$src/bridge/natives.def"; } | sort >"$work/expected"
nm -D --defined-only "$lib" | awk '{print $3}' | sort >"$work/actual"

failed=0
if ! diff -u "$work/expected" "$work/actual" >"$work/diff"; then
  echo "FAIL $(basename "$lib") exports differ from the tables (- expected, + exported):"
  grep -E '^[-+][^-+]' "$work/diff" | sed 's/^/     /'
  failed=1
else
  echo "ok   $(basename "$lib") exports exactly the $(wc -l <"$work/expected") natives of the tables"
fi
if [ "$(uniq -d "$work/actual" | wc -l)" -ne 0 ]; then
  echo "FAIL names exported twice: $(uniq -d "$work/actual" | tr '\n' ' ')"
  failed=1
fi
if objdump -p "$lib" | grep -qE 'NEEDED +libEZJcomLib18\.so'; then
  echo "ok   $(basename "$lib") links libEZJcomLib18.so"
else
  echo "FAIL $(basename "$lib") does not link libEZJcomLib18.so"
  failed=1
fi
exit $failed
