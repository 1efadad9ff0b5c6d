#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where missing.
# Runs apt-get as root (directly, or through sudo).
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages=(cmake g++ make openjdk-17-jdk-headless libgtest-dev googletest junit5
          g++-multilib openjdk-17-jdk-headless:i386 libgtest-dev:i386)
if [ "${JTZ_WINDOWS:-1}" = 1 ]; then
  packages+=(g++-mingw-w64-i686 wine wine32:i386)
fi
for p in "${packages[@]}"; do have "$p" || need+=("$p"); done
[ ${#need[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${need[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
# Wine's recommended extras (fonts, desktop integration) are not needed for console tests.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${need[@]}"
