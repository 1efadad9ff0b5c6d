# Sourced by the scripts that run the Windows test host under Wine.
# Expects $wine (the loader) and $wineserver (its server) to be set.

# new_prefix <tag> <-w|-k>: a fresh, throw-away Wine prefix in $prefix for this
# run, removed at exit after its server has ended (-w: waits for it, as it ends
# by itself shortly after its last program; -k: ends it, where something such
# as a COM surrogate keeps running).
new_prefix() {
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  export WINEPREFIX=$prefix WINEDEBUG=-all
  # No Mono or Gecko installation in the new prefix: console programs need neither.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  server_end=$2
  trap '"$wineserver" "$server_end" 2>/dev/null || true; rm -rf "$prefix"' EXIT
  echo "Wine prefix $prefix (the first program in a new prefix takes some seconds)"
}

# windows_path <path>: the path as Windows programs see it (Wine maps / to Z:).
windows_path() {
  local p=$1
  echo "Z:${p//\//\\}"
}

# run_host <folder> <arguments...>: runs <folder>/wine_host.exe and prints
# what it says. Wine may exit 0 without running anything (a program it cannot
# start): this succeeds only on the host's own last line, "N passed, 0 failed"
# with N > 0.
run_host() {
  local folder=$1 out="$prefix/host.out" status=0 last
  shift
  "$wine" "$folder/wine_host.exe" "$@" </dev/null >"$out" || status=$?
  tr -d '\r' <"$out"
  last=$(tr -d '\r' <"$out" | sed '/^[[:space:]]*$/d' | tail -n 1)
  if [ "$status" -ne 0 ]; then
    echo "FAIL wine_host.exe exited with status $status"
    return 1
  fi
  if ! [[ "$last" =~ ^([0-9]+)\ passed,\ 0\ failed$ ]] || [ "${BASH_REMATCH[1]}" -eq 0 ]; then
    echo "FAIL wine_host.exe did not report its checks as passed (last line: \"${last:-none}\")"
    return 1
  fi
}
