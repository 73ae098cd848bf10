#!/usr/bin/env bash
# Installs every Debian package the kit needs to build, test and benchmark.
# Idempotent: does nothing when all of them are already installed.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libasio-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  xvfb xdotool imagemagick
  fio iperf3
  clang libclang-rt-14-dev
  iproute2 tshark samba-common-bin samba
  util-linux procps strace
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
