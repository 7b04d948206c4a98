#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Usage: scripts/deps.sh run|test
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libfbclient2 firebird-dev
          firebird3.0-server-core firebird3.0-utils fonts-liberation xvfb xauth)
if [ "${1:-run}" = test ]; then
  packages+=(googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev firebird3.0-server
             icewm xdotool x11-utils desktop-file-utils systemd dpkg-dev lintian librsvg2-bin man-db)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi
