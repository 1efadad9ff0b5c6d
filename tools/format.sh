#!/usr/bin/env bash
# The C++ sources against .clang-format.
#   tools/format.sh          rewrites every C++ source of the tree in place
#   tools/format.sh --check  changes nothing; lists the files that differ and fails if any do
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' '*.c')
if [ "${1:-}" = --check ]; then
  bad=()
  for f in "${files[@]}"; do
    [ -f "$f" ] || continue
    clang-format --style=file "$f" | cmp -s - "$f" || bad+=("$f")
  done
  if [ ${#bad[@]} -gt 0 ]; then
    echo "not formatted (run tools/format.sh): ${bad[*]}"
    exit 1
  fi
  echo "ok   ${#files[@]} C++ sources formatted"
else
  clang-format --style=file -i "${files[@]}"
fi
