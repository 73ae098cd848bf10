#!/usr/bin/env bash
# Installs every Debian package the kit needs to build, test and benchmark.
# Idempotent: does nothing when all of them are already installed.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libasio-dev
  # zebcli: its command line and its JSON results.
  libcli11-dev nlohmann-json3-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  xvfb xdotool imagemagick
  fio iperf3
  clang libclang-rt-14-dev clang-format clang-tidy
  iproute2 tshark samba-common-bin samba
  # The SMB client of the file server tests: a FUSE mount of a share.
  smbnetfs fuse3
  # The file I/O stress's own SMB and NFS clients, and the NFS server of their tests.
  libsmbclient-dev libnfs-dev nfs-ganesha nfs-ganesha-vfs
  util-linux procps strace valgrind
  # The Debian packages: their build, lintian, the checks of the desktop files, and a fresh
  # Debian root to install them in.
  debhelper dpkg-dev fakeroot lintian appstream desktop-file-utils debootstrap ccache
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
  # The samba and nfs-ganesha packages start their daemons on every interface as they
  # install; the tests only need the programs and start them themselves in namespaces. Keep
  # the packages' own services from starting (policy-rc.d, for this install only) and from
  # starting at boot.
  installs_samba=0
  policy=""
  if [[ " ${missing[*]} " == *" samba "* || " ${missing[*]} " == *" nfs-ganesha "* ]]; then
    installs_samba=1
    if [[ ! -e /usr/sbin/policy-rc.d ]]; then
      policy=/usr/sbin/policy-rc.d
      printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
      $SUDO chmod 755 "$policy"
      trap '$SUDO rm -f "$policy"' EXIT
    fi
  fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
  if ((installs_samba)); then
    for service in nmbd smbd samba-ad-dc nfs-ganesha nfs-ganesha-lock rpcbind rpcbind.socket; do
      if command -v systemctl >/dev/null; then
        $SUDO systemctl disable --now "$service" >/dev/null 2>&1 || true
      fi
    done
  fi
  if [[ -n $policy ]]; then
    $SUDO rm -f "$policy"
    trap - EXIT
  fi
fi
