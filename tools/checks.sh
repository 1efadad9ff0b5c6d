# Shared by the tools/check-*.sh scripts (sourced): numbered checks, one line each, and the
# export table of a library.
#   check <description> <command...>   runs the command; "ok" or "FAIL" with its output indented
#   checks_end                          prints "N passed, N failed"; status 0 only if none failed
#   exports_of <library>                the names it exports, one per line ($objdump for a DLL,
#                                       $nm for an ELF library; both default to the host's tools)
# The sourcing script sets $work to a scratch folder of its own.
passed=0
failed=0

check() {
  local what=$1
  shift
  if "$@" >"$work/why" 2>&1; then
    echo "ok   $what"
    passed=$((passed + 1))
  else
    echo "FAIL $what"
    sed 's/^/     /' "$work/why"
    failed=$((failed + 1))
  fi
}

checks_end() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

exports_of() {
  case "$1" in
    *.dll)
      "${objdump:-objdump}" -p "$1" | awk '
        /^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
        on && NF == 0 { on = 0; done = 1 }
        on && !done { sub(/^[ \t]*\[ *[0-9]+\] /, ""); print }' ;;
    *) "${nm:-nm}" -D --defined-only "$1" | awk '{ print $NF }' ;;
  esac
}
