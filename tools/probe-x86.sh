#!/usr/bin/env bash
# Does this machine execute 32-bit x86 programs? Builds and runs a tiny -m32 program.
# Exit 0 and prints "yes" if it does; exit 1 and prints the reason if it does not.
# JTZ_ASSUME_NO_X86=1 makes it answer "cannot" (to see the behaviour of a machine without
# 32-bit execution on one that has it).
set -u
if [ "${JTZ_ASSUME_NO_X86:-0}" = 1 ]; then
  echo "JTZ_ASSUME_NO_X86=1 is set"
  exit 1
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'int main(void) { return 42; }\n' >"$dir/probe.c"
if ! out=$(${CC:-gcc} -m32 "$dir/probe.c" -o "$dir/probe" 2>&1); then
  echo "no 32-bit x86 compiler (gcc -m32: $(printf '%s' "$out" | grep -m1 -E 'error|cannot' || echo failed))"
  exit 1
fi
out=$("$dir/probe" 2>&1)
status=$?
if [ "$status" -ne 42 ]; then
  reason=$(printf '%s' "$out" | sed -E 's#^.*/probe: ##' | head -n 1)
  echo "this kernel does not execute 32-bit x86 programs (${reason:-exit status $status})"
  exit 1
fi
echo yes
