#!/usr/bin/env bash
# Installs the Debian packages of the lists named, by purpose:
#   run      building the kit and running its programs (./run.sh)
#   test     the test stages of ./test.sh: the suite, the sanitizers, fuzzing and lint, with the
#            real servers the tests start themselves
#   package  the package stage of ./test.sh: the Debian packages built, checked and installed
#            in a fresh Debian root
#   bench    the peers and tools of the benchmarks (bench/), beside the run and test lists
#   fleet    what running clients across hosts needs (deploy/ansible/): on every host of the
#            inventory and on the controller that runs the playbook
#   scripts/deps.sh [LIST...]      no list: all of them
# Each list says why each package is in it; a new list is one more array and its name below.
# Idempotent: does nothing when all of them are already installed.
set -euo pipefail

RUN=(
  # The C and C++20 compilers (gcc and g++ 12), the build system and pkg-config, which finds
  # the two client libraries. Not build-essential, which brings the packaging tools too.
  g++ cmake ninja-build pkg-config
  # The engine's own SMB and NFS clients (smb:// and nfs:// test files).
  libsmbclient-dev libnfs-dev
  # zebcli: its command line and its JSON results.
  libcli11-dev nlohmann-json3-dev
  # zebwin: Qt 6 widgets, moc and rcc, the OpenGL headers Qt's CMake package asks for, and
  # the platform plugins that show the dialog on a desktop.
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-qpa-plugins
)

TEST=(
  # The test programs. Debian's GoogleTest CMake package names GMock's libraries too, so
  # find_package(GTest) needs libgmock-dev although no test uses GMock. bench_pairscan builds
  # with the suite, so that the lint stage checks it.
  libgtest-dev libgmock-dev libbenchmark-dev
  # The fuzz stage (libFuzzer) and the lint stage's clang build, formatting and clang-tidy.
  clang libclang-rt-14-dev clang-format clang-tidy
  # zebwin itself on a virtual X display, driven by key presses.
  xvfb xdotool
  # Network namespaces and veth links (ip, ss), unshare and nsenter, sysctl in a namespace.
  iproute2 util-linux procps
  # The provider's interoperability tests: a capture read with tshark; Samba's nmblookup and
  # nmbd as a peer and as a name server.
  tshark samba-common-bin
  # The file server tests' SMB server (smbd), and its share mounted through FUSE.
  samba smbnetfs fuse3
  # The NFS server of the built-in NFS client's tests.
  nfs-ganesha nfs-ganesha-vfs
  # vor32's system call tests.
  strace
  # The hosts of the across-hosts tests (testsupport/hosts/): an sshd of their own in each
  # namespace, reached with ssh, which is also mpirun's launcher there; netcat carries the
  # test's own ssh connections into the namespaces (the ssh client's ProxyCommand), so that
  # this host's namespace needs no address or route of theirs.
  openssh-server openssh-client netcat-openbsd
  # The MPI test program (find_package(MPI) needs the headers and mpicxx) and mpirun, run on
  # this host alone and across the namespace hosts.
  openmpi-bin libopenmpi-dev
  # The test of the playbook in deploy/ansible/ (ansible-playbook against the namespace hosts).
  ansible-core
)

PACKAGE=(
  # The Debian packages' build (dpkg-buildpackage takes build-essential as given) and
  # lintian's check of them.
  build-essential debhelper dpkg-dev fakeroot lintian
  # The checks of the desktop entry and the software-centre description.
  desktop-file-utils appstream
  # A fresh Debian 12 root to install the packages in.
  debootstrap
  # Keeps a rebuild of the packages short.
  ccache
  # The MPI client's package (zeb-lan-stress-mpi) builds against Open MPI's headers.
  libopenmpi-dev
)

BENCH=(
  # The peers: fio for the file I/O stress, iperf3 for the session stress and the provider,
  # smbclient for the copy stress on an SMB share (bench/copystress/run.sh).
  fio iperf3 smbclient
  # bench/fleet/run.sh reads zebcli's merged JSON.
  jq
  # bench/profile.sh: instruction counts under callgrind.
  valgrind
  # bench_pairscan (Google Benchmark).
  libbenchmark-dev
)

FLEET=(
  # Every host: mpirun starts the ranks of a job through ssh, and the hosts' sshd answers it.
  openmpi-bin openssh-server openssh-client
  # The controller: the playbook (deploy/ansible/site.yml) runs with ansible-playbook.
  ansible-core
)

LISTS=("$@")
((${#LISTS[@]})) || LISTS=(run test package bench fleet)
PACKAGES=()
for list in "${LISTS[@]}"; do
  case $list in
  run) PACKAGES+=("${RUN[@]}") ;;
  test) PACKAGES+=("${TEST[@]}") ;;
  package) PACKAGES+=("${PACKAGE[@]}") ;;
  bench) PACKAGES+=("${BENCH[@]}") ;;
  fleet) PACKAGES+=("${FLEET[@]}") ;;
  *)
    echo "scripts/deps.sh: no list '$list' (run, test, package, bench or fleet)" >&2
    exit 64
    ;;
  esac
done

missing=()
for p in "${PACKAGES[@]}"; do
  if [[ " ${missing[*]} " != *" $p "* ]] &&
    ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  # The samba, nfs-ganesha and openssh-server packages start their daemons on every interface
  # as they install; the tests only need the programs and start them themselves in
  # namespaces. Keep the packages' own services from starting (policy-rc.d, for this install
  # only) and from starting at boot; sshd stays enabled on a host of the fleet list, which
  # the playbook and mpirun reach through it (such a host runs it already).
  services=()
  if [[ " ${missing[*]} " == *" samba "* || " ${missing[*]} " == *" nfs-ganesha "* ]]; then
    services+=(nmbd smbd samba-ad-dc nfs-ganesha nfs-ganesha-lock rpcbind rpcbind.socket)
  fi
  if [[ " ${missing[*]} " == *" openssh-server "* && " ${LISTS[*]} " != *" fleet "* ]]; then
    services+=(ssh ssh.socket)
  fi
  policy=""
  if ((${#services[@]})) && [[ ! -e /usr/sbin/policy-rc.d ]]; then
    policy=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    trap '$SUDO rm -f "$policy"' EXIT
  fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
  for service in "${services[@]}"; do
    if command -v systemctl >/dev/null; then
      $SUDO systemctl disable --now "$service" >/dev/null 2>&1 || true
    fi
  done
  if [[ -n $policy ]]; then
    $SUDO rm -f "$policy"
    trap - EXIT
  fi
fi
