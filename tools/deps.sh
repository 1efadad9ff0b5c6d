#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where missing.
#   tools/deps.sh host   what the host build needs (./scan): compilers, CMake, the JDK, GoogleTest, JUnit
#   tools/deps.sh        everything ./run-tests needs: the above, the 32-bit x86 and the 32- and
#                        64-bit Windows toolchains, the i386 JDK, 64-bit Wine (it runs on every
#                        x86-64 machine), and 32-bit Wine where this machine runs 32-bit programs
# Runs apt-get as root (directly, or through sudo).
#
# Mirrors have bad moments, and this script gets through them:
#   - apt-get update and install are retried; an index that still fails to download is reported
#     and the install goes on with what apt has;
#   - when an index of one suite is missing, installed amd64 libraries may be at a version of
#     that suite for which no i386 package is known (Multi-Arch: same packages need equal
#     versions): the install is retried with that suite's priority lowered, through a
#     preferences file that exists only for that install;
#   - a Multi-Arch: same library installed for one architecture only (i386, with 32-bit Wine) may
#     be older than the candidate of the other (amd64, which 64-bit Wine needs): apt then names
#     it as a dependency "not going to be installed"; the install is retried with that library
#     asked for at the version already installed, so that both architectures agree;
#   - a package that truly cannot be installed is named, with apt's reason, one line each.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
what=${1:-all}

host_packages=(cmake g++ make openjdk-17-jdk-headless libgtest-dev googletest junit5)
build_packages=(g++-multilib g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix mingw-w64-tools
                clang-format clang-tidy clang libclang-rt-14-dev)
i386_packages=(openjdk-17-jdk-headless:i386 libgtest-dev:i386)
# 64-bit Wine needs no 32-bit execution; its programs are started with /usr/lib/wine/wine64.
wine64_packages=(wine64)
wine_packages=(wine wine32:i386)

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing() { local p; for p in "$@"; do have "$p" || echo "$p"; done; }
say() { echo "deps: $*" >&2; }

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
pref=/etc/apt/preferences.d/zz-jtrazelo-deps-temporary
cleanup() { [ -e "$pref" ] && $sudo rm -f "$pref"; }
trap cleanup EXIT
trap 'cleanup; exit 130' INT TERM

updated=0
failed_suites=()
apt_update() {
  ((updated)) && return 0
  updated=1
  local log attempt
  log=$(mktemp)
  for attempt in 1 2 3; do
    if $sudo apt-get update -q -o Acquire::Retries=3 >"$log" 2>&1; then
      rm -f "$log"
      failed_suites=()
      return 0
    fi
    sleep $((attempt * 5))
  done
  # Go on with the indexes that did download; name the ones that did not.
  mapfile -t failed_suites < <(grep -oE '^E: Failed to fetch [^ ]*/dists/[^/]+/' "$log" \
                                 | sed -E 's#.*/dists/([^/]+)/#\1#' | sort -u)
  grep -E '^E: Failed to fetch' "$log" | while read -r line; do
    say "apt-get update: ${line#E: } (going on without it)"
  done
  [ ${#failed_suites[@]} -gt 0 ] || { say "apt-get update failed:"; cat "$log" >&2; }
  rm -f "$log"
  return 0
}

apt_install_once() {
  $sudo apt-get install -y -q --no-install-recommends -o Acquire::Retries=3 "$@"
}

# "name=version" for every library apt says it will not install for a dependency of the given
# packages while the same library is installed for another architecture: the other
# architecture's version, which a Multi-Arch: same library must have on both.
native_arch=$(dpkg --print-architecture)
skew_pins() {
  local name line arch version
  $sudo apt-get install -s -q --no-install-recommends "$@" 2>&1 \
    | sed -nE 's/.*Depends: ([^ :]+)(:[a-z0-9]+)? .*but it is not going to be installed.*/\1/p' \
    | sort -u | while read -r name; do
      line=$(dpkg-query -W -f='${Architecture} ${Version} ${db:Status-Abbrev}\n' "$name:*" \
               2>/dev/null | awk '$3 == "ii" { print $1, $2; exit }')
      [ -n "$line" ] || continue
      read -r arch version <<<"$line"
      if [ "$arch" = "$native_arch" ]; then
        echo "$name:i386=$version"
      else
        echo "$name=$version"
      fi
    done
}

# Names each package apt cannot install, with the first line of apt's reason.
explain() {
  local p reason
  for p in "$@"; do
    reason=$($sudo apt-get install -s -q --no-install-recommends "$p" 2>&1 \
               | grep -E '^ .*(Depends|Breaks|Conflicts):|^E: ' | head -n 1 | sed -E 's/^ +//')
    [ -n "$reason" ] && say "cannot install $p: $reason"
  done
}

install() {
  local need
  mapfile -t need < <(missing "$@")
  [ ${#need[@]} -gt 0 ] || return 0
  apt_update
  say "installing ${need[*]}"
  local attempt
  for attempt in 1 2; do
    apt_install_once "${need[@]}" && return 0
    sleep 5
  done
  # A library at different versions on the two architectures: ask for the installed one's
  # version (a pin may bring up the next such library, hence the rounds).
  local pins=() more round
  for round in 1 2 3; do
    mapfile -t more < <(skew_pins "${need[@]}" "${pins[@]}")
    [ ${#more[@]} -gt 0 ] || break
    pins+=("${more[@]}")
    say "retrying with the installed version of ${more[*]} (the other architecture has it)"
    apt_install_once "${need[@]}" "${pins[@]}" && return 0
  done
  # A suite whose index failed is a likely cause of mismatched versions: prefer the others for
  # this one install.
  if [ ${#failed_suites[@]} -gt 0 ]; then
    say "retrying with lower priority for ${failed_suites[*]} (its index is missing)"
    {
      local s
      for s in "${failed_suites[@]}"; do
        printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' "$s"
      done
    } | $sudo tee "$pref" >/dev/null
    apt_install_once "${need[@]}"
    local status=$?
    cleanup
    ((status == 0)) && return 0
  fi
  explain "${need[@]}"
  say "could not install: $(missing "${need[@]}" | tr '\n' ' ')"
  return 1
}

add_i386() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386 && updated=0
  fi
}

case "$what" in
  host)
    install "${host_packages[@]}" || exit 1
    ;;
  all)
    add_i386
    install "${host_packages[@]}" "${build_packages[@]}" || exit 1
    install "${i386_packages[@]}" || exit 1
    # 32-bit Wine's loader is a 32-bit program: without 32-bit execution it is of no use here.
    # It goes first: its i386 libraries come at the versions i386 has, and 64-bit Wine's amd64
    # twins are then asked for at those versions (skew_pins).
    if "$root/tools/probe-x86.sh" >/dev/null; then
      install "${wine_packages[@]}" || exit 1
    fi
    install "${wine64_packages[@]}" || exit 1
    ;;
  *)
    echo "usage: tools/deps.sh [host|all]" >&2
    exit 2
    ;;
esac
exit 0
