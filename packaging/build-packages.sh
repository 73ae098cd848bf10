#!/usr/bin/env bash
# Builds the Debian packages (and the source package) from the working tree and checks them
# with lintian.
#   packaging/build-packages.sh [OUTDIR]      default build-package/
# dpkg-buildpackage writes its results beside the source tree, so the tree (every file git
# tracks or would track, build directories left out) is copied to OUTDIR/src first and the
# packages land in OUTDIR. The copy keeps its path from run to run, so with ccache installed
# (and CCACHE_DIR as /work/ccache-env.sh sets it) a rebuild compiles only what changed.
# lintian must report no error and no warning; the desktop entry and the AppStream metainfo
# must validate.
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=$(realpath -m "${1:-build-package}")
SRC=$OUT/src

# The desktop entry and the software-centre description, as the desktops read them.
desktop-file-validate packaging/zebwin.desktop
appstreamcli validate --no-net packaging/org.zeb_lan_stress.zebwin.metainfo.xml

rm -rf "$SRC"
mkdir -p "$SRC"
rm -f "$OUT"/*.deb "$OUT"/*.changes "$OUT"/*.buildinfo "$OUT"/*.dsc "$OUT"/*.tar.*
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard | grep -zv '^build' |
    tar --null -T - -cf - | tar -xf - -C "$SRC"
else
  tar --exclude='./build*' --exclude=./.git -cf - . | tar -xf - -C "$SRC"
fi

if [[ -d /usr/lib/ccache ]]; then
  export PATH=/usr/lib/ccache:$PATH
fi
echo "Building the packages in $SRC (log: $OUT/build.log)"
# The source package too, so that lintian checks debian/ itself as well as the packages.
if ! (cd "$SRC" && dpkg-buildpackage -us -uc -j"$(nproc)") >"$OUT/build.log" 2>&1; then
  tail -40 "$OUT/build.log" >&2
  echo "dpkg-buildpackage failed (whole output in $OUT/build.log)" >&2
  exit 1
fi
ls -l "$OUT"/*.deb

changes=$(echo "$OUT"/zeb-lan-stress_*.changes)
echo "lintian $changes"
lintian --fail-on error,warning --info "$changes"
